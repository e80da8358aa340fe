#include <NodwardenCore/detection/PhraseMatcher.hpp>

#include <NodwardenCore/system/UnicodeText.hpp>

#include <algorithm>
#include <optional>

namespace nodwarden {
namespace {

/// The first phrase of `phrases` that occurs in `normalizedText`, as configured.
std::optional<std::string> firstContainedPhrase(const std::vector<std::string>& phrases,
                                                std::string_view normalizedText) {
    for (const std::string& phrase : phrases) {
        if (UnicodeText::trimmed(phrase).empty()) {
            continue;
        }
        const std::string needle = PhraseMatcher::normalizedText(phrase);
        // A phrase made only of accents folds to nothing and would otherwise be "found" in every
        // text, keeping the machine awake for good.
        if (needle.empty()) {
            continue;
        }
        if (normalizedText.find(needle) != std::string_view::npos) {
            return phrase;
        }
    }
    return std::nullopt;
}

} // namespace

PhraseMatchKind PhraseMatchKind::active(std::string phrase) {
    return PhraseMatchKind(Case::active, std::move(phrase));
}

PhraseMatchKind PhraseMatchKind::idle(std::string phrase) {
    return PhraseMatchKind(Case::idle, std::move(phrase));
}

PhraseMatchKind PhraseMatchKind::none() {
    return PhraseMatchKind(Case::none, std::string());
}

std::string PhraseMatcher::normalizedText(std::string_view text) {
    std::string folded = UnicodeText::foldCaseAndStripMarks(text);
    std::replace(folded.begin(), folded.end(), '\n', ' ');
    std::replace(folded.begin(), folded.end(), '\t', ' ');
    return folded;
}

PhraseMatchKind PhraseMatcher::match(std::string_view text) const {
    return matchNormalized(normalizedText(text));
}

PhraseMatchKind PhraseMatcher::matchNormalized(std::string_view normalizedText) const {
    if (auto phrase = firstContainedPhrase(activePhrases, normalizedText)) {
        return PhraseMatchKind::active(std::move(*phrase));
    }
    if (auto phrase = firstContainedPhrase(idlePhrases, normalizedText)) {
        return PhraseMatchKind::idle(std::move(*phrase));
    }
    return PhraseMatchKind::none();
}

} // namespace nodwarden
