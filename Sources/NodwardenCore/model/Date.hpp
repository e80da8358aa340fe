#pragma once

#include <NodwardenCore/Export.hpp>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// A point in time: seconds since 2001-01-01T00:00:00Z. This is also the stored JSON form.
using Date = double;

/// A span of time in seconds.
using TimeInterval = double;

/// Seconds between the Unix epoch and 2001-01-01T00:00:00Z.
inline constexpr double unixEpochToReferenceDate = 978307200.0;

/// Converts Unix time (seconds since 1970) to a `Date`.
constexpr Date dateFromUnixTime(double unixSeconds) {
    return unixSeconds - unixEpochToReferenceDate;
}

/// Converts a `Date` to Unix time (seconds since 1970).
constexpr double unixTimeFromDate(Date date) {
    return date + unixEpochToReferenceDate;
}

} // namespace nodwarden
