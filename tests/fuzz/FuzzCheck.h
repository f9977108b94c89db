// The fuzz targets' assertion: name the broken invariant and abort, so libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : (std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__), std::abort()))
