#pragma once

#include "SessionInhibitorWatcher.hpp"

#include <string>

struct xcb_connection_t;

namespace stayloom::helpers {

/// Keeps a bare X server from blanking or powering down its screen while no session service
/// would: the MIT-SCREEN-SAVER extension's suspend, which stops both the screensaver's and
/// DPMS's timers. The server ends a suspend with the client that asked for it, so a helper that
/// dies, however, gives the screen back to its own settings, which are never changed.
class X11BlankingGuard {
public:
    explicit X11BlankingGuard(HelperNotes notes) : notes_(std::move(notes)) {}
    ~X11BlankingGuard() { disengage(); }
    X11BlankingGuard(const X11BlankingGuard&) = delete;
    X11BlankingGuard& operator=(const X11BlankingGuard&) = delete;

    /// Suspends blanking on the display named by DISPLAY; without one, or on a server without
    /// the extension, it says so once and holds nothing.
    void engage();
    /// Resumes blanking and lets the display go; never waits for the server.
    void disengage();
    bool engaged() const { return connection_ != nullptr; }

private:
    HelperNotes notes_;
    xcb_connection_t* connection_ = nullptr;
    /// What was last said about a display that could not be held, so that it is said once.
    std::string reported_;
};

} // namespace stayloom::helpers
