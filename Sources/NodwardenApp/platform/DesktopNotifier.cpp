#include <NodwardenApp/platform/DesktopNotifier.hpp>

#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/SerialQueue.hpp>
#include <NodwardenLinux/FreedesktopNotifications.hpp>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <system_error>

#include <sys/eventfd.h>
#include <unistd.h>

namespace nodwarden::app {

using linuxplatform::FreedesktopNotifications;

struct DesktopNotifier::State {
    explicit State(FileLogger& sharedLogger)
        : logger(sharedLogger), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~State() {
        if (wake >= 0) {
            ::close(wake);
        }
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    /// Ends a wait for a button so the queue's next job runs. Written before the job is queued,
    /// it may find no wait; the next show clears it.
    void interruptWait() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }
    void clearWake() const {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wake, &count, sizeof count);
    }

    FileLogger& logger;
    FreedesktopNotifications service;
    bool failureLogged = false;
    /// Written by anyone who needs the queue while it waits for a button.
    const int wake;
    std::mutex handlerLock;
    ActionHandler handler;
};

namespace {

/// Waits on the queue for a button of the notice shown last, until the next job wakes it.
void listenForActions(const std::shared_ptr<DesktopNotifier::State>& state, SerialQueue& queue) {
    if (state->wake < 0 || !state->service.awaitsAction()) {
        return;
    }
    queue.async([state] {
        const std::string key = state->service.waitForAction(state->wake);
        if (!key.empty()) {
            std::lock_guard lock(state->handlerLock);
            if (state->handler) {
                state->handler(key);
            }
        }
    });
}

} // namespace

DesktopNotifier::DesktopNotifier(FileLogger& logger, const std::filesystem::path& sandboxMarker)
    : state_(std::make_shared<State>(logger)),
      queue_(std::make_unique<SerialQueue>("Stayloom.Notifications")) {
    std::error_code ignored;
    if (std::filesystem::exists(sandboxMarker, ignored)) {
        logger.log("Notifications: running in a sandbox; the notification portal is not used, "
                   "notices go to the session bus where the sandbox lets them through");
    }
}

DesktopNotifier::~DesktopNotifier() {
    state_->interruptWait();
    queue_->stopWithin(std::chrono::milliseconds(500));
}

void DesktopNotifier::setActionHandler(ActionHandler handler) {
    std::lock_guard lock(state_->handlerLock);
    state_->handler = std::move(handler);
}

void DesktopNotifier::show(const Notice& notice) {
    state_->interruptWait();
    queue_->async([state = state_, notice, queue = queue_.get()] {
        // Every wake so far was for this job's turn; one written from now on is for a later job.
        state->clearWake();
        std::vector<FreedesktopNotifications::Action> actions;
        for (const NoticeAction& action : notice.actions) {
            actions.emplace_back(action.key, action.label);
        }
        const auto result = state->service.show(notice.slot, notice.summary, notice.body, actions);
        listenForActions(state, *queue);
        switch (result.outcome) {
        case FreedesktopNotifications::Outcome::shown:
            state->failureLogged = false;
            break;
        case FreedesktopNotifications::Outcome::noSessionBus:
            // Said once: the next calls find no bus without trying again.
            if (!result.detail.empty()) {
                state->logger.log("Notifications: no session bus (" + result.detail +
                                  "); none will be shown");
            }
            break;
        case FreedesktopNotifications::Outcome::failed:
            if (!state->failureLogged) {
                state->failureLogged = true;
                state->logger.log("Notifications: the notification service did not take a "
                                  "notice: " +
                                  result.detail);
            }
            break;
        }
    });
}

void DesktopNotifier::withdraw(const std::string& slot) {
    state_->interruptWait();
    queue_->async([state = state_, slot, queue = queue_.get()] {
        state->clearWake();
        state->service.close(slot);
        listenForActions(state, *queue);
    });
}

void DesktopNotifier::drain() {
    state_->interruptWait();
    queue_->drain();
}

} // namespace nodwarden::app
