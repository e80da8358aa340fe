#pragma once

class QWidget;

namespace nodwarden::app {

/// Lets Esc, Ctrl+W and the desktop's own close keys close `window`, as they close the
/// desktop's other settings and document windows. Only while focus is inside `window`.
void addCloseShortcuts(QWidget& window);

} // namespace nodwarden::app
