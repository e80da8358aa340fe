#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <string_view>
#include <utility>

namespace nodwarden::app {

class AppModel;

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

/// Runs `job` on the main thread with the model, unless the model is gone by then. Callable from
/// any thread.
void deliver(const QPointer<AppModel>& guard, std::function<void(AppModel&)> job);

} // namespace detail
} // namespace nodwarden::app
