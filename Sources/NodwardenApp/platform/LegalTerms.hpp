#pragma once

#include <array>
#include <string>
#include <string_view>

namespace nodwarden::app {

/// The texts of the terms that must be accepted before anything is kept awake: shown by the
/// legal window on a desktop and printed by the terminal prompt without one.
namespace LegalTerms {

inline constexpr std::string_view heading = "Welcome to Stayloom";
inline constexpr std::string_view tagline =
    "Keeps your Mac awake while your AI coding agents work — then lets it sleep when they're "
    "done.";

/// One of the two points of the terms: a symbol, a title and a paragraph.
struct Point {
    std::string_view symbol;
    std::string_view title;
    std::string_view paragraph;
};
const std::array<Point, 2>& points();

/// One of the documents the acceptance refers to, at the web site's base address + `path`.
struct Document {
    std::string_view title;
    std::string_view path;
};
const std::array<Document, 3>& documents();
/// `base` + the document's path, with exactly one "/" between them.
std::string address(std::string_view base, const Document& document);

inline constexpr std::string_view acceptanceLine = "By clicking “I Agree,” you accept our";

/// The whole text for a terminal: heading, tagline, both points, and the documents with their
/// addresses, ending in a line feed.
std::string terminalText(std::string_view base);

} // namespace LegalTerms
} // namespace nodwarden::app
