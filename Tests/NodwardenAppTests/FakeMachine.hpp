#pragma once

// A simulated machine for runs of the whole program: a temporary home with XDG folders, sysfs and
// procfs fixture trees for power and lid, helper programs that record what they are asked, and a
// real busy child process named like an agent.

#include "Support/TemporaryDirectory.hpp"

#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/SettingsStore.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenCore/AppMode.hpp>
#include <NodwardenCore/FileLogger.hpp>
#include <NodwardenCore/GuardSettings.hpp>
#include <NodwardenCore/Notices.hpp>
#include <NodwardenCore/StoredKeys.hpp>

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
    FakeMachine() {
        root_.write("hardware/sys/class/power_supply/AC/type", "Mains\n");
        root_.write("hardware/sys/class/power_supply/AC/online", "1\n");
        setLidClosed(false);
        std::filesystem::create_directories(home());
        std::filesystem::create_directories(records());
        // Holds until asked to stop, like the real helper; says when it starts and stops.
        writeScript(helpers() / "stayloom-inhibit",
                    "log='" + record("stayloom-inhibit").string() +
                        "'\n"
                        "echo \"start $$ $*\" >> \"$log\"\n"
                        "trap 'echo \"stop $$\" >> \"$log\"; exit 0' TERM INT\n"
                        "if [ -n \"$STAYLOOM_READY_FD\" ]; then\n"
                        "  eval \"echo READY=1 >&$STAYLOOM_READY_FD; exec $STAYLOOM_READY_FD>&-\"\n"
                        "fi\n"
                        "while :; do sleep 0.05; done\n");
        writeScript(helpers() / "stayloom-sleep-switch",
                    "echo \"$*\" >> '" + record("sleep-switch").string() +
                        "'\n"
                        "if [ \"$1\" = status ]; then echo ' SleepDisabled 0'; fi\n");
        writeScript(root_.path() / "elevator",
                    "echo \"$*\" >> '" + record("elevator").string() + "'\nexit 126\n");
        // An agent's command: `claude` on the path, a link to the real program (as installers
        // make it), here the shell, told to spin.
        std::filesystem::create_directories(root_.path() / "agent");
        std::filesystem::create_symlink("/bin/sh", root_.path() / "agent" / "claude");
        showProcess(::getpid());
    }

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
    void showProcess(pid_t pid) const {
        std::filesystem::create_directories(processRoot() / "proc");
        std::filesystem::create_symlink("/proc/" + std::to_string(pid),
                                        processRoot() / "proc" / std::to_string(pid));
    }

    void setLidClosed(bool closed) {
        root_.write("hardware/proc/acpi/button/lid/LID0/state",
                    closed ? "state:      closed\n" : "state:      open\n");
    }

    /// Lines a fake helper recorded, in order.
    std::vector<std::string> recorded(const std::string& name) const {
        std::vector<std::string> lines;
        std::istringstream stream(readFile(record(name)));
        for (std::string line; std::getline(stream, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    int countRecorded(const std::string& name, const std::string& line) const {
        const auto lines = recorded(name);
        return int(std::count(lines.begin(), lines.end(), line));
    }
    /// Process ids of the keep-awake helper runs that said "start", in order.
    std::vector<pid_t> keepAwakeStarts() const {
        std::vector<pid_t> pids;
        for (const auto& line : recorded("stayloom-inhibit")) {
            if (line.rfind("start ", 0) == 0) {
                pids.push_back(pid_t(std::stol(line.substr(6))));
            }
        }
        return pids;
    }

    /// The options of a run on this machine: its folders, its fixtures and its helpers.
    nodwarden::app::LinuxPlatformOptions options() const {
        nodwarden::app::LinuxPlatformOptions options;
        options.paths = nodwarden::PlatformPaths::Environment{home(), std::nullopt};
        options.configHome = configHome();
        options.hardwareRoot = root_.path() / "hardware";
        options.processRoot = processRoot();
        options.logindLid = [] { return std::optional<bool>(); };
        options.helpers.folders = {helpers()};
        options.elevatorPath = (root_.path() / "elevator").string();
        options.executablePath = "/usr/bin/Stayloom";
        options.autostart = nodwarden::linuxplatform::XdgAutostart(configHome() / "autostart", {},
                                                                   options.executablePath);
        // No unit installed by a package on this machine, whatever the real one holds.
        options.packagedUnitFolders = std::vector<std::filesystem::path>{};
        return options;
    }

    std::filesystem::path settingsFile() const {
        return nodwarden::app::settingsFilePath(configHome());
    }
    std::filesystem::path stateFolder() const { return home() / ".local" / "state" / "stayloom"; }

    /// Stores what earlier runs would have left: accepted terms, a completed first run, the mode
    /// and the settings.
    void storeSettings(nodwarden::AppMode mode, const nodwarden::GuardSettings& settings,
                       bool termsAccepted = true) const {
        nodwarden::FileLogger logger(root_.path() / "settings-writer.log");
        QSettings defaults(QString::fromStdString(settingsFile().string()), QSettings::IniFormat);
        if (termsAccepted) {
            defaults.setValue(
                QString::fromUtf8(nodwarden::StoredKeys::acceptedLegalVersion.data()),
                // The real program speaks the Linux wording, whose terms carry their own version.
                nodwarden::app::PlatformWording::linuxDesktop().legalVersion);
            defaults.setValue(
                QString::fromUtf8(nodwarden::StoredKeys::hasCompletedOnboarding.data()), true);
        }
        nodwarden::app::SettingsStore::saveMode(defaults, mode);
        nodwarden::app::SettingsStore::saveSettings(defaults, settings, logger);
        defaults.sync();
    }

private:
    void writeScript(const std::filesystem::path& path, const std::string& body) const {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
    }

    TemporaryDirectory root_;
};

/// A real process that burns CPU under an agent's name until stopped.
class BusyAgent {
public:
    /// `program` is a shell under the agent's name; `script` is what it runs (a busy loop).
    explicit BusyAgent(const std::filesystem::path& program,
                       const std::string& script = "while :; do :; done") {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(program.c_str(), program.c_str(), "-c", script.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~BusyAgent() { stop(); }
    BusyAgent(const BusyAgent&) = delete;
    BusyAgent& operator=(const BusyAgent&) = delete;

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

/// Whether `pid` names a process that has not ended (a zombie counts as ended).
inline bool processIsLive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

} // namespace stayloom::testing
