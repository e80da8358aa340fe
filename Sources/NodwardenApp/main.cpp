#include <NodwardenApp/BuildInfo.hpp>
#include <NodwardenApp/control/CommandLine.hpp>
#include <NodwardenApp/control/CommandRun.hpp>
#include <NodwardenApp/control/ControlClient.hpp>
#include <NodwardenApp/control/ControlSocketPath.hpp>
#include <NodwardenApp/control/HookCommand.hpp>
#include <NodwardenApp/control/InstanceControl.hpp>
#include <NodwardenApp/control/SingleInstance.hpp>
#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/ModelSupport.hpp>
#include <NodwardenApp/platform/DisplayProbe.hpp>
#include <NodwardenApp/platform/HelperLocator.hpp>
#include <NodwardenApp/platform/HookSetup.hpp>
#include <NodwardenApp/platform/LinuxPlatform.hpp>
#include <NodwardenApp/platform/SignalQuit.hpp>
#include <NodwardenApp/platform/UserLanguage.hpp>
#include <NodwardenApp/terminal/TerminalUserInterface.hpp>
#include <NodwardenApp/ui/DesktopFace.hpp>
#include <NodwardenCore/system/FileLogger.hpp>
#include <NodwardenCore/system/PlatformPaths.hpp>

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;

namespace {

/// Names the application and puts in the user's language, before any text is made.
void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Stayloom"));
    QCoreApplication::setApplicationName(QStringLiteral("Stayloom"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(BuildInfo::version));
    UserLanguage::install(*QCoreApplication::instance(), UserLanguage::processEnvironment());
}

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
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

/// A command: help, version, a refusal, or a question to the running copy.
int runCommand(CommandLine& commandLine, const CommandLineRequest& request) {
    // Usage lines name the program as installed, whatever this file is called.
    std::string name = CommandLine::programName;
    std::vector<char*> arguments{name.data(), nullptr};
    int count = 1;
    QCoreApplication application(count, arguments.data());
    nameApplication();
    using Action = CommandLineRequest::Action;
    switch (request.action) {
    case Action::help:
        print(stdout, commandLine.helpText());
        return 0;
    case Action::version:
        std::printf("%s %s\n", CommandLine::programName, BuildInfo::version);
        return 0;
    case Action::invalid:
        // The error quotes the words given, which may hold anything.
        print(stderr, QString::fromUtf8(CommandLine::programName) + QStringLiteral(": ") +
                          shownOnTerminal(request.error) +
                          QStringLiteral("\nRun “stayloom --help” for the "
                                         "commands.\n"));
        return ControlClient::usageStatus;
    case Action::hooks:
        return HookSetup::run(request.hooksVerb, request.agents, HookSetup::placeForCurrentUser(),
                              stdout, stderr);
    case Action::runCommand: {
        const LinuxPlatformOptions options =
            LinuxPlatformOptions::forCurrentUser(currentExecutablePath());
        const SingleInstance instance(instanceLockFolder(options),
                                      ControlSocketPath::runtimeFolderFromEnvironment());
        return CommandRun::run(request.command, options.helpers, instance.socketPath(), stderr);
    }
    default: {
        const LinuxPlatformOptions options =
            LinuxPlatformOptions::forCurrentUser(currentExecutablePath());
        const SingleInstance instance(instanceLockFolder(options),
                                      ControlSocketPath::runtimeFolderFromEnvironment());
        return ControlClient::run(request, instance.socketPath(), stdout, stderr);
    }
    }
}

/// The desktop face from its module, which alone links Qt's GUI libraries, so that a run without
/// a display never maps them. Empty, after a line on standard error, when it cannot be loaded.
std::unique_ptr<DesktopFace> openDesktopFace(int& argc, char** argv) {
    // Beside the program's library by its full path: a bare name would be looked up through the
    // RUNPATH of whoever calls dlopen, which a sanitizer's interceptor is. Never closed: the face,
    // its windows and the plugins Qt loads for them live until the end.
    const std::filesystem::path path = programLibraryFolder() / DesktopFace::moduleFileName;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* symbol = module != nullptr ? ::dlsym(module, DesktopFace::entryPointName) : nullptr;
    if (symbol == nullptr) {
        std::fprintf(stderr, "Cannot load the desktop interface (%s); running without a desktop.\n",
                     ::dlerror());
        return nullptr;
    }
    const auto open = reinterpret_cast<DesktopFace::EntryPoint>(symbol);
    return std::unique_ptr<DesktopFace>(open(argc, argv));
}

/// No command: the program itself, on the desktop when one can be opened, else headless.
int runProgram(int argc, char** argv) {
    const DisplayChoice display = chooseDisplay(DisplayEnvironment::current());
    if (display.notice) {
        std::fprintf(stderr, "%s\n", display.notice->c_str());
    }
    if (display.usable && !display.platform.empty()) {
        ::setenv("QT_QPA_PLATFORM", display.platform.c_str(), 1);
    }
    std::unique_ptr<DesktopFace> desktopFace =
        display.usable ? openDesktopFace(argc, argv) : nullptr;
    const bool desktop = desktopFace != nullptr;
    std::unique_ptr<QCoreApplication> application =
        desktop ? nullptr : std::make_unique<QCoreApplication>(argc, argv);
    nameApplication();

    LinuxPlatformOptions options = LinuxPlatformOptions::forCurrentUser(currentExecutablePath());
    options.desktopSession = desktop;
    // Before the lock, the log or any other file of the state folder is opened.
    if (const std::string moved = PlatformPaths::prepareStateFolder(options.paths);
        !moved.empty()) {
        FileLogger::shared().log(moved);
    }
    SingleInstance instance(instanceLockFolder(options),
                            ControlSocketPath::runtimeFolderFromEnvironment(),
                            &FileLogger::shared());
    if (!instance.acquire()) {
        if (const auto& refusal = instance.refusal()) {
            std::fprintf(stderr, "%s\n", refusal->c_str());
        } else {
            refuseSecondInstance(instance);
        }
        return 1;
    }

    const QString website = QString::fromUtf8(BuildInfo::websiteBaseURL);
    std::unique_ptr<UserInterface> userInterface =
        desktop ? desktopFace->makeUserInterface()
                : std::make_unique<TerminalUserInterface>(STDIN_FILENO, stdout, stderr, website);
    WindowPresenter& windows = userInterface->windowPresenter();

    AppModel model(makeLinuxEnvironment(options, windows, FileLogger::shared()));

    SignalQuit quitSignals;
    QObject::connect(&quitSignals, &SignalQuit::quitRequested, &model, &AppModel::quit);

    // The panel's picker and the first-run tour's last step, for commands.
    InstanceControl control(
        model, [&userInterface](AppMode mode) { userInterface->chooseMode(mode); }, options.hooks);
    instance.setRequestHandler(
        [&control](const QJsonObject& request) { return control.handle(request); });

    userInterface->install(model);
    QObject::connect(&instance, &SingleInstance::activationRequested, &model,
                     [&userInterface] { userInterface->activate(); });
    model.start();
    const int status = QCoreApplication::exec();
    // Commands are answered no more while the model goes away.
    instance.setRequestHandler({});
    return status;
}

} // namespace

int main(int argc, char** argv) {
    // A closed output (the status lines piped into a program that ended) must not kill the
    // program before it restores sleep; writes then simply fail.
    std::signal(SIGPIPE, SIG_IGN);

    // An agent's hook waits for this: it is handed over before any of the program's start.
    if (argc >= 2 && std::strcmp(argv[1], "hook") == 0) {
        return HookCommand::run(argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : "");
    }

    QStringList arguments{QString::fromUtf8(CommandLine::programName)};
    for (int index = 1; index < argc; ++index) {
        arguments << QString::fromLocal8Bit(argv[index]);
    }
    CommandLine commandLine;
    const CommandLineRequest request = commandLine.parse(arguments);
    if (request.action != CommandLineRequest::Action::run) {
        return runCommand(commandLine, request);
    }
    return runProgram(argc, argv);
}
