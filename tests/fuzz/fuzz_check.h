// The one assertion of the fuzz targets.
#pragma once

#include <cstdlib>

// An invariant the code under test broke: abort so the fuzzer keeps the input.
#define FUZZ_CHECK(condition)       \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)
