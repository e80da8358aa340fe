#include <NodwardenApp/model/FirstRunFlow.hpp>

#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/model/StoredValue.hpp>
#include <NodwardenCore/model/Notices.hpp>
#include <NodwardenCore/model/StoredKeys.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <QSettings>

#include <optional>
#include <string>
#include <utility>

namespace nodwarden::app {

using detail::assignIfChanged;
using detail::qstring;

FirstRunFlow::FirstRunFlow(QSettings& defaults, WindowPresenter& windows,
                           const PlatformWording& wording, FileLogger& logger,
                           std::function<Date()> clock, QObject* parent)
    : QObject(parent), defaults_(defaults), windows_(windows), wording_(wording), logger_(logger),
      clock_(std::move(clock)) {}

void FirstRunFlow::begin() {
    const QVariant accepted = defaults_.value(qstring(StoredKeys::acceptedLegalVersion));
    setNeedsLegalAcceptance(Legal::needsAcceptance(
        accepted.isValid() ? std::optional<std::string>(accepted.toString().toStdString())
                           : std::nullopt,
        wording_.legalVersion.toStdString()));
    if (needsLegalAcceptance_) {
        windows_.presentLegalWindow();
    }
    presentOnboardingIfNeeded();
}

void FirstRunFlow::presentOnboardingIfNeeded() {
    const bool completed =
        defaults_.value(qstring(StoredKeys::hasCompletedOnboarding), false).toBool();
    if (Onboarding::needsOnboarding(completed, needsLegalAcceptance_)) {
        windows_.presentOnboardingWindow();
    }
}

void FirstRunFlow::acceptLegal() {
    defaults_.setValue(qstring(StoredKeys::acceptedLegalVersion), wording_.legalVersion);
    defaults_.setValue(qstring(StoredKeys::acceptedLegalDate), StoredValue::date(clock_()));
    setNeedsLegalAcceptance(false);
    logger_.log("Accepted legal v" + wording_.legalVersion.toStdString());
    // Closed whoever opened it; the presenter ignores a window that is not open.
    windows_.closeLegalWindow();
    presentOnboardingIfNeeded();
}

void FirstRunFlow::windowWillClose(AppWindow window) {
    // The presenter owns the windows themselves; only the first run's end is of concern here.
    if (window == AppWindow::onboarding) {
        defaults_.setValue(qstring(StoredKeys::hasCompletedOnboarding), true);
        logger_.log("Onboarding completed");
    }
}

void FirstRunFlow::setNeedsLegalAcceptance(bool needed) {
    assignIfChanged(needsLegalAcceptance_, needed, [this] { emit needsLegalAcceptanceChanged(); });
}

} // namespace nodwarden::app
