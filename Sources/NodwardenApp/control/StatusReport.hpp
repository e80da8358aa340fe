#pragma once

#include <NodwardenCore/model/Date.hpp>

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace nodwarden::app {

class AppModel;

/// What `stayloom status` shows, as one JSON object with stable keys (listed in the README):
/// built by the running program from its model, turned into text by the command.
namespace StatusReport {

/// ISO 8601 in UTC to the second ("2026-12-08T19:00:00Z"), what `date -d` and every JSON reader
/// take; null for no time.
QJsonValue isoTime(std::optional<Date> date);

/// This machine's clock, for the countdowns of a report read outside the program.
Date currentTime();

/// The model's state right now, with the program's process id and version; its texts in the
/// user's language, for people.
QJsonObject fromModel(const AppModel& model);

/// The same for scripts (`status --json`, `events --json`): every text in the program's own
/// English whatever the user's language, every state by its raw value.
QJsonObject forScripts(const AppModel& model);

/// The lines `stayloom status` prints for a report (one `fromModel` built, as the running program
/// hands it under "shown"), its countdowns as of `now`.
QString text(const QJsonObject& report, Date now = currentTime());

/// The first of those lines: "Idle Grace — … · 0 working · sleeps in 1:18".
QString headline(const QJsonObject& report, Date now);

/// The report's time under `key` (ISO 8601); none when it has none.
std::optional<Date> time(const QJsonObject& report, const char* key);

} // namespace StatusReport

} // namespace nodwarden::app
