#include <NodwardenApp/control/HookCommand.hpp>

#include <NodwardenApp/control/ControlClient.hpp>
#include <NodwardenApp/control/ControlSocketPath.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>
#include <NodwardenCore/statusrecords/StatusRecordFiles.hpp>
#include <NodwardenCore/system/BoundedFileRead.hpp>
#include <NodwardenLinux/ProcTableReader.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace nodwarden::app::HookCommand {

namespace {

/// The most of a process's stat and argument line read.
constexpr std::size_t maxProcBytes = 16 * 1024;

/// The event's JSON as the agent hands it, up to its end, `maxEventBytes` or `readDeadline`,
/// whichever comes first. An agent that keeps its end of the pipe open is not waited for.
std::string readEvent() {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + readDeadline;
    while (bytes.size() < maxEventBytes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{STDIN_FILENO, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, int(left.count())) <= 0) {
            break;
        }
        char buffer[8192];
        const ssize_t count =
            ::read(STDIN_FILENO, buffer, std::min(sizeof buffer, maxEventBytes - bytes.size()));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        bytes.append(buffer, std::size_t(count));
        if (nlohmann::json::accept(bytes)) {
            break; // the whole object is here, whether or not the agent closes its end
        }
    }
    return bytes;
}

} // namespace

std::string sessionOf(std::string_view eventJSON) {
    const auto event =
        StatusRecordFiles::parseKeeping(eventJSON, [](int depth, const std::string& key) {
            return depth == 1 && (key == "session_id" || key == "sessionId");
        });
    if (!event) {
        return {};
    }
    for (const char* key : {"session_id", "sessionId"}) {
        if (const auto found = event->find(key); found != event->end() && found->is_string()) {
            const auto& session = found->get_ref<const std::string&>();
            return session.size() <= maxSessionBytes ? session : std::string();
        }
    }
    return {};
}

std::string kindOf(std::string_view eventJSON) {
    const auto event =
        StatusRecordFiles::parseKeeping(eventJSON, [](int depth, const std::string& key) {
            return depth == 1 && key == "notification_type";
        });
    if (!event) {
        return {};
    }
    const auto found = event->find("notification_type");
    if (found == event->end() || !found->is_string()) {
        return {};
    }
    const auto& kind = found->get_ref<const std::string&>();
    const bool word = !kind.empty() && kind.size() <= maxKindBytes &&
                      std::all_of(kind.begin(), kind.end(), [](char c) {
                          return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
                      });
    return word ? kind : std::string();
}

namespace {

auto readStat(const std::filesystem::path& file) {
    const auto statText = BoundedFileRead::head(file, maxProcBytes);
    return statText ? linuxplatform::ProcTableReader::parseStat(statText->bytes) : std::nullopt;
}

/// When this hook's process started, which orders the agent's events.
std::uint64_t ownStartTime() {
    const auto stat = readStat("/proc/self/stat");
    return stat ? stat->startTime : 0;
}

} // namespace

std::optional<ProcessName> findAgent(const std::filesystem::path& procRoot, pid_t from,
                                     const HookAgent& agent) {
    const AgentResolver catalog(AgentCatalog::builtin());
    pid_t pid = from;
    for (int step = 0; step < maxAncestors && pid > 1; ++step) {
        const auto folder = procRoot / "proc" / std::to_string(pid);
        const auto stat = readStat(folder / "stat");
        if (!stat) {
            return std::nullopt;
        }
        if (const auto cmdline = BoundedFileRead::head(folder / "cmdline", maxProcBytes)) {
            auto [argv0, arguments] = linuxplatform::ProcTableReader::parseCmdline(cmdline->bytes);
            const AgentProfile* profile =
                catalog.findProgramForCommandPath(argv0.empty() ? stat->comm : argv0, arguments);
            if (profile != nullptr && profile->id == agent.profileID) {
                return ProcessName{pid, stat->startTime};
            }
        }
        pid = stat->parentPID;
    }
    return std::nullopt;
}

std::string requestLine(const HookEvent& event) {
    nlohmann::json request{{"command", "hook"},    {"agent", event.agent},
                           {"event", event.event}, {"session", event.session},
                           {"pid", event.pid},     {"start", event.startTime}};
    if (event.firedAt != 0) {
        request["fired"] = event.firedAt;
    }
    if (!event.kind.empty()) {
        request["kind"] = event.kind;
    }
    // Replaced, not refused: a session id is the agent's text and need not be UTF-8.
    return request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

int run(std::string_view agentWord, std::string_view eventName) noexcept {
    try {
        const HookAgent* agent = HookAgents::find(agentWord);
        if (agent == nullptr) {
            return 0;
        }
        const std::string eventJSON = readEvent();
        const std::string session = sessionOf(eventJSON);
        const auto sender = findAgent("/", ::getppid(), *agent);
        if (!sender) {
            return 0;
        }
        LinuxPlatformOptions options;
        options.paths = PlatformPaths::currentEnvironment();
        const auto socketPath = ControlSocketPath::forLockFolder(
            instanceLockFolder(options), ControlSocketPath::runtimeFolderFromEnvironment());
        if (!socketPath) {
            return 0;
        }
        const std::string line =
            requestLine({agent->word, std::string(eventName), session, sender->pid,
                         sender->startTime, kindOf(eventJSON), ownStartTime()});
        ControlClient::exchange(*socketPath, QByteArray::fromStdString(line),
                                QDeadlineTimer(sendDeadline.count()));
    } catch (...) {
        // Nothing may fail the agent: an event that cannot be handed over is simply not seen.
    }
    return 0;
}

} // namespace nodwarden::app::HookCommand
