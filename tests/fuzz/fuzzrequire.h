#pragma once

#include <cstdlib>

// A promise of the code under test that the input broke: abort, so the fuzzer keeps the input.
inline void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}
