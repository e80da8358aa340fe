#pragma once

#include <NodwardenApp/model/WindowPresenter.hpp>
#include <NodwardenCore/model/Date.hpp>

#include <QObject>

#include <functional>

class QSettings;

namespace nodwarden {
class FileLogger;
}

namespace nodwarden::app {

struct PlatformWording;

/// The first run: the terms to accept (again, when their version is newer than the one
/// accepted) and the onboarding tour, presented at start and remembered in the defaults.
class FirstRunFlow : public QObject {
    Q_OBJECT

public:
    /// Every reference must outlive this.
    FirstRunFlow(QSettings& defaults, WindowPresenter& windows, const PlatformWording& wording,
                 FileLogger& logger, std::function<Date()> clock, QObject* parent = nullptr);

    bool needsLegalAcceptance() const { return needsLegalAcceptance_; }

    /// Reads whether this version of the terms was accepted, then presents the terms and the
    /// onboarding windows where they are still to be seen.
    void begin();
    /// Records acceptance of the current terms, closes their window and presents onboarding.
    void acceptLegal();
    /// The user interface calls this for every one of the model's windows that closes: the
    /// onboarding window's closing completes the first run.
    void windowWillClose(AppWindow window);

signals:
    void needsLegalAcceptanceChanged();

private:
    void presentOnboardingIfNeeded();
    void setNeedsLegalAcceptance(bool needed);

    QSettings& defaults_;
    WindowPresenter& windows_;
    const PlatformWording& wording_;
    FileLogger& logger_;
    std::function<Date()> clock_;
    bool needsLegalAcceptance_ = false;
};

} // namespace nodwarden::app
