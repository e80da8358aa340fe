#include <NodwardenApp/model/AppModel.hpp>

#include <NodwardenApp/model/CommandRunRows.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <QCoreApplication>

namespace nodwarden::app {

// What the commands `stayloom run` keeps awake change in the model: the headline and the locks.

namespace {

/// A program's name as the headline shows it: one line, and no backquote to end the quoting.
std::string shownProgramName(const std::string& name) {
    std::string shown;
    for (const char character : name) {
        const auto byte = static_cast<unsigned char>(character);
        shown += byte < 0x20 || byte == 0x7F ? '?' : character == '`' ? '\'' : character;
    }
    return shown;
}

} // namespace

void AppModel::commandRunStarted(std::int32_t pid, const std::string& name) {
    commandRuns_->started(pid, name);
}

void AppModel::commandRunEnded(std::int32_t pid) {
    commandRuns_->ended(pid);
}

bool AppModel::isKeptAwake() const {
    return sleep_->sleepPreventionEnabled() || !commandRuns_->empty();
}

GuardStatus AppModel::shownStatus(GuardStatus decided) const {
    if (commandRuns_->empty() || decided == GuardStatus::keepingAwake ||
        decided == GuardStatus::pluggedInUnlimited) {
        return decided;
    }
    return GuardStatus::keepingAwake;
}

std::optional<QString> AppModel::commandRunReason(GuardStatus decided) const {
    if (shownStatus(decided) == decided) {
        return std::nullopt;
    }
    std::string names;
    for (const std::string& name : commandRuns_->names()) {
        names += (names.empty() ? "`" : ", `") + shownProgramName(name) + "`";
    }
    return tr("Kept awake for %1 (stayloom run)").arg(detail::qstring(names));
}

void AppModel::republishForCommandRuns() {
    emit keptAwakeChanged();
    // The rows and the headline are worked out again from the last inputs.
    published_->setBasis(std::nullopt);
    if (lastInputs_ && !firstRun_->needsLegalAcceptance()) {
        evaluateAndApply(lastInputs_->power, lastInputs_->lid, lastInputs_->perApp, false);
    }
}

void AppModel::refreshKeepAwakeLocks() {
    KeepAwakeLocks locks;
    if (environment_.keepAwakeLocks && isKeptAwake()) {
        locks = environment_.keepAwakeLocks();
    }
    published_->setKeepAwakeLocks(std::move(locks));
}

} // namespace nodwarden::app
