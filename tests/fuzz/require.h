// A property every input must keep: when it fails, the fuzzer keeps the input
// and stops, as it does for a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tessera::fuzz {

inline void Require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

}  // namespace tessera::fuzz
