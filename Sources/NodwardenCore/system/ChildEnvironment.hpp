#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The environment a tool we start is given: the search path and the locale, and of the rest only
/// what that tool needs. Whatever else ours holds (API keys, tokens, a preload library) stays here:
/// a tool may hand its environment on, as a tmux client does to whichever server owns its socket.
class ChildEnvironment {
public:
    /// PATH, LANG, LANGUAGE and every LC_* variable of `source` (an environ-style array ending in
    /// a null pointer), plus each variable named in `passed` that `source` sets.
    ChildEnvironment(const std::vector<std::string>& passed, char* const* source);
    /// The same, taken from this process's own environment.
    explicit ChildEnvironment(const std::vector<std::string>& passed = {});

    ChildEnvironment(const ChildEnvironment&) = delete;
    ChildEnvironment& operator=(const ChildEnvironment&) = delete;

    /// Sets `name` to `value`, replacing a value taken over.
    void set(std::string_view name, std::string_view value);

    /// "NAME=value" entries, in the order they were taken.
    const std::vector<std::string>& entries() const { return entries_; }

    /// An environ-style array for posix_spawn; valid until this object is changed or destroyed.
    char* const* data();

private:
    std::vector<std::string> entries_;
    std::vector<char*> pointers_;
};

} // namespace nodwarden
