#include "Support/FakeKeepAwakeProgram.hpp"

#include "Support/TemporaryDirectory.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace stayloom::testing {

namespace {

std::string quotedForShell(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

} // namespace

FakeKeepAwakeProgram::FakeKeepAwakeProgram(const std::filesystem::path& folder,
                                           const std::string& name, OnSIGTERM onSIGTERM)
    : path_(folder / name), hiddenPath_(folder / (name + ".hidden")),
      recordPath_(folder / (name + ".record")) {
    std::filesystem::create_directories(folder);
    const auto record = quotedForShell(recordPath_.string());
    const std::string trap = onSIGTERM == OnSIGTERM::exit
                                 ? "trap 'echo \"term $$\" >> " + record + "; exit 0' TERM\n"
                                 : "trap 'echo \"term $$\" >> " + record + "' TERM\n";
    std::ofstream script(path_, std::ios::trunc);
    // The trap is set before the start is recorded, so a recorded start always answers SIGTERM
    // the intended way. Short sleeps keep the reaction to a signal prompt.
    script << "#!/bin/sh\n"
           << trap << "echo \"start $$ $*\" >> " << record << "\n"
           << "while :; do sleep 0.05; done\n";
    script.close();
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
}

void FakeKeepAwakeProgram::setInstalled(bool installed) const {
    if (installed) {
        std::filesystem::rename(hiddenPath_, path_);
    } else {
        std::filesystem::rename(path_, hiddenPath_);
    }
}

std::vector<std::string> FakeKeepAwakeProgram::recordLines() const {
    return linesOf(readFile(recordPath_));
}

std::vector<FakeKeepAwakeProgram::Start> FakeKeepAwakeProgram::starts() const {
    std::vector<Start> result;
    for (const auto& line : recordLines()) {
        std::istringstream fields(line);
        std::string kind;
        Start start;
        if (fields >> kind >> start.pid && kind == "start") {
            std::getline(fields >> std::ws, start.arguments);
            result.push_back(start);
        }
    }
    return result;
}

std::vector<std::int32_t> FakeKeepAwakeProgram::terminationRequests() const {
    std::vector<std::int32_t> result;
    for (const auto& line : recordLines()) {
        std::istringstream fields(line);
        std::string kind;
        std::int32_t pid = 0;
        if (fields >> kind >> pid && kind == "term") {
            result.push_back(pid);
        }
    }
    return result;
}

std::optional<std::string> FakeKeepAwakeProgram::waitForStart(std::int32_t pid) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& start : starts()) {
            if (start.pid == pid) {
                return start.arguments;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

bool processExists(std::int32_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace stayloom::testing
