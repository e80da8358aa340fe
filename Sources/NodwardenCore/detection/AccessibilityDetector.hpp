#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/detection/AccessibilityPlatform.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Reads the text that agent applications, terminals and the user's target applications show
/// through the accessibility interface, and turns tell-tale phrases into activity signals.
///
/// Holds no state of its own: every call reads the live platform afresh. Calls block on other
/// processes, so they belong on a background queue. On-screen text is never logged or kept.
class AccessibilityDetector {
public:
    /// Fragments gathered from one application at most (checked before each element).
    static constexpr int maxFragments = 300;
    /// Depth limit of a walk from the focused window (the window is depth 0).
    static constexpr int focusedWindowMaxDepth = 4;
    /// Depth limit of a walk from each listed window when no window has focus.
    static constexpr int windowListMaxDepth = 3;
    /// Listed windows walked when no window has focus.
    static constexpr int maxWindows = 3;
    /// Children followed per element.
    static constexpr int maxChildren = 80;

    /// `extraTerminalBundleIDs` adds the platform's own text-exposing terminals (lower case) to
    /// the catalog's list, so their windows are searched for command-line agents too.
    explicit AccessibilityDetector(AccessibilityPlatform& platform,
                                   std::set<std::string> extraTerminalBundleIDs = {});

    /// Whether the platform trusts this process to read other applications.
    bool isTrusted() const;

    /// Asks the platform to show its permission request if this process is not trusted.
    void requestPermissionPrompt() const;

    /// At most one signal per application name (active phrase: strong, idle phrase: presence);
    /// empty when detection is off in `settings` or the process is not trusted.
    std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings) const;

    /// The bounded text of the running application with this process id, fragments joined by
    /// single spaces; "" when nothing could be read.
    std::string visibleText(std::int32_t processIdentifier) const;

    /// The title of each of the application's windows, in window order, where it is a string.
    std::vector<std::string> windowTitles(std::int32_t processIdentifier) const;

private:
    std::string visibleText(const AccessibilityElement& application) const;
    void collectText(const AccessibilityElement& element, std::vector<std::string>& fragments,
                     int depth, int maxDepth) const;
    AccessibilityElement applicationElement(std::int32_t processIdentifier) const;

    AccessibilityPlatform& platform_;
    std::set<std::string> terminalBundleIDs_;
};

} // namespace nodwarden
