#include <NodwardenCore/detection/PhraseMatcher.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using nodwarden::PhraseMatcher;
using nodwarden::PhraseMatchKind;

namespace {

struct MatchCase {
    std::vector<std::string> active, idle;
    std::string text;
    PhraseMatchKind expected;
};

TEST(PhraseMatcher, MatchesFoldedTextActiveBeforeIdle) {
    const auto active = PhraseMatchKind::active;
    const auto idle = PhraseMatchKind::idle;
    const std::vector<MatchCase> cases = {
        {{"esc to interrupt"}, {}, "Thinking (ESC TO INTERRUPT)", active("esc to interrupt")},
        {{"Esc To Interrupt"}, {}, "esc to interrupt", active("Esc To Interrupt")},
        {{"reponse en cours"}, {}, "Réponse EN COURS", active("reponse en cours")},
        {{"Génération"}, {}, "generation", active("Génération")},
        {{"ecole"}, {}, "E\u0301cole", active("ecole")},
        {{"straße"}, {}, "STRASSE", active("straße")},
        {{"esc to interrupt"}, {}, "esc to\ninterrupt", active("esc to interrupt")},
        {{"esc to interrupt"}, {}, "esc\tto interrupt", active("esc to interrupt")},
        {{"esc to interrupt"}, {}, "esc to\r\ninterrupt", PhraseMatchKind::none()},
        {{"esc to interrupt"}, {}, "esc  to interrupt", PhraseMatchKind::none()},
        {{"Stop generating"},
         {"Ask anything"},
         "Ask anything Stop generating",
         active("Stop generating")},
        {{"tokens used", "esc to"}, {}, "esc to interrupt, 9 tokens used", active("tokens used")},
        {{"Stop"}, {"Reply", "How can I"}, "How can I help? Reply", idle("Reply")},
        {{"Stop"}, {"Ask"}, "", PhraseMatchKind::none()},
        // Blank phrases are skipped; surrounding spaces of a real phrase are kept.
        {{"   ", ""}, {"\t\n"}, "a   b \t\n c", PhraseMatchKind::none()},
        {{"  ", "working"}, {}, "WORKING", active("working")},
        {{"  esc"}, {}, "press esc", PhraseMatchKind::none()},
        {{"  esc"}, {}, "press  esc", active("  esc")},
        // A phrase of nothing but an accent folds to nothing and must not match every screen.
        {{"\u0301"}, {"\u0308"}, "any text", PhraseMatchKind::none()},
        {{"· esc to cancel)"}, {}, "Thinking (3s · esc to cancel)", active("· esc to cancel)")},
        {{"abc"},
         {},
         "a\xff"
         "bc",
         PhraseMatchKind::none()},
        {{"esc to interrupt"}, {}, "\xc3 esc to interrupt", active("esc to interrupt")},
    };
    for (const MatchCase& c : cases) {
        const PhraseMatcher matcher{c.active, c.idle};
        EXPECT_EQ(matcher.match(c.text), c.expected) << c.text;
        EXPECT_EQ(matcher.matchNormalized(PhraseMatcher::normalizedText(c.text)), c.expected)
            << c.text;
    }
}

TEST(PhraseMatcher, EqualityAndNormalizedForm) {
    EXPECT_NE(PhraseMatchKind::active("Stop"), PhraseMatchKind::idle("Stop"));
    EXPECT_NE(PhraseMatchKind::active("Stop"), PhraseMatchKind::active("stop"));
    EXPECT_NE(PhraseMatchKind::idle(""), PhraseMatchKind::none());
    EXPECT_EQ(PhraseMatcher::normalizedText("Ça\tVA\nÉTÉ\r"), "ca va ete\r");
}

} // namespace
