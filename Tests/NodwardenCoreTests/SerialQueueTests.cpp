#include <NodwardenCore/system/SerialQueue.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace nodwarden;

TEST(SerialQueue, RunsJobsOneAtATimeInOrder) {
    SerialQueue queue("test.order");
    std::mutex mutex;
    std::vector<int> seen;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            {
                std::lock_guard lock(mutex);
                seen.push_back(i);
            }
            running.fetch_sub(1);
        });
    }
    queue.drain();
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(seen[static_cast<size_t>(i)], i);
    }
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, DrainWaitsForJobsQueuedFromSeveralThreads) {
    SerialQueue queue("test.drain");
    std::atomic<int> done{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < 4; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                queue.async([&] {
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                    done.fetch_add(1);
                });
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    queue.drain();
    EXPECT_EQ(done.load(), 200);
}

TEST(SerialQueue, ThrowingJobDoesNotStopLaterJobs) {
    SerialQueue queue("test.throw");
    std::atomic<bool> ranAfter{false};
    queue.async([] { throw std::runtime_error("boom"); });
    queue.async([&] { ranAfter = true; });
    queue.drain();
    EXPECT_TRUE(ranAfter);
}

TEST(SerialQueue, DestructionRunsWhatWasQueuedAndIsCurrentOnlyInsideJobs) {
    std::atomic<int> done{0};
    std::atomic<bool> insideIsCurrent{false};
    {
        SerialQueue queue("test.destroy");
        EXPECT_FALSE(queue.isCurrent());
        queue.async([&] { insideIsCurrent = queue.isCurrent(); });
        for (int i = 0; i < 10; ++i) {
            queue.async([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                done.fetch_add(1);
            });
        }
    }
    EXPECT_EQ(done.load(), 10);
    EXPECT_TRUE(insideIsCurrent);
}

TEST(SerialQueue, StopWithinLeavesAJobThatDoesNotEndBehindAndDropsTheRest) {
    // Everything the jobs touch is shared with them, as `stopWithin` asks.
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
        std::atomic<bool> started{false};
        std::atomic<bool> laterJobRan{false};
    };
    auto gate = std::make_shared<Gate>();
    auto queue = std::make_unique<SerialQueue>("test.stuck");
    queue->async([gate] {
        gate->started = true;
        std::unique_lock lock(gate->mutex);
        gate->opened.wait(lock, [&] { return gate->open; });
    });
    queue->async([gate] { gate->laterJobRan = true; });
    queue->asyncAt(std::chrono::steady_clock::now() + std::chrono::milliseconds(1),
                   [gate] { gate->laterJobRan = true; });
    while (!gate->started) {
        std::this_thread::yield();
    }

    EXPECT_FALSE(queue->stopWithin(std::chrono::milliseconds(50)));
    queue->async([gate] { gate->laterJobRan = true; });
    queue->drain(); // returns: nothing is waited for any more
    queue.reset();  // nor joined

    const auto held = gate;
    {
        std::lock_guard lock(gate->mutex);
        gate->open = true;
    }
    gate->opened.notify_all();
    gate.reset();
    // The stuck job ends on its own and lets go of what it held.
    while (held.use_count() > 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(held->laterJobRan) << "jobs not started are dropped, not run";

    SerialQueue idle("test.idle");
    EXPECT_TRUE(idle.stopWithin(std::chrono::milliseconds(50)));
}

TEST(SerialQueue, AJobForLaterRunsOnceDueInOrderOfDueAndIsNoPartOfADrain) {
    using Clock = std::chrono::steady_clock;
    SerialQueue queue("test.later");
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> seen;
    std::vector<Clock::time_point> ranAt;
    const auto record = [&](int value) {
        const std::lock_guard lock(mutex);
        seen.push_back(value);
        ranAt.push_back(Clock::now());
        changed.notify_all();
    };
    const Clock::time_point start = Clock::now();
    const Clock::time_point second = start + std::chrono::milliseconds(300);
    const Clock::time_point first = start + std::chrono::milliseconds(100);
    queue.asyncAt(second, [&] { record(2); });
    // Sooner than the one the worker already waits for: it must be woken to shorten its wait.
    queue.asyncAt(first, [&] { record(1); });
    queue.async([&] { record(0); });
    queue.drain();
    {
        const std::lock_guard lock(mutex);
        EXPECT_EQ(seen, std::vector<int>{0}) << "a drain waits only for jobs due by now";
    }

    // A job that queues its next run itself, as a repeating pass does.
    std::atomic<int> repeats{0};
    std::function<void()> repeat = [&] {
        if (repeats.fetch_add(1) + 1 < 3) {
            queue.asyncAt(Clock::now() + std::chrono::milliseconds(20), repeat);
        } else {
            record(3);
        }
    };
    queue.asyncAt(second + std::chrono::milliseconds(20), repeat);

    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return seen.size() == 4; }));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_GE(ranAt[1], first);
    EXPECT_GE(ranAt[2], second);
    EXPECT_EQ(repeats.load(), 3);
}
