#pragma once

#include <NodwardenCore/Export.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// One worker thread that runs queued jobs one at a time, in the order they were queued.
class SerialQueue {
public:
    using Job = std::function<void()>;

    explicit SerialQueue(std::string label);
    /// Runs every job already queued, then stops the worker; unless `stopWithin` stopped it.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    /// Queues `job`; returns at once. An exception escaping a job is swallowed so the queue lives
    /// on. After `stopWithin` the job is dropped unrun.
    void async(Job job);

    /// Queues `job` to run once `due` has come, after the jobs that came due before it; returns
    /// at once. Until then it is no part of what `drain` waits for, and stopping drops it. Queued
    /// from a job of this queue it costs the worker no extra wake-up, which is why a job that
    /// repeats itself queues its next run this way.
    void asyncAt(std::chrono::steady_clock::time_point due, Job job);

    /// Blocks until every job queued before this call, and due by now, has finished; returns at
    /// once after `stopWithin`.
    void drain();

    /// True when called from a job running on this queue.
    bool isCurrent() const;

    /// Stops the worker without waiting on a job that does not end: jobs not yet started are
    /// dropped, and a running job gets at most `bound` to finish. A job still running then is
    /// left to end on its own on a thread that outlives the queue, so a job queued where this
    /// is used must own or share everything it touches. Returns whether the worker ended in time.
    bool stopWithin(std::chrono::milliseconds bound);

private:
    struct State;

    const std::string label_;
    std::shared_ptr<State> state_;
    std::thread worker_;
};

} // namespace nodwarden
