// The host's message loop helper: how many messages one pump dispatches, what
// it leaves for the next one, and how it hands back a quit request.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/clock.hpp"
#include "platform/window_system.hpp"
#include "stridelog/stridelog.h"

namespace stridelog {
namespace {

constexpr UINT kPlain = platform::kWmUser + 1;
constexpr UINT kEcho = platform::kWmUser + 2;  // the handler posts one kPlain back

struct Seen {
    std::vector<UINT> messages;
};

LRESULT record(void* context, HWND window, UINT message, WPARAM, LPARAM) {
    auto* seen = static_cast<Seen*>(context);
    if (message != kPlain && message != kEcho) return 0;
    seen->messages.push_back(message);
    if (message == kEcho) platform::post_message(window, kPlain, 0, 0);
    return 0;
}

// Takes whatever a case left behind without dispatching it; counts the
// window's messages and tells whether a quit request (with exit code 3) was there.
struct Left {
    std::size_t messages = 0;
    bool quit = false;
};
Left drain_queue() {
    Left left;
    platform::Message m;
    while (platform::peek_message(m)) {
        if (m.message == platform::kWmQuit)
            left.quit = left.quit || m.wparam == 3;
        else
            ++left.messages;
    }
    return left;
}

// Each test starts from an empty queue: a quit request left by an earlier test
// of this thread would end every pump at once.
class PumpMessages : public ::testing::Test {
  protected:
    void SetUp() override { drain_queue(); }
    void TearDown() override { drain_queue(); }
};

TEST_F(PumpMessages, ReturnsTheNumberItDispatched) {
    struct Case {
        const char* legend;
        const char* posted;  // p: a message, e: one whose handler posts another, q: a quit request
        int count;           // what the pump returns, and the messages seen
        std::size_t left;
        bool quit_left;  // the quit request is still there for the outer loop
    };
    const Case cases[] = {
        {"nothing waiting", "", 0, 0, false},
        {"one message", "p", 1, 0, false},
        {"every waiting message in one call", "ppppp", 5, 0, false},
        {"a message posted while dispatching is dispatched and counted", "ep", 3, 0, false},
        {"a quit request first: nothing dispatched, the quit kept", "qp", 0, 1, true},
        {"messages before a quit request are counted, the rest wait", "ppqp", 2, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Seen seen;
        const HWND window = Stridelog_CreateHostWindow(&record, &seen);
        ASSERT_NE(window, nullptr);
        for (const char* m = c.posted; *m; ++m) {
            if (*m == 'q')
                platform::post_quit_message(3);
            else
                ASSERT_TRUE(platform::post_message(window, *m == 'e' ? kEcho : kPlain, 0, 0));
        }
        EXPECT_EQ(Stridelog_PumpMessages(0), c.count);
        EXPECT_EQ(seen.messages.size(), static_cast<std::size_t>(c.count));
        const Left left = drain_queue();
        EXPECT_EQ(left.messages, c.left);
        EXPECT_EQ(left.quit, c.quit_left) << "the quit request, with its exit code";
        Stridelog_DestroyHostWindow(window);
    }
}

TEST_F(PumpMessages, WaitsForAMessageFromAnotherThreadThenCountsIt) {
    Seen seen;
    const HWND window = Stridelog_CreateHostWindow(&record, &seen);
    std::thread poster([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        platform::post_message(window, kPlain, 0, 0);
    });
    EXPECT_EQ(Stridelog_PumpMessages(5000), 1);
    poster.join();
    EXPECT_EQ(seen.messages.size(), 1u);
    Stridelog_DestroyHostWindow(window);
}

TEST_F(PumpMessages, ATimerThatFallsDueWhileWaitingCountsAsOne) {
    platform::ScopedVirtualClock clock;
    int ticks = 0;
    const HWND window = Stridelog_CreateHostWindow(
        [](void* context, HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
            if (message == platform::kWmTimer) ++*static_cast<int*>(context);
            return 0;
        },
        &ticks);
    platform::set_timer(window, 1, 200);
    const std::uint64_t start = clock->now_ms();
    EXPECT_EQ(Stridelog_PumpMessages(1000), 1);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(clock->now_ms() - start, 200u);
    platform::kill_timer(window, 1);
    EXPECT_EQ(Stridelog_PumpMessages(100), 0) << "no timer, nothing waiting";
    Stridelog_DestroyHostWindow(window);
}

}  // namespace
}  // namespace stridelog
