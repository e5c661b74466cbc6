// The progress bar control seen from outside: messages in, results, state and
// painted pixels out.
#include "ui/text_progress_ctrl.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "platform/window_system.hpp"

namespace stridelog {
namespace {

using platform::Canvas;
using platform::Rect;
using platform::send_message;

class ProgressCtrlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CTextProgressCtrl::ResetMarqueeDirection();
        parent_ = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
        bar_ = std::make_unique<CTextProgressCtrl>(parent_);
    }
    void TearDown() override {
        bar_.reset();
        platform::destroy_window(parent_);
    }
    // A new control for the next table row.
    void Fresh() {
        TearDown();
        SetUp();
    }
    LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
        return send_message(bar_->GetSafeHwnd(), message, wparam, lparam);
    }
    LRESULT Range16(int lower, int upper) {
        return Send(PBM_SETRANGE, 0, static_cast<LPARAM>((lower & 0xFFFF) | (upper << 16)));
    }

    HWND parent_ = nullptr;
    std::unique_ptr<CTextProgressCtrl> bar_;
};

TEST_F(ProgressCtrlTest, EverySetterReturnsThePreviousValue) {
    struct Row {
        const char* legend;
        UINT message;
        WPARAM w1;
        LPARAM l1;
        LRESULT first;  // answer to the first set (the initial value)
        WPARAM w2;
        LPARAM l2;
        LRESULT second;  // answer to the second set (the first value)
    };
    const LRESULT kDefault = static_cast<LRESULT>(CLR_DEFAULT);
    const Row rows[] = {
        {"range: lower low word, upper high word", PBM_SETRANGE, 0, 10 | (500 << 16),
         0 | (100 << 16), 0, 0 | (1 << 16), 10 | (500 << 16)},
        {"range32 answers in the same packed form", PBM_SETRANGE32, 5, 60, 0 | (100 << 16), 0, 10,
         5 | (60 << 16)},
        {"position", PBM_SETPOS, 30, 0, 0, 70, 0, 30},
        {"step", PBM_SETSTEP, 3, 0, 10, 4, 0, 3},
        {"bar colour", PBM_SETBARCOLOR, 0, 0x0000FF00, kDefault, 0, 0x00112233, 0x0000FF00},
        {"background colour", PBM_SETBKCOLOR, 0, 0x00ABCDEF, kDefault, 0, 0, 0x00ABCDEF},
        {"text colour", PBM_SETTEXTCOLOR, 0, 255, kDefault, 0, 0, 255},
        {"text colour over the bar", PBM_SETTEXTBARCOLOR, 0, 0x00FF0000, kDefault, 0, 1,
         0x00FF0000},
        {"show percentage", PBM_SETSHOWPERCENT, 0, 0, 1, 1, 0, 0},
        {"alignment", PBM_SETTEXTALIGN, 2, 0, 1, 0, 0, 2},
        {"marquee block answers its argument", PBM_SETMARQUEEBLOCK, 35, 0, 35, 20, 0, 20},
        {"marquee answers its argument", PBM_SETMARQUEE, 1, 50, 1, 0, 0, 0},
    };
    for (const auto& row : rows) {
        Fresh();
        EXPECT_EQ(Send(row.message, row.w1, row.l1), row.first) << row.legend;
        EXPECT_EQ(Send(row.message, row.w2, row.l2), row.second) << row.legend;
    }
}

TEST_F(ProgressCtrlTest, PositionIsClampedAndStepWrapsAround) {
    struct Row {
        const char* legend;
        int lower, upper, start, step;
        bool marquee;
        UINT message;
        int argument;
        int expected;
    };
    const Row rows[] = {
        {"above the upper bound sets the upper bound", 0, 100, 0, 10, false, PBM_SETPOS, 150, 100},
        {"below the lower bound sets the lower bound", 20, 100, 20, 10, false, PBM_SETPOS, 5, 20},
        {"delta adds to the position", 0, 100, 40, 10, false, PBM_DELTAPOS, 7, 47},
        {"delta past the end clamps", 0, 100, 40, 10, false, PBM_DELTAPOS, 90, 100},
        {"step past the upper bound wraps: 95 + 10 gives 5", 0, 100, 95, 10, false, PBM_STEPIT, 0,
         5},
        {"step landing on the upper bound stays", 0, 100, 90, 10, false, PBM_STEPIT, 0, 100},
        {"negative step past the lower bound wraps from the top", 0, 100, 3, -10, false, PBM_STEPIT,
         0, 93},
        {"marquee allows (20 + 100) x upper / 100", 0, 100, 0, 10, true, PBM_SETPOS, 500, 120},
        {"marquee limit rounds: 120 x 33 / 100 = 39.6 -> 39", 0, 33, 0, 10, true, PBM_SETPOS, 99,
         39},
    };
    for (const auto& row : rows) {
        Fresh();
        Send(PBM_SETRANGE32, static_cast<WPARAM>(row.lower), row.upper);
        Send(PBM_SETSTEP, static_cast<WPARAM>(row.step));
        if (row.marquee) Send(PBM_SETMARQUEE, 1, 30);
        Send(PBM_SETPOS, static_cast<WPARAM>(row.start));
        EXPECT_EQ(Send(row.message, static_cast<WPARAM>(row.argument)), row.start) << row.legend;
        EXPECT_EQ(Send(PBM_GETPOS), row.expected) << row.legend;
    }
}

TEST_F(ProgressCtrlTest, GetRangeAnswersTheAskedBoundAndFillsThePair) {
    Range16(7, 900);
    PBRANGE range{-1, -1};
    EXPECT_EQ(Send(PBM_GETRANGE, 1, reinterpret_cast<LPARAM>(&range)), 7);
    EXPECT_EQ(range.iLow, 7);
    EXPECT_EQ(range.iHigh, 900);
    EXPECT_EQ(Send(PBM_GETRANGE, 0, 0), 900);
}

TEST_F(ProgressCtrlTest, ColourQueriesResolveTheDefaultToSystemColours) {
    EXPECT_EQ(Send(PBM_GETBARCOLOR_RESOLVED), platform::system_color(platform::COLOR_HIGHLIGHT));
    EXPECT_EQ(Send(PBM_GETBKCOLOR_RESOLVED), platform::system_color(platform::COLOR_BTNFACE));
    EXPECT_EQ(Send(PBM_GETTEXTCOLOR), platform::system_color(platform::COLOR_WINDOWTEXT));
    EXPECT_EQ(Send(PBM_GETTEXTBARCOLOR), platform::system_color(platform::COLOR_WINDOW));
    Send(PBM_SETBARCOLOR, 0, 0x00123456);
    Send(PBM_SETTEXTCOLOR, 0, 255);
    EXPECT_EQ(Send(PBM_GETBARCOLOR_RESOLVED), 0x00123456);
    EXPECT_EQ(Send(PBM_GETTEXTCOLOR), 255);
    EXPECT_EQ(Send(platform::kWmEraseBkgnd), 1);
}

TEST_F(ProgressCtrlTest, CaptionRoundsThePercentage) {
    struct Row {
        const char* legend;
        int upper, position;
        const char* text;
        bool percent;
        const char* caption;
    };
    const Row rows[] = {
        {"empty text reads as a space and the percentage", 100, 42, "", true, " 42%"},
        {"0.5 % shows as 1 %", 1000, 5, "", true, " 1%"},
        {"0.4 % shows as 0 %", 1000, 4, "", true, " 0%"},
        {"99.5 % shows as 100 %", 1000, 995, "Reading", true, "Reading 100%"},
        {"percentage switched off leaves the text", 100, 42, "Reading", false, "Reading"},
    };
    for (const auto& row : rows) {
        Fresh();
        Send(PBM_SETRANGE32, 0, row.upper);
        Send(PBM_SETPOS, static_cast<WPARAM>(row.position));
        platform::set_window_text(bar_->GetSafeHwnd(), row.text);
        if (!row.percent) Send(PBM_SETSHOWPERCENT, 0);
        EXPECT_EQ(bar_->CaptionText(), row.caption) << row.legend;
    }
}

TEST_F(ProgressCtrlTest, MarqueeRunsOnTimerOneAndBouncesWithOneSharedDirection) {
    Send(PBM_SETRANGE32, 0, 10);
    Send(PBM_SETMARQUEEBLOCK, 20);  // limit 12
    Send(PBM_SETMARQUEE, 1, 40);
    EXPECT_TRUE(platform::has_timer(bar_->GetSafeHwnd(), kMarqueeTimer));
    EXPECT_EQ(bar_->CaptionText(), "") << "the marquee hides the percentage";

    std::vector<int> seen;
    for (int i = 0; i < 16; ++i) {
        Send(platform::kWmTimer, kMarqueeTimer);
        seen.push_back(static_cast<int>(Send(PBM_GETPOS)));
    }
    const std::vector<int> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 11, 10, 9, 8};
    EXPECT_EQ(seen, expected);

    // A second control continues in the direction the first one set.
    CTextProgressCtrl other(parent_);
    send_message(other.GetSafeHwnd(), PBM_SETMARQUEE, 1, 40);
    send_message(other.GetSafeHwnd(), PBM_SETPOS, 50, 0);
    send_message(other.GetSafeHwnd(), platform::kWmTimer, kMarqueeTimer, 0);
    EXPECT_EQ(send_message(other.GetSafeHwnd(), PBM_GETPOS, 0, 0), 49);

    Send(PBM_SETMARQUEE, 0, 0);
    EXPECT_FALSE(platform::has_timer(bar_->GetSafeHwnd(), kMarqueeTimer));
    EXPECT_EQ(Send(PBM_SETPOS, 50), 8);
    EXPECT_EQ(Send(PBM_GETPOS), 10) << "without the marquee the upper bound clamps again";
}

// Paint: a 100x20 client has a 2-pixel flat edge, so the bar's inside is 96 pixels
// wide, from x = 2 to x = 97.
constexpr COLORREF kBar = 0x00AA0000;
constexpr COLORREF kBack = 0x0000AA00;
constexpr COLORREF kText = 0x000000FF;
constexpr COLORREF kTextOverBar = 0x00FFFFFF;
constexpr COLORREF kUntouched = 0x00123456;

class ProgressPaintTest : public ProgressCtrlTest {
  protected:
    void SetUp() override {
        ProgressCtrlTest::SetUp();
        Send(PBM_SETBARCOLOR, 0, kBar);
        Send(PBM_SETBKCOLOR, 0, kBack);
        Send(PBM_SETTEXTCOLOR, 0, kText);
        Send(PBM_SETTEXTBARCOLOR, 0, kTextOverBar);
        platform::set_window_text(bar_->GetSafeHwnd(), "");
    }
    Canvas PaintAt(int x, int y) {
        Canvas canvas(120, 40, kUntouched);
        bar_->Paint(canvas, Rect{x, y, x + 100, y + 20});
        return canvas;
    }
};

TEST_F(ProgressPaintTest, FillEndsAtWidthTimesFractionAndTheEdgeIsFlat) {
    Send(PBM_SETPOS, 42);  // 96 x 0.42 = 40.3 -> 40 filled columns
    Send(PBM_SETSHOWPERCENT, 0);
    const Canvas c = PaintAt(10, 5);
    EXPECT_EQ(c.pixel(9, 5), kUntouched) << "nothing outside the client rectangle";
    EXPECT_EQ(c.pixel(10, 5), platform::system_color(platform::COLOR_BTNSHADOW));
    EXPECT_EQ(c.pixel(11, 6), platform::system_color(platform::COLOR_BTNFACE));
    EXPECT_EQ(c.pixel(12, 7), kBar);
    EXPECT_EQ(c.pixel(12 + 39, 7), kBar) << "last filled column";
    EXPECT_EQ(c.pixel(12 + 40, 7), kBack) << "first empty column";
    EXPECT_EQ(c.pixel(12 + 95, 22), kBack);
    EXPECT_EQ(c.pixel(12 + 96, 22), platform::system_color(platform::COLOR_BTNFACE));
}

TEST_F(ProgressPaintTest, CaptionChangesColourExactlyWhereTheFillEnds) {
    // A caption wider than the bar's middle, so it spans the fill edge.
    platform::set_window_text(bar_->GetSafeHwnd(), "HHHHHHHHHH");
    Send(PBM_SETPOS, 50);  // fill edge between x = 49 and x = 50 inside the canvas
    const Canvas c = PaintAt(0, 0);
    const int edge = 2 + 48;
    int over = 0;
    int plain = 0;
    for (int y = 2; y < 18; ++y) {
        for (int x = 2; x < 98; ++x) {
            const COLORREF p = c.pixel(x, y);
            if (p == kBar || p == kBack) {
                EXPECT_EQ(p, x < edge ? kBar : kBack) << x << "," << y;
                continue;
            }
            ASSERT_EQ(p, x < edge ? kTextOverBar : kText) << x << "," << y;
            (x < edge ? over : plain)++;
        }
    }
    EXPECT_GT(over, 20);
    EXPECT_GT(plain, 20);
}

TEST_F(ProgressPaintTest, MarqueeFillsABlockEndingAtThePosition) {
    Send(PBM_SETMARQUEE, 1, 30);
    Send(PBM_SETPOS, 50);  // ends at 48; (96 x 20 + 50) / 100 = 19 pixels long
    const Canvas c = PaintAt(0, 0);
    EXPECT_EQ(c.pixel(2 + 28, 3), kBack);
    EXPECT_EQ(c.pixel(2 + 29, 3), kBar);
    EXPECT_EQ(c.pixel(2 + 47, 3), kBar);
    EXPECT_EQ(c.pixel(2 + 48, 3), kBack);
}

TEST_F(ProgressPaintTest, VerticalBarFillsFromTheBottom) {
    bar_.reset();
    bar_ = std::make_unique<CTextProgressCtrl>(parent_, PBS_VERTICAL);
    Send(PBM_SETBARCOLOR, 0, kBar);
    Send(PBM_SETBKCOLOR, 0, kBack);
    Send(PBM_SETSHOWPERCENT, 0);
    Send(PBM_SETPOS, 25);  // 16 x 0.25 = 4 rows from the bottom
    const Canvas c = PaintAt(0, 0);
    EXPECT_EQ(c.pixel(50, 17), kBar);
    EXPECT_EQ(c.pixel(50, 14), kBar);
    EXPECT_EQ(c.pixel(50, 13), kBack);
}

TEST_F(ProgressPaintTest, EmptyOrReversedRangePaintsNothing) {
    for (int upper : {0, -5}) {
        Send(PBM_SETRANGE32, 0, upper);
        const Canvas c = PaintAt(0, 0);
        for (int y = 0; y < c.height(); ++y)
            for (int x = 0; x < c.width(); ++x) ASSERT_EQ(c.pixel(x, y), kUntouched);
    }
}

}  // namespace
}  // namespace stridelog
