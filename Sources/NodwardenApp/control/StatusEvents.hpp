#pragma once

#include <QJsonObject>
#include <QObject>

#include <functional>

namespace nodwarden::app {

class AppModel;

/// One follower of `stayloom events`: after each change of the status, its reason, an agent's
/// state, the mode or a timed keep-awake, hands on the `status --json` keys that changed since
/// the last line, with "at" (the model's time, ISO 8601 in UTC), and under "shown" the keys of
/// the report as people read it that changed, for a follower that prints lines for people. Lives
/// as the model's child, so it never outlives it.
class StatusEvents : public QObject {
    Q_OBJECT

public:
    using Send = std::function<void(const QJsonObject& line)>;

    /// `first` and `firstShown` are the reports the follower was answered with (for scripts and
    /// for people); changes are counted from them.
    StatusEvents(AppModel& model, QJsonObject first, QJsonObject firstShown, Send send);

    /// The keys of `now` whose values differ from `before`'s, with "at"; empty when nothing
    /// a follower waits for (status, reason, mode, timed keep-awake, an agent's state) changed.
    static QJsonObject changes(const QJsonObject& before, const QJsonObject& now,
                               const QString& at);
    /// The keys of `now` whose values differ from `before`'s.
    static QJsonObject differing(const QJsonObject& before, const QJsonObject& now);

private:
    void schedule();
    void sendIfChanged();

    AppModel& model_;
    QJsonObject last_;
    QJsonObject lastShown_;
    Send send_;
    bool scheduled_ = false;
};

} // namespace nodwarden::app
