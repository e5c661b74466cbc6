// SetDateTime as a host sees it, against a simulated watch (in-process line,
// virtual clock): the calendar check, the clock command on the wire, the
// watch's clock afterwards, and a watch that does not answer in time.
#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<UINT>;

class SetDateTimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        sim::register_as_cable(line_, "COM7");
    }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }
    std::vector<Bytes> clock_commands() const {
        std::vector<Bytes> out;
        for (const auto& p : watch_.received())
            if (!p.empty() && p[0] == 0x39) out.push_back(p);
        return out;
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::HostRecorder host_;
    sim::Watch watch_;
    sim::InProcessLine line_{watch_, "clock"};
    std::size_t blocks_before_ = 0;
};

TEST_F(SetDateTimeTest, CalendarCheckAndTheWatchClock) {
    struct Case {
        const char* legend;
        BYTE year;  // minus 2000
        BYTE month;
        DWORD day;
        BYTE hour, minute;
        DWORD second;
        bool valid;
    };
    const Case cases[] = {
        {"29 Feb 2024", 24, 2, 29, 13, 45, 10, true},
        {"29 Feb 2012", 12, 2, 29, 0, 0, 0, true},
        {"29 Feb 2000 (divisible by 400)", 0, 2, 29, 23, 59, 30, true},
        {"31 Dec 2255, the last year a byte holds", 255, 12, 31, 23, 59, 40, true},
        {"29 Feb 2023", 23, 2, 29, 12, 0, 0, false},
        {"29 Feb 2013", 13, 2, 29, 12, 0, 0, false},
        {"29 Feb 2100 (a century)", 100, 2, 29, 12, 0, 0, false},
        {"30 Feb 2024", 24, 2, 30, 12, 0, 0, false},
        {"31 Apr", 24, 4, 31, 12, 0, 0, false},
        {"month 13", 24, 13, 1, 12, 0, 0, false},
        {"month 0", 24, 0, 1, 12, 0, 0, false},
        {"day 0", 24, 1, 0, 12, 0, 0, false},
        {"hour 24", 24, 1, 1, 24, 0, 0, false},
        {"minute 60", 24, 1, 1, 23, 60, 0, false},
        {"second 60", 24, 1, 1, 23, 59, 60, false},
        {"day 2^32 - 1", 24, 1, 0xFFFFFFFFu, 12, 0, 0, false},
        {"second 2^32 - 1", 24, 1, 1, 12, 0, 0xFFFFFFFFu, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        host_.clear();
        watch_.clear_received();
        const auto before = watch_.time();
        const std::uint64_t start = platform::clock().now_ms();
        SetDateTime(host_.hwnd(), c.year, c.month, c.day, c.hour, c.minute, c.second, FALSE);
        ASSERT_TRUE(test::run_until_task_ends(60'000));
        if (!c.valid) {
            EXPECT_EQ(host_.codes_without_progress(),
                      (Codes{SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE}))
                << host_.describe();
            EXPECT_TRUE(clock_commands().empty()) << "nothing sent";
            EXPECT_EQ(watch_.time().has_value(), before.has_value());
            continue;
        }
        EXPECT_EQ(host_.codes_without_progress(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_CLOCK_SET}))
            << host_.describe();
        const Bytes command = {0x39,
                               c.year,
                               c.month,
                               static_cast<std::uint8_t>(c.day),
                               c.hour,
                               c.minute,
                               static_cast<std::uint8_t>(c.second)};
        EXPECT_EQ(clock_commands(), std::vector<Bytes>{command});
        // The watch's clock runs on from the value set (the full bar is shown a second).
        const auto now = watch_.time();
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(
            (std::vector<int>{now->year, now->month, now->day, now->hour, now->minute}),
            (std::vector<int>{2000 + c.year, c.month, static_cast<int>(c.day), c.hour, c.minute}));
        EXPECT_GE(now->second, static_cast<int>(c.second) + 1);
        EXPECT_LE(now->second, static_cast<int>(c.second) + 3);
        EXPECT_GE(platform::clock().now_ms() - start, 1000u);
    }
}

TEST_F(SetDateTimeTest, AWatchThatDoesNotAnswerIn250Ms) {
    struct Case {
        const char* legend;
        Fault fault;
    };
    Fault late = Fault::on_command(FaultKind::delay, 0x39);
    late.delay_ms = 400;
    const Case cases[] = {
        {"silent", Fault::on_command(FaultKind::silence, 0x39)},
        {"answers after 400 ms", late},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        host_.clear();
        watch_.clear_faults();
        watch_.add_fault(c.fault);
        const std::uint64_t start = platform::clock().now_ms();
        SetDateTime(host_.hwnd(), 24, 2, 29, 10, 0, 0, FALSE);
        ASSERT_TRUE(test::run_until_task_ends(60'000));
        const std::uint64_t took = platform::clock().now_ms() - start;
        // A late answer reaching an ended task changes nothing.
        platform::clock().sleep_ms(500);
        test::deliver_posted();
        EXPECT_EQ(host_.codes_without_progress(),
                  (Codes{SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_TIMEOUT}))
            << host_.describe();
        // The full bar, then the error as the last word.
        const auto& notes = host_.notifications();
        ASSERT_GE(notes.size(), 2u);
        EXPECT_EQ(notes.back().code, static_cast<UINT>(SDK_ERR_CLOCK_TIMEOUT));
        EXPECT_TRUE(notes.back().error);
        EXPECT_EQ(notes[notes.size() - 2].code, static_cast<UINT>(SDK_MSG_PROGRESS));
        EXPECT_EQ(notes[notes.size() - 2].progress(), 100.0f);
        EXPECT_LT(took, 1000u) << "no full-bar pause after a time-out";
    }
}

}  // namespace
}  // namespace stridelog
