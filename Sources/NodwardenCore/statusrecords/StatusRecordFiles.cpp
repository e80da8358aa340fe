#include <NodwardenCore/statusrecords/StatusRecordFiles.hpp>

#include <NodwardenCore/system/BoundedFileRead.hpp>

#include <charconv>
#include <chrono>
#include <cmath>
#include <system_error>
#include <utility>

namespace nodwarden::StatusRecordFiles {
namespace {

/// Milliseconds since 1970 pass this value in 1973; seconds will not before the year 5000.
constexpr double smallestMilliseconds = 1.0e11;

std::optional<int> digitsAt(std::string_view text, std::size_t position, std::size_t count) {
    if (position + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    const char* begin = text.data() + position;
    const auto [end, error] = std::from_chars(begin, begin + count, value);
    if (error != std::errc() || end != begin + count) {
        return std::nullopt;
    }
    return value;
}

/// "YYYY-MM-DDTHH:MM:SS[.fff…][Z|±HH:MM]" to Unix seconds.
std::optional<double> parseISO8601(std::string_view text) {
    const auto year = digitsAt(text, 0, 4);
    const auto month = digitsAt(text, 5, 2);
    const auto day = digitsAt(text, 8, 2);
    const auto hour = digitsAt(text, 11, 2);
    const auto minute = digitsAt(text, 14, 2);
    const auto second = digitsAt(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' ||
        text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
        text[16] != ':') {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(*year),
                                           std::chrono::month(static_cast<unsigned>(*month)),
                                           std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    double seconds =
        static_cast<double>(std::chrono::sys_days(date).time_since_epoch().count()) * 86400.0 +
        *hour * 3600.0 + *minute * 60.0 + *second;
    std::size_t position = 19;
    if (position < text.size() && text[position] == '.') {
        double scale = 0.1;
        for (++position; position < text.size() && text[position] >= '0' && text[position] <= '9';
             ++position, scale /= 10) {
            seconds += (text[position] - '0') * scale;
        }
    }
    const std::string_view zone = text.substr(position);
    if (zone == "Z" || zone.empty()) {
        return seconds;
    }
    const auto zoneHour = digitsAt(zone, 1, 2);
    const auto zoneMinute = digitsAt(zone, 4, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !zoneHour ||
        !zoneMinute) {
        return std::nullopt;
    }
    const double offset = *zoneHour * 3600.0 + *zoneMinute * 60.0;
    return zone[0] == '+' ? seconds - offset : seconds + offset;
}

} // namespace

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    return BoundedFileRead::whole(path, maxReadBytes);
}

std::optional<std::string> readTail(const std::filesystem::path& path, std::size_t maxBytes) {
    auto tail = BoundedFileRead::tail(path, maxBytes);
    if (!tail) {
        return std::nullopt;
    }
    if (tail->truncated) {
        // The window began inside a line unless the byte before it ended one; one byte more was
        // not read, so the first line is dropped either way: it may be a fragment.
        const auto newline = tail->bytes.find('\n');
        tail->bytes.erase(0, newline == std::string::npos ? tail->bytes.size() : newline + 1);
    }
    return std::move(tail->bytes);
}

std::vector<std::string_view> linesNewestFirst(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t newline = text.rfind('\n', end - 1);
        const std::size_t start = newline == std::string_view::npos ? 0 : newline + 1;
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
        if (newline == std::string_view::npos) {
            break;
        }
        end = newline;
    }
    return lines;
}

namespace {

/// A container skipped while parsing stays as a member of its own kind: it goes.
void dropDiscarded(nlohmann::json& value) {
    if (value.is_object()) {
        for (auto member = value.begin(); member != value.end();) {
            if (member->is_discarded()) {
                member = value.erase(member);
            } else {
                dropDiscarded(*member);
                ++member;
            }
        }
    } else if (value.is_array()) {
        for (auto& element : value) {
            dropDiscarded(element);
        }
    }
}

} // namespace

std::optional<nlohmann::json> parseKeeping(std::string_view text, const KeyFilter& keep,
                                           const KeyFilter& onlyWhetherEmpty) {
    using nlohmann::json;
    bool blankNext = false;
    const json::parser_callback_t callback = [&](int depth, json::parse_event_t event,
                                                 json& parsed) {
        if (event == json::parse_event_t::key) {
            const auto& key = parsed.get_ref<const std::string&>();
            blankNext = onlyWhetherEmpty && onlyWhetherEmpty(depth, key);
            return keep(depth, key);
        }
        const bool blank = std::exchange(blankNext, false);
        if (blank && (event == json::parse_event_t::object_start ||
                      event == json::parse_event_t::array_start)) {
            return false; // words in parts: nothing of them is kept
        }
        if (blank && event == json::parse_event_t::value && parsed.is_string() &&
            !parsed.get_ref<const std::string&>().empty()) {
            parsed = "…";
        }
        return true;
    };
    json parsed = json::parse(text.begin(), text.end(), callback, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return std::nullopt;
    }
    if (onlyWhetherEmpty) {
        dropDiscarded(parsed);
    }
    return parsed;
}

std::optional<Date> readTimestamp(const nlohmann::json& value) {
    if (value.is_number()) {
        const double number = value.get<double>();
        if (!std::isfinite(number) || number <= 0) {
            return std::nullopt;
        }
        return dateFromUnixTime(number >= smallestMilliseconds ? number / 1000.0 : number);
    }
    if (value.is_string()) {
        if (const auto seconds = parseISO8601(value.get_ref<const std::string&>())) {
            return dateFromUnixTime(*seconds);
        }
    }
    return std::nullopt;
}

std::optional<Date> modificationDate(const std::filesystem::path& path) {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    if (error) {
        return std::nullopt;
    }
    const auto system = std::chrono::file_clock::to_sys(written);
    return dateFromUnixTime(std::chrono::duration<double>(system.time_since_epoch()).count());
}

} // namespace nodwarden::StatusRecordFiles
