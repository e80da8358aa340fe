#include <NodwardenCore/system/UnicodeText.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nodwarden;
using namespace std::string_literals;

namespace {

struct FoldCase {
    std::string input;
    std::string folded;
    std::string foldedWithoutMarks;
};

} // namespace

TEST(UnicodeText, FoldsCaseBeyondASCIIAndStripsMarksOnlyWhenAsked) {
    const std::vector<FoldCase> cases = {
        {"Esc To Interrupt", "esc to interrupt", "esc to interrupt"},
        {"", "", ""},
        {"STRASSE Straße", "strasse strasse", "strasse strasse"},
        {"ÉCOLE",
         "\xC3\xA9"
         "cole",
         "ecole"},
        // A decomposed e + combining acute folds to the same composed form as the precomposed one.
        {"E\xCC\x81"
         "cole",
         "\xC3\xA9"
         "cole",
         "ecole"},
        {"ΣΊΣΥΦΟΣ", "σίσυφοσ", "σισυφοσ"},
        {"ПРИВЕТ", "привет", "привет"},
        {"\xC2\xB7 ESC to cancel)", "\xC2\xB7 esc to cancel)", "\xC2\xB7 esc to cancel)"},
        {"Ångström", "\xC3\xA5ngstr\xC3\xB6m", "angstrom"},
        {"a\0B"s, "a\0b"s, "a\0b"s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnicodeText::foldCase(c.input), c.folded) << c.input;
        EXPECT_EQ(UnicodeText::foldCaseAndStripMarks(c.input), c.foldedWithoutMarks) << c.input;
    }
}

TEST(UnicodeText, MalformedBytesBecomeReplacementCharactersAndNeverMatchRealText) {
    const std::string replacement = "\xEF\xBF\xBD";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ab\xFF"
         "C",
         "ab" + replacement + "c"},
        {"\xC3", replacement},                                     // truncated two-byte sequence
        {"\xC0\xAF", replacement + replacement},                   // overlong "/"
        {"\xED\xA0\x80", replacement + replacement + replacement}, // encoded surrogate
        {"\x80\xC3\x89", replacement + "\xC3\xA9"},                // stray continuation, then É
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_FALSE(UnicodeText::isValidUTF8(input));
        EXPECT_EQ(UnicodeText::foldCase(input), expected);
        EXPECT_TRUE(UnicodeText::isValidUTF8(UnicodeText::foldCase(input)));
        EXPECT_TRUE(UnicodeText::isValidUTF8(UnicodeText::foldCaseAndStripMarks(input)));
    }
    EXPECT_FALSE(UnicodeText::equalsIgnoringCase("\xC3", "\xC3\xA9"));
    EXPECT_FALSE(UnicodeText::containsIgnoringCase("caf\xC3", "caf\xC3\xA9"));
    EXPECT_EQ(UnicodeText::sanitizedUTF8("plain \xC3\xA9"), "plain \xC3\xA9");
}

TEST(UnicodeText, ValidatesWellFormedText) {
    for (const std::string text : {"", "ascii", "\xC2\xB7", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD"}) {
        EXPECT_TRUE(UnicodeText::isValidUTF8(text)) << text;
    }
    EXPECT_FALSE(UnicodeText::isValidUTF8("\xF4\x90\x80\x80")); // above U+10FFFF
}

TEST(UnicodeText, ComparesIgnoringCase) {
    EXPECT_TRUE(UnicodeText::equalsIgnoringCase("COM.MICROSOFT.VSCODE", "com.microsoft.vscode"));
    EXPECT_TRUE(UnicodeText::equalsIgnoringCase("ÉCLAIR", "\xC3\xA9"
                                                          "clair"));
    EXPECT_TRUE(UnicodeText::equalsIgnoringCase("Straße", "STRASSE"));
    EXPECT_FALSE(UnicodeText::equalsIgnoringCase("code", "codex"));
    EXPECT_FALSE(UnicodeText::equalsIgnoringCase("eclair", "\xC3\xA9"
                                                           "clair"));
    EXPECT_FALSE(UnicodeText::equalsIgnoringCase("@", "`")); // differ by the ASCII case bit only

    EXPECT_TRUE(UnicodeText::containsIgnoringCase("High CPU use", "cpu"));
    EXPECT_TRUE(UnicodeText::containsIgnoringCase("ÜBER", "\xC3\xBC"
                                                          "b"));
    EXPECT_TRUE(UnicodeText::containsIgnoringCase("anything", ""));
    EXPECT_FALSE(UnicodeText::containsIgnoringCase("cp", "cpu"));
}

TEST(UnicodeText, TrimsWhiteSpaceAndLineBreaksAtBothEndsOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  Claude \n", "Claude"},
        {"\t\r\n\v\f", ""},
        {"", ""},
        {"a  b", "a  b"},
        {"\xC2\xA0"
         "Zed\xE2\x80\xA8",
         "Zed"}, // no-break space, line separator
        {"\xE3\x80\x80"
         "x\xC2\x85",
         "x"},                            // ideographic space, next line
        {" \xFF x \xFE ", "\xFF x \xFE"}, // malformed bytes are content, kept as is
        {"\xE2\x80\x8B"
         "x",
         "\xE2\x80\x8B"
         "x"}, // zero-width space is a format character
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(UnicodeText::trimmed(input), expected) << input;
    }
}

TEST(UnicodeText, TextShownOnATerminalCannotDriveItOrPassForOtherText) {
    const std::pair<std::string, std::string> cases[] = {
        {"Claude Code", "Claude Code"},
        {"Café — ✓ 日本", "Café — ✓ 日本"},
        // A title set, the screen cleared, a line forged.
        {"sh\x1b]0;owned\x07", "sh\\x1b]0;owned\\x07"},
        {"\x1b[2Jmake\nKeeping Awake — forged", "\\x1b[2Jmake\\x0aKeeping Awake — forged"},
        {"tab\there\r", "tab\\x09here\\x0d"},
        {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7f"},
        // C1's CSI, a right-to-left override, a zero-width space, malformed bytes.
        {"a\xc2\x9b"
         "2J",
         "a\\x9b2J"},
        {"evil\xe2\x80\xae"
         "txt.sh",
         "evil\\u{202e}txt.sh"},
        {"x\xe2\x80\x8by", "x\\u{200b}y"},
        {"bad\xff\xc3", "bad\\xff\\xc3"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(UnicodeText::shownOnTerminal(text), shown);
    }
}
