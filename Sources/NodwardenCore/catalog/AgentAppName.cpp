#include <NodwardenCore/catalog/AgentAppName.hpp>

#include <NodwardenCore/system/UnicodeText.hpp>

#include <algorithm>
#include <array>

namespace nodwarden::AgentAppName {
namespace {

/// `text` with every non-overlapping occurrence of `pattern` removed, scanning left to right.
std::string removingAll(std::string_view text, std::string_view pattern) {
    std::string result;
    result.reserve(text.size());
    std::size_t position = 0;
    while (true) {
        const std::size_t found = text.find(pattern, position);
        if (found == std::string_view::npos) {
            result += text.substr(position);
            return result;
        }
        result += text.substr(position, found - position);
        position = found + pattern.size();
    }
}

/// `removingAll` done on `text` itself: the part not yet scanned is never overwritten, so the
/// scan sees the same text.
void removeAllInPlace(std::string& text, std::string_view pattern) {
    std::size_t kept = text.find(pattern);
    if (kept == std::string::npos) {
        return;
    }
    std::size_t position = kept + pattern.size();
    while (true) {
        const std::size_t found = std::min(text.find(pattern, position), text.size());
        // Moves the text between two occurrences down over the removed ones; only text already
        // scanned is overwritten.
        std::copy(text.begin() + static_cast<std::ptrdiff_t>(position),
                  text.begin() + static_cast<std::ptrdiff_t>(found),
                  text.begin() + static_cast<std::ptrdiff_t>(kept));
        kept += found - position;
        if (found == text.size()) {
            break;
        }
        position = found + pattern.size();
    }
    text.resize(kept);
}

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

/// `text` without the word "is" and the space after it. Only a whole word is removed, so a name
/// that merely ends in "is" ("Tennis is running") keeps its letters.
std::string removingWordIs(std::string_view text) {
    constexpr std::string_view word = "is ";
    std::string result;
    result.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        const bool startsWord = position == 0 || text[position - 1] == ' ' ||
                                text[position - 1] == '\t' || text[position - 1] == '\n';
        if (startsWord && text.substr(position, word.size()) == word) {
            position += word.size();
        } else {
            result += text[position];
            ++position;
        }
    }
    return result;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

template <std::size_t N>
bool containsAny(std::string_view text, const std::array<std::string_view, N>& parts) {
    return std::any_of(parts.begin(), parts.end(),
                       [&](std::string_view part) { return contains(text, part); });
}

} // namespace

std::string normalized(std::string_view name) {
    std::string folded = UnicodeText::foldCase(name);
    removeAllInPlace(folded, " desktop");
    removeAllInPlace(folded, ".app");
    if (!isASCII(folded)) {
        return UnicodeText::trimmed(folded);
    }
    // In ASCII the only white space and line breaks are the space and tab to carriage return.
    constexpr std::string_view space = " \t\n\v\f\r";
    const std::size_t last = folded.find_last_not_of(space);
    folded.erase(last == std::string::npos ? 0 : last + 1);
    folded.erase(0, folded.find_first_not_of(space));
    return folded;
}

bool matches(std::string_view name, std::string_view target) {
    return matchesNormalized(normalized(name), normalized(target));
}

bool matchesNormalized(std::string_view normalizedName, std::string_view normalizedTarget) {
    if (normalizedTarget.empty() || normalizedName.empty()) {
        return false;
    }
    return contains(normalizedName, normalizedTarget) || contains(normalizedTarget, normalizedName);
}

std::string canonical(std::string_view name) {
    const std::string n = UnicodeText::foldCase(name);
    if (contains(n, "google chrome") || n == "chrome" || contains(n, "chrome helper")) {
        return "Google Chrome";
    }
    // First substring rule wins, so the order of this table is part of the behaviour.
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> early = {{
        {"chatgpt", "ChatGPT"},
        {"claude", "Claude"},
        {"codex", "Codex"},
        {"cursor", "Cursor"},
    }};
    for (const auto& [part, family] : early) {
        if (contains(n, part)) {
            return std::string(family);
        }
    }
    if (contains(n, "visual studio code") || n == "code" || contains(n, "code helper")) {
        return "Visual Studio Code";
    }
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 10> late = {{
        {"windsurf", "Windsurf"},
        {"arc", "Arc"},
        {"safari", "Safari"},
        {"firefox", "Firefox"},
        {"chromium", "Chromium"},
        {"brave", "Brave"},
        {"microsoft edge", "Microsoft Edge"},
        {"vivaldi", "Vivaldi"},
        {"iterm", "iTerm2"},
        {"terminal", "Terminal"},
    }};
    for (const auto& [part, family] : late) {
        if (contains(n, part)) {
            return std::string(family);
        }
    }
    return UnicodeText::trimmed(removingAll(removingAll(name, " Helper (Renderer)"), " Helper"));
}

bool isNoisy(std::string_view name) {
    const std::string n = UnicodeText::foldCase(name);
    static constexpr std::array<std::string_view, 5> helpers = {
        "authenticationservices", "autofill", "crashpad", "gpu process", "sparkle"};
    static constexpr std::array<std::string_view, 3> agents = {"codex", "claude", "chatgpt"};
    return containsAny(n, helpers) || n == "autoupdate" || n == "updater" ||
           (contains(n, "renderer") && !containsAny(n, agents));
}

bool requiresMultiWordPhrases(std::string_view name) {
    static constexpr std::array<std::string_view, 9> browsers = {
        "Google Chrome", "Arc",     "Safari",         "Firefox", "Chromium",
        "Brave",         "Browser", "Microsoft Edge", "Vivaldi"};
    const std::string family = canonical(name);
    return std::find(browsers.begin(), browsers.end(), family) != browsers.end();
}

bool canUseCPUSignal(std::string_view name) {
    return !requiresMultiWordPhrases(name);
}

std::string cleanedReason(std::string_view reason) {
    if (UnicodeText::containsIgnoringCase(reason, "CPU")) {
        return "CPU activity";
    }
    if (UnicodeText::containsIgnoringCase(reason, "Accessibility")) {
        return "UI text signal";
    }
    return UnicodeText::trimmed(removingWordIs(removingAll(reason, "Target app ")));
}

} // namespace nodwarden::AgentAppName
