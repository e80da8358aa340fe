#include <NodwardenCore/catalog/AgentResolver.hpp>

#include <NodwardenCore/model/GuardSettings.hpp>
#include <NodwardenCore/system/AsciiText.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

namespace nodwarden {
namespace {

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

/// Calls `body` with each non-empty piece of `text` between occurrences of `separator`, in order,
/// until it returns true; returns whether it did. Nothing is copied.
template <typename Body> bool anyPiece(std::string_view text, char separator, Body body) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start && body(text.substr(start, end - start))) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

/// The last non-empty "/"-separated piece of `path`; `path` itself when it has none.
std::string_view basenameView(std::string_view path) {
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] == '/') {
        --end;
    }
    if (end == 0) {
        return path;
    }
    const std::size_t slash = path.rfind('/', end - 1);
    const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    return path.substr(start, end - start);
}

/// `equalsIgnoringCase` for many candidates against one name: two ASCII texts (by far the usual
/// case) are compared byte by byte, and texts of different lengths need no comparing at all.
class NameComparison {
public:
    explicit NameComparison(std::string_view name) : name_(name), nameIsASCII_(isASCII(name)) {}

    bool matches(std::string_view candidate) const {
        if (nameIsASCII_ && isASCII(candidate)) {
            return candidate.size() == name_.size() &&
                   std::equal(
                       candidate.begin(), candidate.end(), name_.begin(),
                       [](char x, char y) { return AsciiText::lower(x) == AsciiText::lower(y); });
        }
        return UnicodeText::equalsIgnoringCase(candidate, name_);
    }

    bool listedIn(const std::vector<std::string>& names) const {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string& candidate) { return matches(candidate); });
    }

private:
    std::string_view name_;
    bool nameIsASCII_;
};

/// Calls `body` with each word after the program's own name (`profile`'s, whether the program runs
/// directly or under an interpreter) and its index among them, until it returns true; returns
/// whether it did.
template <typename Body>
bool anyWordAfterProgram(const AgentProfile& profile, std::string_view arguments, Body body) {
    bool afterProgram = false;
    std::size_t index = 0;
    return anyPiece(arguments, ' ', [&](std::string_view word) {
        if (afterProgram) {
            return body(word, index++);
        }
        afterProgram = NameComparison(basenameView(word)).listedIn(profile.cliProcessNames);
        return false;
    });
}

bool listed(const std::vector<std::string>& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

/// Whether the case-folded `foldedLine` contains `marker` once folded. An ASCII marker (every
/// built-in one) is folded byte by byte while comparing instead of into a copy, and the scan jumps
/// between occurrences of its first character other than "/", of which paths are full.
bool containsFoldedMarker(std::string_view foldedLine, std::string_view marker) {
    if (!isASCII(marker)) {
        return foldedLine.find(UnicodeText::foldCase(marker)) != std::string_view::npos;
    }
    const std::size_t anchor = marker.find_first_not_of('/');
    if (anchor == std::string_view::npos) {
        return foldedLine.find(marker) != std::string_view::npos;
    }
    const char key = AsciiText::lower(marker[anchor]);
    const char* const begin = foldedLine.data();
    std::size_t from = anchor;
    while (from < foldedLine.size()) {
        const void* hit = std::memchr(begin + from, key, foldedLine.size() - from);
        if (hit == nullptr) {
            return false;
        }
        const std::size_t start =
            static_cast<std::size_t>(static_cast<const char*>(hit) - begin) - anchor;
        if (start + marker.size() > foldedLine.size()) {
            return false;
        }
        if (std::equal(marker.begin(), marker.end(), begin + start,
                       [](char m, char l) { return AsciiText::lower(m) == l; })) {
            return true;
        }
        from = start + anchor + 1;
    }
    return false;
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

std::shared_ptr<const AgentResolver> AgentResolver::shared(const GuardSettings& settings) {
    // The last choice made: settings change seldom, and the main thread and the detection queue
    // ask with equal copies.
    static std::mutex mutex;
    static std::vector<std::string> lastDisabled;
    static bool lastBrowsers = false;
    static std::shared_ptr<const AgentResolver> last;
    const std::lock_guard lock(mutex);
    if (!last || lastDisabled != settings.disabledAgentIDs ||
        lastBrowsers != settings.enableBrowsers) {
        last = std::make_shared<const AgentResolver>(make(settings));
        lastDisabled = settings.disabledAgentIDs;
        lastBrowsers = settings.enableBrowsers;
    }
    return last;
}

std::optional<AgentProfile> AgentResolver::profileForBundleID(std::string_view bundleID) const {
    const NameComparison wanted(bundleID);
    for (const AgentProfile& profile : profiles) {
        if (wanted.listedIn(profile.bundleIDs)) {
            return profile;
        }
    }
    return std::nullopt;
}

std::optional<AgentProfile> AgentResolver::profileForCommandPath(std::string_view path,
                                                                 std::string_view arguments) const {
    if (const AgentProfile* profile = findProfileForCommandPath(path, arguments)) {
        return *profile;
    }
    return std::nullopt;
}

const AgentProfile* AgentResolver::findProfileForCommandPath(std::string_view path,
                                                             std::string_view arguments) const {
    const AgentProfile* profile = matchCommandPath(path, arguments);
    return profile != nullptr && isBackgroundHelper(*profile, arguments) ? nullptr : profile;
}

bool AgentResolver::isBackgroundHelper(const AgentProfile& profile, std::string_view arguments) {
    if (profile.backgroundSubcommands.empty()) {
        return false;
    }
    bool background = false;
    anyWordAfterProgram(profile, arguments, [&](std::string_view word, std::size_t) {
        background = listed(profile.backgroundSubcommands, word);
        return true;
    });
    return background;
}

bool AgentResolver::isOneShotRun(const AgentProfile& profile, std::string_view arguments) {
    if (profile.oneShotArguments.empty()) {
        return false;
    }
    const bool oneShot =
        anyWordAfterProgram(profile, arguments, [&](std::string_view word, std::size_t index) {
            if (!word.starts_with('-')) {
                return index == 0 && listed(profile.oneShotArguments, word);
            }
            // An option may carry its value after "=".
            return listed(profile.oneShotArguments, word.substr(0, word.find('=')));
        });
    if (!oneShot || profile.promptStreamArguments.empty()) {
        return oneShot;
    }
    // "--option=value" given as one word or as two.
    std::string_view previous;
    return !anyWordAfterProgram(profile, arguments, [&](std::string_view word, std::size_t) {
        const bool streams = std::any_of(
            profile.promptStreamArguments.begin(), profile.promptStreamArguments.end(),
            [&](const std::string& option) {
                const std::size_t equals = option.find('=');
                return word == option || (equals != std::string::npos &&
                                          previous == std::string_view(option).substr(0, equals) &&
                                          word == std::string_view(option).substr(equals + 1));
            });
        previous = word;
        return streams;
    });
}

const AgentProfile* AgentResolver::matchCommandPath(std::string_view path,
                                                    std::string_view arguments) const {
    std::string line;
    line.reserve(path.size() + 1 + arguments.size());
    line += path;
    line += ' ';
    line += arguments;
    // Folding ASCII is lower-casing, which the line's own copy can take without another copy.
    if (isASCII(line)) {
        std::transform(line.begin(), line.end(), line.begin(), AsciiText::lower);
    } else {
        line = UnicodeText::foldCase(line);
    }
    if (const AgentProfile* marked = firstWithPathMarkerIn(line)) {
        return marked;
    }

    if (const auto host = appBundleName(path)) {
        if (const AgentProfile* app = firstWithAppBundleName(*host)) {
            return app;
        }
        // An agent program shipped inside some other application is that application's helper,
        // not the agent the user runs.
        if (const auto binary = knownProgramCarriedBy(path, arguments)) {
            reportUnmatchedHost(*host, *binary);
        }
        return nullptr;
    }

    const std::string base = UnicodeText::foldCase(basenameView(path));
    if (base.empty()) {
        return nullptr;
    }
    if (const AgentProfile* program = firstWithProcessName(base)) {
        return program;
    }
    if (interpreters().count(base) == 0) {
        return nullptr;
    }
    const AgentProfile* script = nullptr;
    anyPiece(arguments, ' ', [&](std::string_view piece) {
        script = firstWithProcessName(basenameView(piece));
        return script != nullptr;
    });
    return script;
}

std::vector<AgentProfile> AgentResolver::terminalScanProfiles() const {
    std::vector<AgentProfile> scanned;
    std::copy_if(profiles.begin(), profiles.end(), std::back_inserter(scanned),
                 [](const AgentProfile& profile) { return profile.scanTerminalText; });
    return scanned;
}

std::optional<std::string> AgentResolver::appBundleName(std::string_view path) {
    constexpr std::string_view ending = ".app";
    std::optional<std::string> name;
    anyPiece(path, '/', [&](std::string_view piece) {
        // A folder called just ".app" names no application; treating it as a nameless bundle
        // would hide every agent below it.
        if (piece.size() > ending.size() && piece.ends_with(ending)) {
            name.emplace(piece.substr(0, piece.size() - ending.size()));
            return true;
        }
        return false;
    });
    return name;
}

std::string AgentResolver::basename(std::string_view path) {
    return std::string(basenameView(path));
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
    const NameComparison wanted(name);
    for (const AgentProfile& profile : profiles) {
        if (wanted.listedIn(profile.cliProcessNames)) {
            return &profile;
        }
    }
    return nullptr;
}

const AgentProfile* AgentResolver::firstWithPathMarkerIn(std::string_view foldedLine) const {
    for (const AgentProfile& profile : profiles) {
        for (const std::string& marker : profile.cliPathMarkers) {
            if (containsFoldedMarker(foldedLine, marker)) {
                return &profile;
            }
        }
    }
    return nullptr;
}

const AgentProfile* AgentResolver::firstWithAppBundleName(std::string_view host) const {
    const NameComparison wanted(host);
    for (const AgentProfile& profile : profiles) {
        if (wanted.listedIn(profile.appBundleNames)) {
            return &profile;
        }
    }
    return nullptr;
}

std::optional<std::string> AgentResolver::knownProgramCarriedBy(std::string_view path,
                                                                std::string_view arguments) const {
    std::string_view carried = basenameView(path);
    if (firstWithProcessName(carried) == nullptr &&
        !anyPiece(arguments, ' ', [&](std::string_view piece) {
            carried = basenameView(piece);
            return firstWithProcessName(carried) != nullptr;
        })) {
        return std::nullopt;
    }
    return std::string(carried);
}

} // namespace nodwarden
