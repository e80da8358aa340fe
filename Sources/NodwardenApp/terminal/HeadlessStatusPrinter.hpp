#pragma once

#include <NodwardenCore/model/GuardStatus.hpp>

#include <QObject>
#include <QString>

#include <cstdio>

namespace nodwarden::app {

class AppModel;

/// Without a display, the program's whole face: one line on the output whenever the status, the
/// status reason or the agent summary changes, such as
/// "Keeping Awake — Claude Code CPU is above the work threshold · 1 working".
///
/// Changes made during one evaluation are gathered and printed as one line after it, and a line
/// equal to the previous one is not repeated.
class HeadlessStatusPrinter : public QObject {
    Q_OBJECT

public:
    /// Reads `model` (the printer's parent) and writes to `output`.
    HeadlessStatusPrinter(AppModel& model, std::FILE* output);

    /// Status display name, " — ", reason, " · ", agent summary.
    static QString formatLine(const QString& statusName, const QString& reason,
                              const QString& agentSummary);

    /// While held, lines wait (a question is open on the terminal); on release the current line
    /// is printed if it differs from the last one.
    void setHeld(bool held);

    /// The last line written; empty before the first.
    const QString& lastLine() const { return lastLine_; }

private:
    void schedule();
    void printIfChanged();

    AppModel& model_;
    std::FILE* output_;
    QString lastLine_;
    // The line without its countdown: a grace that only runs down is not a change.
    QString lastBase_;
    bool scheduled_ = false;
    bool held_ = false;
};

} // namespace nodwarden::app
