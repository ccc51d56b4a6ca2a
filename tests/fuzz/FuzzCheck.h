#pragma once

#include <cstdio>
#include <cstdlib>

namespace argb::fuzz {

// A broken promise is a finding: libFuzzer keeps the input that led here.
inline void require(bool holds, const char* promise) {
  if (holds) return;
  std::fprintf(stderr, "broken: %s\n", promise);
  std::abort();
}

}  // namespace argb::fuzz
