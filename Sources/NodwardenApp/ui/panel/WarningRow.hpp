#pragma once

#include <NodwardenApp/ui/panel/ClickableFrame.hpp>
#include <NodwardenApp/ui/panel/StatusPanelParts.hpp>

#include <QString>

class QLabel;

namespace nodwarden::app {

/// An orange-tinted row with the warning triangle, a message and an optional second line. The
/// clickable ones (stale sleep block, Accessibility) emit `activated`; the lid-closed banner is
/// text only.
class WarningRow : public ClickableFrame {
    Q_OBJECT
public:
    WarningRow(const QString& objectName, bool clickable, QWidget* parent = nullptr);

    /// Sets the message and the second line (hidden when empty); also the accessible name.
    void setTexts(const QString& message, const QString& hint = QString());
    QString message() const;
    QString hint() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* message_;
    QLabel* hint_;
};

// The stale sleep-block row's title and the Accessibility row's hint name the machine: they
// are in `PlatformWording`.
/// The second line of the stale sleep-block row.
inline constexpr const char* staleSleepHint =
    QT_TRANSLATE_NOOP("WarningRow", "Click to restore normal sleep (asks for your password once).");

} // namespace nodwarden::app
