#pragma once

#include <NodwardenApp/model/UserInterface.hpp>

#include <memory>

namespace nodwarden::app {

/// The desktop face as the program loads it from its module (`stayloom-desktop`): only a run that
/// opens a display loads Qt's GUI libraries. Opening it builds the application object the tray and
/// windows need, so it comes before any other Qt object; the face owns it until it is destroyed.
class DesktopFace {
public:
    /// The module's file, beside the program's library (`programLibraryFolder`).
    static constexpr const char* moduleFileName = "stayloom-desktop.so";
    /// The one symbol the module exports, of type `EntryPoint`.
    static constexpr const char* entryPointName = "stayloomOpenDesktopFace";
    /// Builds the face around `argc` and `argv`, which must outlive it; the caller owns the result.
    using EntryPoint = DesktopFace* (*)(int& argc, char** argv);

    virtual ~DesktopFace() = default;

    /// The tray and windows, made once this copy of the program holds the instance lock.
    virtual std::unique_ptr<UserInterface> makeUserInterface() = 0;
};

} // namespace nodwarden::app
