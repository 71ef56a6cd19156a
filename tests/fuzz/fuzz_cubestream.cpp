// libFuzzer entry point for the cube stream parser; built by scripts/fuzz with clang.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "stream_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string violation = streamInvariantViolation(data, size);
    if (!violation.empty()) {
        std::fprintf(stderr, "cube stream invariant broken: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
