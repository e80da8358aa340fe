#include <NodwardenCore/system/ChildEnvironment.hpp>

#include <algorithm>
#include <utility>

extern char** environ; // NOLINT: the one POSIX way to read the whole environment

namespace nodwarden {

namespace {

/// What every tool may see: where programs are, and the language and formats to speak in.
bool isAlwaysPassed(std::string_view name) {
    return name == "PATH" || name == "LANG" || name == "LANGUAGE" || name.starts_with("LC_");
}

} // namespace

ChildEnvironment::ChildEnvironment(const std::vector<std::string>& passed, char* const* source) {
    for (char* const* entry = source; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            continue;
        }
        const auto name = text.substr(0, equals);
        const bool alreadyTaken =
            std::any_of(entries_.begin(), entries_.end(), [&](const std::string& taken) {
                return std::string_view(taken).substr(0, equals + 1) == text.substr(0, equals + 1);
            });
        if (!alreadyTaken && (isAlwaysPassed(name) ||
                              std::find(passed.begin(), passed.end(), name) != passed.end())) {
            entries_.emplace_back(text);
        }
    }
}

ChildEnvironment::ChildEnvironment(const std::vector<std::string>& passed)
    : ChildEnvironment(passed, environ) {}

void ChildEnvironment::set(std::string_view name, std::string_view value) {
    std::string entry(name);
    entry += '=';
    std::erase_if(entries_, [&](const std::string& taken) { return taken.starts_with(entry); });
    entry += value;
    entries_.push_back(std::move(entry));
}

char* const* ChildEnvironment::data() {
    pointers_.clear();
    for (auto& entry : entries_) {
        pointers_.push_back(entry.data());
    }
    pointers_.push_back(nullptr);
    return pointers_.data();
}

} // namespace nodwarden
