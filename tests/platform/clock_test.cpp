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

TEST(VirtualClock, InstalledOnlyWhileInScope) {
    EXPECT_FALSE(clock().is_virtual());
    EXPECT_EQ(virtual_clock(), nullptr);
    {
        ScopedVirtualClock virtual_time;
        EXPECT_TRUE(clock().is_virtual());
        EXPECT_EQ(virtual_clock(), &*virtual_time);
        const std::uint64_t t = clock().now_ms();
        EXPECT_EQ(clock().now_ms(), t) << "stands still by itself";
        clock().sleep_ms(1500);
        EXPECT_EQ(clock().now_ms(), t + 1500) << "sleeping moves it, without blocking";
    }
    EXPECT_FALSE(clock().is_virtual());
}

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
    EXPECT_EQ(virtual_time->next_scheduled(), start + 100);

    virtual_time->advance_to(start + 300);
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "a2", "x", "b", "y", "c"}));
    EXPECT_EQ(virtual_time->now_ms(), start + 300);
    EXPECT_EQ(virtual_time->next_scheduled(), start + 900);

    virtual_time->advance_to(start + 10);
    EXPECT_EQ(virtual_time->now_ms(), start + 300) << "never backwards";
}

TEST(VirtualClock, IdleLoopJumpsToTheNextDueWork) {
    ScopedVirtualClock virtual_time;
    std::vector<std::pair<UINT, std::uint64_t>> seen;
    const HWND window = create_window([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        seen.emplace_back(m, clock().now_ms());
        return 0;
    });
    const std::uint64_t start = clock().now_ms();
    set_timer(window, 1, 3000);
    // A scheduled callback earlier than the timer posts a message first.
    virtual_time->schedule(start + 1200, [window] { post_message(window, kPing, 0, 0); });

    run_loop_until([&] { return seen.size() == 2; });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(kPing, start + 1200));
    EXPECT_EQ(seen[1], std::make_pair(kWmTimer, start + 3000));
    destroy_window(window);

    Message msg;
    EXPECT_EQ(get_message(msg), Fetch::idle);
    EXPECT_EQ(clock().now_ms(), start + 3000) << "nothing due: time stays";
}

TEST(VirtualClock, NoJumpWhileWorkIsInFlight) {
    ScopedVirtualClock virtual_time;
    std::vector<std::pair<UINT, std::uint64_t>> seen;
    const HWND window = create_window([&](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
        seen.emplace_back(m, clock().now_ms());
        return 0;
    });
    const std::uint64_t start = clock().now_ms();
    set_timer(window, 1000, 3000);

    // Bytes on the line: a reader thread that answers after a little real time.
    note_in_flight(+1);
    std::thread reader([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        post_message(window, kPing, 0, 0);
        note_in_flight(-1);
    });
    run_loop_until([&] { return !seen.empty(); });
    reader.join();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0], std::make_pair(kPing, start)) << "the reply beats the time-out";
    EXPECT_EQ(virtual_time->in_flight(), 0);

    run_loop_until([&] { return seen.size() == 2; });
    EXPECT_EQ(seen[1], std::make_pair(kWmTimer, start + 3000));
    destroy_window(window);
}

TEST(VirtualClock, InFlightIsIgnoredWithoutAVirtualClock) {
    note_in_flight(+1);  // must not crash or count anywhere
    note_in_flight(-1);
    ScopedVirtualClock virtual_time;
    EXPECT_EQ(virtual_time->in_flight(), 0);
}

}  // namespace
}  // namespace stridelog::platform
