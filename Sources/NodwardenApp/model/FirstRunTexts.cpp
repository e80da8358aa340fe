#include <NodwardenApp/model/FirstRunTexts.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/LegalDocuments.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/ReasonTexts.hpp>
#include <NodwardenCore/catalog/AgentResolver.hpp>

#include <algorithm>
#include <optional>
#include <utility>

namespace nodwarden::app::FirstRun {

std::vector<LegalLink> legalLinks(const QString& base) {
    QString root = base;
    while (root.endsWith(u'/')) {
        root.chop(1);
    }
    std::vector<LegalLink> links;
    for (const LegalDocuments::Document& document : LegalDocuments::all()) {
        QString address;
        if (root.isEmpty()) {
            const QString file = LegalDocuments::localFile(document);
            address = file.isEmpty() ? LegalDocuments::resourceUrl(document).toString()
                                     : QUrl::fromLocalFile(file).toString();
        } else {
            address = root + u'/' + document.fileName;
        }
        links.push_back(
            {QCoreApplication::translate("FirstRun", document.text.toLatin1().constData()), address,
             document.objectName, LegalDocuments::resourceUrl(document)});
    }
    return links;
}

QString termsAddress(const QString& base) {
    for (const LegalLink& link : legalLinks(base)) {
        if (link.objectName == QLatin1String("termsLink")) {
            return link.address;
        }
    }
    return {};
}

std::vector<AgentGroup> agentGroups() {
    const std::vector<std::pair<AgentProfile::Kind, QString>> order = {
        {AgentProfile::Kind::cli, QCoreApplication::translate("FirstRun", "Command-line agents")},
        {AgentProfile::Kind::desktopAI, QCoreApplication::translate("FirstRun", "Desktop apps")},
        {AgentProfile::Kind::editor,
         QCoreApplication::translate("FirstRun", "Code editors & agentic IDEs")},
    };
    const std::vector<AgentProfile> catalog = AgentCatalog::offered();
    std::vector<AgentGroup> groups;
    for (const auto& [kind, caption] : order) {
        AgentGroup group{caption, {}};
        std::copy_if(catalog.begin(), catalog.end(), std::back_inserter(group.profiles),
                     [kind = kind](const AgentProfile& profile) { return profile.kind == kind; });
        groups.push_back(std::move(group));
    }
    return groups;
}

GuardSettings withAgentWatched(GuardSettings settings, const std::string& agentID, bool watched) {
    auto& disabled = settings.disabledAgentIDs;
    const auto found = std::find(disabled.begin(), disabled.end(), agentID);
    if (watched) {
        disabled.erase(std::remove(disabled.begin(), disabled.end(), agentID), disabled.end());
    } else if (found == disabled.end()) {
        disabled.push_back(agentID);
    }
    return settings;
}

QString accessibilityDetail(const GuardSettings& settings, const PlatformWording& wording) {
    const std::vector<AgentProfile> watched = AgentResolver::make(settings).profiles;
    return wording.accessibilityExplanation + ReasonTexts::onboardingNote(watched, wording);
}

Onboarding::DetectionHeadline detectionHeadline(const AppModel& model) {
    std::optional<std::string> firstAgent;
    if (!model.published().agentRows().empty()) {
        firstAgent = model.published().agentRows().front().name;
    }
    return ReasonTexts::detectionHeadline(model.published().lastSignalStrength(), firstAgent,
                                          model.wording());
}

} // namespace nodwarden::app::FirstRun
