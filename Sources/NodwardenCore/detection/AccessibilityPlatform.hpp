#pragma once

#include <NodwardenCore/Export.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Platform state behind one accessibility element; each platform layer derives its own handle
/// type and recognises it again when the element is passed back to it.
class AccessibilityElementHandle {
public:
    virtual ~AccessibilityElementHandle() = default;
};

/// An opaque, copyable reference to one element of an application's accessibility tree.
/// A null reference stands for an application that exposes no tree.
using AccessibilityElement = std::shared_ptr<const AccessibilityElementHandle>;

/// The value of one attribute read: a string, one element, or a list of elements. Values of any
/// other type are reported as no value by the platform.
using AccessibilityValue =
    std::variant<std::string, AccessibilityElement, std::vector<AccessibilityElement>>;

/// One running application as the platform lists it.
struct RunningApplication {
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    std::int32_t processIdentifier = 0;
    /// The application's root element (null when it has none).
    AccessibilityElement element;

    bool operator==(const RunningApplication&) const = default;
};

/// The attribute names the text detector reads; platforms other than the Mac map them onto
/// their own accessibility roles and properties.
namespace AccessibilityAttribute {
inline constexpr std::string_view focusedWindow = "AXFocusedWindow";
inline constexpr std::string_view windows = "AXWindows";
inline constexpr std::string_view title = "AXTitle";
inline constexpr std::string_view value = "AXValue";
inline constexpr std::string_view description = "AXDescription";
inline constexpr std::string_view help = "AXHelp";
inline constexpr std::string_view children = "AXChildren";
} // namespace AccessibilityAttribute

/// What the on-screen text detector needs of the platform's accessibility and workspace
/// services. Every call may block on another process. Implementations must tolerate calls from
/// two threads at once (the permission check runs on the user-interface thread while a detection
/// pass reads text on its own queue).
class AccessibilityPlatform {
public:
    virtual ~AccessibilityPlatform() = default;

    /// The running applications, in the platform's order.
    virtual std::vector<RunningApplication> runningApplications() = 0;

    /// One attribute of `element`; no value when the read fails, the attribute is missing, the
    /// value has another type, or `element` is null.
    virtual std::optional<AccessibilityValue> copyAttribute(const AccessibilityElement& element,
                                                            std::string_view attribute) = 0;

    /// Whether this process is currently allowed to read other applications' accessibility trees.
    virtual bool isProcessTrusted() = 0;

    /// Asks the platform to show its own permission request when this process is not trusted.
    virtual void promptForTrust() = 0;
};

} // namespace nodwarden
