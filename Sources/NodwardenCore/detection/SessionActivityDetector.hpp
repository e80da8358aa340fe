#pragma once

#include <NodwardenCore/Export.hpp>
#include <NodwardenCore/catalog/AgentCatalog.hpp>
#include <NodwardenCore/detection/FileActivityProbe.hpp>
#include <NodwardenCore/model/ActivitySignal.hpp>
#include <NodwardenCore/model/Date.hpp>
#include <NodwardenCore/model/GuardSettings.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Turns the modification times of agents' session files into signals (a file changed within
/// the freshness window means work) and into per-agent session counts (transcripts changed
/// within the count window).
class SessionActivityDetector {
public:
    /// Seconds within which a changed session file counts as work.
    static constexpr double defaultFreshnessWindow = 60;
    /// Seconds within which a changed transcript counts as a running session.
    static constexpr double defaultSessionCountWindow = 300;

    /// On `hostSystem`, profiles whose program is not made for it get neither signals nor counts:
    /// the files their patterns match there were written by another program. Without one, every
    /// profile's files count.
    explicit SessionActivityDetector(std::shared_ptr<const FileActivityProbing> probe,
                                     std::optional<HostSystem> hostSystem = std::nullopt);

    /// One `strong` signal per watched agent with a session file changed within
    /// `freshnessWindow` seconds before `now`, in catalog order.
    std::vector<ActivitySignal> detectPerApp(const GuardSettings& settings, Date now,
                                             double freshnessWindow = defaultFreshnessWindow) const;

    /// For every watched agent with count patterns, by display name: how many of its transcripts
    /// (not sub-agent ones) changed within `window` seconds before `now`, 0 included.
    std::map<std::string, int> sessionCountsPerApp(const GuardSettings& settings, Date now,
                                                   double window = defaultSessionCountWindow) const;

    /// A `strong` signal named `name` when `newestModification` lies at most `freshnessWindow`
    /// seconds before `now` (a future time counts as now); otherwise no value.
    static std::optional<ActivitySignal> signalFor(const std::string& name,
                                                   std::optional<Date> newestModification, Date now,
                                                   double freshnessWindow);

    const FileActivityProbing& probe() const { return *probe_; }

private:
    /// Whether files matching `profile`'s patterns can have been written by its program here.
    bool madeForThisSystem(const AgentProfile& profile) const;

    std::shared_ptr<const FileActivityProbing> probe_;
    std::optional<HostSystem> hostSystem_;
};

} // namespace nodwarden
