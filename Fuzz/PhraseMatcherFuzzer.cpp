// On-screen text against configured phrases: both arrive from outside (other applications'
// windows and the settings file) and may hold any bytes.
#include "FuzzCheck.hpp"

#include <NodwardenCore/detection/PhraseMatcher.hpp>
#include <NodwardenCore/system/UnicodeText.hpp>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

using nodwarden::PhraseMatcher;
using nodwarden::PhraseMatchKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    PhraseMatcher matcher;
    const auto phrases = input.ConsumeIntegralInRange(0, 4);
    for (int index = 0; index < phrases; ++index) {
        auto& list = input.ConsumeBool() ? matcher.activePhrases : matcher.idlePhrases;
        list.push_back(input.ConsumeRandomLengthString(32));
    }
    const auto text = input.ConsumeRemainingBytesAsString();

    const auto normalized = PhraseMatcher::normalizedText(text);
    STAYLOOM_FUZZ_CHECK(nodwarden::UnicodeText::isValidUTF8(normalized));
    const auto matched = matcher.match(text);
    STAYLOOM_FUZZ_CHECK(matched == matcher.matchNormalized(normalized));
    switch (matched.kind()) {
    case PhraseMatchKind::Case::active:
        STAYLOOM_FUZZ_CHECK(std::find(matcher.activePhrases.begin(), matcher.activePhrases.end(),
                                      matched.phrase()) != matcher.activePhrases.end());
        break;
    case PhraseMatchKind::Case::idle:
        STAYLOOM_FUZZ_CHECK(std::find(matcher.idlePhrases.begin(), matcher.idlePhrases.end(),
                                      matched.phrase()) != matcher.idlePhrases.end());
        break;
    case PhraseMatchKind::Case::none:
        STAYLOOM_FUZZ_CHECK(matched.phrase().empty());
        break;
    }
    return 0;
}
