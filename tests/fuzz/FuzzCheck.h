// A broken invariant in a fuzz target: says which, then aborts, so that the fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define DRAVIK_FUZZ_REQUIRE(condition)                                                             \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
