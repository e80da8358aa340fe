#include <NodwardenCore/system/SerialQueue.hpp>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include <pthread.h>

namespace nodwarden {

/// Shared by the queue and its worker, so a worker left running by `stopWithin` never touches
/// a queue that is gone.
struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable progressed;
    std::deque<Job> jobs;
    /// Jobs not yet due, by when they are; moved to `jobs` (and counted) as they come due.
    std::multimap<std::chrono::steady_clock::time_point, Job> later;
    std::uint64_t queuedCount = 0;
    std::uint64_t finishedCount = 0;
    bool stopping = false;
    /// Set by `stopWithin`: nothing more is run or waited for.
    bool abandoned = false;
    bool workerEnded = false;
    /// Kept here rather than read from the queue's `std::thread`, which `stopWithin` detaches
    /// while a job left running may still be queuing.
    std::thread::id worker;

    void runLoop() {
        {
            const std::lock_guard lock(mutex);
            worker = std::this_thread::get_id();
        }
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex);
                waitForWork(lock);
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

    /// Waits until a job is due or the queue stops; jobs for later only set how long.
    void waitForWork(std::unique_lock<std::mutex>& lock) {
        for (;;) {
            if (!stopping) {
                takeDue();
            }
            if (stopping || !jobs.empty()) {
                return;
            }
            if (later.empty()) {
                wake.wait(lock);
            } else {
                wake.wait_until(lock, later.begin()->first);
            }
        }
    }

    void takeDue() {
        const auto now = std::chrono::steady_clock::now();
        while (!later.empty() && later.begin()->first <= now) {
            jobs.push_back(std::move(later.begin()->second));
            later.erase(later.begin());
            ++queuedCount;
        }
    }
};

namespace {

/// The thread's name as `top -H` and /proc show it: the label's last part, which tells the queues
/// apart within the 15 bytes a name may have.
void nameThisThread(const std::string& label) {
    const std::size_t dot = label.rfind('.');
    const std::string name =
        (dot == std::string::npos ? label : label.substr(dot + 1)).substr(0, 15);
    pthread_setname_np(pthread_self(), name.c_str());
}

} // namespace

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
    worker_ = std::thread([state = state_, label = label_] {
        nameThisThread(label);
        state->runLoop();
    });
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

void SerialQueue::asyncAt(std::chrono::steady_clock::time_point due, Job job) {
    bool wakeWorker = false;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->abandoned) {
            return;
        }
        // The worker sets its wait by the soonest job for later: only a sooner one, queued from
        // elsewhere, needs to wake it.
        wakeWorker = std::this_thread::get_id() != state_->worker &&
                     (state_->later.empty() || due < state_->later.begin()->first);
        state_->later.emplace(due, std::move(job));
    }
    if (wakeWorker) {
        state_->wake.notify_one();
    }
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
    std::multimap<std::chrono::steady_clock::time_point, Job> droppedLater;
    bool ended = false;
    {
        std::unique_lock lock(state_->mutex);
        state_->abandoned = true;
        state_->stopping = true;
        dropped.swap(state_->jobs);
        droppedLater.swap(state_->later);
        state_->wake.notify_all();
        ended = state_->progressed.wait_for(lock, bound, [&] { return state_->workerEnded; });
    }
    // Dropped jobs are destroyed here, outside the lock: what they hold may take time to free.
    dropped.clear();
    droppedLater.clear();
    state_->progressed.notify_all(); // a drain still waiting returns
    if (ended) {
        worker_.join();
    } else {
        worker_.detach();
    }
    return ended;
}

} // namespace nodwarden
