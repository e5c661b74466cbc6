#pragma once

#include "platform/clock.hpp"
#include "platform/window_system.hpp"

namespace stridelog::test {

template <class Pred>
bool run_until(Pred pred, std::uint64_t timeout_ms) {
    const std::uint64_t deadline = platform::clock().now_ms() + timeout_ms;
    return platform::run_loop_until([&] { return static_cast<bool>(pred()); }, deadline);
}

}  // namespace stridelog::test
