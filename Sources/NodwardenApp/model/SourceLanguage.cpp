#include <NodwardenApp/model/SourceLanguage.hpp>

namespace nodwarden::app {

namespace {

thread_local int openScopes = 0;

} // namespace

SourceLanguageScope::SourceLanguageScope() {
    ++openScopes;
}

SourceLanguageScope::~SourceLanguageScope() {
    --openScopes;
}

bool SourceLanguageScope::active() {
    return openScopes > 0;
}

QString SteppingAsideTranslator::translate(const char* context, const char* sourceText,
                                           const char* disambiguation, int n) const {
    if (SourceLanguageScope::active()) {
        return {};
    }
    return QTranslator::translate(context, sourceText, disambiguation, n);
}

} // namespace nodwarden::app
