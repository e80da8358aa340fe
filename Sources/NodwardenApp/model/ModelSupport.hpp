#pragma once

#include <QString>

#include <string_view>
#include <utility>

namespace nodwarden::app {

/// `text` as a terminal may show it (`UnicodeText::shownOnTerminal`): every name, reason and
/// path from outside passes through it before it is printed.
QString shownOnTerminal(const QString& text);

/// Small helpers shared by the model's source files.
namespace detail {

/// Assigns `value` to `field` and calls `notify` only when they differ, so observers hear of
/// real changes only.
template <typename Field, typename Value, typename Notify>
void assignIfChanged(Field& field, Value&& value, Notify&& notify) {
    if (!(field == value)) {
        field = std::forward<Value>(value);
        notify();
    }
}

QString qstring(std::string_view text);

} // namespace detail
} // namespace nodwarden::app
