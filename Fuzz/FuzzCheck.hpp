#pragma once

#include <cstdio>
#include <cstdlib>

/// Stops the run with a message when a property every well-behaved parse keeps is broken, so
/// libFuzzer records the input like any sanitizer finding.
#define STAYLOOM_FUZZ_CHECK(condition)                                                             \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
