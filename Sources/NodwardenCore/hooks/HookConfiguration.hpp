#pragma once

#include <NodwardenCore/Export.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Our entries in an agent's own JSON hook configuration, merged with the user's: never an
/// entry of theirs changed, their keys kept, a file with comments refused rather than stripped
/// of them (the JSON reader cannot keep them). Pure text in, text out; the caller writes.
namespace HookConfiguration {

/// How an agent lists its command hooks.
enum class Shape {
    /// `{"hooks": {"Event": [{"hooks": [{"type": "command", "command": "…"}]}]}}`: Claude Code,
    /// Codex, Gemini CLI and Qwen Code.
    grouped,
    /// `{"version": 1, "hooks": {"event": [{"type": "command", "bash": "…"}]}}`: Copilot CLI.
    flat,
};

/// What an edit came to.
struct Edit {
    enum class Outcome { changed, unchanged, refused };
    Outcome outcome = Outcome::unchanged;
    /// The new text (`changed`).
    std::string text;
    /// Why the file was left alone (`refused`).
    std::string reason;
    /// Refused because the text is not a whole JSON document, as a file caught half-saved is:
    /// worth reading again before giving up.
    bool cutShort = false;
};

/// How deep a document may nest: deeper ones are refused, never walked.
inline constexpr std::size_t maxDepth = 512;

/// The command of our entry for `event`: the program's absolute path, quoted for a shell when it
/// needs to be, then `hook <agentWord> <event>`.
std::string command(std::string_view program, std::string_view agentWord, std::string_view event);

/// `existing` (empty for a missing file) with an entry running `command(program, agentWord, e)`
/// for each event `e` that has none yet; a grouped entry for an event of `matchers` carries its
/// matcher.
Edit install(std::string_view existing, Shape shape, std::string_view program,
             std::string_view agentWord, const std::vector<std::string>& events,
             const std::vector<std::pair<std::string, std::string>>& matchers = {});
/// `existing` without any entry of ours for `agentWord`, wherever the program was installed and
/// however its path was quoted since.
Edit remove(std::string_view existing, Shape shape, std::string_view agentWord);
/// Whether `existing` is refused as not JSON at all, as a file caught half-saved is.
bool cutShort(std::string_view existing);
/// Whether `program` (a path or a name) is ours: named stayloom, as installed or as built.
bool isOurProgram(std::string_view program);
/// Whether the words of `commandLine`, quoting undone, run our program's `hook`: one of our
/// entries as it runs, alone or through the shell an agent runs its hooks with.
bool runsOurHook(std::string_view commandLine);
/// Whether every one of `events` has an entry of ours for `agentWord`.
bool installed(std::string_view existing, Shape shape, std::string_view agentWord,
               const std::vector<std::string>& events);

} // namespace HookConfiguration

} // namespace nodwarden
