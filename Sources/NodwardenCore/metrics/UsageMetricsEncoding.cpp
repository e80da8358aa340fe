// Writing the persisted JSON form of the statistics account: compact, dates as numbers of
// seconds since 2001-01-01T00:00:00Z, absent optionals left out. The document is written every
// minute and grows by a day bucket a day, so it is appended to one string without a JSON tree.

#include <NodwardenCore/metrics/UsageMetrics.hpp>

#include <NodwardenCore/system/UnicodeText.hpp>

#include <charconv>
#include <cmath>
#include <utility>

namespace nodwarden {

namespace {

// Appends compact JSON to one string.
class JsonWriter {
public:
    JsonWriter() { out_.reserve(1024); }

    void beginObject() {
        out_.push_back('{');
        first_ = true;
    }

    void endObject() {
        out_.push_back('}');
        first_ = false;
    }

    void key(std::string_view name) {
        if (!first_) {
            out_.push_back(',');
        }
        first_ = false;
        text(name);
        out_.push_back(':');
    }

    void number(double value) {
        // Counters cannot become infinite or NaN through recording; should one ever arrive
        // from a caller, 0 keeps the document loadable.
        if (!std::isfinite(value)) {
            value = 0;
        }
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        out_.append(digits, result.ptr);
    }

    void count(std::int64_t value) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        out_.append(digits, result.ptr);
    }

    void flag(bool value) { out_.append(value ? "true" : "false"); }

    // Names that are not valid UTF-8 (an agent name read from the process table can be any
    // bytes) get U+FFFD in place of the bad bytes rather than making the document unreadable.
    void text(std::string_view value) {
        if (!isASCII(value) && !UnicodeText::isValidUTF8(value)) {
            escaped(UnicodeText::sanitizedUTF8(value));
        } else {
            escaped(value);
        }
    }

    std::string take() { return std::move(out_); }

private:
    static bool isASCII(std::string_view value) {
        for (const char c : value) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                return false;
            }
        }
        return true;
    }

    static bool needsEscape(char c) {
        return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
    }

    void escaped(std::string_view value) {
        out_.push_back('"');
        std::size_t runStart = 0;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const char c = value[i];
            if (!needsEscape(c)) {
                continue;
            }
            out_.append(value.substr(runStart, i - runStart));
            runStart = i + 1;
            switch (c) {
            case '"':
                out_.append("\\\"");
                break;
            case '\\':
                out_.append("\\\\");
                break;
            case '\n':
                out_.append("\\n");
                break;
            case '\r':
                out_.append("\\r");
                break;
            case '\t':
                out_.append("\\t");
                break;
            default: {
                constexpr char hex[] = "0123456789abcdef";
                out_.append("\\u00");
                out_.push_back(hex[(c >> 4) & 0xF]);
                out_.push_back(hex[c & 0xF]);
            }
            }
        }
        out_.append(value.substr(runStart));
        out_.push_back('"');
    }

    std::string out_;
    bool first_ = true;
};

template <typename Value, typename Write>
void writeMap(JsonWriter& w, const std::map<std::string, Value>& map, Write write) {
    w.beginObject();
    for (const auto& [name, value] : map) {
        w.key(name);
        (w.*write)(value);
    }
    w.endObject();
}

void write(JsonWriter& w, const DayBucket& bucket) {
    w.beginObject();
    w.key("protectedSeconds");
    w.number(bucket.protectedSeconds);
    w.key("keptAwakeSeconds");
    w.number(bucket.keptAwakeSeconds);
    w.key("manualSeconds");
    w.number(bucket.manualSeconds);
    w.key("pluggedInUnlimitedSeconds");
    w.number(bucket.pluggedInUnlimitedSeconds);
    w.key("sessionsSaved");
    w.count(bucket.sessionsSaved);
    w.key("totalSessions");
    w.count(bucket.totalSessions);
    w.key("protectedSecondsByAgent");
    writeMap(w, bucket.protectedSecondsByAgent, &JsonWriter::number);
    w.key("sessionsByAgent");
    writeMap(w, bucket.sessionsByAgent, &JsonWriter::count);
    w.endObject();
}

void write(JsonWriter& w, const LastRunSummary& run) {
    w.beginObject();
    if (run.agentDisplayName()) {
        w.key("agentDisplayName");
        w.text(*run.agentDisplayName());
    }
    w.key("endedAt");
    w.number(run.endedAt());
    w.key("workedSeconds");
    w.number(run.workedSeconds());
    w.key("protectedSeconds");
    w.number(run.protectedSeconds());
    w.key("keptAwakeSeconds");
    w.number(run.keptAwakeSeconds());
    w.key("finishedNormally");
    w.flag(run.finishedNormally());
    w.endObject();
}

void writeOptionalNumber(JsonWriter& w, std::string_view key, const std::optional<double>& value) {
    if (value) {
        w.key(key);
        w.number(*value);
    }
}

void writeOptionalText(JsonWriter& w, std::string_view key,
                       const std::optional<std::string>& value) {
    if (value) {
        w.key(key);
        w.text(*value);
    }
}

} // namespace

std::string DayBucket::toJSON() const {
    JsonWriter w;
    write(w, *this);
    return w.take();
}

std::string LastRunSummary::toJSON() const {
    JsonWriter w;
    write(w, *this);
    return w.take();
}

std::string UsageMetrics::toJSON() const {
    const UsageMetrics& m = *this;
    JsonWriter w;
    w.beginObject();
    w.key("days");
    w.beginObject();
    for (const auto& [key, bucket] : m.days()) {
        w.key(key);
        write(w, bucket);
    }
    w.endObject();
    w.key("installDate");
    w.number(m.installDate());
    w.key("longestProtectedRunSeconds");
    w.number(m.longestProtectedRunSeconds());
    writeOptionalText(w, "longestProtectedRunAgent", m.longestProtectedRunAgent());
    writeOptionalText(w, "longestProtectedRunDate", m.longestProtectedRunDate());
    writeOptionalNumber(w, "sessionStartedAt", m.sessionStartedAt());
    w.key("sessionQualified");
    w.flag(m.sessionQualified());
    writeOptionalText(w, "sessionAgentID", m.sessionAgentID());
    w.key("sessionRunSeconds");
    w.number(m.sessionRunSeconds());
    writeOptionalNumber(w, "lastTickAt", m.lastTickAt());
    writeOptionalNumber(w, "lastActiveSignalAt", m.lastActiveSignalAt());
    w.key("wakeGapTicksDropped");
    w.count(m.wakeGapTicksDropped());
    if (m.lastRun()) {
        w.key("lastRun");
        write(w, *m.lastRun());
    }
    if (m.lastCloseReason()) {
        w.key("lastCloseReason");
        w.text(rawValue(*m.lastCloseReason()));
    }
    w.key("sessionProtectedSeconds");
    w.number(m.sessionProtectedSeconds());
    w.key("sessionKeptAwakeSeconds");
    w.number(m.sessionKeptAwakeSeconds());
    w.endObject();
    return w.take();
}

} // namespace nodwarden
