#include <NodwardenApp/model/AgentRows.hpp>

#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenCore/catalog/AgentAppName.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>

#include <QCoreApplication>

#include <algorithm>
#include <map>
#include <set>
#include <string_view>
#include <utility>

namespace nodwarden::app {
namespace {

constexpr std::string_view separator = " \u00B7 ";

/// The strongest signal of each agent name, in the order the names were first met. Keeping that
/// order (rather than a hash or sorted order) makes the lead agent among equals deterministic.
std::vector<std::pair<std::string, ActivitySignal>>
strongestSignalPerName(const std::vector<ActivitySignal>& perApp) {
    std::vector<std::pair<std::string, ActivitySignal>> kept;
    std::map<std::string, std::size_t> indexByName;
    for (const ActivitySignal& signal : perApp) {
        if (!signal.appName || signal.appName->empty()) {
            continue;
        }
        const std::string& name = *signal.appName;
        if (auto found = indexByName.find(name); found != indexByName.end()) {
            ActivitySignal& stored = kept[found->second].second;
            if (signal.strength > stored.strength) {
                stored = signal;
            }
        } else if (signal.strength > SignalStrength::none) {
            indexByName.emplace(name, kept.size());
            kept.emplace_back(name, signal);
        }
    }
    return kept;
}

std::optional<std::string>
leadAgentName(const std::vector<std::pair<std::string, ActivitySignal>>& kept) {
    const auto lead = std::max_element(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
        return a.second.strength < b.second.strength;
    });
    if (lead == kept.end()) {
        return std::nullopt;
    }
    return lead->first;
}

/// Profiles of the agents watched under `settings`, by display name; the first wins on a clash.
std::map<std::string, AgentProfile> profilesByDisplayName(const GuardSettings& settings) {
    std::map<std::string, AgentProfile> byName;
    for (AgentProfile& profile : AgentResolver::make(settings).profiles) {
        byName.try_emplace(profile.displayName, std::move(profile));
    }
    return byName;
}

std::string_view symbolFor(AgentProfile::Kind kind) {
    switch (kind) {
    case AgentProfile::Kind::desktopAI:
        return "sparkles";
    case AgentProfile::Kind::editor:
        return "chevron.left.forwardslash.chevron.right";
    case AgentProfile::Kind::browser:
        return "globe";
    case AgentProfile::Kind::cli:
        return "terminal";
    }
    return "terminal";
}

std::string translated(const char* text) {
    return QCoreApplication::translate("AgentRows", text).toStdString();
}

std::optional<std::string> sessionsText(bool isCLI, const ActivitySignal& signal) {
    if (!isCLI || !signal.sessionCount || *signal.sessionCount < 1) {
        return std::nullopt;
    }
    if (*signal.sessionCount == 1) {
        return QCoreApplication::translate("AgentRows", "1 session").toStdString();
    }
    return QCoreApplication::translate("AgentRows", "%1 sessions")
        .arg(*signal.sessionCount)
        .toStdString();
}

/// The signal's reason, shortened for a row: CPU and screen-text findings by their kind.
std::string rowReason(const ActivitySignal& signal, const PlatformWording& wording) {
    if (wording.showsLibraryTexts && signal.reasonCode == ReasonCode::outOfReach) {
        // Out of reach, the whole reason is the news: cleaned, it would read as mere CPU activity.
        return signal.reason;
    }
    if (wording.showsLibraryTexts || signal.reasonCode == ReasonCode::unspecified) {
        return AgentAppName::cleanedReason(signal.reason);
    }
    switch (signal.reasonCode) {
    case ReasonCode::cpuAboveThreshold:
        return QCoreApplication::translate("AgentRows", "CPU activity").toStdString();
    case ReasonCode::processRunning:
        return QCoreApplication::translate("AgentRows", "running").toStdString();
    default:
        return ReasonTexts::signal(signal, wording).toStdString();
    }
}

/// `text`, preceded by the sessions text and the separator when there is one.
std::string withSessions(const std::optional<std::string>& sessions, const std::string& text) {
    if (!sessions) {
        return text;
    }
    return *sessions + std::string(separator) + text;
}

struct RowContext {
    const std::set<std::string>& cliNames;
    const std::map<std::string, AgentProfile>& profiles;
    const std::optional<std::string>& leadName;
    GuardStatus status;
    const PlatformWording& wording;
};

AgentStatusRow makeRow(const std::string& name, const ActivitySignal& signal,
                       const RowContext& context) {
    const bool isCLI = context.cliNames.contains(name);
    const bool isGraceLead = context.status == GuardStatus::idleGrace && context.leadName == name;
    const std::optional<std::string> sessions = sessionsText(isCLI, signal);
    const std::string reason = rowReason(signal, context.wording);

    AgentStatusRow row;
    row.name = name;
    if (signal.decidedBy) {
        row.decidedBy = std::string(rawValue(*signal.decidedBy));
    }
    if (signal.waitingForUser) {
        // Waiting is not work, whether or not the user keeps the machine awake through it.
        row.state = "waiting for you";
        row.isWaiting = true;
        row.detail = withSessions(sessions, reason);
    } else {
        switch (signal.strength) {
        case SignalStrength::strong: {
            std::string text = signal.matchedText ? *signal.matchedText
                               : !reason.empty()
                                   ? reason
                                   : translated(QT_TRANSLATE_NOOP("AgentRows", "active"));
            row.state = "working";
            row.isWorking = true;
            row.detail = withSessions(sessions, text);
            break;
        }
        case SignalStrength::weak:
            row.state = "probably working";
            row.isWorking = true;
            row.detail = withSessions(sessions, reason);
            break;
        case SignalStrength::presence:
        case SignalStrength::none:
            if (isGraceLead) {
                // Waiting out the grace is not work: the summary and scripts must not count it.
                row.state = "grace";
                row.isWorking = false;
                row.detail = sessions.value_or(
                    translated(QT_TRANSLATE_NOOP("AgentRows", "recent activity")));
            } else {
                row.state = "idle";
                row.isWorking = false;
                // A witness that decided says why; without one the row says only what runs.
                const bool said = signal.decidedBy && (signal.decidedBy != DecidingWitness::cpu ||
                                                       signal.reasonCode == ReasonCode::outOfReach);
                row.detail =
                    said && !reason.empty()
                        ? withSessions(sessions, reason)
                        : sessions.value_or(
                              isCLI ? translated(QT_TRANSLATE_NOOP("AgentRows", "session open"))
                                    : translated(QT_TRANSLATE_NOOP("AgentRows", "running")));
            }
            break;
        }
    }

    if (auto found = context.profiles.find(name); found != context.profiles.end()) {
        const AgentProfile& profile = found->second;
        if (profile.iconBundleID) {
            row.bundleID = profile.iconBundleID;
        } else if (!profile.bundleIDs.empty()) {
            row.bundleID = profile.bundleIDs.front();
        }
        row.symbol = symbolFor(profile.kind);
    } else {
        row.symbol = "app.dashed";
    }
    return row;
}

} // namespace

std::vector<AgentStatusRow> buildAgentRows(const std::vector<ActivitySignal>& perApp,
                                           GuardStatus status, const GuardSettings& settings,
                                           const PlatformWording& wording) {
    const auto kept = strongestSignalPerName(perApp);
    const std::optional<std::string> leadName = leadAgentName(kept);
    const std::set<std::string> cliNames = AgentCatalog::cliAgentNames();
    const std::map<std::string, AgentProfile> profiles = profilesByDisplayName(settings);
    const RowContext context{cliNames, profiles, leadName, status, wording};

    std::vector<AgentStatusRow> rows;
    rows.reserve(kept.size());
    for (const auto& [name, signal] : kept) {
        rows.push_back(makeRow(name, signal, context));
    }
    // std::string compares bytes as unsigned char, so UTF-8 names sort in code-point order.
    // Working rows first, then the agent whose grace runs, then the rest.
    const auto rank = [](const AgentStatusRow& row) {
        return row.isWorking ? 0 : row.state == "grace" ? 1 : 2;
    };
    std::sort(rows.begin(), rows.end(), [&](const AgentStatusRow& a, const AgentStatusRow& b) {
        if (rank(a) != rank(b)) {
            return rank(a) < rank(b);
        }
        return a.name < b.name;
    });
    if (rows.size() > maxAgentRows) {
        rows.resize(maxAgentRows);
    }
    return rows;
}

std::vector<AgentStatusRow> buildAgentRows(const std::vector<ActivitySignal>& perApp,
                                           GuardStatus status, const GuardSettings& settings) {
    return buildAgentRows(perApp, status, settings, PlatformWording::current());
}

} // namespace nodwarden::app
