#include <NodwardenCore/statusrecords/AgentStatusReaders.hpp>

#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/statusrecords/OpenCodeStatusReader.hpp>
#include <NodwardenCore/statusrecords/StatusRecordFiles.hpp>

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>

namespace nodwarden {
namespace {

using nlohmann::json;
namespace Files = StatusRecordFiles;

/// Working when any of the sessions works, else waiting when one waits for its user, idle when
/// all that spoke are idle.
class Verdicts {
public:
    void add(std::optional<AgentWorkState> state) {
        const auto rank = [](AgentWorkState of) {
            return of == AgentWorkState::working ? 2 : of == AgentWorkState::waiting ? 1 : 0;
        };
        if (state && (!combined_ || rank(*state) > rank(*combined_))) {
            combined_ = state;
        }
    }
    std::optional<AgentWorkState> combined() const { return combined_; }

private:
    std::optional<AgentWorkState> combined_;
};

std::optional<std::uint64_t> readTicks(const json& value) {
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>();
    }
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        std::uint64_t ticks = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ticks);
        if (error == std::errc() && end == text.data() + text.size() && !text.empty()) {
            return ticks;
        }
    }
    return std::nullopt;
}

class ClaudeSessionStatusReader final : public AgentStatusReading {
public:
    explicit ClaudeSessionStatusReader(std::filesystem::path home) : home_(std::move(home)) {}
    std::string_view profileID() const override { return "claude-code"; }
    /// Its session record appears a few seconds after start, before any turn can begin; but only
    /// a version that keeps session records has their folder, and of one that does not, a young
    /// process's work would otherwise go unseen.
    bool recordsEveryTurn() const override {
        std::error_code error;
        return std::filesystem::is_directory(home_ / ".claude" / "sessions", error);
    }

    std::optional<AgentWorkState> read(const RunningAgent& agent, Date /*now*/) override {
        Verdicts verdicts;
        for (const ProcessSnapshot& process : agent.processes) {
            verdicts.add(readSession(process));
        }
        return verdicts.combined();
    }

private:
    std::optional<AgentWorkState> readSession(const ProcessSnapshot& process) const {
        const auto text = Files::readSmallFile(home_ / ".claude" / "sessions" /
                                               (std::to_string(process.pid) + ".json"));
        if (!text) {
            return std::nullopt;
        }
        const auto record = Files::parseKeeping(*text, [](int depth, const std::string& key) {
            return depth == 1 && (key == "pid" || key == "procStart" || key == "status");
        });
        if (!record) {
            return std::nullopt;
        }
        if (const auto pid = record->find("pid");
            pid != record->end() && (!pid->is_number_integer() || *pid != process.pid)) {
            return std::nullopt;
        }
        if (process.startTime) {
            // The same pid with another start time is another process that reused the id.
            const auto procStart = record->find("procStart");
            if (procStart == record->end() || readTicks(*procStart) != process.startTime) {
                return std::nullopt;
            }
        }
        const auto status = record->find("status");
        if (status == record->end() || !status->is_string()) {
            return std::nullopt;
        }
        if (*status == "busy") {
            return AgentWorkState::working;
        }
        if (*status == "idle") {
            return AgentWorkState::idle;
        }
        // At a permission prompt ("waitingFor": "permission prompt"), busy again at the answer.
        if (*status == "waiting") {
            return AgentWorkState::waiting;
        }
        return std::nullopt;
    }

    std::filesystem::path home_;
};

class CopilotSessionStateReader final : public AgentStatusReading {
public:
    explicit CopilotSessionStateReader(std::filesystem::path home) : home_(std::move(home)) {}
    std::string_view profileID() const override { return "copilot-cli"; }
    /// Its session is opened, not working, a few seconds after start, before any turn can begin,
    /// and before that file exists on a first run ever its CPU at a trust screen is no work either.
    bool recordsEveryTurn() const override { return true; }

    std::optional<AgentWorkState> read(const RunningAgent& agent, Date /*now*/) override {
        const auto text = Files::readSmallFile(home_ / ".copilot" / "open-sessions-state.json");
        if (!text) {
            return std::nullopt;
        }
        const auto sessions = Files::parseKeeping(*text, [](int depth, const std::string& key) {
            return depth == 1 ||
                   (depth == 2 && (key == "openedAt" || key == "refreshedAt" || key == "working"));
        });
        if (!sessions) {
            return std::nullopt;
        }
        std::vector<std::tuple<Date, bool, std::string>> current;
        for (const auto& [id, session] : sessions->items()) {
            if (!session.is_object()) {
                continue;
            }
            const auto working = session.find("working");
            if (working == session.end() || !working->is_boolean()) {
                continue;
            }
            std::optional<Date> written;
            for (const char* key : {"openedAt", "refreshedAt"}) {
                if (const auto time = session.find(key); time != session.end()) {
                    const auto date = Files::readTimestamp(*time);
                    if (date && (!written || *date > *written)) {
                        written = date;
                    }
                }
            }
            if (agent.mayHaveWritten(written)) {
                current.emplace_back(*written, working->get<bool>(), id);
            }
        }
        // The sessions refreshed last are the running ones.
        std::sort(current.begin(), current.end(), std::greater<>());
        current.resize(
            std::min(current.size(), static_cast<std::size_t>(std::max(agent.sessions, 1))));
        Verdicts verdicts;
        for (const auto& [written, working, id] : current) {
            verdicts.add(!working       ? AgentWorkState::idle
                         : asksUser(id) ? AgentWorkState::waiting
                                        : AgentWorkState::working);
        }
        return verdicts.combined();
    }

private:
    /// Whether the session's newest event of its turn is a permission it asked for and has not
    /// been given: its state file says working all the while.
    bool asksUser(const std::string& session) const {
        if (session.empty() || session.find('/') != std::string::npos || session == "." ||
            session == "..") {
            return false;
        }
        const auto tail =
            Files::readTail(home_ / ".copilot" / "session-state" / session / "events.jsonl");
        if (!tail) {
            return false;
        }
        for (const std::string_view line : Files::linesNewestFirst(*tail)) {
            const auto event = Files::parseKeeping(line, [](int depth, const std::string& key) {
                return depth == 1 && key == "type";
            });
            if (!event) {
                continue;
            }
            const auto type = event->find("type");
            if (type == event->end() || !type->is_string()) {
                continue;
            }
            const auto& kind = type->get_ref<const std::string&>();
            if (kind == "permission.requested") {
                return true;
            }
            if (kind.starts_with("permission.") || kind.starts_with("tool.") ||
                kind.starts_with("assistant.") || kind.starts_with("user.")) {
                return false;
            }
        }
        return false;
    }

    std::filesystem::path home_;
};

/// What one record of a transcript means, read newest first.
enum class RecordMeaning {
    /// A record of another kind: the reader passes over it to older ones.
    other,
    working,
    idle,
    /// The turn the older records speak of is over, but not how: nothing is said.
    turnOver,
};
using Classify = RecordMeaning (*)(const json& record);

/// How long a chat that says working is believed without the agent's word: an inference, since a
/// cancelled turn leaves the chat as a running one does.
struct WorkingInference {
    /// The most, after the chat was last written.
    TimeInterval lifetime;
    /// The most after the chat was last written or the agent's process tree last showed a sign
    /// of work (a CPU share of `signOfWorkPercent` or more).
    TimeInterval quietLimit;
    double signOfWorkPercent;
};

class NewestTranscriptReader final : public AgentStatusReading {
public:
    /// Without `inference` the transcript is the agent's stated state, believed while it lasts.
    NewestTranscriptReader(std::string profileID, std::shared_ptr<const FileActivityProbing> probe,
                           Files::KeyFilter keep, Classify classify,
                           std::optional<WorkingInference> inference = std::nullopt,
                           Files::KeyFilter onlyWhetherEmpty = {})
        : profileID_(std::move(profileID)), probe_(std::move(probe)), keep_(std::move(keep)),
          onlyWhetherEmpty_(std::move(onlyWhetherEmpty)), classify_(classify),
          inference_(inference) {}
    std::string_view profileID() const override { return profileID_; }
    AgentVerdictSource source() const override {
        return inference_ ? AgentVerdictSource::conversation : AgentVerdictSource::statusRecord;
    }
    bool recordsEveryTurn() const override { return true; }

    std::optional<AgentWorkState> read(const RunningAgent& agent, Date now) override {
        if (inference_ && agent.treeCPUPercent >= inference_->signOfWorkPercent) {
            lastSignOfWork_ = now;
        }
        if (!probe_ || agent.profile->sessionCountGlobs.empty()) {
            return std::nullopt;
        }
        std::vector<std::pair<Date, std::string>> current;
        for (const auto& [path, modified] :
             probe_->sessionModifications(agent.profile->sessionCountGlobs)) {
            if (agent.mayHaveWritten(modified)) {
                current.emplace_back(modified, path);
            }
        }
        std::sort(current.begin(), current.end(), std::greater<>());
        current.resize(
            std::min(current.size(), static_cast<std::size_t>(std::max(agent.sessions, 1))));
        Verdicts verdicts;
        std::map<std::string, Reading> readings;
        for (const auto& [modified, path] : current) {
            // An unchanged transcript says what it said last time; most passes read nothing.
            const auto last = lastReadings_.find(path);
            const auto state = last != lastReadings_.end() && last->second.modified == modified
                                   ? last->second.state
                                   : readTranscript(path);
            readings[path] = {modified, state};
            verdicts.add(state == AgentWorkState::working && outlived(modified, now) ? std::nullopt
                                                                                     : state);
        }
        lastReadings_ = std::move(readings);
        return verdicts.combined();
    }

private:
    struct Reading {
        Date modified;
        std::optional<AgentWorkState> state;
    };

    /// Whether an inference of work from a chat written at `modified` no longer holds.
    bool outlived(Date modified, Date now) const {
        if (!inference_) {
            return false;
        }
        const Date lastSign = lastSignOfWork_ ? std::max(*lastSignOfWork_, modified) : modified;
        return now - modified > inference_->lifetime || now - lastSign > inference_->quietLimit;
    }

    std::optional<AgentWorkState> readTranscript(const std::string& path) const {
        const auto tail = Files::readTail(path);
        if (!tail) {
            return std::nullopt;
        }
        for (const std::string_view line : Files::linesNewestFirst(*tail)) {
            if (const auto record = Files::parseKeeping(line, keep_, onlyWhetherEmpty_)) {
                switch (classify_(*record)) {
                case RecordMeaning::other:
                    continue;
                case RecordMeaning::working:
                    return AgentWorkState::working;
                case RecordMeaning::idle:
                    return AgentWorkState::idle;
                case RecordMeaning::turnOver:
                    return std::nullopt;
                }
            }
        }
        return std::nullopt;
    }

    std::string profileID_;
    std::shared_ptr<const FileActivityProbing> probe_;
    Files::KeyFilter keep_;
    Files::KeyFilter onlyWhetherEmpty_;
    Classify classify_;
    std::optional<WorkingInference> inference_;
    std::optional<Date> lastSignOfWork_;
    std::map<std::string, Reading> lastReadings_;
};

std::optional<std::string> stringAt(const json& object, const char* key) {
    const auto value = object.find(key);
    if (value == object.end() || !value->is_string()) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

RecordMeaning classifyCodexRecord(const json& record) {
    if (stringAt(record, "type") != "event_msg") {
        return RecordMeaning::other;
    }
    const auto payload = record.find("payload");
    if (payload == record.end() || !payload->is_object()) {
        return RecordMeaning::other;
    }
    const auto kind = stringAt(*payload, "type");
    if (kind == "task_started") {
        return RecordMeaning::working;
    }
    if (kind == "task_complete" || kind == "turn_aborted") {
        return RecordMeaning::idle;
    }
    return RecordMeaning::other;
}

/// Gemini writes the reply when it ends, so the user's record is the last one while a turn runs.
/// A cancelled turn adds a notice ("info": "Request cancelled.") and then rewrites the whole
/// history (`$set` of `messages`), as it also does when a session starts or is rewound; an
/// error ends a turn with a notice too. After either the user's record no longer awaits a reply.
/// A reply that calls tools is not the turn's last word: the tools run, and the model answers
/// their results. Gemini writes such a reply first without its words or its calls (they are
/// added once the tool has run), so an empty reply is a tool call under way: asked about, or
/// running.
bool callsTools(const json& record, const char* key) {
    const auto calls = record.find(key);
    return calls != record.end() && calls->is_array() && !calls->empty();
}

RecordMeaning classifyGeminiRecord(const json& record) {
    const auto type = stringAt(record, "type");
    if (type == "user") {
        return RecordMeaning::working;
    }
    if (type == "gemini") {
        const auto content = record.find("content");
        const bool saysNothing = content != record.end() && content->is_string() &&
                                 content->get_ref<const std::string&>().empty();
        return callsTools(record, "toolCalls") || saysNothing ? RecordMeaning::working
                                                              : RecordMeaning::idle;
    }
    if (type == "info" || type == "error" || type == "warning") {
        return RecordMeaning::turnOver;
    }
    if (const auto patch = record.find("$set");
        patch != record.end() && patch->is_object() && patch->contains("messages")) {
        return RecordMeaning::turnOver;
    }
    return RecordMeaning::other; // header records and time stamps
}

/// Qwen records each model request's end as telemetry ("qwen-code.api_response", also with no
/// reply when the turn is cancelled; "qwen-code.api_error") just before the reply's record.
/// Telemetry newer than the user's record is a request that ended without a reply.
/// Whether one of a Qwen message's parts calls a function.
bool qwenCallsTools(const json& record) {
    const auto message = record.find("message");
    if (message == record.end() || !message->is_object()) {
        return false;
    }
    const auto parts = message->find("parts");
    return parts != message->end() && parts->is_array() &&
           std::any_of(parts->begin(), parts->end(), [](const json& part) {
               return part.is_object() && part.contains("functionCall");
           });
}

RecordMeaning classifyQwenRecord(const json& record) {
    const auto type = stringAt(record, "type");
    if (type == "user" || type == "tool_result") {
        return RecordMeaning::working;
    }
    if (type == "assistant") {
        return qwenCallsTools(record) ? RecordMeaning::working : RecordMeaning::idle;
    }
    if (type == "system" && stringAt(record, "subtype") == "ui_telemetry") {
        const auto payload = record.find("systemPayload");
        if (payload != record.end() && payload->is_object()) {
            const auto event = payload->find("uiEvent");
            if (event != payload->end() && event->is_object()) {
                const auto name = stringAt(*event, "event.name");
                if (name == "qwen-code.api_response" || name == "qwen-code.api_error" ||
                    name == "qwen-code.api_cancel") {
                    return RecordMeaning::turnOver;
                }
            }
        }
    }
    return RecordMeaning::other; // other system records come and go beside the turns
}

/// A chat whose last record is the user's may outlive its turn (a crash, a notice of a kind not
/// known here), so it speaks only while the agent shows a sign of work; then the agent's screen,
/// where one is read, or its CPU decides. A quarter of an hour bounds even a busy agent's word on
/// a stale chat.
constexpr WorkingInference chatInference = {15 * 60, SignOfWork::quietLimit,
                                            SignOfWork::cpuPercent};

/// The record's kind, of a history rewrite only each message's kind, and of a reply only whether it
/// has words and whether it calls tools (each call's fields dropped).
bool keepGeminiKeys(int depth, const std::string& key) {
    return (depth == 1 &&
            (key == "type" || key == "$set" || key == "toolCalls" || key == "content")) ||
           (depth == 2 && key == "messages") || (depth == 4 && key == "type");
}

/// The record's kind, of telemetry only the event's name (its other fields hold the reply), and
/// of a message only whether a part calls a function.
bool keepQwenKeys(int depth, const std::string& key) {
    return (depth == 1 &&
            (key == "type" || key == "subtype" || key == "systemPayload" || key == "message")) ||
           (depth == 2 && (key == "uiEvent" || key == "parts")) ||
           (depth == 3 && key == "event.name") || (depth == 4 && key == "functionCall");
}

} // namespace

std::unique_ptr<AgentStatusReading> claudeSessionStatusReader(std::filesystem::path home) {
    return std::make_unique<ClaudeSessionStatusReader>(std::move(home));
}

std::unique_ptr<AgentStatusReading> copilotSessionStateReader(std::filesystem::path home) {
    return std::make_unique<CopilotSessionStateReader>(std::move(home));
}

std::unique_ptr<AgentStatusReading>
codexRolloutReader(std::shared_ptr<const FileActivityProbing> probe) {
    return std::make_unique<NewestTranscriptReader>(
        "codex-cli", std::move(probe),
        [](int depth, const std::string& key) {
            // The payload's kind only: a payload's other fields hold the conversation.
            return (depth == 1 && (key == "type" || key == "payload")) ||
                   (depth == 2 && key == "type");
        },
        &classifyCodexRecord);
}

std::unique_ptr<AgentStatusReading>
geminiChatReader(std::shared_ptr<const FileActivityProbing> probe) {
    // Of a reply's words only whether there are any.
    const auto onlyWhetherEmpty = [](int depth, const std::string& key) {
        return depth == 1 && key == "content";
    };
    return std::make_unique<NewestTranscriptReader>("gemini-cli", std::move(probe), &keepGeminiKeys,
                                                    &classifyGeminiRecord, chatInference,
                                                    onlyWhetherEmpty);
}

std::unique_ptr<AgentStatusReading>
qwenChatReader(std::shared_ptr<const FileActivityProbing> probe) {
    return std::make_unique<NewestTranscriptReader>("qwen-code", std::move(probe), &keepQwenKeys,
                                                    &classifyQwenRecord, chatInference);
}

std::vector<std::unique_ptr<AgentStatusReading>>
standardStatusReaders(const std::filesystem::path& home,
                      const std::shared_ptr<const FileActivityProbing>& probe) {
    std::vector<std::unique_ptr<AgentStatusReading>> readers;
    readers.push_back(claudeSessionStatusReader(home));
    readers.push_back(copilotSessionStateReader(home));
    readers.push_back(codexRolloutReader(probe));
    readers.push_back(geminiChatReader(probe));
    readers.push_back(qwenChatReader(probe));
    readers.push_back(openCodeDatabaseReader(home));
    return readers;
}

} // namespace nodwarden
