#include <NodwardenCore/AgentResolver.hpp>

#include <NodwardenCore/Models.hpp>
#include <NodwardenCore/UnicodeText.hpp>

#include <algorithm>
#include <mutex>
#include <utility>

namespace nodwarden {
namespace {

/// The non-empty pieces of `text` between occurrences of `separator`.
std::vector<std::string_view> splitDroppingEmpty(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) {
            pieces.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

bool listsIgnoringCase(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& candidate) {
        return UnicodeText::equalsIgnoringCase(candidate, name);
    });
}

/// Hosts already reported in this run, shared by every resolver; the callback is read under the
/// same lock so that installing it races with no report.
struct UnmatchedHostReports {
    std::mutex lock;
    std::set<std::string> reportedUnmatchedHostBundles;
    AgentResolver::UnmatchedHostCallback callback;

    static UnmatchedHostReports& shared() {
        static UnmatchedHostReports reports;
        return reports;
    }
};

void reportUnmatchedHost(const std::string& host, const std::string& binary) {
    UnmatchedHostReports& reports = UnmatchedHostReports::shared();
    AgentResolver::UnmatchedHostCallback callback;
    bool isNew = false;
    {
        const std::lock_guard guard(reports.lock);
        isNew = reports.reportedUnmatchedHostBundles.insert(UnicodeText::foldCase(host)).second;
        callback = reports.callback;
    }
    // Called outside the lock so the callback may log or take locks of its own.
    if (isNew && callback) {
        callback(host, binary);
    }
}

} // namespace

AgentResolver::AgentResolver(std::vector<AgentProfile> watched) : profiles(std::move(watched)) {}

AgentResolver AgentResolver::make(const GuardSettings& settings) {
    std::vector<AgentProfile> watched;
    for (AgentProfile& profile : AgentCatalog::builtin()) {
        const auto& disabled = settings.disabledAgentIDs;
        const bool isDisabled =
            std::find(disabled.begin(), disabled.end(), profile.id) != disabled.end();
        const bool isHiddenBrowser =
            !settings.enableBrowsers && profile.kind == AgentProfile::Kind::browser;
        if (!isDisabled && !isHiddenBrowser) {
            watched.push_back(std::move(profile));
        }
    }
    return AgentResolver(std::move(watched));
}

std::optional<AgentProfile> AgentResolver::profileForBundleID(std::string_view bundleID) const {
    for (const AgentProfile& profile : profiles) {
        if (listsIgnoringCase(profile.bundleIDs, bundleID)) {
            return profile;
        }
    }
    return std::nullopt;
}

std::optional<AgentProfile> AgentResolver::profileForCommandPath(std::string_view path,
                                                                 std::string_view arguments) const {
    std::string line(path);
    line += ' ';
    line += arguments;
    if (const AgentProfile* marked = firstWithPathMarkerIn(UnicodeText::foldCase(line))) {
        return *marked;
    }

    if (const auto host = appBundleName(path)) {
        if (const AgentProfile* app = firstWithAppBundleName(*host)) {
            return *app;
        }
        // An agent program shipped inside some other application is that application's helper,
        // not the agent the user runs.
        if (const auto binary = knownProgramCarriedBy(path, arguments)) {
            reportUnmatchedHost(*host, *binary);
        }
        return std::nullopt;
    }

    const std::string base = UnicodeText::foldCase(basename(path));
    if (base.empty()) {
        return std::nullopt;
    }
    if (const AgentProfile* program = firstWithProcessName(base)) {
        return *program;
    }
    if (interpreters().count(base) != 0) {
        for (const std::string_view piece : splitDroppingEmpty(arguments, ' ')) {
            if (const AgentProfile* script = firstWithProcessName(basename(piece))) {
                return *script;
            }
        }
    }
    return std::nullopt;
}

std::vector<AgentProfile> AgentResolver::terminalScanProfiles() const {
    std::vector<AgentProfile> scanned;
    std::copy_if(profiles.begin(), profiles.end(), std::back_inserter(scanned),
                 [](const AgentProfile& profile) { return profile.scanTerminalText; });
    return scanned;
}

std::optional<std::string> AgentResolver::appBundleName(std::string_view path) {
    constexpr std::string_view ending = ".app";
    for (const std::string_view piece : splitDroppingEmpty(path, '/')) {
        // A folder called just ".app" names no application; treating it as a nameless bundle
        // would hide every agent below it.
        if (piece.size() > ending.size() && piece.ends_with(ending)) {
            return std::string(piece.substr(0, piece.size() - ending.size()));
        }
    }
    return std::nullopt;
}

std::string AgentResolver::basename(std::string_view path) {
    const auto pieces = splitDroppingEmpty(path, '/');
    return std::string(pieces.empty() ? path : pieces.back());
}

const std::set<std::string>& AgentResolver::interpreters() {
    static const std::set<std::string> names = {"node", "node_repl", "python", "python3", "ruby",
                                                "deno", "bun",       "npx",    "uv",      "uvx"};
    return names;
}

AgentResolver::UnmatchedHostCallback AgentResolver::onUnmatchedHostBundle() {
    UnmatchedHostReports& reports = UnmatchedHostReports::shared();
    const std::lock_guard guard(reports.lock);
    return reports.callback;
}

void AgentResolver::setOnUnmatchedHostBundle(UnmatchedHostCallback callback) {
    UnmatchedHostReports& reports = UnmatchedHostReports::shared();
    const std::lock_guard guard(reports.lock);
    reports.callback = std::move(callback);
}

const AgentProfile* AgentResolver::firstWithProcessName(std::string_view name) const {
    for (const AgentProfile& profile : profiles) {
        if (listsIgnoringCase(profile.cliProcessNames, name)) {
            return &profile;
        }
    }
    return nullptr;
}

const AgentProfile* AgentResolver::firstWithPathMarkerIn(std::string_view foldedLine) const {
    for (const AgentProfile& profile : profiles) {
        for (const std::string& marker : profile.cliPathMarkers) {
            if (foldedLine.find(UnicodeText::foldCase(marker)) != std::string_view::npos) {
                return &profile;
            }
        }
    }
    return nullptr;
}

const AgentProfile* AgentResolver::firstWithAppBundleName(std::string_view host) const {
    for (const AgentProfile& profile : profiles) {
        if (listsIgnoringCase(profile.appBundleNames, host)) {
            return &profile;
        }
    }
    return nullptr;
}

std::optional<std::string> AgentResolver::knownProgramCarriedBy(std::string_view path,
                                                                std::string_view arguments) const {
    std::vector<std::string> candidates = {basename(path)};
    for (const std::string_view piece : splitDroppingEmpty(arguments, ' ')) {
        candidates.push_back(basename(piece));
    }
    for (const std::string& candidate : candidates) {
        if (firstWithProcessName(candidate) != nullptr) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace nodwarden
