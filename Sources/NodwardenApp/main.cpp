#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/platform/HeadlessStatusPrinter.hpp>
#include <NodwardenApp/platform/HeadlessWindowPresenter.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenApp/platform/SignalQuit.hpp>
#include <NodwardenApp/platform/SingleInstance.hpp>
#include <NodwardenApp/platform/TerminalTermsPrompt.hpp>
#include <NodwardenApp/platform/UserInterface.hpp>
#include <NodwardenCore/FileLogger.hpp>

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;

namespace {

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

std::unique_ptr<UserInterface> desktopUserInterface() {
#ifdef STAYLOOM_HAS_DESKTOP_UI
    return makeDesktopUserInterface();
#else
    return nullptr;
#endif
}

bool desktopUserInterfaceBuilt() {
#ifdef STAYLOOM_HAS_DESKTOP_UI
    return true;
#else
    return false;
#endif
}

void refuseSecondInstance(const SingleInstance& instance) {
    std::string holder;
    if (const auto pid = instance.holderPid()) {
        holder = " (process " + std::to_string(*pid) + ")";
    }
    std::fprintf(stderr,
                 "Stayloom is already running for this user%s. Not starting a second copy: two "
                 "would fight over the same keep-awake process and sleep settings.\n",
                 holder.c_str());
}

} // namespace

int main(int argc, char** argv) {
    // A closed output (the status lines piped into a program that ended) must not kill the
    // program before it restores sleep; writes then simply fail.
    std::signal(SIGPIPE, SIG_IGN);

    const bool desktop = desktopUserInterfaceBuilt() && hasDisplay();
    std::unique_ptr<QCoreApplication> application;
    if (desktop) {
        application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setOrganizationName(QStringLiteral("Stayloom"));
    QCoreApplication::setApplicationName(QStringLiteral("Stayloom"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildInfo::version));

    const LinuxPlatformOptions options =
        LinuxPlatformOptions::forCurrentUser(currentExecutablePath());
    SingleInstance instance(instanceLockFolder(options));
    if (!instance.acquire()) {
        refuseSecondInstance(instance);
        return 1;
    }

    std::unique_ptr<UserInterface> userInterface = desktop ? desktopUserInterface() : nullptr;
    TerminalTermsPrompt termsPrompt(
        STDIN_FILENO, stdout,
        TerminalTermsPrompt::termsText(QString::fromUtf8(BuildInfo::websiteBaseURL)));
    HeadlessWindowPresenter headlessWindows(termsPrompt, stderr);
    WindowPresenter& windows = userInterface ? userInterface->windowPresenter()
                                             : static_cast<WindowPresenter&>(headlessWindows);

    AppModel model(makeLinuxEnvironment(options, windows, FileLogger::shared()));

    SignalQuit quitSignals;
    QObject::connect(&quitSignals, &SignalQuit::quitRequested, &model, &AppModel::quit);

    if (userInterface) {
        userInterface->install(model);
        QObject::connect(&instance, &SingleInstance::activationRequested, &model,
                         [&userInterface] { userInterface->activate(); });
    } else {
        auto* printer = new HeadlessStatusPrinter(model, stdout);
        QObject::connect(&termsPrompt, &TerminalTermsPrompt::listeningChanged, printer,
                         &HeadlessStatusPrinter::setHeld);
        QObject::connect(&termsPrompt, &TerminalTermsPrompt::accepted, &model,
                         &AppModel::acceptLegal);
    }
    model.start();
    return QCoreApplication::exec();
}
