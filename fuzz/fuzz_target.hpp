// What every fuzz target shares: the entry point libFuzzer calls, taking the
// input as a span, and the check that stops the run (libFuzzer keeps the
// input) when a property does not hold.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stridelog::fuzz {

using Bytes = std::vector<std::uint8_t>;

inline void check(bool holds) {
    if (!holds) __builtin_trap();
}

}  // namespace stridelog::fuzz

// FUZZ_TARGET(input) { ... } defines the entry point over
// std::span<const std::uint8_t> input.
#define FUZZ_TARGET(input)                                                              \
    static void fuzz_one(std::span<const std::uint8_t> input);                          \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        fuzz_one({data, size});                                                         \
        return 0;                                                                       \
    }                                                                                   \
    static void fuzz_one(std::span<const std::uint8_t> input)
