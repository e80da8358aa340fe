#include <NodwardenCore/system/SerialQueue.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

namespace nodwarden {

/// Shared by the queue and its worker, so a worker left running by `stopWithin` never touches
/// a queue that is gone.
struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable progressed;
    std::deque<Job> jobs;
    std::uint64_t queuedCount = 0;
    std::uint64_t finishedCount = 0;
    bool stopping = false;
    /// Set by `stopWithin`: nothing more is run or waited for.
    bool abandoned = false;
    bool workerEnded = false;

    void runLoop() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !jobs.empty(); });
                if (jobs.empty()) {
                    workerEnded = true;
                    progressed.notify_all();
                    return; // stopping and nothing left
                }
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            try {
                job();
            } catch (...) {
                // A failing job must not take the queue (and every later job) down with it.
            }
            job = nullptr; // what the job holds goes now, not when the next one is taken
            {
                std::lock_guard lock(mutex);
                ++finishedCount;
            }
            progressed.notify_all();
        }
    }
};

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
    worker_ = std::thread([state = state_] { state->runLoop(); });
}

SerialQueue::~SerialQueue() {
    if (!worker_.joinable()) {
        return; // stopped by `stopWithin`
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    worker_.join();
}

void SerialQueue::async(Job job) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->abandoned) {
            return;
        }
        state_->jobs.push_back(std::move(job));
        ++state_->queuedCount;
    }
    state_->wake.notify_one();
}

void SerialQueue::drain() {
    if (isCurrent()) {
        return; // waiting on ourselves would never end
    }
    std::unique_lock lock(state_->mutex);
    const auto target = state_->queuedCount;
    state_->progressed.wait(lock,
                            [&] { return state_->abandoned || state_->finishedCount >= target; });
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == worker_.get_id();
}

bool SerialQueue::stopWithin(std::chrono::milliseconds bound) {
    if (!worker_.joinable()) {
        return true;
    }
    std::deque<Job> dropped;
    bool ended = false;
    {
        std::unique_lock lock(state_->mutex);
        state_->abandoned = true;
        state_->stopping = true;
        dropped.swap(state_->jobs);
        state_->wake.notify_all();
        ended = state_->progressed.wait_for(lock, bound, [&] { return state_->workerEnded; });
    }
    // Dropped jobs are destroyed here, outside the lock: what they hold may take time to free.
    dropped.clear();
    state_->progressed.notify_all(); // a drain still waiting returns
    if (ended) {
        worker_.join();
    } else {
        worker_.detach();
    }
    return ended;
}

} // namespace nodwarden
