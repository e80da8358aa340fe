#include <NodwardenCore/detection/AccessibilityDetector.hpp>

#include <NodwardenCore/catalog/AgentAppName.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/detection/PhraseMatcher.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

namespace nodwarden {
namespace {

namespace Attribute = AccessibilityAttribute;

constexpr std::array<std::string_view, 4> textAttributes = {
    Attribute::title, Attribute::value, Attribute::description, Attribute::help};

template <typename T> std::optional<T> valueAs(std::optional<AccessibilityValue> value) {
    if (value && std::holds_alternative<T>(*value)) {
        return std::get<T>(std::move(*value));
    }
    return std::nullopt;
}

bool isMultiWord(std::string_view phrase) {
    return phrase.find(' ') != std::string_view::npos;
}

/// The signal for a phrase hit, or none when nothing matched.
std::optional<ActivitySignal> signalFor(const PhraseMatchKind& match, std::string appName) {
    std::string reason;
    ReasonCode code = ReasonCode::unspecified;
    switch (match.kind()) {
    case PhraseMatchKind::Case::active:
        reason = "UI text matched active phrase \"" + match.phrase() + "\"";
        code = ReasonCode::screenActivePhrase;
        break;
    case PhraseMatchKind::Case::idle:
        reason = "UI text matched idle phrase \"" + match.phrase() + "\"";
        code = ReasonCode::screenIdlePhrase;
        break;
    case PhraseMatchKind::Case::none:
        return std::nullopt;
    }
    ActivitySignal signal;
    signal.strength = match.kind() == PhraseMatchKind::Case::active ? SignalStrength::strong
                                                                    : SignalStrength::presence;
    signal.appName = std::move(appName);
    signal.reason = std::move(reason);
    signal.reasonCode = code;
    signal.reasonDetail = match.phrase();
    signal.matchedText = match.phrase();
    return signal;
}

/// One signal per application name, kept in the order names were first offered; a later signal
/// for a name replaces the kept one only when it is strictly stronger.
class SignalTable {
public:
    void offer(std::optional<ActivitySignal> signal) {
        if (!signal || !signal->appName) {
            return;
        }
        const auto kept =
            std::find_if(signals_.begin(), signals_.end(), [&](const ActivitySignal& existing) {
                return existing.appName == signal->appName;
            });
        if (kept == signals_.end()) {
            if (signal->strength > SignalStrength::none) {
                signals_.push_back(std::move(*signal));
            }
        } else if (signal->strength > kept->strength) {
            *kept = std::move(*signal);
        }
    }

    std::vector<ActivitySignal> take() { return std::move(signals_); }

private:
    std::vector<ActivitySignal> signals_;
};

/// The first of the user's target names that the application's display name matches loosely.
const std::string* matchingTarget(const std::vector<std::string>& targets,
                                  const std::string& displayName) {
    for (const std::string& target : targets) {
        if (AgentAppName::matches(displayName, target)) {
            return &target;
        }
    }
    return nullptr;
}

} // namespace

AccessibilityDetector::AccessibilityDetector(AccessibilityPlatform& platform,
                                             std::set<std::string> extraTerminalBundleIDs)
    : platform_(platform), terminalBundleIDs_(std::move(extraTerminalBundleIDs)) {
    terminalBundleIDs_.insert(AgentCatalog::terminalBundleIDs().begin(),
                              AgentCatalog::terminalBundleIDs().end());
}

bool AccessibilityDetector::isTrusted() const {
    return platform_.isProcessTrusted();
}

void AccessibilityDetector::requestPermissionPrompt() const {
    platform_.promptForTrust();
}

std::vector<ActivitySignal>
AccessibilityDetector::detectPerApp(const GuardSettings& settings) const {
    if (!settings.accessibilityDetectionEnabled || !platform_.isProcessTrusted()) {
        return {};
    }
    const AgentResolver& resolver = *AgentResolver::shared(settings);
    const std::set<std::string>& terminals = terminalBundleIDs_;
    SignalTable table;

    for (const RunningApplication& application : platform_.runningApplications()) {
        const std::string bundleID =
            UnicodeText::foldCase(application.bundleIdentifier.value_or(""));
        const std::string displayName = application.localizedName.value_or("");

        if (const auto profile = resolver.profileForBundleID(bundleID)) {
            const std::string text = visibleText(application.element);
            if (text.empty()) {
                continue;
            }
            const PhraseMatchKind match =
                PhraseMatcher{profile->activePhrases, profile->idlePhrases}.match(text);
            if (profile->requireMultiWordPhrases && !isMultiWord(match.phrase())) {
                continue;
            }
            table.offer(signalFor(match, profile->displayName));
        } else if (terminals.contains(bundleID)) {
            const std::string text = visibleText(application.element);
            if (text.empty()) {
                continue;
            }
            // One terminal can show several agents; fold its text once for all of them.
            const std::string normalized = PhraseMatcher::normalizedText(text);
            for (const AgentProfile& agent : resolver.terminalScanProfiles()) {
                const PhraseMatchKind match =
                    PhraseMatcher{agent.activePhrases, agent.idlePhrases}.matchNormalized(
                        normalized);
                // Single words ("Working", "tokens") are too common in shells to credit an agent.
                if (isMultiWord(match.phrase())) {
                    table.offer(signalFor(match, agent.displayName));
                }
            }
        } else if (const std::string* target = matchingTarget(settings.targetApps, displayName)) {
            const std::string text = visibleText(application.element);
            if (text.empty()) {
                continue;
            }
            const PhraseMatchKind match =
                PhraseMatcher{settings.activePhrases, settings.idlePhrases}.match(text);
            table.offer(signalFor(match, *target));
        }
    }
    return table.take();
}

std::string AccessibilityDetector::visibleText(std::int32_t processIdentifier) const {
    return visibleText(applicationElement(processIdentifier));
}

std::vector<std::string> AccessibilityDetector::windowTitles(std::int32_t processIdentifier) const {
    std::vector<std::string> titles;
    const AccessibilityElement application = applicationElement(processIdentifier);
    if (!application) {
        return titles;
    }
    const auto windows = valueAs<std::vector<AccessibilityElement>>(
        platform_.copyAttribute(application, Attribute::windows));
    for (const AccessibilityElement& window :
         windows.value_or(std::vector<AccessibilityElement>{})) {
        if (auto title = valueAs<std::string>(platform_.copyAttribute(window, Attribute::title))) {
            titles.push_back(std::move(*title));
        }
    }
    return titles;
}

std::string AccessibilityDetector::visibleText(const AccessibilityElement& application) const {
    if (!application) {
        return {};
    }
    std::vector<std::string> fragments;
    const auto focused = valueAs<AccessibilityElement>(
        platform_.copyAttribute(application, Attribute::focusedWindow));
    if (focused && *focused) {
        collectText(*focused, fragments, 0, focusedWindowMaxDepth);
    } else if (const auto windows = valueAs<std::vector<AccessibilityElement>>(
                   platform_.copyAttribute(application, Attribute::windows))) {
        const std::size_t count = std::min(windows->size(), static_cast<std::size_t>(maxWindows));
        for (std::size_t index = 0; index < count; ++index) {
            collectText((*windows)[index], fragments, 0, windowListMaxDepth);
        }
    }

    std::string text;
    for (std::size_t index = 0; index < fragments.size(); ++index) {
        if (index > 0) {
            text += ' ';
        }
        text += fragments[index];
    }
    return text;
}

void AccessibilityDetector::collectText(const AccessibilityElement& element,
                                        std::vector<std::string>& fragments, int depth,
                                        int maxDepth) const {
    if (depth > maxDepth || fragments.size() >= static_cast<std::size_t>(maxFragments)) {
        return;
    }
    for (const std::string_view attribute : textAttributes) {
        auto text = valueAs<std::string>(platform_.copyAttribute(element, attribute));
        if (text && !UnicodeText::trimmed(*text).empty()) {
            fragments.push_back(std::move(*text));
        }
    }
    const auto children = valueAs<std::vector<AccessibilityElement>>(
        platform_.copyAttribute(element, Attribute::children));
    if (!children) {
        return;
    }
    const std::size_t count = std::min(children->size(), static_cast<std::size_t>(maxChildren));
    for (std::size_t index = 0; index < count; ++index) {
        collectText((*children)[index], fragments, depth + 1, maxDepth);
    }
}

AccessibilityElement
AccessibilityDetector::applicationElement(std::int32_t processIdentifier) const {
    for (const RunningApplication& application : platform_.runningApplications()) {
        if (application.processIdentifier == processIdentifier) {
            return application.element;
        }
    }
    return nullptr;
}

} // namespace nodwarden
