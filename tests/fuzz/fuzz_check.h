#pragma once
// A broken invariant aborts, so libFuzzer records the input as a crash.
#include <cstdio>
#include <cstdlib>

namespace tlx::fuzz {

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace tlx::fuzz
