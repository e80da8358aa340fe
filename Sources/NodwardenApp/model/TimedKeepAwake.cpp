#include <NodwardenApp/model/TimedKeepAwake.hpp>

namespace nodwarden::app {

std::optional<AppMode> TimedKeepAwake::start(Date now, double seconds, AppMode current) {
    if (!(seconds > 0)) {
        return std::nullopt;
    }
    modeAfter_ = modeAfter_.value_or(current);
    until_ = now + seconds;
    seconds_ = seconds;
    emit changed();
    return modeAfter_;
}

void TimedKeepAwake::clear() {
    if (!until_) {
        return;
    }
    until_.reset();
    modeAfter_.reset();
    seconds_.reset();
    emit changed();
}

std::optional<AppMode> TimedKeepAwake::takeDue(Date now) {
    if (!until_ || now < *until_) {
        return std::nullopt;
    }
    const AppMode after = *modeAfter_;
    clear();
    return after;
}

} // namespace nodwarden::app
