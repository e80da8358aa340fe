#include "AppSupport/FakeMachine.hpp"

#include <NodwardenCore/model/StoredKeys.hpp>

namespace stayloom::testing {

FakeMachine::FakeMachine() {
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
                    // The real helper's notes, on the streams it writes them to.
                    "echo 'stayloom-inhibit: note: no session bus (fake)' >&2\n"
                    "echo 'stayloom-inhibit: holding until SIGTERM or SIGINT'\n"
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

void FakeMachine::showProcess(pid_t pid) const {
    std::filesystem::create_directories(processRoot() / "proc");
    std::filesystem::create_symlink("/proc/" + std::to_string(pid),
                                    processRoot() / "proc" / std::to_string(pid));
}

std::vector<std::string> FakeMachine::recorded(const std::string& name) const {
    return linesOf(readFile(record(name)));
}

int FakeMachine::countRecorded(const std::string& name, const std::string& line) const {
    const auto lines = recorded(name);
    return int(std::count(lines.begin(), lines.end(), line));
}

std::vector<pid_t> FakeMachine::keepAwakeStarts() const {
    std::vector<pid_t> pids;
    for (const auto& line : recorded("stayloom-inhibit")) {
        if (line.rfind("start ", 0) == 0) {
            pids.push_back(pid_t(std::stol(line.substr(6))));
        }
    }
    return pids;
}

nodwarden::app::LinuxPlatformOptions FakeMachine::options() const {
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

void FakeMachine::storeSettings(nodwarden::AppMode mode, const nodwarden::GuardSettings& settings,
                                bool termsAccepted) const {
    nodwarden::FileLogger logger(root_.path() / "settings-writer.log");
    QSettings defaults(QString::fromStdString(settingsFile().string()), QSettings::IniFormat);
    if (termsAccepted) {
        defaults.setValue(
            QString::fromUtf8(nodwarden::StoredKeys::acceptedLegalVersion.data()),
            // The real program speaks the Linux wording, whose terms carry their own version.
            nodwarden::app::PlatformWording::linuxDesktop().legalVersion);
        defaults.setValue(QString::fromUtf8(nodwarden::StoredKeys::hasCompletedOnboarding.data()),
                          true);
    }
    nodwarden::app::SettingsStore::saveMode(defaults, mode);
    nodwarden::app::SettingsStore::saveSettings(defaults, settings, logger);
    defaults.sync();
}

void FakeMachine::writeScript(const std::filesystem::path& path, const std::string& body) const {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
}

bool processIsLive(pid_t pid) {
    const std::string text = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

} // namespace stayloom::testing
