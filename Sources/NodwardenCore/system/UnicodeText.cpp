#include <NodwardenCore/system/UnicodeText.hpp>

#include <NodwardenCore/system/AsciiText.hpp>

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace nodwarden::UnicodeText {
namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

/// Decodes the code point at `offset`; returns its length in bytes, or a negative value when the
/// byte there does not start a well-formed sequence.
utf8proc_ssize_t decodeAt(std::string_view text, std::size_t offset, utf8proc_int32_t& codePoint) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data()) + offset;
    return utf8proc_iterate(bytes, static_cast<utf8proc_ssize_t>(text.size() - offset), &codePoint);
}

struct FreeDeleter {
    void operator()(utf8proc_uint8_t* pointer) const { std::free(pointer); }
};

std::string mapped(std::string_view text, utf8proc_option_t options) {
    if (isASCII(text)) {
        // ASCII is already composed and has no marks; its folding is plain lower-casing.
        return AsciiText::lowercased(text);
    }
    std::string valid = sanitizedUTF8(text);
    utf8proc_uint8_t* output = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(valid.data()),
                     static_cast<utf8proc_ssize_t>(valid.size()), &output, options);
    const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owner(output);
    if (length < 0) {
        // Only reachable when memory runs out; the sanitised text is the most faithful answer.
        return valid;
    }
    return std::string(reinterpret_cast<const char*>(output), static_cast<std::size_t>(length));
}

bool isWhiteSpaceOrLineBreak(utf8proc_int32_t codePoint) {
    if ((codePoint >= 0x09 && codePoint <= 0x0D) || codePoint == 0x85) {
        return true;
    }
    switch (utf8proc_category(codePoint)) {
    case UTF8PROC_CATEGORY_ZS:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
        return true;
    default:
        return false;
    }
}

} // namespace

bool isValidUTF8(std::string_view text) {
    std::size_t offset = 0;
    while (offset < text.size()) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = decodeAt(text, offset, codePoint);
        if (length <= 0) {
            return false;
        }
        offset += static_cast<std::size_t>(length);
    }
    return true;
}

std::string sanitizedUTF8(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = decodeAt(text, offset, codePoint);
        if (length <= 0) {
            result += replacementCharacter;
            offset += 1;
        } else {
            result += text.substr(offset, static_cast<std::size_t>(length));
            offset += static_cast<std::size_t>(length);
        }
    }
    return result;
}

std::string foldCase(std::string_view text) {
    return mapped(text, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE |
                                                       UTF8PROC_CASEFOLD));
}

std::string foldCaseAndStripMarks(std::string_view text) {
    return mapped(text, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE |
                                                       UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (isASCII(a) && isASCII(b)) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return AsciiText::lower(x) == AsciiText::lower(y);
        });
    }
    return foldCase(a) == foldCase(b);
}

bool containsIgnoringCase(std::string_view haystack, std::string_view needle) {
    return foldCase(haystack).find(foldCase(needle)) != std::string::npos;
}

std::string trimmed(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    std::size_t offset = 0;
    while (offset < text.size()) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t decoded = decodeAt(text, offset, codePoint);
        const std::size_t length = decoded > 0 ? static_cast<std::size_t>(decoded) : 1;
        if (decoded <= 0 || !isWhiteSpaceOrLineBreak(codePoint)) {
            begin = std::min(begin, offset);
            end = offset + length;
        }
        offset += length;
    }
    return begin < end ? std::string(text.substr(begin, end - begin)) : std::string();
}

std::string shownOnTerminal(std::string_view text) {
    const auto hex = [](unsigned value, int digits) {
        static constexpr char digitsOf[] = "0123456789abcdef";
        std::string written;
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
            written += digitsOf[(value >> unsigned(shift)) & 0xFU];
        }
        return written;
    };
    std::string result;
    result.reserve(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t length = decodeAt(text, offset, codePoint);
        if (length <= 0) {
            result += "\\x" + hex(static_cast<unsigned char>(text[offset]), 2);
            offset += 1;
            continue;
        }
        const auto category = utf8proc_category(codePoint);
        // Controls (C0, DEL, C1) drive the terminal; format characters (bidi overrides,
        // zero-width marks) make the text read as something it is not.
        if (category == UTF8PROC_CATEGORY_CC || category == UTF8PROC_CATEGORY_CF) {
            result += codePoint < 0x100 ? "\\x" + hex(unsigned(codePoint), 2)
                                        : "\\u{" + hex(unsigned(codePoint), 4) + "}";
        } else {
            result += text.substr(offset, static_cast<std::size_t>(length));
        }
        offset += static_cast<std::size_t>(length);
    }
    return result;
}

} // namespace nodwarden::UnicodeText
