#pragma once

// A simulated machine for runs of the whole program: a temporary home with XDG folders, sysfs and
// procfs fixture trees for power and lid, helper programs that record what they are asked, and a
// real busy child process named like an agent.

#include "Support/ChildProcess.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenCore/model/AppMode.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QSettings>
#include <QString>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace stayloom::testing {

class FakeMachine {
public:
    FakeMachine();

    std::filesystem::path home() const { return root_.path() / "home"; }
    std::filesystem::path configHome() const { return home() / ".config"; }
    std::filesystem::path helpers() const { return root_.path() / "libexec" / "stayloom"; }
    std::filesystem::path records() const { return root_.path() / "records"; }
    std::filesystem::path record(const std::string& name) const {
        return records() / (name + ".log");
    }
    std::filesystem::path agentProgram() const { return root_.path() / "agent" / "claude"; }
    const std::filesystem::path& root() const { return root_.path(); }

    /// The process table the run reads: only the processes shown here, each a link to its real
    /// /proc entry, so agents running elsewhere on this machine stay out of the simulation.
    std::filesystem::path processRoot() const { return root_.path() / "processes"; }
    void showProcess(pid_t pid) const;

    void setLidClosed(bool closed) {
        root_.write("hardware/proc/acpi/button/lid/LID0/state",
                    closed ? "state:      closed\n" : "state:      open\n");
    }

    /// Lines a fake helper recorded, in order.
    std::vector<std::string> recorded(const std::string& name) const;
    int countRecorded(const std::string& name, const std::string& line) const;
    /// Process ids of the keep-awake helper runs that said "start", in order.
    std::vector<pid_t> keepAwakeStarts() const;

    /// The options of a run on this machine: its folders, its fixtures and its helpers.
    nodwarden::app::LinuxPlatformOptions options() const;

    std::filesystem::path settingsFile() const {
        return nodwarden::app::settingsFilePath(configHome());
    }
    std::filesystem::path stateFolder() const { return home() / ".local" / "state" / "stayloom"; }

    /// Stores what earlier runs would have left: accepted terms, a completed first run, the mode
    /// and the settings.
    void storeSettings(nodwarden::AppMode mode, const nodwarden::GuardSettings& settings,
                       bool termsAccepted = true) const;

private:
    void writeScript(const std::filesystem::path& path, const std::string& body) const;

    TemporaryDirectory root_;
};

/// A real process that burns CPU under an agent's name until stopped.
class BusyAgent : public ChildProcess {
public:
    /// `program` is a shell under the agent's name; `script` is what it runs (a busy loop).
    explicit BusyAgent(const std::filesystem::path& program,
                       const std::string& script = "while :; do :; done")
        : ChildProcess({program.string(), "-c", script}) {}
};

/// Whether `pid` names a process that has not ended (a zombie counts as ended).
bool processIsLive(pid_t pid);

} // namespace stayloom::testing
