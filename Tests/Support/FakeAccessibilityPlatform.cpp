#include "Support/FakeAccessibilityPlatform.hpp"

#include <algorithm>

namespace stayloom::testing {

namespace Attribute = nodwarden::AccessibilityAttribute;

FakeElement& FakeElement::set(std::string_view attribute, AccessibilityValue value) {
    attributes.insert_or_assign(std::string(attribute), std::move(value));
    return *this;
}

FakeElement& FakeElement::setChildren(const std::vector<std::shared_ptr<FakeElement>>& children) {
    return set(Attribute::children, elementList(children));
}

std::shared_ptr<FakeElement> makeElement(std::string label, std::optional<std::string> title) {
    auto element = std::make_shared<FakeElement>(std::move(label));
    if (title) {
        element->set(Attribute::title, *title);
    }
    return element;
}

std::vector<std::shared_ptr<FakeElement>> makeTitledElements(std::string_view prefix, int count) {
    std::vector<std::shared_ptr<FakeElement>> elements;
    for (int index = 0; index < count; ++index) {
        const std::string label = std::string(prefix) + std::to_string(index);
        elements.push_back(makeElement(label, label));
    }
    return elements;
}

std::vector<AccessibilityElement>
elementList(const std::vector<std::shared_ptr<FakeElement>>& elements) {
    return std::vector<AccessibilityElement>(elements.begin(), elements.end());
}

void FakeAccessibilityPlatform::addApplication(std::optional<std::string> bundleIdentifier,
                                               std::optional<std::string> localizedName,
                                               std::int32_t processIdentifier,
                                               std::shared_ptr<FakeElement> root) {
    const std::lock_guard lock(mutex_);
    applications_.push_back(RunningApplication{
        std::move(bundleIdentifier), std::move(localizedName), processIdentifier, std::move(root)});
}

void FakeAccessibilityPlatform::addApplicationShowing(std::optional<std::string> bundleIdentifier,
                                                      std::optional<std::string> localizedName,
                                                      std::int32_t processIdentifier,
                                                      std::string screenText) {
    const std::string prefix = "pid" + std::to_string(processIdentifier);
    auto content = makeElement(prefix + ".content");
    content->set(Attribute::value, std::move(screenText));
    auto window = makeElement(prefix + ".window");
    window->setChildren({content});
    auto application = makeElement(prefix);
    application->set(Attribute::focusedWindow, AccessibilityElement(window));
    addApplication(std::move(bundleIdentifier), std::move(localizedName), processIdentifier,
                   application);
}

void FakeAccessibilityPlatform::setTrusted(bool trusted) {
    const std::lock_guard lock(mutex_);
    trusted_ = trusted;
}

std::vector<RunningApplication> FakeAccessibilityPlatform::runningApplications() {
    const std::lock_guard lock(mutex_);
    ++listingCount_;
    return applications_;
}

std::optional<AccessibilityValue>
FakeAccessibilityPlatform::copyAttribute(const AccessibilityElement& element,
                                         std::string_view attribute) {
    const auto* fake = dynamic_cast<const FakeElement*>(element.get());
    if (fake == nullptr) {
        return std::nullopt;
    }
    const std::lock_guard lock(mutex_);
    reads_.push_back(Read{fake->label, std::string(attribute)});
    const auto found = fake->attributes.find(attribute);
    if (found == fake->attributes.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool FakeAccessibilityPlatform::isProcessTrusted() {
    const std::lock_guard lock(mutex_);
    trustQueryThreads_.push_back(std::this_thread::get_id());
    return trusted_;
}

int FakeAccessibilityPlatform::trustQueriesOn(std::thread::id thread) const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count(trustQueryThreads_.begin(), trustQueryThreads_.end(), thread));
}

void FakeAccessibilityPlatform::promptForTrust() {
    const std::lock_guard lock(mutex_);
    ++promptCount_;
}

std::vector<FakeAccessibilityPlatform::Read> FakeAccessibilityPlatform::reads() const {
    const std::lock_guard lock(mutex_);
    return reads_;
}

std::vector<std::string> FakeAccessibilityPlatform::visitedElements() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> labels;
    for (const Read& read : reads_) {
        if (read.attribute == Attribute::title &&
            std::find(labels.begin(), labels.end(), read.elementLabel) == labels.end()) {
            labels.push_back(read.elementLabel);
        }
    }
    return labels;
}

int FakeAccessibilityPlatform::listingCount() const {
    const std::lock_guard lock(mutex_);
    return listingCount_;
}

int FakeAccessibilityPlatform::promptCount() const {
    const std::lock_guard lock(mutex_);
    return promptCount_;
}

void FakeAccessibilityPlatform::clearLog() {
    const std::lock_guard lock(mutex_);
    reads_.clear();
    listingCount_ = 0;
    promptCount_ = 0;
}

} // namespace stayloom::testing
