#include <NodwardenCore/metrics/CalendarTime.hpp>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace nodwarden {

namespace {

constexpr std::int64_t secondsPerDay = 86400;
// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z in Unix seconds: the four-digit years that the
// text forms can show. Dates beyond are pinned to these ends rather than overflowing.
constexpr std::int64_t earliestUnixSecond = -62135596800;
constexpr std::int64_t latestUnixSecond = 253402300799;

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

// Whole Unix seconds of a `Date`, rounded down (so 0.9 s before midnight stays on the old day).
std::int64_t unixSecondsOf(Date date) {
    if (std::isnan(date)) {
        return static_cast<std::int64_t>(unixEpochToReferenceDate);
    }
    const double unix = std::floor(unixTimeFromDate(date));
    if (unix <= static_cast<double>(earliestUnixSecond)) {
        return earliestUnixSecond;
    }
    if (unix >= static_cast<double>(latestUnixSecond)) {
        return latestUnixSecond;
    }
    return static_cast<std::int64_t>(unix);
}

// Days since 1970-01-01 to a civil date (H. Hinnant's algorithm, public domain).
CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = floorDivide(days, 146097);
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return CivilDate{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
}

std::int64_t daysFromCivil(const CivilDate& civil) {
    const std::int64_t year = static_cast<std::int64_t>(civil.year) - (civil.month <= 2 ? 1 : 0);
    const std::int64_t era = floorDivide(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t monthIndex = civil.month > 2 ? civil.month - 3 : civil.month + 9;
    const std::int64_t dayOfYear = (153 * monthIndex + 2) / 5 + civil.day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void appendDigits(std::string& out, std::int64_t value, int width) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < 20);
    for (int pad = count; pad < width; ++pad) {
        out.push_back('0');
    }
    while (count > 0) {
        out.push_back(digits[--count]);
    }
}

/// The UTC offsets of the local time zone, read once from the C library and kept, so that a later
/// change of TZ (and the next tzset() anywhere in the process) does not move already filed days.
class CapturedZone {
public:
    CapturedZone() {
        tzset();
        // Offsets are sampled weekly over the years the statistics can plausibly cover and each
        // change is pinned to the second by bisection. Before and after the window the offset at
        // its edge applies.
        constexpr std::int64_t windowStart = 0;          // 1970-01-01
        constexpr std::int64_t windowEnd = 4102444800;   // 2100-01-01
        constexpr std::int64_t step = 7 * secondsPerDay; // no zone changes twice within a week
        std::int64_t previous = windowStart;
        std::int32_t previousOffset = liveOffset(previous);
        offsets_.push_back(previousOffset);
        while (previous < windowEnd) {
            const std::int64_t next = std::min(previous + step, windowEnd);
            const std::int32_t nextOffset = liveOffset(next);
            while (previousOffset != nextOffset) {
                std::int64_t low = previous;
                std::int64_t high = next;
                while (high - low > 1) {
                    const std::int64_t middle = low + (high - low) / 2;
                    if (liveOffset(middle) == previousOffset) {
                        low = middle;
                    } else {
                        high = middle;
                    }
                }
                previous = high;
                previousOffset = liveOffset(high);
                transitions_.push_back(high);
                offsets_.push_back(previousOffset);
            }
            previous = next;
        }
    }

    std::int32_t offsetAt(std::int64_t unixSeconds) const {
        const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), unixSeconds);
        return offsets_[static_cast<std::size_t>(after - transitions_.begin())];
    }

private:
    static std::int32_t liveOffset(std::int64_t unixSeconds) {
        const auto time = static_cast<std::time_t>(unixSeconds);
        std::tm local{};
        if (localtime_r(&time, &local) == nullptr) {
            return 0;
        }
        return static_cast<std::int32_t>(local.tm_gmtoff);
    }

    std::vector<std::int64_t> transitions_; ///< first second of each new offset, ascending
    std::vector<std::int32_t> offsets_;     ///< offset before the first transition, then after each
};

const CapturedZone& capturedZone() {
    static const CapturedZone zone;
    return zone;
}

} // namespace

namespace CalendarTime {

CivilDate localDate(Date date) {
    const std::int64_t unix = unixSecondsOf(date);
    const std::int64_t local = unix + capturedZone().offsetAt(unix);
    return civilFromDays(floorDivide(local, secondsPerDay));
}

std::string localDayKey(Date date) {
    return dayKey(localDate(date));
}

std::string dayKey(const CivilDate& civil) {
    std::string key;
    key.reserve(10);
    appendDigits(key, civil.year, 4);
    key.push_back('-');
    appendDigits(key, civil.month, 2);
    key.push_back('-');
    appendDigits(key, civil.day, 2);
    return key;
}

CivilDate addingDays(const CivilDate& civil, std::int64_t days) {
    return civilFromDays(daysFromCivil(civil) + days);
}

std::int64_t daysBetween(const CivilDate& from, const CivilDate& to) {
    return daysFromCivil(to) - daysFromCivil(from);
}

std::string iso8601UTC(Date date) {
    const std::int64_t unix = unixSecondsOf(date);
    const std::int64_t days = floorDivide(unix, secondsPerDay);
    const std::int64_t secondOfDay = unix - days * secondsPerDay;
    std::string text = dayKey(civilFromDays(days));
    text.reserve(20);
    text.push_back('T');
    appendDigits(text, secondOfDay / 3600, 2);
    text.push_back(':');
    appendDigits(text, secondOfDay / 60 % 60, 2);
    text.push_back(':');
    appendDigits(text, secondOfDay % 60, 2);
    text.push_back('Z');
    return text;
}

} // namespace CalendarTime

} // namespace nodwarden
