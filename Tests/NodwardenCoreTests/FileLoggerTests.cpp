#include <NodwardenCore/system/FileLogger.hpp>

#include "Support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using nodwarden::FileLogger;
using stayloom::testing::linesOf;
using stayloom::testing::readFile;
using stayloom::testing::TemporaryDirectory;

// "[2026-03-14T09:26:53Z] " followed by the message.
const std::regex stampedLine(R"(\[\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z\] (.*))");

/// `threads` callers at once, each logging `lines` numbered lines of the same length.
void logFromThreads(FileLogger& logger, int threads, int lines) {
    std::vector<std::thread> callers;
    for (int thread = 0; thread < threads; ++thread) {
        callers.emplace_back([&logger, thread, lines] {
            for (int index = 0; index < lines; ++index) {
                logger.log("thread " + std::to_string(thread) + " line " + std::to_string(index) +
                           " " + std::string(100, 'x'));
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
}

/// Every line `logFromThreads` wrote is there once, whole, and in each caller's order.
void expectEveryLineWholeAndInOrder(const std::vector<std::string>& lines, int threads,
                                    int linesPerThread) {
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * linesPerThread));
    std::vector<int> nextIndex(static_cast<std::size_t>(threads), 0);
    const std::regex shape(R"(\[[^\]]+\] thread (\d) line (\d+) x{100})");
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const auto thread = static_cast<std::size_t>(std::stoi(match[1]));
        EXPECT_EQ(std::stoi(match[2]), nextIndex[thread]++) << "lost or reordered " << line;
    }
}

TEST(FileLogger, FormatsUTCWithWholeSeconds) {
    using namespace std::chrono;
    struct FormatCase {
        sys_time<milliseconds> time;
        std::string message;
        std::string expected;
    };
    const std::vector<FormatCase> cases{
        {sys_days{2026y / 3 / 14} + 9h + 26min + 53s + 999ms, "Stayloom started",
         "[2026-03-14T09:26:53Z] Stayloom started\n"},
        {sys_days{2001y / 1 / 1}, "", "[2001-01-01T00:00:00Z] \n"},
        {sys_days{1999y / 12 / 31} + 23h + 59min + 59s + 500ms, "two\nlines",
         "[1999-12-31T23:59:59Z] two\nlines\n"},
    };
    for (const auto& testCase : cases) {
        EXPECT_EQ(FileLogger::formatLine(testCase.time, testCase.message), testCase.expected);
    }
}

TEST(FileLogger, StampIsUTCWhateverTheLocalZone) {
    using namespace std::chrono;
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    ::setenv("TZ", "Pacific/Kiritimati", 1); // UTC+14
    ::tzset();
    const auto line = FileLogger::formatLine(sys_days{2026y / 7 / 1} + 20h, "x");
    previous ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(line, "[2026-07-01T20:00:00Z] x\n");
}

TEST(FileLogger, CreatesMissingFoldersAndWritesOneLine) {
    TemporaryDirectory home;
    const auto location = home.path() / "Library" / "Logs" / "Nodwarden.log";
    FileLogger logger(location);
    EXPECT_EQ(logger.logPath(), location);
    logger.log("PowerMonitor failed: boom");
    logger.flush();
    const auto lines = linesOf(readFile(location));
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, stampedLine)) << lines[0];
    EXPECT_EQ(match[1], "PowerMonitor failed: boom");
}

TEST(FileLogger, AppendsToExistingTextAndKeepsMessagesUnchanged) {
    TemporaryDirectory home;
    const auto location = home.write("logs/Nodwarden.log", "earlier line\n");
    FileLogger logger(location);
    logger.log("");
    logger.log("first\nsecond");
    logger.flush();
    const auto lines = linesOf(readFile(location));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "earlier line");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[1], match, stampedLine));
    EXPECT_EQ(match[1], "");
    ASSERT_TRUE(std::regex_match(lines[2], match, stampedLine));
    EXPECT_EQ(match[1], "first");
    EXPECT_EQ(lines[3], "second");
}

TEST(FileLogger, RecreatesTheFileAfterItWasDeleted) {
    TemporaryDirectory home;
    const auto location = home.path() / "state" / "Stayloom" / "Nodwarden.log";
    FileLogger logger(location);
    logger.log("before");
    logger.flush();
    std::filesystem::remove_all(home.path() / "state");
    logger.log("after");
    logger.flush();
    const auto lines = linesOf(readFile(location));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("] after"));
}

TEST(FileLogger, DropsLinesSilentlyWhenTheFolderCannotBeMade) {
    TemporaryDirectory home;
    home.write("Library", "a file where the folder should be");
    const auto blocked = home.path() / "Library" / "Logs" / "Nodwarden.log";
    FileLogger logger(blocked);
    EXPECT_NO_THROW(logger.log("lost"));
    logger.flush();
    EXPECT_FALSE(std::filesystem::exists(blocked));
    // The blocker goes away: the next line is tried afresh and lands.
    std::filesystem::remove(home.path() / "Library");
    logger.log("found");
    logger.flush();
    const auto lines = linesOf(readFile(blocked));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("] found"));
}

TEST(FileLogger, KeepsEachCallersOrderUnderConcurrentCallersWithoutTornLines) {
    TemporaryDirectory home;
    const auto location = home.path() / "Nodwarden.log";
    constexpr int threadCount = 4;
    constexpr int lineCountPerThread = 200;
    {
        FileLogger logger(location);
        logFromThreads(logger, threadCount, lineCountPerThread);
        // No flush: destroying the logger must still write everything queued.
    }
    expectEveryLineWholeAndInOrder(linesOf(readFile(location)), threadCount, lineCountPerThread);
}

TEST(FileLogger, RotatesAtItsBoundWithoutLosingOrTearingALine) {
    TemporaryDirectory home;
    const auto location = home.path() / "state" / "stayloom.log";
    const auto numbered = [&](int number) {
        return std::filesystem::path(location.string() + "." + std::to_string(number));
    };
    constexpr std::uintmax_t sizeBound = 4096;
    constexpr int threadCount = 4;
    constexpr int lineCountPerThread = 25; // about three and a half files of lines
    FileLogger logger(location, {sizeBound, 3});
    logFromThreads(logger, threadCount, lineCountPerThread);
    logger.flush();
    ASSERT_TRUE(std::filesystem::exists(numbered(3))) << "the lines fill four files";
    EXPECT_FALSE(std::filesystem::exists(numbered(4)));
    std::string everything;
    for (const auto& file : {numbered(3), numbered(2), numbered(1), location}) {
        EXPECT_LE(std::filesystem::file_size(file), sizeBound) << file;
        everything += readFile(file);
    }
    expectEveryLineWholeAndInOrder(linesOf(everything), threadCount, lineCountPerThread);

    // A line longer than the bound still goes whole, into a file of its own; the oldest go.
    const std::string previous = readFile(numbered(1));
    const std::string newest = readFile(location);
    const std::string longMessage(2 * sizeBound, 'y');
    logger.log(longMessage);
    logger.log("after");
    logger.flush();
    EXPECT_EQ(readFile(numbered(3)), previous);
    EXPECT_EQ(readFile(numbered(2)), newest);
    EXPECT_TRUE(linesOf(readFile(numbered(1))).size() == 1 &&
                readFile(numbered(1)).ends_with("] " + longMessage + "\n"));
    EXPECT_TRUE(readFile(location).ends_with("] after\n"));
    EXPECT_EQ(linesOf(readFile(location)).size(), 1u);
}

TEST(FileLogger, SharedInstanceIsOneObjectAtTheDefaultLocation) {
    auto& shared = FileLogger::shared();
    EXPECT_EQ(&shared, &FileLogger::shared());
    EXPECT_EQ(shared.logPath().filename(), "stayloom.log");
    EXPECT_TRUE(shared.logPath().is_absolute());
}

} // namespace
