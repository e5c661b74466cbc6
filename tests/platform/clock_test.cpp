// The virtual clock runs scheduled work in order, each at its time, and never goes back.
#include "platform/clock.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stridelog::platform {
namespace {

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

}  // namespace
}  // namespace stridelog::platform
