#include <NodwardenApp/ui/DesktopFace.hpp>
#include <NodwardenApp/ui/DesktopUserInterface.hpp>

#include <QApplication>

#include <type_traits>

namespace nodwarden::app {

namespace {

class LoadedDesktopFace final : public DesktopFace {
public:
    LoadedDesktopFace(int& argc, char** argv) : application_(argc, argv) {
        // The tray lives on with every window closed.
        QApplication::setQuitOnLastWindowClosed(false);
        // Wayland compositors find the window's icon and name through the installed desktop entry.
        QGuiApplication::setDesktopFileName(QStringLiteral("org.stayloom.Stayloom"));
    }

    std::unique_ptr<UserInterface> makeUserInterface() override {
        return makeDesktopUserInterface();
    }

private:
    QApplication application_;
};

} // namespace

} // namespace nodwarden::app

extern "C" Q_DECL_EXPORT nodwarden::app::DesktopFace* stayloomOpenDesktopFace(int& argc,
                                                                              char** argv) {
    // The program checks the type through DesktopFace::EntryPoint.
    static_assert(std::is_same_v<decltype(&stayloomOpenDesktopFace),
                                 nodwarden::app::DesktopFace::EntryPoint>);
    return new nodwarden::app::LoadedDesktopFace(argc, argv);
}
