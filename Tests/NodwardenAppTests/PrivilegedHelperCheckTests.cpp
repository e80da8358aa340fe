// The sleep-switch helper runs as root; these tests build real installed-like trees and show that
// only a helper the user cannot change is ever elevated.

#include "Support/LoggedMessages.hpp"
#include "Support/TemporaryDirectory.hpp"

#include <NodwardenApp/platform/PrivilegedHelperCheck.hpp>
#include <NodwardenCore/sleep/SleepController.hpp>
#include <NodwardenCore/system/FileLogger.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;
using stayloom::testing::loggedMessages;
using stayloom::testing::TemporaryDirectory;

namespace {

/// Any uid other than root's, standing for the logged-in user.
constexpr uid_t userID = 1000;

/// A root-owned 0755 folder whose every ancestor is root-owned and not writable by others, made
/// beside the test program (the system's temporary folder is writable by everyone).
class TrustedTree {
public:
    TrustedTree() { ::chmod(root().c_str(), 0755); }

    const std::filesystem::path& root() const { return folder_.path(); }

    /// Writes an executable script at `relative` (folders 0755) and returns its path.
    std::filesystem::path script(const std::string& relative, const std::string& body) const {
        const auto path = root() / relative;
        std::filesystem::create_directories(path.parent_path());
        for (auto folder = path.parent_path(); folder != root(); folder = folder.parent_path()) {
            ::chmod(folder.c_str(), 0755);
        }
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
        return path;
    }

private:
    TemporaryDirectory folder_{std::filesystem::canonical("/proc/self/exe").parent_path()};
};

/// Whether this machine lets the test build trusted trees: run as root, in a root-owned place.
bool canBuildTrustedTrees(const TrustedTree& tree) {
    return ::geteuid() == 0 && !privilegedHelperRefusal(tree.script("probe", "exit 0")).has_value();
}

struct TreeCase {
    const char* name;
    /// Arranges the tree and returns the helper path to check.
    std::function<std::filesystem::path(TrustedTree&, const TemporaryDirectory&)> arrange;
    /// Part of the refusal; none when the helper must be accepted.
    std::optional<std::string> refusal;
};

std::filesystem::path installedHelper(TrustedTree& tree) {
    return tree.script("libexec/stayloom/stayloom-sleep-switch", "exit 0\n");
}

} // namespace

TEST(PrivilegedHelperCheck, OnlyAHelperTheUserCannotChangeIsAccepted) {
    const std::vector<TreeCase> cases{
        {"root-owned 0755 tree", [](TrustedTree& tree, auto&) { return installedHelper(tree); },
         std::nullopt},
        {"helper owned by the user",
         [](TrustedTree& tree, auto&) {
             const auto helper = installedHelper(tree);
             EXPECT_EQ(::chown(helper.c_str(), userID, userID), 0);
             return helper;
         },
         "is owned by uid 1000, not root"},
        {"group-writable helper",
         [](TrustedTree& tree, auto&) {
             const auto helper = installedHelper(tree);
             ::chmod(helper.c_str(), 0775);
             return helper;
         },
         "is writable by group or others"},
        {"world-writable helper",
         [](TrustedTree& tree, auto&) {
             const auto helper = installedHelper(tree);
             ::chmod(helper.c_str(), 0757);
             return helper;
         },
         "is writable by group or others"},
        {"folder above owned by the user",
         [](TrustedTree& tree, auto&) {
             const auto helper = installedHelper(tree);
             EXPECT_EQ(::chown(helper.parent_path().parent_path().c_str(), userID, 0), 0);
             return helper;
         },
         "libexec is owned by uid 1000, not root"},
        {"world-writable folder above",
         [](TrustedTree& tree, auto&) {
             const auto helper = installedHelper(tree);
             ::chmod(helper.parent_path().c_str(), 0777);
             return helper;
         },
         "stayloom is writable by group or others"},
        {"link from a safe folder into the temporary folder",
         [](TrustedTree& tree, const TemporaryDirectory& unsafe) {
             const auto target = unsafe.write("stayloom-sleep-switch", "#!/bin/sh\nexit 0\n");
             ::chmod(target.c_str(), 0755);
             std::filesystem::create_directories(tree.root() / "bin");
             std::filesystem::create_symlink(target, tree.root() / "bin" / "stayloom-sleep-switch");
             return tree.root() / "bin" / "stayloom-sleep-switch";
         },
         "is writable by group or others"},
        {"link to a safe helper",
         [](TrustedTree& tree, auto&) {
             const auto helper = installedHelper(tree);
             std::filesystem::create_directories(tree.root() / "bin");
             std::filesystem::create_symlink(helper, tree.root() / "bin" / "stayloom-sleep-switch");
             return tree.root() / "bin" / "stayloom-sleep-switch";
         },
         std::nullopt},
        {"missing helper",
         [](TrustedTree& tree, auto&) { return tree.root() / "libexec" / "none"; },
         "does not exist"},
        {"a folder instead of a program",
         [](TrustedTree& tree, auto&) {
             const auto helper = installedHelper(tree);
             return helper.parent_path();
         },
         "is not a regular file"},
        {"relative path",
         [](TrustedTree&, auto&) { return std::filesystem::path("stayloom-sleep-switch"); },
         "is not an absolute path"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TrustedTree tree;
        if (!canBuildTrustedTrees(tree)) {
            GTEST_SKIP() << "needs root and a root-owned build folder to build trusted trees";
        }
        TemporaryDirectory unsafe;
        const auto helper = testCase.arrange(tree, unsafe);
        const auto refusal = privilegedHelperRefusal(helper);
        if (!testCase.refusal) {
            EXPECT_EQ(refusal, std::nullopt);
        } else {
            ASSERT_TRUE(refusal.has_value());
            EXPECT_NE(refusal->find(*testCase.refusal), std::string::npos) << *refusal;
        }
    }
}

TEST(PrivilegedHelperCheck, TheSystemTemporaryFolderIsNeverTrusted) {
    TemporaryDirectory unsafe;
    const auto helper = unsafe.write("stayloom-sleep-switch", "#!/bin/sh\nexit 0\n");
    ::chmod(helper.c_str(), 0755);
    ::chmod(unsafe.path().c_str(), 0755);
    const auto refusal = privilegedHelperRefusal(helper);
    ASSERT_TRUE(refusal.has_value());
    EXPECT_NE(refusal->find("is writable by group or others"), std::string::npos) << *refusal;
}

// A real sleep controller over real command runners: a refused helper is never handed to the
// elevator, the lid-closed step reads as declined and one line says why.
TEST(PrivilegedHelperCheck, ARefusedHelperIsNeverElevatedAndTheLidClosedStepIsDeclined) {
    for (const bool userOwned : {false, true}) {
        SCOPED_TRACE(userOwned ? "user-owned helper" : "root-owned helper");
        TrustedTree tree;
        if (!canBuildTrustedTrees(tree)) {
            GTEST_SKIP() << "needs root and a root-owned build folder to build trusted trees";
        }
        TemporaryDirectory state;
        const auto record = state.path() / "elevator.log";
        const auto elevator =
            tree.script("bin/elevator", "echo \"$*\" >> '" + record.string() + "'\nexec \"$@\"\n");
        const auto helper = tree.script("libexec/stayloom/stayloom-sleep-switch",
                                        "if [ \"$1\" = status ]; then echo ' SleepDisabled 1'; "
                                        "fi\nexit 0\n");
        if (userOwned) {
            ASSERT_EQ(::chown(helper.c_str(), userID, userID), 0);
        }
        FileLogger logger(state.path() / "Nodwarden.log");
        const SleepCommandSet commands =
            checkedSleepSwitchCommands(elevator.string(), helper.string(), logger);
        ProcessCommandRunner runner(8);
        ProcessCommandRunner administratorRunner(8);
        SleepController controller(
            runner, administratorRunner, logger, "/bin/true",
            SleepControllerFiles{state.path() / "caffeinate.pid", state.path() / "engaged"},
            commands);

        EXPECT_EQ(controller.engageLidClosedProtection(), !userOwned);
        EXPECT_EQ(controller.isLidClosedProtectionEngaged(), !userOwned);
        logger.flush();
        const auto lines = loggedMessages(logger);
        const auto refusals = std::count_if(lines.begin(), lines.end(), [](const auto& line) {
            return line.starts_with("Refusing to run the sleep-switch helper as root: ");
        });
        if (userOwned) {
            EXPECT_FALSE(std::filesystem::exists(record)) << "the elevator was never run";
            EXPECT_EQ(refusals, 1);
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const auto& line) {
                return line.starts_with("Lid-closed admin step declined") &&
                       line.find("is owned by uid 1000, not root") != std::string::npos;
            }));
        } else {
            EXPECT_EQ(stayloom::testing::readFile(record), helper.string() + " disable\n");
            EXPECT_EQ(refusals, 0);
        }
    }
}
