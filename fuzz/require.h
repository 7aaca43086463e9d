#pragma once

#include <cstdio>
#include <cstdlib>

// Ends the run, saying `what`, unless `holds`: the fuzzer keeps the input that broke it.
inline void Require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}
