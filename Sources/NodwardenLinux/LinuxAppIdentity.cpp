#include <NodwardenLinux/LinuxAppIdentity.hpp>

#include <NodwardenCore/system/UnicodeText.hpp>

#include <map>

namespace nodwarden::linuxplatform {

namespace {

// Keys are lower case. Electron editors often report their executable name as their accessible
// name, so both spellings appear.
const std::map<std::string, LinuxAppIdentity, std::less<>>& aliasTable() {
    static const std::map<std::string, LinuxAppIdentity, std::less<>> table = {
        {"code", {"com.microsoft.vscode", "Visual Studio Code"}},
        {"code-oss", {"com.microsoft.vscode", "Visual Studio Code"}},
        {"visual studio code", {"com.microsoft.vscode", "Visual Studio Code"}},
        {"com.visualstudio.code", {"com.microsoft.vscode", "Visual Studio Code"}},
        {"cursor", {"com.todesktop.230313mzl4w4u92", "Cursor"}},
        {"co.anysphere.cursor", {"com.todesktop.230313mzl4w4u92", "Cursor"}},
        {"windsurf", {"com.exafunction.windsurf", "Windsurf"}},
        {"zed", {"dev.zed.zed", "Zed"}},
        {"zeditor", {"dev.zed.zed", "Zed"}},
        {"dev.zed.zed", {"dev.zed.zed", "Zed"}},
        {"kiro", {"dev.kiro.desktop", "Kiro"}},
        {"antigravity", {"com.google.antigravity", "Antigravity"}},
        {"com.google.antigravity", {"com.google.antigravity", "Antigravity"}},
        {"trae", {"com.trae.app", "Trae"}},
        {"google-chrome", {"com.google.chrome", "Google Chrome"}},
        {"google-chrome-stable", {"com.google.chrome", "Google Chrome"}},
        {"chrome", {"com.google.chrome", "Google Chrome"}},
        {"google chrome", {"com.google.chrome", "Google Chrome"}},
        {"com.google.chrome", {"com.google.chrome", "Google Chrome"}},
        // The other browsers by executable, desktop-file id and Flatpak id.
        {"firefox", {"org.mozilla.firefox", "Firefox"}},
        {"firefox-esr", {"org.mozilla.firefox", "Firefox"}},
        {"firefox-bin", {"org.mozilla.firefox", "Firefox"}},
        {"org.mozilla.firefox", {"org.mozilla.firefox", "Firefox"}},
        {"chromium", {"org.chromium.chromium", "Chromium"}},
        {"chromium-browser", {"org.chromium.chromium", "Chromium"}},
        {"org.chromium.chromium", {"org.chromium.chromium", "Chromium"}},
        {"brave", {"com.brave.browser", "Brave"}},
        {"brave-browser", {"com.brave.browser", "Brave"}},
        {"brave-browser-stable", {"com.brave.browser", "Brave"}},
        {"com.brave.browser", {"com.brave.browser", "Brave"}},
        {"microsoft-edge", {"com.microsoft.edge", "Microsoft Edge"}},
        {"microsoft-edge-stable", {"com.microsoft.edge", "Microsoft Edge"}},
        {"msedge", {"com.microsoft.edge", "Microsoft Edge"}},
        {"com.microsoft.edge", {"com.microsoft.edge", "Microsoft Edge"}},
        {"vivaldi", {"com.vivaldi.vivaldi", "Vivaldi"}},
        {"vivaldi-stable", {"com.vivaldi.vivaldi", "Vivaldi"}},
        {"vivaldi-bin", {"com.vivaldi.vivaldi", "Vivaldi"}},
        {"com.vivaldi.vivaldi", {"com.vivaldi.vivaldi", "Vivaldi"}},
        {"claude-desktop", {"com.anthropic.claudefordesktop", "Claude"}},
        {"io.github.aaddrick.claude-desktop", {"com.anthropic.claudefordesktop", "Claude"}},
        {"chatgpt", {"com.openai.chat", "ChatGPT"}},
        {"kitty", {"net.kovidgoyal.kitty", "kitty"}},
        {"alacritty", {"io.alacritty", "Alacritty"}},
        {"wezterm", {"com.github.wez.wezterm", "WezTerm"}},
        {"wezterm-gui", {"com.github.wez.wezterm", "WezTerm"}},
        {"org.wezfurlong.wezterm", {"com.github.wez.wezterm", "WezTerm"}},
        {"ghostty", {"com.mitchellh.ghostty", "Ghostty"}},
        {"com.mitchellh.ghostty", {"com.mitchellh.ghostty", "Ghostty"}},
        {"warp-terminal", {"dev.warp.warp-stable", "Warp"}},
        {"dev.warp.warp", {"dev.warp.warp-stable", "Warp"}},
        // Terminals of the Linux desktops whose text is readable through accessibility.
        {"gnome-terminal", {"org.gnome.terminal", "Terminal"}},
        {"gnome-terminal-server", {"org.gnome.terminal", "Terminal"}},
        {"org.gnome.terminal", {"org.gnome.terminal", "Terminal"}},
        {"ptyxis", {"org.gnome.ptyxis", "Ptyxis"}},
        {"org.gnome.ptyxis", {"org.gnome.ptyxis", "Ptyxis"}},
        {"konsole", {"org.kde.konsole", "Konsole"}},
        {"org.kde.konsole", {"org.kde.konsole", "Konsole"}},
        {"xfce4-terminal", {"org.xfce.terminal", "Xfce Terminal"}},
        {"tilix", {"com.gexperts.tilix", "Tilix"}},
        {"com.gexperts.tilix", {"com.gexperts.tilix", "Tilix"}},
        {"terminator", {"org.gnome.terminator", "Terminator"}},
    };
    return table;
}

} // namespace

std::optional<LinuxAppIdentity> identityForLinuxName(std::string_view name) {
    std::string key = UnicodeText::foldCase(UnicodeText::trimmed(name));
    constexpr std::string_view suffix = ".desktop";
    if (key.size() > suffix.size() &&
        key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
        key.resize(key.size() - suffix.size());
    }
    const auto& table = aliasTable();
    if (const auto it = table.find(key); it != table.end()) {
        return it->second;
    }
    return std::nullopt;
}

std::vector<std::string> linuxNamesForBundleID(std::string_view bundleIdentifier) {
    std::vector<std::string> names;
    for (const auto& [name, identity] : aliasTable()) {
        if (identity.bundleIdentifier == bundleIdentifier) {
            names.push_back(name);
        }
    }
    return names;
}

const std::set<std::string>& linuxTerminalBundleIDs() {
    static const std::set<std::string> ids = {"org.gnome.terminal", "org.gnome.ptyxis",
                                              "org.kde.konsole",    "org.xfce.terminal",
                                              "com.gexperts.tilix", "org.gnome.terminator"};
    return ids;
}

} // namespace nodwarden::linuxplatform
