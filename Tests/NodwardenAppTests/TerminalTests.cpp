// The headless face on its own (terminal/): the terms prompt and the status lines.

#include "AppSupport/AppModelHarness.hpp"
#include "AppSupport/Recording.hpp"

#include <NodwardenApp/terminal/HeadlessStatusPrinter.hpp>
#include <NodwardenApp/terminal/TerminalTermsPrompt.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

using namespace nodwarden;
using namespace nodwarden::app;
using namespace stayloom::testing;

TEST(TerminalTermsPrompt, OnlyAYesAccepts) {
    const std::vector<std::pair<std::string, bool>> answers{
        {"y", true},    {"Y", true},           {"yes", true}, {" YeS \r", true},
        {"", false},    {"n", false},          {"no", false}, {"yess", false},
        {"y y", false}, {"yes please", false}, {"ja", false}, {"\ty\t", true}};
    for (const auto& [answer, accepted] : answers) {
        EXPECT_EQ(TerminalTermsPrompt::isAcceptance(answer), accepted) << '"' << answer << '"';
    }
}

TEST(TerminalTermsPrompt, AsksOnceDeclinesAnythingElseAndStopsAtYes) {
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    std::FILE* output = std::tmpfile();
    TerminalTermsPrompt prompt(input[0], output, "THE TERMS\n");
    Recorder accepted(&prompt, &TerminalTermsPrompt::accepted);
    Recorder listening(&prompt, &TerminalTermsPrompt::listeningChanged);
    EXPECT_FALSE(prompt.canAsk()) << "a pipe is no terminal";

    prompt.ask();
    prompt.ask();
    ASSERT_EQ(::write(input[1], "maybe\ny\nignored\n", 16), 16);
    ASSERT_TRUE(AppModelHarness::processEventsUntil([&] { return accepted.count() == 1; }));
    EXPECT_FALSE(prompt.isListening());
    EXPECT_EQ(listening.count(), 2);
    EXPECT_EQ(contents(output), "THE TERMS\n\n" + std::string(TerminalTermsPrompt::question()) +
                                    std::string(TerminalTermsPrompt::declined()));
    ::close(input[1]);
    ::close(input[0]);
    std::fclose(output);
}

TEST(HeadlessStatusPrinter, OneLinePerChangeNeverRepeatedAndHeldWhileAsking) {
    AppModelHarness harness;
    harness.acceptTermsAndOnboarding();
    harness.storeMode(AppMode::watchAgentUI);
    auto model = harness.makeModel();
    std::FILE* output = std::tmpfile();
    auto* printer = new HeadlessStatusPrinter(*model, output);
    const auto settleAndPrint = [&] {
        harness.tickAndSettle(*model);
        QCoreApplication::processEvents();
    };

    settleAndPrint();
    settleAndPrint();
    harness.setPerApp({AppModelHarness::signal(SignalStrength::strong, "Claude Code")});
    settleAndPrint();
    settleAndPrint();

    printer->setHeld(true);
    harness.setPerApp({});
    settleAndPrint();
    const std::string whileHeld = contents(output);
    printer->setHeld(false);
    QCoreApplication::processEvents();

    const std::string text = contents(output);
    const auto lines = linesOf(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_EQ(lines[0].rfind("Watching — ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].size() - std::string(" · none detected").size()),
              " · none detected");
    EXPECT_EQ(lines[1], "Keeping Awake — test reason · 1 working");
    EXPECT_EQ(lines[2].rfind("Idle Grace — ", 0), 0u) << lines[2];
    EXPECT_EQ(whileHeld.find("Idle Grace"), std::string::npos);
    EXPECT_EQ(printer->lastLine().toStdString(), lines[2]);
    model.reset();
    std::fclose(output);
}
