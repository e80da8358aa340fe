#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// Unicode-aware text helpers shared by every component that compares names or on-screen text.
///
/// All inputs are treated as UTF-8. Malformed input never fails: the folding functions replace
/// each byte that does not start a well-formed sequence with U+FFFD before folding, so their
/// output is always valid UTF-8 and a malformed byte never compares equal to a real character.
namespace UnicodeText {

/// True when `text` is well-formed UTF-8 (no stray continuation bytes, overlong forms,
/// surrogates or code points above U+10FFFF).
bool isValidUTF8(std::string_view text);

/// `text` with every malformed byte replaced by U+FFFD; well-formed text is returned unchanged.
std::string sanitizedUTF8(std::string_view text);

/// Full Unicode case folding ("Straße" -> "strasse"), in composed (NFC) form.
std::string foldCase(std::string_view text);

/// Case folding plus removal of accents and other combining marks ("École" -> "ecole"), in
/// composed form: the comparison key for on-screen phrases.
std::string foldCaseAndStripMarks(std::string_view text);

/// True when both texts are equal after `foldCase`.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

/// True when `needle`, case folded, occurs in `haystack`, case folded. An empty needle is
/// contained in every text.
bool containsIgnoringCase(std::string_view haystack, std::string_view needle);

/// `text` as it may be printed on a terminal: every control character (C0, DEL, C1: escape
/// sequences, line breaks, the bell), every format character (bidi overrides, zero-width
/// marks) and every malformed byte written out as "\\xNN" or "\\u{NNNN}"; all else kept. The one
/// way text from outside (names, reasons, paths) reaches a terminal; JSON keeps it exact.
std::string shownOnTerminal(std::string_view text);

/// `text` without white space and line breaks (Unicode separators, tab, line feed, vertical tab,
/// form feed, carriage return, next line) at both ends. Inner text, malformed bytes included,
/// is kept byte for byte.
std::string trimmed(std::string_view text);

} // namespace UnicodeText
} // namespace nodwarden
