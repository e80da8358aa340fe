#pragma once

#include <NodwardenCore/Export.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace NODWARDEN_CORE_EXPORT nodwarden {

/// The outcome of matching on-screen text: an active phrase, an idle phrase, or neither.
class PhraseMatchKind {
public:
    enum class Case { active, idle, none };

    /// An active phrase was found; `phrase` is the phrase as configured.
    static PhraseMatchKind active(std::string phrase);
    /// No active phrase, but this idle phrase (as configured) was found.
    static PhraseMatchKind idle(std::string phrase);
    /// Neither kind of phrase was found.
    static PhraseMatchKind none();

    Case kind() const { return kind_; }
    /// The matched phrase as configured; empty for `none`.
    const std::string& phrase() const { return phrase_; }

    bool operator==(const PhraseMatchKind&) const = default;

private:
    PhraseMatchKind(Case kind, std::string phrase) : kind_(kind), phrase_(std::move(phrase)) {}

    Case kind_;
    std::string phrase_;
};

/// Decides whether a text shows one of a list of active phrases or, failing that, idle phrases.
/// Comparison ignores case and accents; phrases are kept as configured and folded at match time.
struct PhraseMatcher {
    std::vector<std::string> activePhrases;
    std::vector<std::string> idlePhrases;

    /// The first active phrase contained in `text`, else the first idle one, else `none`.
    PhraseMatchKind match(std::string_view text) const;

    /// Same as `match`, for a text already passed through `normalizedText`; lets one screen of
    /// text be folded once and matched against several agents' phrase lists.
    PhraseMatchKind matchNormalized(std::string_view normalizedText) const;

    /// The comparison form of a text or phrase: case and accents folded, line feeds and tabs
    /// turned into spaces; nothing else (runs of spaces, carriage returns) is touched.
    static std::string normalizedText(std::string_view text);

    bool operator==(const PhraseMatcher&) const = default;
};

} // namespace nodwarden
