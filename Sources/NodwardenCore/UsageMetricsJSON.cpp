// The persisted JSON form of the statistics account. Dates are numbers of seconds since
// 2001-01-01T00:00:00Z, absent optionals are left out, and decoding checks every type so that a
// damaged document is refused as a whole instead of loading half an account.

#include <NodwardenCore/UsageMetrics.hpp>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <utility>

namespace nodwarden {

namespace {

using Json = nlohmann::json;

// Member lookup where JSON null counts as absent, as it does for an optional field.
const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

bool decodeValue(const Json& value, double& out) {
    if (!value.is_number()) {
        return false;
    }
    const double number = value.get<double>();
    // The encoder cannot write infinities back (they would come out as null), so an overflowing
    // literal is refused here rather than turning into a document that no longer loads.
    if (!std::isfinite(number)) {
        return false;
    }
    out = number;
    return true;
}

bool decodeValue(const Json& value, std::int64_t& out) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return false;
        }
        out = static_cast<std::int64_t>(number);
        return true;
    }
    if (value.is_number_integer()) {
        out = value.get<std::int64_t>();
        return true;
    }
    if (value.is_number_float()) {
        // Whole numbers written with a fraction ("3.0") are still counts.
        const double number = value.get<double>();
        constexpr double limit = 9223372036854775808.0; // 2^63
        if (!std::isfinite(number) || std::trunc(number) != number || number < -limit ||
            number >= limit) {
            return false;
        }
        out = static_cast<std::int64_t>(number);
        return true;
    }
    return false;
}

bool decodeValue(const Json& value, bool& out) {
    if (!value.is_boolean()) {
        return false;
    }
    out = value.get<bool>();
    return true;
}

bool decodeValue(const Json& value, std::string& out) {
    if (!value.is_string()) {
        return false;
    }
    out = value.get_ref<const std::string&>();
    return true;
}

bool decodeValue(const Json& value, SessionCloseReason& out) {
    if (!value.is_string()) {
        return false;
    }
    const auto reason = sessionCloseReasonFromRawValue(value.get_ref<const std::string&>());
    if (!reason) {
        return false;
    }
    out = *reason;
    return true;
}

bool decodeValue(const Json& value, DayBucket& out);
bool decodeValue(const Json& value, std::optional<LastRunSummary>& out);

template <typename Value> bool decodeValue(const Json& value, std::map<std::string, Value>& out) {
    if (!value.is_object()) {
        return false;
    }
    for (const auto& [key, element] : value.items()) {
        Value decoded{};
        if (!decodeValue(element, decoded)) {
            return false;
        }
        out.emplace_hint(out.end(), key, std::move(decoded));
    }
    return true;
}

// A key that must be there with the right type.
template <typename Value> bool decodeRequired(const Json& object, const char* key, Value& out) {
    const Json* value = member(object, key);
    return value != nullptr && decodeValue(*value, out);
}

// A key that may be missing (leaving `out` at its default) but, when present, must have the
// right type.
template <typename Value> bool decodeOptional(const Json& object, const char* key, Value& out) {
    const Json* value = member(object, key);
    return value == nullptr || decodeValue(*value, out);
}

template <typename Value>
bool decodeOptional(const Json& object, const char* key, std::optional<Value>& out) {
    const Json* value = member(object, key);
    if (value == nullptr) {
        out.reset();
        return true;
    }
    Value decoded{};
    if (!decodeValue(*value, decoded)) {
        return false;
    }
    out = std::move(decoded);
    return true;
}

bool decodeValue(const Json& value, DayBucket& out) {
    return value.is_object() && decodeRequired(value, "protectedSeconds", out.protectedSeconds) &&
           decodeRequired(value, "keptAwakeSeconds", out.keptAwakeSeconds) &&
           decodeRequired(value, "manualSeconds", out.manualSeconds) &&
           decodeRequired(value, "pluggedInUnlimitedSeconds", out.pluggedInUnlimitedSeconds) &&
           decodeRequired(value, "sessionsSaved", out.sessionsSaved) &&
           decodeRequired(value, "totalSessions", out.totalSessions) &&
           decodeRequired(value, "protectedSecondsByAgent", out.protectedSecondsByAgent) &&
           decodeRequired(value, "sessionsByAgent", out.sessionsByAgent);
}

bool decodeValue(const Json& value, std::optional<LastRunSummary>& out) {
    if (!value.is_object()) {
        return false;
    }
    std::optional<std::string> agent;
    Date endedAt = 0;
    double worked = 0;
    double protectedSeconds = 0;
    double keptAwake = 0;
    bool finishedNormally = false;
    if (!decodeOptional(value, "agentDisplayName", agent) ||
        !decodeRequired(value, "endedAt", endedAt) ||
        !decodeRequired(value, "workedSeconds", worked) ||
        !decodeRequired(value, "protectedSeconds", protectedSeconds) ||
        !decodeRequired(value, "keptAwakeSeconds", keptAwake) ||
        !decodeRequired(value, "finishedNormally", finishedNormally)) {
        return false;
    }
    out.emplace(std::move(agent), endedAt, worked, protectedSeconds, keptAwake, finishedNormally);
    return true;
}

// Compact text. Names that are not valid UTF-8 (an agent name read from the process table can be
// any bytes) get U+FFFD in place of the bad bytes instead of making the whole save fail.
std::string dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json parse(std::string_view text) {
    return Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
}

template <typename Value>
void encodeOptional(Json& object, const char* key, const std::optional<Value>& value) {
    if (value) {
        object[key] = *value;
    }
}

Json encode(const DayBucket& bucket) {
    Json object = Json::object();
    object["protectedSeconds"] = bucket.protectedSeconds;
    object["keptAwakeSeconds"] = bucket.keptAwakeSeconds;
    object["manualSeconds"] = bucket.manualSeconds;
    object["pluggedInUnlimitedSeconds"] = bucket.pluggedInUnlimitedSeconds;
    object["sessionsSaved"] = bucket.sessionsSaved;
    object["totalSessions"] = bucket.totalSessions;
    object["protectedSecondsByAgent"] = bucket.protectedSecondsByAgent;
    object["sessionsByAgent"] = bucket.sessionsByAgent;
    return object;
}

Json encode(const LastRunSummary& run) {
    Json object = Json::object();
    encodeOptional(object, "agentDisplayName", run.agentDisplayName());
    object["endedAt"] = run.endedAt();
    object["workedSeconds"] = run.workedSeconds();
    object["protectedSeconds"] = run.protectedSeconds();
    object["keptAwakeSeconds"] = run.keptAwakeSeconds();
    object["finishedNormally"] = run.finishedNormally();
    return object;
}

} // namespace

/// Reads and writes the private fields of `UsageMetrics`.
struct UsageMetricsCoding {
    static std::optional<UsageMetrics> decode(const Json& document) {
        if (!document.is_object()) {
            return std::nullopt;
        }
        Date installDate = 0;
        if (!decodeRequired(document, "installDate", installDate)) {
            return std::nullopt;
        }
        UsageMetrics m(installDate);
        const bool valid =
            decodeOptional(document, "days", m.days_) &&
            decodeOptional(document, "longestProtectedRunSeconds", m.longestProtectedRunSeconds_) &&
            decodeOptional(document, "longestProtectedRunAgent", m.longestProtectedRunAgent_) &&
            decodeOptional(document, "longestProtectedRunDate", m.longestProtectedRunDate_) &&
            decodeOptional(document, "sessionStartedAt", m.sessionStartedAt_) &&
            decodeOptional(document, "sessionQualified", m.sessionQualified_) &&
            decodeOptional(document, "sessionAgentID", m.sessionAgentID_) &&
            decodeOptional(document, "sessionRunSeconds", m.sessionRunSeconds_) &&
            decodeOptional(document, "lastTickAt", m.lastTickAt_) &&
            decodeOptional(document, "lastActiveSignalAt", m.lastActiveSignalAt_) &&
            decodeOptional(document, "wakeGapTicksDropped", m.wakeGapTicksDropped_) &&
            decodeOptionalLastRun(document, m.lastRun_) &&
            decodeOptional(document, "lastCloseReason", m.lastCloseReason_) &&
            decodeOptional(document, "sessionProtectedSeconds", m.sessionProtectedSeconds_) &&
            decodeOptional(document, "sessionKeptAwakeSeconds", m.sessionKeptAwakeSeconds_);
        if (!valid) {
            return std::nullopt;
        }
        return m;
    }

    static Json encode(const UsageMetrics& m) {
        Json days = Json::object();
        for (const auto& [key, bucket] : m.days_) {
            days[key] = nodwarden::encode(bucket);
        }
        Json document = Json::object();
        document["days"] = std::move(days);
        document["installDate"] = m.installDate_;
        document["longestProtectedRunSeconds"] = m.longestProtectedRunSeconds_;
        encodeOptional(document, "longestProtectedRunAgent", m.longestProtectedRunAgent_);
        encodeOptional(document, "longestProtectedRunDate", m.longestProtectedRunDate_);
        encodeOptional(document, "sessionStartedAt", m.sessionStartedAt_);
        document["sessionQualified"] = m.sessionQualified_;
        encodeOptional(document, "sessionAgentID", m.sessionAgentID_);
        document["sessionRunSeconds"] = m.sessionRunSeconds_;
        encodeOptional(document, "lastTickAt", m.lastTickAt_);
        encodeOptional(document, "lastActiveSignalAt", m.lastActiveSignalAt_);
        document["wakeGapTicksDropped"] = m.wakeGapTicksDropped_;
        if (m.lastRun_) {
            document["lastRun"] = nodwarden::encode(*m.lastRun_);
        }
        if (m.lastCloseReason_) {
            document["lastCloseReason"] = rawValue(*m.lastCloseReason_);
        }
        document["sessionProtectedSeconds"] = m.sessionProtectedSeconds_;
        document["sessionKeptAwakeSeconds"] = m.sessionKeptAwakeSeconds_;
        return document;
    }

private:
    static bool decodeOptionalLastRun(const Json& document, std::optional<LastRunSummary>& out) {
        const Json* value = member(document, "lastRun");
        return value == nullptr || decodeValue(*value, out);
    }
};

std::optional<DayBucket> DayBucket::fromJSON(std::string_view json) {
    DayBucket bucket;
    if (!decodeValue(parse(json), bucket)) {
        return std::nullopt;
    }
    return bucket;
}

std::string DayBucket::toJSON() const {
    return dump(encode(*this));
}

std::optional<LastRunSummary> LastRunSummary::fromJSON(std::string_view json) {
    std::optional<LastRunSummary> run;
    if (!decodeValue(parse(json), run)) {
        return std::nullopt;
    }
    return run;
}

std::string LastRunSummary::toJSON() const {
    return dump(encode(*this));
}

std::optional<UsageMetrics> UsageMetrics::fromJSON(std::string_view json) {
    return UsageMetricsCoding::decode(parse(json));
}

std::string UsageMetrics::toJSON() const {
    return dump(UsageMetricsCoding::encode(*this));
}

} // namespace nodwarden
