// libFuzzer entry point for the E1.31 and DDP parsers and the light receiver; built by
// scripts/fuzz with clang.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "light_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The whole input as one datagram too, so the parsers meet every byte at every offset.
    std::string violation = parserViolation(data, size);
    if (violation.empty())
        violation = lightInvariantViolation(data, size);
    if (!violation.empty()) {
        std::fprintf(stderr, "light receiver invariant broken: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
