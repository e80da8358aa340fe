#include <NodwardenCore/hooks/HookConfiguration.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace nodwarden::HookConfiguration {

namespace {

using Json = nlohmann::ordered_json;
using Outcome = Edit::Outcome;

/// The document, or why it cannot be edited.
struct Parsed {
    Json document;
    std::optional<std::string> refusal;
    bool cutShort = false;
};

Edit refused(const Parsed& parsed) {
    Edit edit{Outcome::refused, {}, *parsed.refusal};
    edit.cutShort = parsed.cutShort;
    return edit;
}

Edit refused(std::string reason) {
    return {Outcome::refused, {}, std::move(reason)};
}

/// Whether `text` nests deeper than `maxDepth` anywhere outside its strings. Counted before
/// parsing because the document's later walks (comparison, copy, output) recurse.
bool nestsTooDeep(std::string_view text) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > maxDepth) {
                return true;
            }
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return false;
}

Parsed parse(std::string_view text) {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return {Json::object(), std::nullopt};
    }
    if (nestsTooDeep(text)) {
        return {{}, "it nests deeper than " + std::to_string(maxDepth) + " levels"};
    }
    Json document = Json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        if (!Json::parse(text, nullptr, false, true).is_discarded()) {
            return {{}, "it has comments, which would be lost: add the entries by hand"};
        }
        return {{}, "it is not JSON", true};
    }
    if (!document.is_object()) {
        return {{}, "it is not a JSON object"};
    }
    return {std::move(document), std::nullopt};
}

/// The words a shell would make of `line`, as far as quoting goes: single and double quotes
/// and backslashes are undone, so a path the user re-quoted reads as the same program.
std::vector<std::string> shellWords(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\\' && i + 1 < line.size() &&
                   (quote == 0 ||
                    std::string_view("\"\\$`").find(line[i + 1]) != std::string_view::npos)) {
            word += line[++i];
            inWord = true;
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string serialise(const Json& document) {
    return document.dump(2) + '\n';
}

/// The key holding a hook's command in `shape`.
const char* commandKey(Shape shape) {
    return shape == Shape::flat ? "bash" : "command";
}

/// Whether `hook` is one of our entries for `agentWord`: a command hook whose words, quoting
/// undone, are a program named stayloom, then `hook <agentWord>`.
bool isOurs(const Json& hook, Shape shape, std::string_view agentWord) {
    if (!hook.is_object()) {
        return false;
    }
    const auto found = hook.find(commandKey(shape));
    if (found == hook.end() || !found->is_string()) {
        return false;
    }
    const auto words = shellWords(found->get_ref<const std::string&>());
    if (words.size() < 4 || words[1] != "hook" || words[2] != agentWord) {
        return false;
    }
    return isOurProgram(words[0]);
}

/// The hook entries of one event's list, in either shape: each group's `hooks` (grouped) or the
/// list itself (flat).
template <typename Visit> void forEachHookList(Json& list, Shape shape, Visit&& visit) {
    if (shape == Shape::flat) {
        visit(list);
        return;
    }
    for (Json& group : list) {
        if (group.is_object() && group.contains("hooks") && group["hooks"].is_array()) {
            visit(group["hooks"]);
        }
    }
}

bool eventHasOurs(Json& list, Shape shape, std::string_view agentWord) {
    bool found = false;
    forEachHookList(list, shape, [&](Json& hooks) {
        found = found || std::any_of(hooks.begin(), hooks.end(), [&](const Json& hook) {
                    return isOurs(hook, shape, agentWord);
                });
    });
    return found;
}

} // namespace

std::string command(std::string_view program, std::string_view agentWord, std::string_view event) {
    const bool plain = std::all_of(program.begin(), program.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '/' || c == '.' ||
               c == '_' || c == '-' || c == '+';
    });
    std::string quoted;
    if (plain) {
        quoted = program;
    } else {
        quoted = "'";
        for (const char c : program) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        quoted += "'";
    }
    return quoted + " hook " + std::string(agentWord) + " " + std::string(event);
}

Edit install(std::string_view existing, Shape shape, std::string_view program,
             std::string_view agentWord, const std::vector<std::string>& events,
             const std::vector<std::pair<std::string, std::string>>& matchers) {
    Parsed parsed = parse(existing);
    if (parsed.refusal) {
        return refused(parsed);
    }
    Json& document = parsed.document;
    if (document.contains("hooks") && !document["hooks"].is_object()) {
        return refused("its \"hooks\" is not an object");
    }
    bool changed = false;
    if (shape == Shape::flat && !document.contains("version")) {
        document["version"] = 1;
        changed = true;
    }
    Json& hooks = document["hooks"];
    if (hooks.is_null()) {
        hooks = Json::object();
    }
    for (const std::string& event : events) {
        Json& list = hooks[event];
        if (list.is_null()) {
            list = Json::array();
        }
        if (!list.is_array()) {
            return refused("its hooks for " + event + " are not a list");
        }
        if (eventHasOurs(list, shape, agentWord)) {
            continue;
        }
        Json entry{{"type", "command"}, {commandKey(shape), command(program, agentWord, event)}};
        if (shape == Shape::flat) {
            entry["timeoutSec"] = 5;
            list.push_back(std::move(entry));
        } else {
            Json group = Json::object();
            const auto matcher = std::find_if(matchers.begin(), matchers.end(),
                                              [&](const auto& m) { return m.first == event; });
            if (matcher != matchers.end()) {
                group["matcher"] = matcher->second;
            }
            group["hooks"] = Json::array({std::move(entry)});
            list.push_back(std::move(group));
        }
        changed = true;
    }
    if (!changed) {
        return {Outcome::unchanged, {}, {}};
    }
    return {Outcome::changed, serialise(document), {}};
}

Edit remove(std::string_view existing, Shape shape, std::string_view agentWord) {
    Parsed parsed = parse(existing);
    if (parsed.refusal) {
        return refused(parsed);
    }
    Json& document = parsed.document;
    if (!document.contains("hooks") || !document["hooks"].is_object()) {
        return {Outcome::unchanged, {}, {}};
    }
    Json& hooks = document["hooks"];
    bool changed = false;
    std::vector<std::string> emptied;
    for (auto& [event, list] : hooks.items()) {
        if (!list.is_array()) {
            continue;
        }
        bool removedHere = false;
        forEachHookList(list, shape, [&](Json& entries) {
            const auto before = entries.size();
            Json kept = Json::array();
            for (Json& hook : entries) {
                if (!isOurs(hook, shape, agentWord)) {
                    kept.push_back(std::move(hook));
                }
            }
            entries = std::move(kept);
            removedHere = removedHere || entries.size() != before;
        });
        if (!removedHere) {
            continue;
        }
        changed = true;
        if (shape == Shape::grouped) {
            // A group left with no hooks was ours alone.
            Json kept = Json::array();
            for (Json& group : list) {
                const bool empty = group.is_object() && group.contains("hooks") &&
                                   group["hooks"].is_array() && group["hooks"].empty();
                if (!empty) {
                    kept.push_back(std::move(group));
                }
            }
            list = std::move(kept);
        }
        if (list.empty()) {
            emptied.push_back(event);
        }
    }
    if (!changed) {
        return {Outcome::unchanged, {}, {}};
    }
    for (const std::string& event : emptied) {
        hooks.erase(event);
    }
    if (hooks.empty()) {
        document.erase("hooks");
    }
    return {Outcome::changed, serialise(document), {}};
}

bool cutShort(std::string_view existing) {
    return parse(existing).cutShort;
}

bool installed(std::string_view existing, Shape shape, std::string_view agentWord,
               const std::vector<std::string>& events) {
    Parsed parsed = parse(existing);
    if (parsed.refusal || !parsed.document.contains("hooks") ||
        !parsed.document["hooks"].is_object()) {
        return false;
    }
    Json& hooks = parsed.document["hooks"];
    return std::all_of(events.begin(), events.end(), [&](const std::string& event) {
        return hooks.contains(event) && hooks[event].is_array() &&
               eventHasOurs(hooks[event], shape, agentWord);
    });
}

bool isOurProgram(std::string_view program) {
    const auto slash = program.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? program : program.substr(slash + 1);
    return name == "stayloom" || name == "Stayloom";
}

bool runsOurHook(std::string_view commandLine) {
    const auto words = shellWords(commandLine);
    for (std::size_t index = 0; index + 1 < words.size(); ++index) {
        if (isOurProgram(words[index]) && words[index + 1] == "hook") {
            return true;
        }
    }
    return false;
}

} // namespace nodwarden::HookConfiguration
