#pragma once

#include <NodwardenCore/detection/AccessibilityPlatform.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace stayloom::testing {

using nodwarden::AccessibilityElement;
using nodwarden::AccessibilityElementHandle;
using nodwarden::AccessibilityValue;
using nodwarden::RunningApplication;

/// One element of a scripted accessibility tree: a label for the tests and the attribute values
/// a read returns. An attribute missing from the map reads as no value (a failed read).
class FakeElement : public AccessibilityElementHandle {
public:
    explicit FakeElement(std::string elementLabel) : label(std::move(elementLabel)) {}

    std::string label;
    std::map<std::string, AccessibilityValue, std::less<>> attributes;

    /// Sets `attribute` to `value` and returns the element, for chained building.
    FakeElement& set(std::string_view attribute, AccessibilityValue value);
    /// Sets "AXChildren" to `children`.
    FakeElement& setChildren(const std::vector<std::shared_ptr<FakeElement>>& children);
};

/// A new element labelled `label` whose "AXTitle" is `title` when one is given.
std::shared_ptr<FakeElement> makeElement(std::string label,
                                         std::optional<std::string> title = std::nullopt);

/// `count` elements labelled `prefix` + index, each titled with its label.
std::vector<std::shared_ptr<FakeElement>> makeTitledElements(std::string_view prefix, int count);

/// A list of element references as the platform hands them out.
std::vector<AccessibilityElement>
elementList(const std::vector<std::shared_ptr<FakeElement>>& elements);

/// A scripted accessibility platform: a fixed application list, scripted trees, a trust flag,
/// and a log of every attribute read so tests can see how far a walk went.
class FakeAccessibilityPlatform : public nodwarden::AccessibilityPlatform {
public:
    struct Read {
        std::string elementLabel;
        std::string attribute;
        bool operator==(const Read&) const = default;
    };

    /// Adds an application with the given identity whose root element is `root` (may be null).
    void addApplication(std::optional<std::string> bundleIdentifier,
                        std::optional<std::string> localizedName, std::int32_t processIdentifier,
                        std::shared_ptr<FakeElement> root);

    /// Adds an application whose focused window is `window`, titled `windowTitle`, holding
    /// `screenText` as the value of its one child.
    void addApplicationShowing(std::optional<std::string> bundleIdentifier,
                               std::optional<std::string> localizedName,
                               std::int32_t processIdentifier, std::string screenText);

    void setTrusted(bool trusted);

    std::vector<RunningApplication> runningApplications() override;
    std::optional<AccessibilityValue> copyAttribute(const AccessibilityElement& element,
                                                    std::string_view attribute) override;
    bool isProcessTrusted() override;
    void promptForTrust() override;

    std::vector<Read> reads() const;
    /// Labels of the elements whose text attributes were read, in reading order, each once.
    std::vector<std::string> visitedElements() const;
    int listingCount() const;
    int promptCount() const;
    /// How many trust queries ran on thread `thread`.
    int trustQueriesOn(std::thread::id thread) const;
    void clearLog();

private:
    mutable std::mutex mutex_;
    std::vector<RunningApplication> applications_;
    bool trusted_ = true;
    std::vector<Read> reads_;
    int listingCount_ = 0;
    int promptCount_ = 0;
    std::vector<std::thread::id> trustQueryThreads_;
};

} // namespace stayloom::testing
