#pragma once

#include <NodwardenCore/system/SerialQueue.hpp>

#include <QMetaObject>
#include <QPointer>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace nodwarden::app::detail {

/// Runs `job` on the main thread with the target, unless the target is gone by then. Callable
/// from any thread.
template <typename Target>
void deliver(const QPointer<Target>& guard, std::function<void(Target&)> job) {
    Target* target = guard.data();
    if (target == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        target,
        [guard, job = std::move(job)] {
            if (Target* alive = guard.data()) {
                job(*alive);
            }
        },
        Qt::QueuedConnection);
}

/// A gate that never closes: results go through for as long as their target lives.
struct OpenGate {
    bool isOpen() const { return true; }
    template <typename Hand> void pass(Hand&& hand) const { std::forward<Hand>(hand)(); }
};

/// Runs `work` on `queue`, then hands its result to `done` with `target` on the main thread.
/// Nothing runs once the target is gone or `gate` is closed, and nothing is handed over then
/// (`gate.pass` hands over only while it is open). A `work` that throws hands over what
/// `failed(error)` returns instead, so no exception reaches Qt.
template <typename Target, typename Work, typename Failed, typename Done, typename Gate = OpenGate>
void runThenDeliver(SerialQueue& queue, Target& target, Work work, Failed failed, Done done,
                    std::shared_ptr<const Gate> gate = std::make_shared<const Gate>()) {
    QPointer<Target> guard(&target);
    queue.async([guard, gate = std::move(gate), work = std::move(work), failed = std::move(failed),
                 done = std::move(done)]() mutable {
        if (guard.isNull() || !gate->isOpen()) {
            return;
        }
        using Result = std::decay_t<std::invoke_result_t<Work&>>;
        std::optional<Result> result;
        try {
            result.emplace(work());
        } catch (const std::exception& error) {
            result.emplace(failed(error));
        }
        gate->pass([&] {
            deliver<Target>(guard, [result = std::move(*result), done](Target& alive) mutable {
                done(alive, std::move(result));
            });
        });
    });
}

} // namespace nodwarden::app::detail
