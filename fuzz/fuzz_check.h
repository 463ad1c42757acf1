// A fuzz target's check: a broken invariant stops the process, so that libFuzzer keeps the input
// and the replay main fails.
#pragma once

#include <cstdio>
#include <cstdlib>

#define PELT_FUZZ_CHECK(cond)                                                                  \
  ((cond) ? (void)0                                                                            \
          : (std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond), \
             std::abort()))
