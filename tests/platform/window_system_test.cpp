// Windows, queues, registered messages and timers as the SDK relies on them.
#include "platform/window_system.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.hpp"

namespace stridelog::platform {
namespace {

constexpr UINT kTestMessage = kWmUser + 1;

struct Delivery {
    HWND hwnd;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    std::uint64_t at_ms;
    bool operator==(const Delivery&) const = default;
};

// A window that records what reaches it (and when, on the platform clock).
struct RecordingWindow {
    explicit RecordingWindow(HWND parent = nullptr)
        : hwnd(create_window(
              [this](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                  log.push_back({h, m, w, l, clock().now_ms()});
                  if (on_message) on_message(m, w, l);
                  return static_cast<LRESULT>(w) * 2;
              },
              parent)) {}
    ~RecordingWindow() {
        if (is_window(hwnd)) destroy_window(hwnd);
    }
    std::vector<UINT> messages() const {
        std::vector<UINT> out;
        for (const auto& d : log) out.push_back(d.message);
        return out;
    }
    std::vector<Delivery> log;
    std::function<void(UINT, WPARAM, LPARAM)> on_message;
    const HWND hwnd;
};

std::atomic<int> g_dropped{0};
void count_drop(UINT, WPARAM, LPARAM) {
    ++g_dropped;
}

// Leaves nothing queued on this thread for the next test.
void drain_queue() {
    Message msg;
    while (peek_message(msg)) {
        if (msg.drop) msg.drop(msg.message, msg.wparam, msg.lparam);
    }
}

class WindowSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        drain_queue();
        g_dropped = 0;
    }
    void TearDown() override { drain_queue(); }
};

TEST_F(WindowSystemTest, DeadAndForeignWindowsRefuseAndLeaveOwnershipWithTheCaller) {
    HWND foreign = nullptr;
    std::atomic<int> calls{0};
    std::thread([&] {
        foreign = create_window([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
            ++calls;
            return 7;
        });
    }).join();
    EXPECT_EQ(send_message(foreign, kTestMessage, 0, 0), 0);
    EXPECT_FALSE(destroy_window(foreign)) << "only the owner destroys";
    EXPECT_EQ(calls, 0);

    RecordingWindow window;
    const HWND h = window.hwnd;
    EXPECT_TRUE(is_window_enabled(h)) << "created enabled";
    EXPECT_FALSE(is_window_visible(h)) << "created hidden";
    ASSERT_TRUE(destroy_window(h));
    EXPECT_EQ(send_message(h, kTestMessage, 5, 0), 0);
    EXPECT_FALSE(post_message(h, kTestMessage, 0, 0, count_drop));
    EXPECT_EQ(g_dropped, 0) << "a refused post leaves the payload to the caller";
    EXPECT_FALSE(set_timer(h, 1, 10));
    EXPECT_FALSE(enable_window(h, true));
    EXPECT_FALSE(show_window(h, true));
    EXPECT_EQ(get_window_text(h), "");
    RecordingWindow next;
    EXPECT_NE(next.hwnd, h) << "handles are not reused";
}

TEST_F(WindowSystemTest, RegisteredMessageNames) {
    const UINT msg = register_window_message("Stride_Log_SDK_V1.0_MSG");
    EXPECT_GE(msg, kFirstRegisteredMessage);
    EXPECT_EQ(register_window_message("STRIDE_LOG_SDK_V1.0_msg"), msg) << "case does not matter";
    EXPECT_NE(register_window_message("Stride_Log_SDK_V1.0_ERROR"), msg);
    EXPECT_NE(register_window_message("Stride_Log_SDK_V1.0_MS"), msg) << "a prefix is another";
    EXPECT_EQ(register_window_message(""), 0u);
    UINT from_thread = 0;
    std::thread([&] { from_thread = register_window_message("stride_log_sdk_v1.0_msg"); }).join();
    EXPECT_EQ(from_thread, msg) << "one numbering for the whole process";
}

TEST_F(WindowSystemTest, TimersExpireAsWmTimerOnTheOwnersLoop) {
    ScopedVirtualClock virtual_time;
    RecordingWindow window;
    const HWND h = window.hwnd;
    const std::uint64_t start = clock().now_ms();
    auto expiry = [&](UINT_PTR id, std::uint64_t at) {
        return Delivery{h, kWmTimer, id, 0, start + at};
    };
    ASSERT_TRUE(set_timer(h, 1000, 2500));
    ASSERT_TRUE(set_timer(h, 1001, 250));
    ASSERT_TRUE(set_timer(h, 1001, 1000)) << "same id: replaced, not added";
    ASSERT_TRUE(set_timer(h, 4006, 3000));
    clock().sleep_ms(500);
    set_timer(h, 4006, 3000);  // a reply re-arms the wait: the period restarts

    run_loop_until([&] { return window.log.size() == 5; });
    EXPECT_EQ(window.log,
              (std::vector<Delivery>{expiry(1001, 1000), expiry(1001, 2000), expiry(1000, 2500),
                                     expiry(1001, 3000), expiry(4006, 3500)}));
    EXPECT_TRUE(kill_timer(h, 1000));
    EXPECT_FALSE(kill_timer(h, 1000)) << "already gone";
    EXPECT_TRUE(kill_timer(h, 4006));
    run_loop_until([&] { return window.log.size() == 7; });
    EXPECT_EQ(window.log[5], expiry(1001, 4000));
    EXPECT_EQ(window.log[6], expiry(1001, 5000)) << "the killed 1000 would be due too";
    EXPECT_TRUE(kill_timer(h, 1001));
    Message msg;
    EXPECT_EQ(get_message(msg), Fetch::idle) << "no timer left: nothing will ever come";
}

TEST_F(WindowSystemTest, DestroyDropsQueuedMessagesOnceAndKillsTimers) {
    ScopedVirtualClock virtual_time;
    RecordingWindow parent;
    RecordingWindow child(parent.hwnd);
    RecordingWindow bystander;
    set_timer(child.hwnd, 1, 10);
    set_timer(parent.hwnd, 2, 10);
    for (int i = 0; i < 3; ++i) {
        post_message(parent.hwnd, kTestMessage, 0, 0, count_drop);
        post_message(child.hwnd, kTestMessage, 0, 0, count_drop);
    }
    post_message(bystander.hwnd, kTestMessage, 0, 0, count_drop);
    // Whatever the window posts to itself while being destroyed is dropped too.
    parent.on_message = [&](UINT m, WPARAM, LPARAM) {
        if (m == kWmDestroy) post_message(parent.hwnd, kTestMessage, 0, 0, count_drop);
    };
    const HWND parent_handle = parent.hwnd;
    const HWND child_handle = child.hwnd;

    ASSERT_TRUE(destroy_window(parent_handle));
    EXPECT_EQ(g_dropped, 7);
    EXPECT_FALSE(is_window(child_handle)) << "children die with their parent";
    EXPECT_EQ(child.messages(), (std::vector<UINT>{kWmDestroy, kWmNcDestroy}));
    EXPECT_EQ(parent.messages(), (std::vector<UINT>{kWmDestroy, kWmNcDestroy}));
    EXPECT_FALSE(destroy_window(parent_handle)) << "twice is refused";

    run_loop_until([&] { return bystander.log.size() == 1; });
    EXPECT_EQ(g_dropped, 7) << "dropped exactly once, never delivered";
    Message msg;
    EXPECT_EQ(get_message(msg), Fetch::idle) << "the dead windows' timers are gone";
}

// Thread messages reach the thread's handler (checked end to end with a null
// host window); without one, or when the thread ends first, the payload is released.
TEST_F(WindowSystemTest, UnhandledThreadMessagesAreReleased) {
    ASSERT_TRUE(post_message(nullptr, kTestMessage, 0, 0, count_drop));
    Message msg;
    ASSERT_TRUE(peek_message(msg));
    EXPECT_EQ(msg.hwnd, nullptr);
    dispatch_message(msg);
    EXPECT_EQ(g_dropped, 1);
    std::thread([] {
        post_message(nullptr, kTestMessage, 0, 0, count_drop);
        post_message(nullptr, kTestMessage, 0, 0, count_drop);
    }).join();
    EXPECT_EQ(g_dropped, 3);
}

// A modal loop inside a handler runs the later messages itself; WM_QUIT ends it
// and every loop that stops on WM_QUIT posts it again for the loop around it.
TEST_F(WindowSystemTest, NestedLoopsHandQuitOutward) {
    RecordingWindow window;
    bool inner_result = true;
    window.on_message = [&](UINT, WPARAM w, LPARAM) {
        if (w != 1) return;
        post_message(window.hwnd, kTestMessage, 2, 0);
        post_quit_message(5);
        inner_result = run_loop_until([] { return false; });
    };
    post_message(window.hwnd, kTestMessage, 1, 0);
    EXPECT_FALSE(run_loop_until([] { return false; }));
    EXPECT_FALSE(inner_result);
    ASSERT_EQ(window.log.size(), 2u);
    EXPECT_EQ(window.log[1].wparam, 2u) << "run by the inner loop";
    Message msg;
    ASSERT_TRUE(peek_message(msg));
    EXPECT_EQ(msg.message, kWmQuit);
    EXPECT_EQ(msg.wparam, 5u);
    EXPECT_FALSE(peek_message(msg)) << "exactly one quit left";
}

}  // namespace
}  // namespace stridelog::platform
