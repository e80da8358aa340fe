#include <NodwardenApp/model/WaitingNotice.hpp>

#include <QCoreApplication>

namespace nodwarden::app {

std::string WaitingNotice::slotFor(const std::string& agent) {
    return "waiting:" + agent;
}

Notice WaitingNotice::noticeFor(const std::string& agent) {
    return Notice{QCoreApplication::translate("WaitingNotice", "%1 is waiting for your answer")
                      .arg(QString::fromStdString(agent))
                      .toStdString(),
                  QCoreApplication::translate("WaitingNotice",
                                              "It has stopped to ask you something. The computer "
                                              "may sleep while it waits.")
                      .toStdString(),
                  {},
                  slotFor(agent)};
}

void WaitingNotice::observe(const std::vector<ActivitySignal>& perApp,
                            const GuardSettings& settings) {
    std::set<std::string> waiting;
    for (const ActivitySignal& signal : perApp) {
        if (signal.waitingForUser && signal.appName) {
            waiting.insert(*signal.appName);
        }
    }
    for (auto shown = shown_.begin(); shown != shown_.end();) {
        if (waiting.contains(*shown)) {
            ++shown;
        } else {
            out_.withdraw(slotFor(*shown));
            shown = shown_.erase(shown);
        }
    }
    for (const std::string& name : waiting) {
        if (!waiting_.contains(name) && settings.notifications.workDone) {
            out_.show(noticeFor(name));
            shown_.insert(name);
        }
    }
    waiting_ = std::move(waiting);
}

} // namespace nodwarden::app
