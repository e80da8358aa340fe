#pragma once

#include <QTranslator>

#include <utility>

namespace nodwarden::app {

/// While one lives on a thread, the program's catalogues step aside there and every text reads in
/// the program's own English: what scripts parse (`status --json`, `events --json`) must not
/// change with the user's language.
class SourceLanguageScope {
public:
    SourceLanguageScope();
    ~SourceLanguageScope();
    SourceLanguageScope(const SourceLanguageScope&) = delete;
    SourceLanguageScope& operator=(const SourceLanguageScope&) = delete;

    /// Whether a scope lives on the calling thread.
    static bool active();
};

/// What `make` gives with the catalogues stepped aside.
template <typename Make> auto inSourceLanguage(Make&& make) {
    const SourceLanguageScope scope;
    return std::forward<Make>(make)();
}

/// A catalogue that steps aside inside a `SourceLanguageScope`, so a text it would translate
/// reads as written. Stepping aside sends no language-change event: no window redraws.
class SteppingAsideTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override;
};

} // namespace nodwarden::app
