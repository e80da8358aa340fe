#include <NodwardenApp/ui/CloseShortcuts.hpp>

#include <QKeySequence>
#include <QList>
#include <QShortcut>
#include <QWidget>

namespace nodwarden::app {

void addCloseShortcuts(QWidget& window) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Close);
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        if (!keys.contains(key)) {
            keys.append(key);
        }
    }
    for (const QKeySequence& key : keys) {
        auto* shortcut = new QShortcut(key, &window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, &window, &QWidget::close);
    }
}

} // namespace nodwarden::app
