// Reading the persisted JSON form of the statistics account. Every type and range is checked so
// that a damaged document is refused as a whole instead of loading half an account.
//
// Years of daily buckets make a document of some 600 kB that is read at every launch, so no JSON
// tree is built: the parser's events go straight into the records.

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace nodwarden {

namespace {

using Json = nlohmann::json;

// What the value of the current key is decoded into.
struct Slot {
    enum class Kind {
        ignored,             ///< an unknown key: any value is accepted and dropped
        duration,            ///< double, seconds
        date,                ///< Date
        count,               ///< std::int64_t
        flag,                ///< bool
        optionalDate,        ///< std::optional<Date>
        optionalText,        ///< std::optional<std::string>
        optionalCloseReason, ///< std::optional<SessionCloseReason>
        days,                ///< std::map<std::string, DayBucket>
        bucket,              ///< DayBucket
        numberMap,           ///< std::map<std::string, double>
        countMap,            ///< std::map<std::string, std::int64_t>
        lastRun,             ///< std::optional<LastRunSummary>
    };
    Kind kind = Kind::ignored;
    void* target = nullptr;
    /// The bit this key sets in its object's seen-mask; 0 for keys that may be missing.
    std::uint32_t requiredBit = 0;
    /// JSON null stands for "absent" (optional fields) or "default" (defaulted fields).
    bool acceptsNull = false;
};

// Keys of the account that may be missing: null is the same as missing.
Slot optionalSlot(Slot::Kind kind, void* target) {
    return Slot{kind, target, 0, true};
}

constexpr std::uint32_t allBucketKeys = (1u << 8) - 1;

Slot bucketSlot(std::string_view key, DayBucket& b) {
    using K = Slot::Kind;
    if (key == "protectedSeconds") {
        return {K::duration, &b.protectedSeconds, 1u << 0};
    }
    if (key == "keptAwakeSeconds") {
        return {K::duration, &b.keptAwakeSeconds, 1u << 1};
    }
    if (key == "manualSeconds") {
        return {K::duration, &b.manualSeconds, 1u << 2};
    }
    if (key == "pluggedInUnlimitedSeconds") {
        return {K::duration, &b.pluggedInUnlimitedSeconds, 1u << 3};
    }
    if (key == "sessionsSaved") {
        return {K::count, &b.sessionsSaved, 1u << 4};
    }
    if (key == "totalSessions") {
        return {K::count, &b.totalSessions, 1u << 5};
    }
    if (key == "protectedSecondsByAgent") {
        return {K::numberMap, &b.protectedSecondsByAgent, 1u << 6};
    }
    if (key == "sessionsByAgent") {
        return {K::countMap, &b.sessionsByAgent, 1u << 7};
    }
    return {};
}

// The fields of a last-run object while it is being read (the summary itself is immutable).
struct LastRunFields {
    std::optional<std::string> agentDisplayName;
    double endedAt = 0;
    double workedSeconds = 0;
    double protectedSeconds = 0;
    double keptAwakeSeconds = 0;
    bool finishedNormally = false;
};

constexpr std::uint32_t allLastRunKeys = (1u << 5) - 1;

Slot lastRunSlot(std::string_view key, LastRunFields& r) {
    using K = Slot::Kind;
    if (key == "agentDisplayName") {
        return optionalSlot(K::optionalText, &r.agentDisplayName);
    }
    if (key == "endedAt") {
        return {K::date, &r.endedAt, 1u << 0};
    }
    if (key == "workedSeconds") {
        return {K::duration, &r.workedSeconds, 1u << 1};
    }
    if (key == "protectedSeconds") {
        return {K::duration, &r.protectedSeconds, 1u << 2};
    }
    if (key == "keptAwakeSeconds") {
        return {K::duration, &r.keptAwakeSeconds, 1u << 3};
    }
    if (key == "finishedNormally") {
        return {K::flag, &r.finishedNormally, 1u << 4};
    }
    return {};
}

} // namespace

/// Reads the private fields of `UsageMetrics`.
struct UsageMetricsCoding {
    static constexpr std::uint32_t requiredKeys = 1u << 0; // "installDate"

    static Slot slot(std::string_view key, UsageMetrics& m) {
        using K = Slot::Kind;
        if (key == "installDate") {
            return {K::date, &m.installDate_, requiredKeys};
        }
        if (key == "days") {
            return optionalSlot(K::days, &m.days_);
        }
        if (key == "longestProtectedRunSeconds") {
            return optionalSlot(K::duration, &m.longestProtectedRunSeconds_);
        }
        if (key == "longestProtectedRunAgent") {
            return optionalSlot(K::optionalText, &m.longestProtectedRunAgent_);
        }
        if (key == "longestProtectedRunDate") {
            return optionalSlot(K::optionalText, &m.longestProtectedRunDate_);
        }
        if (key == "sessionStartedAt") {
            return optionalSlot(K::optionalDate, &m.sessionStartedAt_);
        }
        if (key == "sessionQualified") {
            return optionalSlot(K::flag, &m.sessionQualified_);
        }
        if (key == "sessionAgentID") {
            return optionalSlot(K::optionalText, &m.sessionAgentID_);
        }
        if (key == "sessionRunSeconds") {
            return optionalSlot(K::duration, &m.sessionRunSeconds_);
        }
        if (key == "lastTickAt") {
            return optionalSlot(K::optionalDate, &m.lastTickAt_);
        }
        if (key == "lastActiveSignalAt") {
            return optionalSlot(K::optionalDate, &m.lastActiveSignalAt_);
        }
        if (key == "wakeGapTicksDropped") {
            return optionalSlot(K::count, &m.wakeGapTicksDropped_);
        }
        if (key == "lastRun") {
            return optionalSlot(K::lastRun, &m.lastRun_);
        }
        if (key == "lastCloseReason") {
            return optionalSlot(K::optionalCloseReason, &m.lastCloseReason_);
        }
        if (key == "sessionProtectedSeconds") {
            return optionalSlot(K::duration, &m.sessionProtectedSeconds_);
        }
        if (key == "sessionKeptAwakeSeconds") {
            return optionalSlot(K::duration, &m.sessionKeptAwakeSeconds_);
        }
        return {};
    }
};

namespace {

// The map's value for `key`, added when missing. Stored documents list keys in order, so the
// end of the map is tried first.
template <typename Value> Value& entry(std::map<std::string, Value>& map, std::string& key) {
    return map.try_emplace(map.end(), std::move(key))->second;
}

// Turns the parser's events (the SAX interface of nlohmann::json) into the records. A value of
// the wrong type, a missing required key or malformed text stops the parse, and the caller
// refuses the whole document.
class RecordReader {
public:
    /// Reads a whole account into `metrics`.
    explicit RecordReader(UsageMetrics& metrics)
        : top_{Frame::Kind::metrics, &metrics, UsageMetricsCoding::requiredKeys} {}
    /// Reads one day bucket into `bucket`.
    explicit RecordReader(DayBucket& bucket) : top_{Frame::Kind::bucket, &bucket, allBucketKeys} {}
    /// Reads one last-run summary into `run`.
    explicit RecordReader(std::optional<LastRunSummary>& run)
        : top_{Frame::Kind::lastRun, &run, allLastRunKeys} {}

    /// The input was one well-formed object with every required key and right types throughout.
    bool parse(std::string_view text) {
        return Json::sax_parse(text.begin(), text.end(), this) && complete_;
    }

    bool null() {
        if (!beginValue()) {
            return false;
        }
        if (pending_.kind == Slot::Kind::ignored) {
            return true;
        }
        if (!pending_.acceptsNull) {
            return false;
        }
        switch (pending_.kind) {
        case Slot::Kind::duration:
            as<double>() = 0;
            break;
        case Slot::Kind::count:
            as<std::int64_t>() = 0;
            break;
        case Slot::Kind::flag:
            as<bool>() = false;
            break;
        case Slot::Kind::optionalDate:
            as<std::optional<Date>>().reset();
            break;
        case Slot::Kind::optionalText:
            as<std::optional<std::string>>().reset();
            break;
        case Slot::Kind::optionalCloseReason:
            as<std::optional<SessionCloseReason>>().reset();
            break;
        case Slot::Kind::days:
            as<std::map<std::string, DayBucket>>().clear();
            break;
        case Slot::Kind::lastRun:
            as<std::optional<LastRunSummary>>().reset();
            break;
        default:
            return false;
        }
        return true;
    }

    bool boolean(bool value) {
        if (!beginValue()) {
            return false;
        }
        if (pending_.kind == Slot::Kind::flag) {
            as<bool>() = value;
            return markSeen();
        }
        return pending_.kind == Slot::Kind::ignored;
    }

    bool number_integer(Json::number_integer_t value) {
        return number(static_cast<double>(value), value);
    }

    bool number_unsigned(Json::number_unsigned_t value) {
        std::optional<std::int64_t> whole;
        if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            whole = static_cast<std::int64_t>(value);
        }
        return number(static_cast<double>(value), whole);
    }

    bool number_float(Json::number_float_t value, const std::string& /*text*/) {
        // Whole numbers written with a fraction ("3.0") are still counts.
        constexpr double limit = 9223372036854775808.0; // 2^63
        std::optional<std::int64_t> whole;
        if (std::isfinite(value) && std::trunc(value) == value && value >= -limit &&
            value < limit) {
            whole = static_cast<std::int64_t>(value);
        }
        return number(value, whole);
    }

    bool string(std::string& value) {
        if (!beginValue()) {
            return false;
        }
        switch (pending_.kind) {
        case Slot::Kind::ignored:
            return true;
        case Slot::Kind::optionalText:
            as<std::optional<std::string>>() = std::move(value);
            return markSeen();
        case Slot::Kind::optionalCloseReason: {
            const auto reason = sessionCloseReasonFromRawValue(value);
            if (!reason) {
                return false;
            }
            as<std::optional<SessionCloseReason>>() = reason;
            return markSeen();
        }
        default:
            return false;
        }
    }

    bool binary(Json::binary_t& /*value*/) { return false; }

    bool start_object(std::size_t /*elements*/) {
        if (frames_.empty()) {
            if (started_) {
                return false;
            }
            started_ = true;
            return open(top_);
        }
        if (!beginValue()) {
            return false;
        }
        switch (pending_.kind) {
        case Slot::Kind::ignored:
            return open({Frame::Kind::skip});
        case Slot::Kind::days:
            as<std::map<std::string, DayBucket>>().clear();
            markSeen();
            return open({Frame::Kind::days, pending_.target});
        case Slot::Kind::bucket:
            as<DayBucket>() = DayBucket{};
            return open({Frame::Kind::bucket, pending_.target, allBucketKeys});
        case Slot::Kind::numberMap:
            as<std::map<std::string, double>>().clear();
            markSeen();
            return open({Frame::Kind::numberMap, pending_.target});
        case Slot::Kind::countMap:
            as<std::map<std::string, std::int64_t>>().clear();
            markSeen();
            return open({Frame::Kind::countMap, pending_.target});
        case Slot::Kind::lastRun:
            return open({Frame::Kind::lastRun, pending_.target, allLastRunKeys});
        default:
            return false;
        }
    }

    bool key(std::string& name) {
        Frame& frame = frames_.back();
        switch (frame.kind) {
        case Frame::Kind::skip:
            pending_ = Slot{};
            return true;
        case Frame::Kind::metrics:
            pending_ = UsageMetricsCoding::slot(name, *static_cast<UsageMetrics*>(frame.target));
            return true;
        case Frame::Kind::lastRun:
            pending_ = lastRunSlot(name, lastRun_);
            return true;
        case Frame::Kind::bucket:
            pending_ = bucketSlot(name, *static_cast<DayBucket*>(frame.target));
            return true;
        case Frame::Kind::days: {
            auto& days = *static_cast<std::map<std::string, DayBucket>*>(frame.target);
            pending_ = Slot{Slot::Kind::bucket, &entry(days, name)};
            return true;
        }
        case Frame::Kind::numberMap: {
            auto& map = *static_cast<std::map<std::string, double>*>(frame.target);
            pending_ = Slot{Slot::Kind::duration, &entry(map, name)};
            return true;
        }
        case Frame::Kind::countMap: {
            auto& map = *static_cast<std::map<std::string, std::int64_t>*>(frame.target);
            pending_ = Slot{Slot::Kind::count, &entry(map, name)};
            return true;
        }
        }
        return false;
    }

    bool end_object() {
        const Frame frame = frames_.back();
        frames_.pop_back();
        if ((frame.seen & frame.required) != frame.required) {
            return false;
        }
        if (frame.kind == Frame::Kind::lastRun) {
            LastRunFields& f = lastRun_;
            static_cast<std::optional<LastRunSummary>*>(frame.target)
                ->emplace(std::move(f.agentDisplayName), f.endedAt, f.workedSeconds,
                          f.protectedSeconds, f.keptAwakeSeconds, f.finishedNormally);
        }
        complete_ = frames_.empty();
        return true;
    }

    bool start_array(std::size_t /*elements*/) {
        // Arrays are only ever part of keys this account does not know.
        if (!beginValue() || pending_.kind != Slot::Kind::ignored) {
            return false;
        }
        return open({Frame::Kind::skip});
    }

    bool end_array() {
        frames_.pop_back();
        return true;
    }

    bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                     const nlohmann::detail::exception& /*error*/) {
        return false;
    }

private:
    struct Frame {
        enum class Kind { metrics, lastRun, bucket, days, numberMap, countMap, skip };
        Kind kind;
        void* target = nullptr;
        std::uint32_t required = 0;
        std::uint32_t seen = 0;
    };

    template <typename T> T& as() const { return *static_cast<T*>(pending_.target); }

    bool open(const Frame& frame) {
        if (frame.kind == Frame::Kind::lastRun) {
            lastRun_ = LastRunFields{};
        }
        frames_.push_back(frame);
        return true;
    }

    // Every value is either inside an object (its key has set `pending_`) or inside an ignored
    // array; a value outside any container is not an account.
    bool beginValue() {
        if (frames_.empty()) {
            return false;
        }
        if (frames_.back().kind == Frame::Kind::skip) {
            pending_ = Slot{};
        }
        return true;
    }

    bool number(double value, std::optional<std::int64_t> whole) {
        if (!beginValue()) {
            return false;
        }
        switch (pending_.kind) {
        case Slot::Kind::ignored:
            return true;
        case Slot::Kind::duration:
            // Sums over every day must stay finite: the encoder cannot write infinities back,
            // and an account that no longer encodes is never saved again.
            if (!(value >= 0 && value <= UsageMetrics::maxStoredSeconds)) {
                return false;
            }
            as<double>() = value;
            return markSeen();
        case Slot::Kind::date:
        case Slot::Kind::optionalDate:
            // A date the calendar cannot place would make day keys and texts undefined.
            if (!(value >= UsageMetrics::earliestStoredDate &&
                  value < UsageMetrics::latestStoredDate)) {
                return false;
            }
            if (pending_.kind == Slot::Kind::date) {
                as<Date>() = value;
            } else {
                as<std::optional<Date>>() = value;
            }
            return markSeen();
        case Slot::Kind::count:
            // Totals add counts over every day and agent; these bounds keep the sums exact.
            if (!whole || *whole < 0 || *whole > UsageMetrics::maxStoredCount) {
                return false;
            }
            as<std::int64_t>() = *whole;
            return markSeen();
        default:
            return false;
        }
    }

    bool markSeen() {
        frames_.back().seen |= pending_.requiredBit;
        return true;
    }

    Frame top_;
    std::vector<Frame> frames_;
    Slot pending_;
    LastRunFields lastRun_;
    bool started_ = false;
    bool complete_ = false;
};

} // namespace

std::optional<DayBucket> DayBucket::fromJSON(std::string_view json) {
    DayBucket bucket;
    if (!RecordReader(bucket).parse(json)) {
        return std::nullopt;
    }
    return bucket;
}

std::optional<LastRunSummary> LastRunSummary::fromJSON(std::string_view json) {
    std::optional<LastRunSummary> run;
    if (!RecordReader(run).parse(json)) {
        return std::nullopt;
    }
    return run;
}

std::optional<UsageMetrics> UsageMetrics::fromJSON(std::string_view json) {
    UsageMetrics metrics(0);
    if (!RecordReader(metrics).parse(json)) {
        return std::nullopt;
    }
    return metrics;
}

} // namespace nodwarden
