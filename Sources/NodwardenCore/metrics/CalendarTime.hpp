#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <cstdint>
#include <string>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// A date in the proleptic Gregorian calendar.
struct CivilDate {
    int year = 2001;
    int month = 1; ///< 1 to 12
    int day = 1;   ///< 1 to 31

    bool operator==(const CivilDate&) const = default;
};

/// Calendar arithmetic and the two text forms of time the statistics need. Pure functions, safe to
/// call from any thread.
namespace CalendarTime {

/// The local calendar date of `date` in the device's time zone as it was when this function (or
/// `localDayKey`) was first called in the process; later changes of the zone are not followed.
CivilDate localDate(Date date);

/// "yyyy-MM-dd" of `localDate(date)`, for example "2026-03-14".
std::string localDayKey(Date date);

/// "yyyy-MM-dd" of a calendar date.
std::string dayKey(const CivilDate& civil);

/// `civil` moved by `days` calendar days (negative moves back).
CivilDate addingDays(const CivilDate& civil, std::int64_t days);

/// Calendar days from `from` to `to` (negative when `to` is earlier).
std::int64_t daysBetween(const CivilDate& from, const CivilDate& to);

/// ISO 8601 internet date-time in UTC with whole seconds, for example "2026-03-14T09:26:53Z".
std::string iso8601UTC(Date date);

} // namespace CalendarTime

} // namespace nodwarden
