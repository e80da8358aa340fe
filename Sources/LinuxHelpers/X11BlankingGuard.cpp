#include "X11BlankingGuard.hpp"

#include <cstdlib>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace stayloom::helpers {

void X11BlankingGuard::engage() {
    if (connection_ != nullptr) {
        return;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return;
    }
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    std::string problem;
    if (xcb_connection_has_error(connection) != 0) {
        problem = std::string("cannot reach the X display ") + display;
    } else if (const auto* extension = xcb_get_extension_data(connection, &xcb_screensaver_id);
               extension == nullptr || extension->present == 0) {
        problem = std::string("the X display ") + display + " has no MIT-SCREEN-SAVER extension";
    }
    if (!problem.empty()) {
        xcb_disconnect(connection);
        if (problem != reported_) {
            reported_ = problem;
            notes_.complain("note: " + problem + "; its screen may blank");
        }
        return;
    }
    xcb_screensaver_suspend(connection, 1);
    xcb_flush(connection);
    connection_ = connection;
    reported_.clear();
    notes_.say("holding the X display awake: screensaver and DPMS suspended");
}

void X11BlankingGuard::disengage() {
    if (connection_ == nullptr) {
        return;
    }
    // Ending the connection ends the suspend as well; the request only says so sooner.
    xcb_screensaver_suspend(connection_, 0);
    xcb_flush(connection_);
    xcb_disconnect(connection_);
    connection_ = nullptr;
    notes_.say("released the X display's screensaver and DPMS");
}

} // namespace stayloom::helpers
