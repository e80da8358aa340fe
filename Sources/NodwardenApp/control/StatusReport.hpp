#pragma once

#include <QJsonObject>
#include <QString>

namespace nodwarden::app {

class AppModel;

/// What `stayloom status` shows, as one JSON object with stable keys (listed in the README):
/// built by the running program from its model, turned into text by the command.
namespace StatusReport {

/// The model's state right now, with the program's process id and version.
QJsonObject fromModel(const AppModel& model);

/// The lines `stayloom status` prints for a report.
QString text(const QJsonObject& report);

} // namespace StatusReport

} // namespace nodwarden::app
