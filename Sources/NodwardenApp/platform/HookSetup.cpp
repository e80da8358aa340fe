#include <NodwardenApp/platform/HookSetup.hpp>

#include <NodwardenApp/platform/ConfigurationFileEdit.hpp>
#include <NodwardenApp/platform/HelperLocator.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/hooks/HookAgents.hpp>
#include <NodwardenCore/hooks/HookConfiguration.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <QCoreApplication>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string_view>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace nodwarden::app::HookSetup {

namespace {

namespace fs = std::filesystem;
using Shape = HookConfiguration::Shape;
using Outcome = HookConfiguration::Edit::Outcome;

using Kind = HookFileFormat;

/// Where one agent keeps its hooks, from its description in `HookAgents`.
struct Target {
    const HookAgent* agent = nullptr;
    std::string name;
    /// Its configuration folder, whose presence says the agent is used here.
    fs::path folder;
    fs::path file;
    Kind kind = Kind::grouped;
};

std::vector<Target> targets(const HookSetupPlace& place) {
    const auto catalog = AgentCatalog::builtin();
    const auto nameOf = [&](const HookAgent& agent) {
        const auto found = std::find_if(catalog.begin(), catalog.end(),
                                        [&](const auto& p) { return p.id == agent.profileID; });
        return found == catalog.end() ? agent.word : found->displayName;
    };
    std::vector<Target> result;
    for (const HookAgent& agent : HookAgents::all()) {
        const fs::path folder =
            (agent.base == HookFileBase::home ? place.home : place.configHome) / agent.folder;
        result.push_back({&agent, nameOf(agent), folder, folder / agent.file, agent.format});
    }
    return result;
}

bool onPath(std::string_view program, const std::string& searchPath) {
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        const auto end = std::min(searchPath.find(':', start), searchPath.size());
        const std::string folder = searchPath.substr(start, end - start);
        if (!folder.empty() && ::access((fs::path(folder) / program).c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool found(const Target& target, const HookSetupPlace& place) {
    std::error_code error;
    return fs::is_directory(target.folder, error) || onPath(target.agent->word, place.searchPath);
}

using Merge = ConfigurationFileEdit::Merge;
using Done = ConfigurationFileEdit::Outcome::Kind;

/// What an edit of the JSON configuration made, as the file edit takes it.
Merge mergeOf(const HookConfiguration::Edit& edit) {
    switch (edit.outcome) {
    case Outcome::changed:
        return {Merge::Kind::replace, edit.text, {}};
    case Outcome::unchanged:
        return {};
    case Outcome::refused:
        break;
    }
    return {edit.cutShort ? Merge::Kind::cutShort : Merge::Kind::refused, {}, edit.reason};
}

/// Whether a text read for `status` is a whole document (a plugin is taken as it is).
bool looksWhole(Kind kind, const std::string& text) {
    return kind == Kind::plugin || !HookConfiguration::cutShort(text);
}

/// A JavaScript string literal of `text`.
std::string javaScriptString(std::string_view text) {
    std::string literal = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            literal += '\\';
        }
        literal += c;
    }
    return literal + "\"";
}

/// The agent's plugin with the program's path in its place.
std::string pluginText(const HookAgent& agent, const fs::path& program) {
    std::string text(agent.plugin);
    const auto mark = text.find(HookAgents::pluginProgramMark);
    if (mark != std::string::npos) {
        text.replace(mark, HookAgents::pluginProgramMark.size(),
                     javaScriptString(program.string()));
    }
    return text;
}

/// Whether a Copilot hooks file holds nothing but the version we wrote into it: the file is ours.
bool isBareFlatFile(const std::string& text) {
    const auto document = nlohmann::json::parse(text, nullptr, false);
    return document == nlohmann::json{{"version", 1}};
}

bool isOurPlugin(const std::string& text) {
    return text.rfind(HookAgents::pluginFirstLine, 0) == 0;
}

std::vector<std::string> events(const HookAgent& agent) {
    return agent.allEvents();
}

Shape shapeOf(Kind kind) {
    return kind == Kind::flat ? Shape::flat : Shape::grouped;
}

void print(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

/// A path as the terminal may show it: a home's folder names are the user's to choose.
std::string shown(const fs::path& path) {
    return UnicodeText::shownOnTerminal(path.string());
}

Result leftAlone(const Target& target, const std::string& reason) {
    return {true, target.name + ": left " + shown(target.file) + " alone: " + reason};
}

Result connected(const Target& target, bool already) {
    Result result{false, target.name + (already ? ": already connected (" : ": connected (") +
                             shown(target.file) + ")"};
    if (!already && !target.agent->trustAtInstall.empty()) {
        result.text += "\n  " + target.agent->trustAtInstall;
    }
    return result;
}

/// What `outcome` says to the user, `done` naming what was done when something was.
Result told(const Target& target, const ConfigurationFileEdit::Outcome& outcome,
            const std::function<Result()>& done) {
    return outcome.kind == Done::leftAlone ? leftAlone(target, outcome.reason) : done();
}

Result install(const Target& target, const HookSetupPlace& place) {
    const auto merge = [&](const std::string& text, bool exists) -> Merge {
        if (target.kind != Kind::plugin) {
            return mergeOf(HookConfiguration::install(
                text, shapeOf(target.kind), place.program.string(), target.agent->word,
                events(*target.agent), target.agent->matchers));
        }
        if (exists && !isOurPlugin(text)) {
            return {Merge::Kind::refused, {}, "a file of that name is not Stayloom's"};
        }
        const std::string plugin = pluginText(*target.agent, place.program);
        return text == plugin ? Merge{} : Merge{Merge::Kind::replace, plugin, {}};
    };
    const auto outcome = ConfigurationFileEdit::edit(target.file, merge);
    return told(target, outcome,
                [&] { return connected(target, outcome.kind == Done::unchanged); });
}

Result uninstall(const Target& target) {
    const auto merge = [&](const std::string& text, bool exists) -> Merge {
        if (!exists) {
            return {};
        }
        if (target.kind == Kind::plugin) {
            return isOurPlugin(text) ? Merge{Merge::Kind::remove, {}, {}} : Merge{};
        }
        Merge merged =
            mergeOf(HookConfiguration::remove(text, shapeOf(target.kind), target.agent->word));
        if (merged.kind == Merge::Kind::replace && target.kind == Kind::flat &&
            isBareFlatFile(merged.text)) {
            merged.kind = Merge::Kind::remove;
        }
        return merged;
    };
    const auto outcome = ConfigurationFileEdit::edit(target.file, merge);
    return told(target, outcome, [&]() -> Result {
        if (outcome.kind == Done::unchanged) {
            return {};
        }
        return {false, target.name + ": disconnected (" + shown(target.file) +
                           (outcome.kind == Done::removed ? " removed" : "") + ")"};
    });
}

AgentHooks stateOf(const Target& target, const HookSetupPlace& place) {
    const auto current = ConfigurationFileEdit::read(
        target.file, [&](const std::string& text) { return looksWhole(target.kind, text); });
    bool isConnected = false;
    bool isCurrent = false;
    if (!current.refusal) {
        if (target.kind == Kind::plugin) {
            isConnected = isOurPlugin(current.text);
            isCurrent = current.text == pluginText(*target.agent, place.program);
        } else {
            const auto has = [&](const std::vector<std::string>& events) {
                return HookConfiguration::installed(current.text, shapeOf(target.kind),
                                                    target.agent->word, events);
            };
            isConnected = has(target.agent->turnEvents());
            isCurrent = has(events(*target.agent));
        }
    }
    return {target.agent->word,
            target.name,
            target.file,
            target.folder,
            target.agent->word,
            found(target, place),
            isConnected,
            isConnected && !isCurrent,
            !target.agent->trustInStatus.empty()};
}

std::optional<Target> targetFor(const HookSetupPlace& place, const std::string& agent) {
    for (Target& target : targets(place)) {
        if (target.agent->word == agent) {
            return std::move(target);
        }
    }
    return std::nullopt;
}

} // namespace

HookSetupPlace placeForCurrentUser() {
    return placeFor(LinuxPlatformOptions::forCurrentUser(currentExecutablePath()));
}

HookSetupPlace placeFor(const LinuxPlatformOptions& options) {
    const char* searchPath = std::getenv("PATH");
    return {options.paths.home, options.configHome, searchPath != nullptr ? searchPath : "",
            options.executablePath};
}

std::vector<AgentHooks> list(const HookSetupPlace& place) {
    std::vector<AgentHooks> agents;
    for (const Target& target : targets(place)) {
        agents.push_back(stateOf(target, place));
    }
    return agents;
}

Result connect(const HookSetupPlace& place, const std::string& agent) {
    const auto target = targetFor(place, agent);
    return target ? install(*target, place)
                  : Result{true, "no agent " + UnicodeText::shownOnTerminal(agent)};
}

Result disconnect(const HookSetupPlace& place, const std::string& agent) {
    const auto target = targetFor(place, agent);
    return target ? uninstall(*target)
                  : Result{true, "no agent " + UnicodeText::shownOnTerminal(agent)};
}

int run(Verb verb, const std::vector<std::string>& agents, const HookSetupPlace& place,
        std::FILE* output, std::FILE* errors) {
    bool failed = false;
    bool any = false;
    const auto report = [&](const Result& result) {
        if (!result.text.empty()) {
            print(result.failed ? errors : output, result.text + '\n');
        }
        failed = failed || result.failed;
    };
    for (const AgentHooks& agent : list(place)) {
        const bool named = std::find(agents.begin(), agents.end(), agent.word) != agents.end();
        if (!agents.empty() && !named) {
            continue;
        }
        switch (verb) {
        case Verb::install:
            if (named || agent.found) {
                report(connect(place, agent.word));
                any = true;
            }
            break;
        case Verb::remove:
            report(disconnect(place, agent.word));
            break;
        case Verb::status: {
            std::string line = agent.name + ": ";
            if (agent.connected) {
                line += "connected (" + shown(agent.file) + ")";
                if (agent.outdated) {
                    line += "; connected before Stayloom heard its tools and its questions to "
                            "you: run stayloom hooks install " +
                            agent.word + " again";
                }
                if (const HookAgent* described = HookAgents::find(agent.word);
                    described != nullptr && !described->trustInStatus.empty()) {
                    line += "; " + described->trustInStatus;
                }
            } else {
                line += agent.found ? "found, not connected" : "not found";
            }
            print(output, line + '\n');
            break;
        }
        }
    }
    if (verb == Verb::install) {
        print(output,
              any ? QCoreApplication::translate("AgentHooks", agentHookPrivacyNote).toStdString() +
                        '\n'
                  : "No agent found: name one, e.g. stayloom hooks install claude\n");
    }
    return failed ? 1 : 0;
}

} // namespace nodwarden::app::HookSetup
