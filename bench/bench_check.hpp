#pragma once
// A set-up step a benchmark cannot do without: a failure ends the program
// with a line naming the step, rather than timing work on broken input.

#include <cstdio>
#include <cstdlib>

namespace tess::bench {

inline void require(bool ok, const char* step) {
  if (ok) return;
  std::fprintf(stderr, "bench: %s failed\n", step);
  std::exit(1);
}

}  // namespace tess::bench
