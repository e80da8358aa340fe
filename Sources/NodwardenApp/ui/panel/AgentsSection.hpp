#pragma once

#include <NodwardenApp/model/AgentRows.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

#include <QIcon>
#include <QLabel>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QVBoxLayout;

namespace nodwarden::app {

class AppModel;
class WarningRow;

/// The row state in a small capsule: green on green while working, secondary on gray otherwise.
class StatePill : public QLabel {
    Q_OBJECT
public:
    StatePill(const QString& text, bool working, QWidget* parent = nullptr);
    bool isWorking() const { return working_; }

private:
    bool working_;
};

/// One detected agent: its icon (the application's own where the desktop knows it, else its
/// symbol, green while working), name, detail and state pill.
class AgentRowView : public QWidget {
    Q_OBJECT
public:
    /// `desktopIDs` are the desktop's other ids for the row's application, where its icon is found.
    AgentRowView(const AgentStatusRow& row, const std::vector<std::string>& desktopIDs,
                 QWidget* parent = nullptr);
    const AgentStatusRow& row() const { return row_; }
    /// Whether the icon is the application's own rather than the row's symbol.
    bool showsApplicationIcon() const { return showsApplicationIcon_; }

private:
    AgentStatusRow row_;
    bool showsApplicationIcon_ = false;
};

/// The application icon for `bundleID` from the desktop's icon theme, else from the desktop
/// entry of `bundleID` or of one of `desktopIDs`, looked up once per identifier for the life of
/// the process (an absence is remembered too). Main thread only.
std::optional<QIcon> applicationIcon(const std::string& bundleID,
                                     const std::vector<std::string>& desktopIDs);

/// "Agents" with the working summary, one row per detected agent (or "No agents running", or,
/// with every agent switched off, a way to the Agents settings), and the screen-text warning
/// when the model has one.
class AgentsSection : public QWidget {
    Q_OBJECT
public:
    explicit AgentsSection(AppModel& model, QWidget* parent = nullptr);

    void refresh();

private:
    void rebuildRows();

    AppModel& model_;
    QLabel* summary_;
    QWidget* emptyRow_;
    QWidget* nothingWatchedRow_;
    QWidget* rowsBox_;
    QVBoxLayout* rowsLayout_;
    WarningRow* accessibilityRow_;
    std::optional<std::vector<AgentStatusRow>> shownRows_;
};

} // namespace nodwarden::app
