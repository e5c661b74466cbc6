// The virtual clock: jumps only when the loop is idle, and runs scheduled work in order.
#include "platform/clock.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_system.hpp"

namespace stridelog::platform {
namespace {

constexpr UINT kPing = kWmUser + 7;

TEST(VirtualClock, ScheduledCallbacksRunInDueOrderAtTheirTime) {
    ScopedVirtualClock virtual_time;
    const std::uint64_t start = virtual_time->now_ms();
    std::vector<std::string> order;
    auto note = [&](std::string name, std::uint64_t due) {
        virtual_time->schedule(start + due, [&, name, due] {
            order.push_back(name);
            EXPECT_EQ(virtual_time->now_ms(), start + due) << name << " runs at its due time";
        });
    };
    note("c", 300);
    note("a1", 100);
    note("b", 200);
    note("a2", 100);
    // Work scheduled by a callback within the same advance runs too.
    virtual_time->schedule(start + 150, [&] {
        order.push_back("x");
        note("y", 250);
    });
    note("late", 900);

    virtual_time->advance_to(start + 300);
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "a2", "x", "b", "y", "c"}));
    EXPECT_EQ(virtual_time->now_ms(), start + 300);
    EXPECT_EQ(virtual_time->next_scheduled(), start + 900);

    virtual_time->advance_to(start + 10);
    EXPECT_EQ(virtual_time->now_ms(), start + 300) << "never backwards";
}

// The loop jumps to the next due work only when nothing is in flight: bytes on
// the line (a reader thread answering after a little real time) beat a time-out.
TEST(VirtualClock, IdleLoopJumpsToTheNextDueWorkButNotWhileWorkIsInFlight) {
    ScopedVirtualClock virtual_time;
    std::vector<std::pair<WPARAM, std::uint64_t>> seen;  // timer id or 0 for the ping
    const HWND window = create_window([&](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
        seen.emplace_back(m == kWmTimer ? w : 0, clock().now_ms());
        return 0;
    });
    const std::uint64_t start = clock().now_ms();
    set_timer(window, 1000, 3000);
    virtual_time->schedule(start + 1200, [window] { post_message(window, kPing, 0, 0); });
    note_in_flight(+1);
    std::thread reader([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        post_message(window, kPing, 0, 0);
        note_in_flight(-1);
    });
    run_loop_until([&] { return seen.size() == 3; });
    reader.join();
    EXPECT_EQ(seen, (std::vector<std::pair<WPARAM, std::uint64_t>>{
                        {0, start}, {0, start + 1200}, {1000, start + 3000}}));
    EXPECT_EQ(virtual_time->in_flight(), 0);
    destroy_window(window);

    Message msg;
    EXPECT_EQ(get_message(msg), Fetch::idle);
    EXPECT_EQ(clock().now_ms(), start + 3000) << "nothing due: time stays";
}

}  // namespace
}  // namespace stridelog::platform
