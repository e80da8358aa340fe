#include <NodwardenCore/PhraseMatcher.hpp>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using nodwarden::PhraseMatcher;
using nodwarden::PhraseMatchKind;

namespace {

struct MatchCase {
    const char* name;
    std::vector<std::string> active;
    std::vector<std::string> idle;
    std::string text;
    PhraseMatchKind expected;
};

void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << c.name;
}

class PhraseMatcherMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(PhraseMatcherMatch, FindsTheExpectedPhrase) {
    const MatchCase& c = GetParam();
    const PhraseMatcher matcher{c.active, c.idle};
    EXPECT_EQ(matcher.match(c.text), c.expected);
    // Folding the text up front must give the same answer as letting `match` fold it.
    EXPECT_EQ(matcher.matchNormalized(PhraseMatcher::normalizedText(c.text)), c.expected);
}

const std::vector<MatchCase> matchCases = {
    {"CapitalLettersOnScreen",
     {"esc to interrupt"},
     {},
     "Thinking… (ESC TO INTERRUPT)",
     PhraseMatchKind::active("esc to interrupt")},
    {"PhraseInCapitalsReportedAsConfigured",
     {"Esc To Interrupt"},
     {},
     "esc to interrupt",
     PhraseMatchKind::active("Esc To Interrupt")},
    {"AccentedScreenPlainPhrase",
     {"reponse en cours"},
     {},
     "Réponse EN COURS…",
     PhraseMatchKind::active("reponse en cours")},
    {"PlainScreenAccentedPhrase",
     {"Génération"},
     {},
     "generation started",
     PhraseMatchKind::active("Génération")},
    {"DecomposedAccentOnScreen", {"ecole"}, {}, "E\u0301cole", PhraseMatchKind::active("ecole")},
    {"SharpSFoldsToDoubleS", {"straße"}, {}, "STRASSE", PhraseMatchKind::active("straße")},
    {"LineFeedBecomesSpace",
     {"esc to interrupt"},
     {},
     "* esc to\ninterrupt",
     PhraseMatchKind::active("esc to interrupt")},
    {"TabBecomesSpace",
     {"esc to interrupt"},
     {},
     "esc\tto interrupt",
     PhraseMatchKind::active("esc to interrupt")},
    {"LineFeedInPhraseMatchesSpaceOnScreen",
     {"esc to\ninterrupt"},
     {},
     "esc to interrupt",
     PhraseMatchKind::active("esc to\ninterrupt")},
    {"CarriageReturnIsNotASpace",
     {"esc to interrupt"},
     {},
     "esc to\r\ninterrupt",
     PhraseMatchKind::none()},
    {"RunsOfSpacesAreNotCollapsed",
     {"esc to interrupt"},
     {},
     "esc  to interrupt",
     PhraseMatchKind::none()},
    {"ActiveWinsOverIdleWhateverTheOrderOnScreen",
     {"Stop generating"},
     {"Ask anything"},
     "Ask anything … Stop generating",
     PhraseMatchKind::active("Stop generating")},
    {"EarlierActivePhraseWins",
     {"tokens used", "esc to interrupt"},
     {},
     "esc to interrupt · 12 tokens used",
     PhraseMatchKind::active("tokens used")},
    {"IdleWhenNoActivePhrase",
     {"Stop generating"},
     {"Reply to Claude", "How can I help"},
     "How can I help you today? Reply to Claude",
     PhraseMatchKind::idle("Reply to Claude")},
    {"NeitherPhrase",
     {"Stop generating"},
     {"Ask anything"},
     "Nothing to see",
     PhraseMatchKind::none()},
    {"EmptyText", {"Stop"}, {"Ask"}, "", PhraseMatchKind::none()},
    {"OnlySpacesPhraseNeverMatches",
     {"   ", ""},
     {"\t\n"},
     "a   b \t\n c",
     PhraseMatchKind::none()},
    {"BlankPhraseSkippedBeforeRealOne",
     {"  ", "working"},
     {},
     "WORKING  ",
     PhraseMatchKind::active("working")},
    {"LeadingSpacesKeptAndNeeded", {"  esc"}, {}, "press esc", PhraseMatchKind::none()},
    {"LeadingSpacesMatchedWithTwoSpaces",
     {"  esc"},
     {},
     "press  esc",
     PhraseMatchKind::active("  esc")},
    {"PhraseOfOnlyAnAccentMatchesNothing",
     {"\u0301"},
     {"\u0308"},
     "any text at all",
     PhraseMatchKind::none()},
    {"MiddleDotPhrase",
     {"· esc to cancel)"},
     {},
     "⠋ Thinking (3s · esc to cancel)",
     PhraseMatchKind::active("· esc to cancel)")},
    {"MalformedBytesOnScreenDoNotMatchPhrase",
     {"abc"},
     {},
     "a\xff"
     "bc",
     PhraseMatchKind::none()},
    {"MalformedBytesDoNotHideLaterText",
     {"esc to interrupt"},
     {},
     "\xc3 esc to interrupt",
     PhraseMatchKind::active("esc to interrupt")},
};

INSTANTIATE_TEST_SUITE_P(Cases, PhraseMatcherMatch, testing::ValuesIn(matchCases),
                         [](const testing::TestParamInfo<MatchCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(PhraseMatchKind, EqualityComparesCaseAndPhrase) {
    EXPECT_EQ(PhraseMatchKind::active("Stop"), PhraseMatchKind::active("Stop"));
    EXPECT_NE(PhraseMatchKind::active("Stop"), PhraseMatchKind::idle("Stop"));
    EXPECT_NE(PhraseMatchKind::active("Stop"), PhraseMatchKind::active("stop"));
    EXPECT_NE(PhraseMatchKind::idle(""), PhraseMatchKind::none());
    EXPECT_EQ(PhraseMatchKind::none().kind(), PhraseMatchKind::Case::none);
}

TEST(PhraseMatcher, NormalizedTextFoldsAndTurnsLineBreaksIntoSpaces) {
    EXPECT_EQ(PhraseMatcher::normalizedText("Ça\tVA\nÉTÉ\r"), "ca va ete\r");
}

} // namespace
