#pragma once

#include <NodwardenApp/model/UserInterface.hpp>

#include <memory>

namespace nodwarden::app {

/// The tray and windows of ui/.
std::unique_ptr<UserInterface> makeDesktopUserInterface();

} // namespace nodwarden::app
