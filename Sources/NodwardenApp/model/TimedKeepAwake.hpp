#pragma once

#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <QObject>

#include <optional>

namespace nodwarden::app {

/// A keep-awake with an end: manual mode for a time, then back to the mode before. Holds only
/// when it ends and what it goes back to; the model changes the modes.
class TimedKeepAwake : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    /// Starts (or starts again) a keep-awake of `seconds` from `now`; the mode to go back to is
    /// `current` unless one lasts already, whose mode stays. Returns that mode; none for a
    /// time that is not positive.
    std::optional<AppMode> start(Date now, double seconds, AppMode current);
    /// Ends it without going back (the user chose a mode).
    void clear();
    /// The mode to go back to once the time is up at `now` (and the keep-awake then cleared);
    /// none while it lasts or none runs.
    std::optional<AppMode> takeDue(Date now);

    /// When it ends; none while none lasts.
    std::optional<Date> until() const { return until_; }
    /// The mode it goes back to; none while none lasts.
    std::optional<AppMode> modeAfter() const { return modeAfter_; }
    /// How long it was asked for; none while none lasts.
    std::optional<double> seconds() const { return seconds_; }

signals:
    /// It started, started again or ended.
    void changed();

private:
    std::optional<Date> until_;
    std::optional<AppMode> modeAfter_;
    std::optional<double> seconds_;
};

} // namespace nodwarden::app
