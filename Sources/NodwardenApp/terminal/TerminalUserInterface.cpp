#include <NodwardenApp/terminal/TerminalUserInterface.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/FirstRunTexts.hpp>
#include <NodwardenApp/terminal/HeadlessStatusPrinter.hpp>

namespace nodwarden::app {

TerminalUserInterface::TerminalUserInterface(int inputFd, std::FILE* output, std::FILE* messages,
                                             const QString& websiteBase)
    : output_(output), termsPrompt_(inputFd, output, TerminalTermsPrompt::termsText(websiteBase)),
      modePrompt_(inputFd, output), windows_(termsPrompt_, modePrompt_, messages,
                                             FirstRun::termsAddress(websiteBase).toStdString()) {}

void TerminalUserInterface::install(AppModel& model) {
    model_ = &model;
    // The model is destroyed before the user interface: nothing may reach it afterwards.
    QObject::connect(&model, &QObject::destroyed, &termsPrompt_, [this] { model_ = nullptr; });
    // The model owns the printer; while a question is open its lines wait.
    auto* printer = new HeadlessStatusPrinter(model, output_);
    QObject::connect(&termsPrompt_, &TerminalTermsPrompt::listeningChanged, printer,
                     &HeadlessStatusPrinter::setHeld);
    QObject::connect(&modePrompt_, &TerminalModePrompt::listeningChanged, printer,
                     &HeadlessStatusPrinter::setHeld);
    QObject::connect(&termsPrompt_, &TerminalTermsPrompt::accepted, &model, &AppModel::acceptLegal);
    QObject::connect(&modePrompt_, &TerminalModePrompt::chosen, &model,
                     [this](AppMode mode) { chooseMode(mode); });
}

void TerminalUserInterface::chooseMode(AppMode mode) {
    if (model_ == nullptr) {
        return;
    }
    model_->setMode(mode);
    if (windows_.isOnboardingOpen()) {
        windows_.closeOnboarding();
        model_->windowWillClose(AppWindow::onboarding);
    }
}

} // namespace nodwarden::app
