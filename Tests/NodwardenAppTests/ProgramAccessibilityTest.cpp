// The real program on a virtual display, read back as a screen reader reads it: every window a
// new user meets (terms, the three first-run steps, the panel, every settings tab, the notices of
// the desktop fallbacks), and every text, name and description in them.
//
// Runs under `xvfb-run dbus-run-session` (see Tests/CMakeLists.txt).

#include "Support/TemporaryDirectory.hpp"

#include <atspi/atspi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using stayloom::testing::TemporaryDirectory;

namespace {

using Clock = std::chrono::steady_clock;

/// Takes ownership of a GObject reference.
struct Ref {
    explicit Ref(AtspiAccessible* accessible = nullptr) : object(accessible) {}
    Ref(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object(other.object) { other.object = nullptr; }
    Ref& operator=(Ref&& other) noexcept {
        std::swap(object, other.object);
        return *this;
    }
    ~Ref() {
        if (object != nullptr) {
            g_object_unref(object);
        }
    }
    AtspiAccessible* object;
};

std::string taken(gchar* text) {
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

std::string nameOf(AtspiAccessible* accessible) {
    return taken(atspi_accessible_get_name(accessible, nullptr));
}

/// Everything a screen reader could say about one element: its name, description and text.
struct Spoken {
    std::string role;
    std::string name;
    std::string description;
    std::string text;
};

void collect(AtspiAccessible* accessible, std::vector<Spoken>& into, int depth = 0) {
    if (depth > 40) {
        return;
    }
    Spoken spoken{taken(atspi_accessible_get_role_name(accessible, nullptr)),
                  nameOf(accessible),
                  taken(atspi_accessible_get_description(accessible, nullptr)),
                  {}};
    if (AtspiText* text = atspi_accessible_get_text_iface(accessible)) {
        const gint count = atspi_text_get_character_count(text, nullptr);
        if (count > 0) {
            spoken.text = taken(atspi_text_get_text(text, 0, count, nullptr));
        }
        g_object_unref(text);
    }
    into.push_back(std::move(spoken));
    const gint children = atspi_accessible_get_child_count(accessible, nullptr);
    for (gint index = 0; index < children; ++index) {
        Ref child(atspi_accessible_get_child_at_index(accessible, index, nullptr));
        if (child.object != nullptr) {
            collect(child.object, into, depth + 1);
        }
    }
}

/// The first element under `accessible` that `matches`, depth first.
Ref find(AtspiAccessible* accessible, const std::function<bool(AtspiAccessible*)>& matches,
         int depth = 0) {
    if (depth > 40) {
        return Ref();
    }
    const gint children = atspi_accessible_get_child_count(accessible, nullptr);
    for (gint index = 0; index < children; ++index) {
        Ref child(atspi_accessible_get_child_at_index(accessible, index, nullptr));
        if (child.object == nullptr) {
            continue;
        }
        if (matches(child.object)) {
            return child;
        }
        if (Ref found = find(child.object, matches, depth + 1); found.object != nullptr) {
            return found;
        }
    }
    return Ref();
}

bool hasRole(AtspiAccessible* accessible, AtspiRole role) {
    return atspi_accessible_get_role(accessible, nullptr) == role;
}

bool showing(AtspiAccessible* accessible) {
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    const bool result = states != nullptr && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    if (states != nullptr) {
        g_object_unref(states);
    }
    return result;
}

/// Runs the first action (press, or select for a tab) of `accessible`.
bool press(AtspiAccessible* accessible) {
    AtspiAction* action = atspi_accessible_get_action_iface(accessible);
    if (action == nullptr) {
        return false;
    }
    const bool done = atspi_action_do_action(action, 0, nullptr) != FALSE;
    g_object_unref(action);
    return done;
}

/// Texts no window of the Linux build may show, with why.
struct Forbidden {
    std::regex pattern;
    const char* why;
};

const std::vector<Forbidden>& forbidden() {
    static const std::vector<Forbidden> list = {
        {std::regex(R"(\bMacs?\b)"), "speaks of a Mac"},
        {std::regex(R"(macOS)", std::regex::icase), "speaks of macOS"},
        {std::regex(R"(\bpmset\b)"), "names the Mac's power tool"},
        {std::regex(R"(System Settings)"), "points at the Mac's settings"},
        {std::regex(R"(Login Items)"), "points at the Mac's login items"},
        {std::regex(R"(update check)", std::regex::icase), "claims an update check"},
        {std::regex(R"(\.example\b)"), "links to a placeholder site"},
        {std::regex(R"(notari[sz]ed)"), "speaks of Mac app signing"},
        {std::regex(R"(\bcaffeinate\b)"), "names the Mac's keep-awake tool"},
        {std::regex(R"(Accessibility access|Request Permission)"),
         "asks for a permission Linux does not have"},
        {std::regex(R"(\bMVP\b)"), "calls itself unfinished"},
        {std::regex(R"(Target app is present|bank your first save|truly saved)", std::regex::icase),
         "speaks in the program's internal phrases"},
        {std::regex(R"(\b(Safari|Arc|Comet)\b)"), "offers a browser made for the Mac only"},
#if !STAYLOOM_PROGRAM_HAS_SIMULATOR
        {std::regex(R"(Simulat)"), "shows the developers' simulator"},
#endif
        // A symbol's name read aloud: lowercase words joined by dots, nothing else.
        {std::regex(R"(^[a-z][a-z0-9]*(\.[a-z0-9]+)+$)"), "is a symbol's name"},
    };
    return list;
}

class ProgramAccessibility : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr ||
            std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs a display and a session bus (xvfb-run dbus-run-session)";
        }
        ASSERT_EQ(atspi_init() >= 0, true);
        folder_.write("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"" +
                                          (folder_.path() / "xdg-open.calls").string() + "\"\n");
        std::filesystem::permissions(folder_.path() / "bin/xdg-open",
                                     std::filesystem::perms::owner_all);
    }

    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    /// Starts the program; `language` replaces the C locale's settings when given.
    void start(const std::vector<std::string>& language = {"LC_ALL=C.UTF-8"}) {
        std::vector<std::string> environment = {
            "HOME=" + (folder_.path() / "home").string(),
            "PATH=" + (folder_.path() / "bin").string() + ":/usr/bin:/bin",
            std::string("DISPLAY=") + std::getenv("DISPLAY"),
            std::string("DBUS_SESSION_BUS_ADDRESS=") + std::getenv("DBUS_SESSION_BUS_ADDRESS"),
            "QT_QPA_PLATFORM=xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1",
            "XDG_CURRENT_DESKTOP=XFCE",
            "TZ=UTC",
        };
        environment.insert(environment.end(), language.begin(), language.end());
        // xvfb-run lets in only holders of its cookie, kept outside the test's home.
        if (const char* cookie = std::getenv("XAUTHORITY")) {
            environment.push_back(std::string("XAUTHORITY=") + cookie);
        }
        std::filesystem::create_directories(folder_.path() / "home");
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        std::string program = STAYLOOM_PROGRAM_PATH;
        char* argv[] = {program.data(), nullptr};
        ASSERT_EQ(::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    }

    /// The program's application on the accessibility bus, uncached so every read is fresh.
    Ref application() {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            Ref desktop(atspi_get_desktop(0));
            const gint count = atspi_accessible_get_child_count(desktop.object, nullptr);
            for (gint index = 0; index < count; ++index) {
                Ref app(atspi_accessible_get_child_at_index(desktop.object, index, nullptr));
                if (app.object != nullptr &&
                    atspi_accessible_get_process_id(app.object, nullptr) == guint(pid_)) {
                    atspi_accessible_set_cache_mask(app.object, ATSPI_CACHE_NONE);
                    return app;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return Ref();
    }

    /// Waits up to ten seconds for an element the program shows that `matches`.
    Ref waitFor(const std::function<bool(AtspiAccessible*)>& matches, const std::string& what) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            Ref app = application();
            if (app.object != nullptr) {
                Ref found = find(app.object, [&](AtspiAccessible* accessible) {
                    return matches(accessible) && showing(accessible);
                });
                if (found.object != nullptr) {
                    return found;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        ADD_FAILURE() << "never shown: " << what;
        return Ref();
    }

    Ref waitForNamed(AtspiRole role, const std::string& name) {
        return waitFor(
            [&](AtspiAccessible* accessible) {
                return hasRole(accessible, role) && nameOf(accessible) == name;
            },
            name);
    }

    /// Reads everything the program shows now and records every forbidden text, once each.
    void readEverything(const std::string& where) {
        Ref app = application();
        ASSERT_NE(app.object, nullptr);
        std::vector<Spoken> spoken;
        collect(app.object, spoken);
        ++windowsRead_;
        for (const Spoken& element : spoken) {
            for (const std::string* text : {&element.name, &element.description, &element.text}) {
                if (text->empty()) {
                    continue;
                }
                allTexts_.insert(*text);
                for (const Forbidden& rule : forbidden()) {
                    if (std::regex_search(*text, rule.pattern) &&
                        reported_.insert(*text + rule.why).second) {
                        ADD_FAILURE() << where << ": a " << element.role << " " << rule.why
                                      << ": \"" << *text << "\"";
                    }
                }
            }
        }
    }

    std::string xdgOpenCalls() const {
        std::ifstream in(folder_.path() / "xdg-open.calls");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TemporaryDirectory folder_;
    pid_t pid_ = -1;
    int windowsRead_ = 0;
    std::set<std::string> allTexts_;
    std::set<std::string> reported_;
};

} // namespace

TEST_F(ProgramAccessibility, EveryWindowSpeaksOfThisComputerAndEveryLinkAndButtonActs) {
    start();
    // The terms window, with its three documents as files on this computer.
    Ref agree = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "I Agree");
    ASSERT_NE(agree.object, nullptr) << "the terms window never appeared";
    readEverything("terms window");
    for (const char* document : {"EULA", "Privacy Policy", "Terms"}) {
        Ref app = application();
        Ref link = find(app.object, [&](AtspiAccessible* accessible) {
            return nameOf(accessible) == document &&
                   !taken(atspi_accessible_get_description(accessible, nullptr)).empty();
        });
        ASSERT_NE(link.object, nullptr) << document;
        const std::string address = taken(atspi_accessible_get_description(link.object, nullptr));
        ASSERT_EQ(address.rfind("file://", 0), 0u) << document << " opens offline: " << address;
        EXPECT_TRUE(std::filesystem::is_regular_file(address.substr(7))) << address;
    }
    {
        std::ifstream privacy(folder_.path() / "home/.cache/stayloom/legal/privacy.html");
        std::stringstream text;
        text << privacy.rdbuf();
        for (const char* read : {"sessions/&lt;pid&gt;.json", "open-sessions-state.json",
                                 "Codex rollout", "OpenCode", "tmux panes"}) {
            EXPECT_NE(text.str().find(read), std::string::npos)
                << "the privacy policy says it reads " << read;
        }
    }

    // The three first-run steps.
    ASSERT_TRUE(press(agree.object));
    Ref next = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Continue");
    ASSERT_NE(next.object, nullptr) << "the first-run window never appeared";
    readEverything("first-run step 1");
    ASSERT_TRUE(press(next.object));
    ASSERT_NE(waitForNamed(ATSPI_ROLE_LABEL, "Turn on screen-text reading").object, nullptr);
    readEverything("first-run step 2");
    next = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Continue");
    ASSERT_TRUE(press(next.object));
    Ref done = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Done");
    ASSERT_NE(done.object, nullptr);
    readEverything("first-run step 3");
    ASSERT_TRUE(press(done.object));

    // The panel (a window of its own: the virtual display has no tray) and its status circle.
    Ref settings =
        waitFor([](AtspiAccessible* accessible) { return nameOf(accessible) == "Settings"; },
                "the panel's Settings button");
    ASSERT_NE(settings.object, nullptr);
    readEverything("status panel");
    EXPECT_TRUE(std::any_of(allTexts_.begin(), allTexts_.end(), [](const std::string& text) {
        return text.rfind("Status: ", 0) == 0;
    })) << "the status circle reads as a status";

    // Every settings tab.
    ASSERT_TRUE(press(settings.object));
    ASSERT_NE(waitForNamed(ATSPI_ROLE_PAGE_TAB, "General").object, nullptr);
    for (const char* tab : {"General", "Power", "Agents", "Detection", "Stats", "Advanced"}) {
        Ref page = waitForNamed(ATSPI_ROLE_PAGE_TAB, tab);
        ASSERT_NE(page.object, nullptr) << tab;
        press(page.object);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        readEverything(std::string("settings tab ") + tab);
    }

    // The autostart button on a desktop without a startup-applications page: it opens the
    // folder through xdg-open and says so.
    Ref general = waitForNamed(ATSPI_ROLE_PAGE_TAB, "General");
    press(general.object);
    Ref autostart = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Open Autostart Folder…");
    ASSERT_NE(autostart.object, nullptr);
    ASSERT_TRUE(press(autostart.object));
    const std::string folder = (folder_.path() / "home/.config/autostart").string();
    Ref notice = waitFor(
        [&](AtspiAccessible* accessible) {
            return nameOf(accessible).find("Opened your autostart folder (" + folder) !=
                   std::string::npos;
        },
        "the notice that the autostart folder was opened");
    EXPECT_NE(notice.object, nullptr);
    EXPECT_EQ(xdgOpenCalls(), folder + "\n");
    readEverything("autostart notice");

#if STAYLOOM_PROGRAM_HAS_SIMULATOR
    // A debug build keeps the simulator, which a release build's walk forbids above: the walk
    // reaches the place it would be.
    EXPECT_EQ(allTexts_.count("Debug Simulator"), 1u);
#endif
    // The browsers offered are the ones made for Linux.
    EXPECT_EQ(allTexts_.count("Firefox"), 1u);
    EXPECT_EQ(allTexts_.count("Chromium"), 1u);

    EXPECT_GE(windowsRead_, 12);
    EXPECT_GT(allTexts_.size(), 150u) << "the walk reached the windows' texts";
}

namespace {

/// Words only English has, as whole words, in a text without the names that stay as they are
/// (the product, the agents, the programs and files it names).
bool speaksEnglish(std::string text) {
    static const std::regex names(
        R"(Stayloom|Claude Code|Claude|Codex CLI|Codex|Gemini CLI|Gemini|Qwen Code|Qwen|OpenCode|)"
        R"(Copilot CLI|GitHub Copilot|Copilot|Cursor|Windsurf|Zed|Aider|Kiro|ChatGPT|Visual Studio )"
        R"(Code|Firefox|Chromium|Google Chrome|Brave|Vivaldi|Opera|Microsoft Edge|)"
        R"([\w./<>-]+\.json|stayloom[ -][\w -]+|~?/[\w./-]+)");
    text = std::regex_replace(text, names, " ");
    static const std::regex english(
        R"(\b(the|and|your|you|is|are|with|for|to|of|this|that|when|while|not|it|its|keep|keeps|)"
        R"(awake|sleep|settings|open|watch|watching|working|idle|battery|power|lid|mode|)"
        R"(quit|continue|done|back|agree|terms|privacy|policy|accept|reset|stats|launch|login|)"
        R"(enabled?|disabled|detected|running|unknown|status|warning|general|advanced|detection)\b)",
        std::regex::icase);
    return std::regex_search(text, english);
}

} // namespace

TEST_F(ProgramAccessibility, InGermanNoWindowLeavesAnEnglishText) {
    // The messages locale and the list of languages, as a German desktop sets them.
    start({"LANGUAGE=de", "LC_MESSAGES=de_DE.UTF-8", "LANG=de_DE.UTF-8"});
    std::set<std::string> english;
    const auto readGerman = [&](const std::string& where) {
        readEverything(where);
        for (const std::string& text : allTexts_) {
            if (speaksEnglish(text) && english.insert(text).second) {
                ADD_FAILURE() << where << " shows English: \"" << text << "\"";
            }
        }
    };

    Ref agree = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Zustimmen");
    ASSERT_NE(agree.object, nullptr) << "the terms window never appeared in German";
    readGerman("terms window");
    ASSERT_TRUE(press(agree.object));
    Ref next = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Weiter");
    ASSERT_NE(next.object, nullptr) << "the first-run window never appeared";
    readGerman("first-run step 1");
    ASSERT_TRUE(press(next.object));
    ASSERT_NE(waitForNamed(ATSPI_ROLE_LABEL, "Bildschirmtext-Erkennung einschalten").object,
              nullptr);
    readGerman("first-run step 2");
    next = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Weiter");
    ASSERT_TRUE(press(next.object));
    Ref done = waitForNamed(ATSPI_ROLE_PUSH_BUTTON, "Fertig");
    ASSERT_NE(done.object, nullptr);
    readGerman("first-run step 3");
    ASSERT_TRUE(press(done.object));

    Ref settings =
        waitFor([](AtspiAccessible* accessible) { return nameOf(accessible) == "Einstellungen"; },
                "the panel's settings button");
    ASSERT_NE(settings.object, nullptr);
    readGerman("status panel");
    ASSERT_TRUE(press(settings.object));
    for (const char* tab :
         {"Allgemein", "Energie", "Agenten", "Erkennung", "Statistik", "Erweitert"}) {
        Ref page = waitForNamed(ATSPI_ROLE_PAGE_TAB, tab);
        ASSERT_NE(page.object, nullptr) << tab;
        press(page.object);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        readGerman(std::string("settings tab ") + tab);
    }
    // The walk read the windows' German, not an empty tree.
    EXPECT_EQ(allTexts_.count("Willkommen bei Stayloom"), 1u);
    EXPECT_GT(allTexts_.size(), 150u);
}
