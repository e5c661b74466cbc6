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
class RecordingWindow {
  public:
    explicit RecordingWindow(HWND parent = nullptr) {
        hwnd_ = create_window(
            [this](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                log_.push_back({h, m, w, l, clock().now_ms()});
                if (on_message_) on_message_(m, w, l);
                return static_cast<LRESULT>(w) * 2;
            },
            parent);
    }
    ~RecordingWindow() {
        if (is_window(hwnd_)) destroy_window(hwnd_);
    }
    HWND hwnd() const { return hwnd_; }
    const std::vector<Delivery>& log() const { return log_; }
    std::vector<UINT> messages() const {
        std::vector<UINT> out;
        for (const auto& d : log_) out.push_back(d.message);
        return out;
    }
    std::function<void(UINT, WPARAM, LPARAM)> on_message_;

  private:
    HWND hwnd_;
    std::vector<Delivery> log_;
};

std::atomic<int> g_dropped{0};
void CountDrop(UINT, WPARAM, LPARAM) {
    ++g_dropped;
}

// Leaves nothing queued on this thread for the next test.
void DrainQueue() {
    Message msg;
    while (peek_message(msg)) {
        if (msg.drop) msg.drop(msg.message, msg.wparam, msg.lparam);
    }
}

class WindowSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DrainQueue();
        g_dropped = 0;
    }
    void TearDown() override {
        set_thread_message_handler({});
        DrainQueue();
    }
};

TEST_F(WindowSystemTest, PostedMessagesArriveInOrderAndSendIsDirect) {
    RecordingWindow window;
    ASSERT_TRUE(post_message(window.hwnd(), kTestMessage, 1, 10));
    ASSERT_TRUE(post_message(window.hwnd(), kTestMessage, 2, 20));
    EXPECT_TRUE(window.log().empty()) << "posting never delivers synchronously";

    EXPECT_EQ(send_message(window.hwnd(), kTestMessage + 1, 21, 0), 42)
        << "result of the procedure";
    ASSERT_EQ(window.log().size(), 1u) << "send bypasses the queue";

    int received = 0;
    EXPECT_TRUE(run_loop_until([&] { return window.log().size() == 3; }));
    for (const auto& d : window.log())
        if (d.message == kTestMessage) {
            EXPECT_EQ(d.lparam, static_cast<LPARAM>(++received * 10));
        }
    EXPECT_EQ(received, 2);
}

TEST_F(WindowSystemTest, SendToAnotherThreadsOrADeadWindowIsRefused) {
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
    const HWND handle = window.hwnd();
    destroy_window(handle);
    EXPECT_EQ(send_message(handle, kTestMessage, 5, 0), 0);
}

TEST_F(WindowSystemTest, PostFromAnotherThreadWakesTheLoop) {
    RecordingWindow window;
    std::thread poster([h = window.hwnd()] {
        for (WPARAM i = 0; i < 100; ++i) post_message(h, kTestMessage, i, 0);
    });
    EXPECT_TRUE(
        run_loop_until([&] { return window.log().size() == 100; }, clock().now_ms() + 10'000));
    poster.join();
    for (std::size_t i = 0; i < window.log().size(); ++i)
        EXPECT_EQ(window.log()[i].wparam, i) << "order of one poster is kept";
}

TEST_F(WindowSystemTest, RegisteredMessageNames) {
    struct Case {
        const char* legend;
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"same name, same number", "Stride_Log_SDK_V1.0_MSG", "Stride_Log_SDK_V1.0_MSG", true},
        {"case does not matter", "Stride_Log_SDK_V1.0_MSG", "STRIDE_LOG_SDK_V1.0_msg", true},
        {"different names differ", "Stride_Log_SDK_V1.0_MSG", "Stride_Log_SDK_V1.0_ERROR", false},
        {"a prefix is another name", "Stride_Log", "Stride_Log_SDK", false},
    };
    for (const auto& c : cases) {
        const UINT a = register_window_message(c.a);
        const UINT b = register_window_message(c.b);
        EXPECT_GE(a, kFirstRegisteredMessage) << c.legend;
        EXPECT_GE(b, kFirstRegisteredMessage) << c.legend;
        EXPECT_EQ(a == b, c.same) << c.legend;
    }
    EXPECT_EQ(register_window_message(""), 0u);
    UINT from_thread = 0;
    std::thread([&] { from_thread = register_window_message("stride_log_sdk_v1.0_msg"); }).join();
    EXPECT_EQ(from_thread, register_window_message("Stride_Log_SDK_V1.0_MSG"))
        << "one numbering for the whole process";
}

TEST_F(WindowSystemTest, TimersExpireAsWmTimerOnTheOwnersLoop) {
    ScopedVirtualClock virtual_time;
    RecordingWindow window;
    const std::uint64_t start = clock().now_ms();
    ASSERT_TRUE(set_timer(window.hwnd(), 1000, 3000));
    ASSERT_TRUE(set_timer(window.hwnd(), 1001, 250));
    ASSERT_TRUE(set_timer(window.hwnd(), 1001, 1000)) << "same id: replaced, not added";
    EXPECT_TRUE(has_timer(window.hwnd(), 1001));

    run_loop_until([&] { return window.log().size() == 4; });
    const std::vector<Delivery> expected = {
        {window.hwnd(), kWmTimer, 1001, 0, start + 1000},
        {window.hwnd(), kWmTimer, 1001, 0, start + 2000},
        {window.hwnd(), kWmTimer, 1000, 0, start + 3000},
        {window.hwnd(), kWmTimer, 1001, 0, start + 3000},
    };
    ASSERT_EQ(window.log().size(), 4u);
    // Two timers due at the same moment may come in either order.
    EXPECT_EQ(window.log()[0], expected[0]);
    EXPECT_EQ(window.log()[1], expected[1]);
    EXPECT_EQ(window.log()[2].at_ms, start + 3000);
    EXPECT_EQ(window.log()[3].at_ms, start + 3000);
    EXPECT_NE(window.log()[2].wparam, window.log()[3].wparam);

    EXPECT_TRUE(kill_timer(window.hwnd(), 1000));
    EXPECT_FALSE(kill_timer(window.hwnd(), 1000)) << "already gone";
    EXPECT_FALSE(has_timer(window.hwnd(), 1000));
    run_loop_until([&] { return window.log().size() == 6; });
    EXPECT_EQ(window.messages(), std::vector<UINT>(6, kWmTimer));
    EXPECT_EQ(window.log()[4].wparam, 1001u);
    EXPECT_EQ(window.log()[5].wparam, 1001u);

    EXPECT_TRUE(kill_timer(window.hwnd(), 1001));
    Message msg;
    EXPECT_EQ(get_message(msg), Fetch::idle) << "no timer left: nothing will ever come";
}

TEST_F(WindowSystemTest, ResettingATimerRestartsItsPeriod) {
    ScopedVirtualClock virtual_time;
    RecordingWindow window;
    const std::uint64_t start = clock().now_ms();
    set_timer(window.hwnd(), 4006, 3000);
    clock().sleep_ms(2000);
    set_timer(window.hwnd(), 4006, 3000);  // a reply re-arms the wait
    run_loop_until([&] { return !window.log().empty(); });
    ASSERT_EQ(window.log().size(), 1u);
    EXPECT_EQ(window.log()[0].at_ms, start + 5000);
}

TEST_F(WindowSystemTest, DestroyDropsQueuedMessagesOnceAndKillsTimers) {
    ScopedVirtualClock virtual_time;
    RecordingWindow parent;
    RecordingWindow child(parent.hwnd());
    RecordingWindow bystander;
    set_timer(child.hwnd(), 1, 10);
    set_timer(parent.hwnd(), 2, 10);
    for (int i = 0; i < 3; ++i) {
        post_message(parent.hwnd(), kTestMessage, 0, 0, CountDrop);
        post_message(child.hwnd(), kTestMessage, 0, 0, CountDrop);
    }
    post_message(bystander.hwnd(), kTestMessage, 0, 0, CountDrop);
    // Whatever the window posts to itself while being destroyed is dropped too.
    parent.on_message_ = [&](UINT m, WPARAM, LPARAM) {
        if (m == kWmDestroy) post_message(parent.hwnd(), kTestMessage, 0, 0, CountDrop);
    };
    const HWND parent_handle = parent.hwnd();
    const HWND child_handle = child.hwnd();

    ASSERT_TRUE(destroy_window(parent_handle));
    EXPECT_EQ(g_dropped, 7);
    EXPECT_FALSE(is_window(parent_handle));
    EXPECT_FALSE(is_window(child_handle)) << "children die with their parent";
    EXPECT_EQ(child.messages(), (std::vector<UINT>{kWmDestroy, kWmNcDestroy}));
    EXPECT_EQ(parent.messages(), (std::vector<UINT>{kWmDestroy, kWmNcDestroy}));
    EXPECT_FALSE(has_timer(child_handle, 1));
    EXPECT_FALSE(destroy_window(parent_handle)) << "twice is refused";

    run_loop_until([&] { return bystander.log().size() == 1; });
    EXPECT_EQ(g_dropped, 7) << "dropped exactly once, never delivered";
    Message msg;
    EXPECT_EQ(get_message(msg), Fetch::idle) << "the dead windows' timers are gone";
}

TEST_F(WindowSystemTest, PostToADestroyedWindowFailsAndLeavesOwnershipWithTheCaller) {
    RecordingWindow window;
    const HWND handle = window.hwnd();
    destroy_window(handle);
    EXPECT_FALSE(post_message(handle, kTestMessage, 0, 0, CountDrop));
    EXPECT_EQ(g_dropped, 0);
    EXPECT_FALSE(set_timer(handle, 1, 10));
    RecordingWindow next;
    EXPECT_NE(next.hwnd(), handle) << "handles are not reused";
}

TEST_F(WindowSystemTest, NullWindowPostsAThreadMessage) {
    std::vector<Message> seen;
    set_thread_message_handler([&](const Message& m) { seen.push_back(m); });
    ASSERT_TRUE(post_message(nullptr, kTestMessage, 3, 4));
    Message msg;
    ASSERT_TRUE(peek_message(msg));
    EXPECT_EQ(msg.hwnd, nullptr);
    dispatch_message(msg);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, kTestMessage);
    EXPECT_EQ(seen[0].wparam, 3u);
    EXPECT_EQ(seen[0].lparam, 4);

    // Without a handler the message's payload is released, not leaked.
    set_thread_message_handler({});
    post_message(nullptr, kTestMessage, 0, 0, CountDrop);
    ASSERT_TRUE(peek_message(msg));
    dispatch_message(msg);
    EXPECT_EQ(g_dropped, 1);
}

TEST_F(WindowSystemTest, MessagesLeftWhenAThreadEndsAreDropped) {
    std::thread([] {
        post_message(nullptr, kTestMessage, 0, 0, CountDrop);
        post_message(nullptr, kTestMessage, 0, 0, CountDrop);
    }).join();
    EXPECT_EQ(g_dropped, 2);
}

TEST_F(WindowSystemTest, EnabledVisibleAndText) {
    RecordingWindow window;
    const HWND h = window.hwnd();
    EXPECT_TRUE(is_window_enabled(h)) << "created enabled";
    EXPECT_FALSE(is_window_visible(h)) << "created hidden";
    EXPECT_TRUE(enable_window(h, false));
    EXPECT_FALSE(is_window_enabled(h));
    EXPECT_TRUE(show_window(h, true));
    EXPECT_TRUE(is_window_visible(h));
    EXPECT_TRUE(set_window_text(h, "Stride Log"));
    EXPECT_EQ(get_window_text(h), "Stride Log");
    EXPECT_EQ(get_parent(h), nullptr);
    destroy_window(h);
    EXPECT_FALSE(enable_window(h, true));
    EXPECT_FALSE(is_window_enabled(h));
    EXPECT_FALSE(show_window(h, true));
    EXPECT_EQ(get_window_text(h), "");
}

TEST_F(WindowSystemTest, NestedLoopsAndQuit) {
    RecordingWindow window;
    bool inner_done = false;
    bool inner_result = false;
    window.on_message_ = [&](UINT m, WPARAM w, LPARAM) {
        if (m == kTestMessage && w == 1) {
            // A modal loop inside a handler: it runs the later messages itself.
            post_message(window.hwnd(), kTestMessage, 2, 0);
            inner_result = run_loop_until([&] { return inner_done; });
        } else if (m == kTestMessage && w == 2) {
            inner_done = true;
        }
    };
    post_message(window.hwnd(), kTestMessage, 1, 0);
    EXPECT_TRUE(run_loop_until([&] { return window.log().size() == 2; }));
    EXPECT_TRUE(inner_result);

    // WM_QUIT ends the inner loop and is handed on to the outer one.
    inner_done = false;
    window.on_message_ = [&](UINT m, WPARAM w, LPARAM) {
        if (m == kTestMessage && w == 1) {
            post_quit_message(5);
            inner_result = run_loop_until([&] { return inner_done; });
        }
    };
    post_message(window.hwnd(), kTestMessage, 1, 0);
    EXPECT_FALSE(run_loop_until([] { return false; }));
    EXPECT_FALSE(inner_result);
    // Every loop that stops on WM_QUIT posts it again for whatever loop encloses it.
    Message msg;
    ASSERT_TRUE(peek_message(msg));
    EXPECT_EQ(msg.message, kWmQuit);
    EXPECT_EQ(msg.wparam, 5u);
    EXPECT_FALSE(peek_message(msg)) << "exactly one quit left";
}

TEST_F(WindowSystemTest, DeadlinesOnTheVirtualClock) {
    ScopedVirtualClock virtual_time;
    RecordingWindow window;
    const std::uint64_t start = clock().now_ms();
    set_timer(window.hwnd(), 1008, 70'000);
    Message msg;
    EXPECT_EQ(get_message(msg, start + 1000), Fetch::timeout) << "deadline before the timer";
    EXPECT_EQ(clock().now_ms(), start + 1000);
    EXPECT_FALSE(run_loop_until([&] { return !window.log().empty(); }, start + 60'000));
    EXPECT_EQ(clock().now_ms(), start + 60'000);
    EXPECT_TRUE(run_loop_until([&] { return !window.log().empty(); }, start + 80'000));
    EXPECT_EQ(window.log()[0].at_ms, start + 70'000) << "a 70 s time limit, without waiting";
}

}  // namespace
}  // namespace stridelog::platform
