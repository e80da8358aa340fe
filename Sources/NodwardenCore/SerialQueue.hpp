#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace nodwarden {

/// One worker thread that runs queued jobs one at a time, in the order they were queued.
class SerialQueue {
public:
    using Job = std::function<void()>;

    explicit SerialQueue(std::string label);
    /// Runs every job already queued, then stops the worker.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    /// Queues `job`; returns at once. An exception escaping a job is swallowed so the queue lives
    /// on.
    void async(Job job);

    /// Blocks until every job queued before this call has finished.
    void drain();

    /// True when called from a job running on this queue.
    bool isCurrent() const;

private:
    void runLoop();

    const std::string label_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable progressed_;
    std::deque<Job> jobs_;
    std::uint64_t queuedCount_ = 0;
    std::uint64_t finishedCount_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace nodwarden
