#pragma once

#include <QLabel>

namespace nodwarden::app {

/// A link that is one stop on the Tab chain: it takes the focus as a whole, shows it with a ring
/// in the link's colour, and opens on Return, Enter or Space. A label that lets the keyboard reach
/// its links is two stops (the label, then its link), the first without any visible focus.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, const QString& address, QWidget* parent = nullptr);

    /// Opens the address, as a click does: through the desktop for an external link, else by
    /// `linkActivated`.
    void activate();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString address_;
};

} // namespace nodwarden::app
