#include <NodwardenApp/model/WaitingNotice.hpp>

namespace nodwarden::app {

Notice WaitingNotice::noticeFor(const std::string& agent) {
    return Notice{agent + " is waiting for your answer",
                  "It has stopped to ask you something. The computer may sleep while it waits."};
}

void WaitingNotice::observe(const std::vector<ActivitySignal>& perApp,
                            const GuardSettings& settings) {
    std::set<std::string> waiting;
    for (const ActivitySignal& signal : perApp) {
        if (signal.waitingForUser && signal.appName) {
            waiting.insert(*signal.appName);
        }
    }
    std::optional<std::string> newcomer;
    for (const std::string& name : waiting) {
        if (!waiting_.contains(name)) {
            newcomer = name;
            break;
        }
    }
    waiting_ = std::move(waiting);
    if (newcomer && settings.notifications.workDone) {
        shown_ = noticeFor(*newcomer);
        out_.show(*shown_);
    } else if (waiting_.empty() && shown_) {
        out_.withdraw(*shown_);
        shown_.reset();
    }
}

} // namespace nodwarden::app
