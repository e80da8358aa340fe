#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QCloseEvent;
class QLabel;
class QPushButton;
class QStackedWidget;

namespace nodwarden::app {

class AppModel;
class FirstRunProgressDots;

/// The first-run window: which agents to watch, the Accessibility permission, and a live
/// detection check, with Back, Continue and Done below and a dot per step. Reaching the last step
/// switches the model to watching agents so the check shows real detection. Closing the window
/// by any means completes the first run; quitting the program while it is open does not. Every
/// window starts at the first step; the step is not stored.
class OnboardingWindow : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingWindow(AppModel& model, QWidget* parent = nullptr);

    /// The step shown, 0 to 2.
    int step() const { return step_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct AgentToggle {
        std::string agentID;
        QCheckBox* checkBox;
    };

    QWidget* buildAgentsPage();
    QWidget* buildAccessibilityPage();
    QWidget* buildDetectionPage();
    QWidget* buildFooter();

    void showStep(int step);
    void setAgentWatched(const std::string& agentID, bool watched);
    void setLaunchAtLogin(bool enabled);
    void refreshHeader();
    void refreshAgentToggles();
    void refreshAccessibility();
    void refreshDetection();
    void refreshLaunchAtLogin();

    AppModel& model_;
    int step_ = 0;
    /// A quit request is closing every window; that close is not the user's.
    bool applicationQuitting_ = false;

    QLabel* symbolLabel_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QLabel* detailLabel_ = nullptr;
    QStackedWidget* pages_ = nullptr;

    std::vector<AgentToggle> agentToggles_;

    QWidget* accessGrantedRow_ = nullptr;
    QWidget* grantAccessRow_ = nullptr;

    QLabel* reasonLabel_ = nullptr;
    QLabel* resultIcon_ = nullptr;
    QLabel* resultLabel_ = nullptr;
    QCheckBox* launchAtLoginCheckBox_ = nullptr;
    QLabel* launchAtLoginMessageLabel_ = nullptr;

    QPushButton* backButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    FirstRunProgressDots* dots_ = nullptr;
};

} // namespace nodwarden::app
