// Invariant checks for the fuzz targets: a violation prints where it
// happened and aborts, which libFuzzer and the replay runner report as a
// finding.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KOVREL_FUZZ_CHECK(condition)                                                   \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (false)
