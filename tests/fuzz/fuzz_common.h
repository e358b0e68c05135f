#pragma once
// Shared by the fuzz targets: a failed property stops the run with a message
// and an abort, which libFuzzer reports as a crash and saves the input of.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                              \
  do {                                                                     \
    if (!(condition)) {                                                    \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__,      \
                   __LINE__, #condition);                                  \
      std::abort();                                                        \
    }                                                                      \
  } while (false)
