// SetDateTime as a host sees it, against a simulated watch (in-process line,
// virtual clock): the calendar check, the clock command on the wire, the
// watch's clock afterwards, and a watch that does not answer in time.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
#include "tests/support/simulated_watch_fixture.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;

using SetDateTimeTest = test::SimulatedWatchTest;

// A valid date goes out as one clock command and the watch's clock runs on from
// it (the full bar is shown a second); an invalid one sends nothing. A watch
// silent, or answering after 400 ms to an ended task: the full bar, then the
// error as the last word, and no full-bar pause after a time-out.
TEST_F(SetDateTimeTest, CalendarCheckAndTheWatchClock) {
    struct Case {
        const char* legend;
        BYTE year;  // minus 2000
        BYTE month;
        DWORD day;
        BYTE hour, minute;
        DWORD second;
        std::optional<FaultKind> fault = std::nullopt;  // on the clock command
    };
    const Case cases[] = {
        {"29 Feb 2024", 24, 2, 29, 13, 45, 10},
        {"29 Feb 2012", 12, 2, 29, 0, 0, 0},
        {"29 Feb 2000 (divisible by 400)", 0, 2, 29, 23, 59, 30},
        {"31 Dec 2255, the last year a byte holds", 255, 12, 31, 23, 59, 40},
        {"29 Feb 2023", 23, 2, 29, 12, 0, 0},
        {"29 Feb 2013", 13, 2, 29, 12, 0, 0},
        {"29 Feb 2100 (a century)", 100, 2, 29, 12, 0, 0},
        {"30 Feb 2024", 24, 2, 30, 12, 0, 0},
        {"31 Apr", 24, 4, 31, 12, 0, 0},
        {"month 13", 24, 13, 1, 12, 0, 0},
        {"month 0", 24, 0, 1, 12, 0, 0},
        {"day 0", 24, 1, 0, 12, 0, 0},
        {"hour 24", 24, 1, 1, 24, 0, 0},
        {"minute 60", 24, 1, 1, 23, 60, 0},
        {"second 60", 24, 1, 1, 23, 59, 60},
        {"day 2^32 - 1", 24, 1, 0xFFFFFFFFu, 12, 0, 0},
        {"second 2^32 - 1", 24, 1, 1, 12, 0, 0xFFFFFFFFu},
        {"silent watch", 24, 2, 29, 10, 0, 0, FaultKind::silence},
        {"an answer after 400 ms", 24, 2, 29, 10, 0, 0, FaultKind::delay},
    };
    std::string text;
    for (const auto& c : cases) {
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        if (c.fault) {
            Fault f = Fault::on_command(*c.fault, 0x39);
            f.delay_ms = 400;
            watch_.add_fault(f);
        }
        const std::uint64_t start = platform::clock().now_ms();
        SetDateTime(host_.hwnd(), c.year, c.month, c.day, c.hour, c.minute, c.second, FALSE);
        run_task();
        const std::uint64_t took = platform::clock().now_ms() - start;
        char clock[64] = "never set";
        if (const auto t = watch_.time(); t)
            std::snprintf(clock, sizeof clock, "%04d-%02d-%02d %02d:%02d:%02d", t->year, t->month,
                          t->day, t->hour, t->minute, t->second);
        if (c.fault) {  // and what comes after the task ended
            platform::clock().sleep_ms(500);
            test::deliver_posted();
        }
        text += std::string("== ") + c.legend + ": " + std::to_string(took) + " ms, watch clock " +
                clock + "\n" + test::transcript(host_) + test::frames_transcript(watch_.received());
    }
    test::expect_golden("e2e/set_date_time", text);
}

}  // namespace
}  // namespace stridelog
