#pragma once

#include <QLabel>
#include <QString>

namespace nodwarden::app {

/// A one-line label that cuts its text with "…" at the end when the space runs out; `text()`
/// keeps the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString fullText_;
};

} // namespace nodwarden::app
