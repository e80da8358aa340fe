#include <NodwardenCore/SerialQueue.hpp>

#include <utility>

namespace nodwarden {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    worker_ = std::thread([this] { runLoop(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void SerialQueue::async(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        ++queuedCount_;
    }
    wake_.notify_one();
}

void SerialQueue::drain() {
    if (isCurrent()) {
        return; // waiting on ourselves would never end
    }
    std::unique_lock lock(mutex_);
    const auto target = queuedCount_;
    progressed_.wait(lock, [&] { return finishedCount_ >= target; });
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == worker_.get_id();
}

void SerialQueue::runLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return; // stopping and nothing left
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job();
        } catch (...) {
            // A failing job must not take the queue (and every later job) down with it.
        }
        {
            std::lock_guard lock(mutex_);
            ++finishedCount_;
        }
        progressed_.notify_all();
    }
}

} // namespace nodwarden
