// The invariant check of Torvan's fuzz entry points: a broken invariant aborts, which
// libFuzzer (scripts/fuzz) and the replaying tests (platform/fuzz_replay.h) both report with
// the input that broke it.
#pragma once

#include <cstdlib>

namespace torvan::platform::fuzz {

inline void Check(bool invariant) {
  if (!invariant) std::abort();
}

}  // namespace torvan::platform::fuzz
