#include <NodwardenCore/sleep/KeepAwakeLocks.hpp>

#include <algorithm>

namespace nodwarden {

namespace {

/// Splits off the next space-separated word of `text`.
std::string_view nextWord(std::string_view& text) {
    const auto end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return word;
}

} // namespace

KeepAwakeLocks KeepAwakeLocks::parse(std::string_view report) {
    KeepAwakeLocks parsed;
    while (!report.empty()) {
        const auto end = report.find('\n');
        std::string_view line = report.substr(0, end);
        report = end == std::string_view::npos ? std::string_view() : report.substr(end + 1);
        const std::string_view tag = nextWord(line);
        if (tag == "warning" && !line.empty() && parsed.warning.empty()) {
            parsed.warning = std::string(line);
            continue;
        }
        if (tag != "lock") {
            continue;
        }
        const std::string_view service = nextWord(line);
        const std::string_view kind = nextWord(line);
        const std::string_view held = nextWord(line);
        const std::string_view honoured = nextWord(line);
        if (service.empty() || kind.empty() || !line.empty() ||
            (held != "held" && held != "free") ||
            (honoured != "honoured" && honoured != "ignored")) {
            continue;
        }
        parsed.merge(
            {{{std::string(service), std::string(kind), held == "held", honoured == "honoured"}},
             {}});
    }
    return parsed;
}

void KeepAwakeLocks::merge(const KeepAwakeLocks& other) {
    for (const KeepAwakeLock& lock : other.locks) {
        const auto same = std::find_if(locks.begin(), locks.end(), [&](const KeepAwakeLock& known) {
            return known.service == lock.service && known.kind == lock.kind;
        });
        if (same == locks.end()) {
            locks.push_back(lock);
        } else {
            same->held = same->held || lock.held;
            same->honoured = same->honoured || lock.honoured;
        }
    }
    if (warning.empty()) {
        warning = other.warning;
    }
}

} // namespace nodwarden
