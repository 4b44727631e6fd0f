// What a fuzz target does when a property it checks does not hold: abort, so
// that libFuzzer keeps the input that broke it.
#pragma once

#include <cstdlib>

inline void check(bool ok)
{
    if (!ok)
        std::abort();
}
