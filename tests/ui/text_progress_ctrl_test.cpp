// The progress bar control seen from outside: messages in, results, state and
// painted pixels out.
#include "ui/text_progress_ctrl.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/window_system.hpp"

namespace stridelog {
namespace {

using platform::send_message;

constexpr ui::COLORREF kBar = 0x00AA0000;
constexpr ui::COLORREF kBack = 0x0000AA00;
constexpr ui::COLORREF kText = 0x000000FF;
constexpr ui::COLORREF kTextOverBar = 0x00FFFFFF;
constexpr ui::COLORREF kUntouched = 0x00123456;

class ProgressCtrlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        parent_ = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
        fresh();
    }
    void TearDown() override {
        bar_.reset();
        platform::destroy_window(parent_);
    }
    // A new control for the next table row.
    void fresh(std::uint32_t style = 0) {
        bar_.reset();
        ui::CTextProgressCtrl::reset_marquee_direction();
        bar_ = std::make_unique<ui::CTextProgressCtrl>(parent_, style);
    }
    LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
        return send_message(bar_->GetSafeHwnd(), message, wparam, lparam);
    }
    // Paints the control in known colours into a 100x20 client at (10, 5). The
    // 2-pixel flat edge leaves a 96x16 inside starting at (12, 7).
    platform::Canvas paint() {
        send(ui::PBM_SETBARCOLOR, 0, kBar);
        send(ui::PBM_SETBKCOLOR, 0, kBack);
        send(ui::PBM_SETTEXTCOLOR, 0, kText);
        send(ui::PBM_SETTEXTBARCOLOR, 0, kTextOverBar);
        platform::Canvas canvas(120, 40, kUntouched);
        bar_->paint(canvas, platform::Rect{10, 5, 110, 25});
        return canvas;
    }

    HWND parent_ = nullptr;
    std::unique_ptr<ui::CTextProgressCtrl> bar_;
};

TEST_F(ProgressCtrlTest, RangeAnswersInPackedFormAndColoursDefaultToSystemColours) {
    EXPECT_EQ(send(ui::PBM_SETRANGE, 0, 10 | (500 << 16)), 100 << 16) << "previous: 0..100";
    EXPECT_EQ(send(ui::PBM_SETRANGE32, 7, 900), 10 | (500 << 16));
    ui::PBRANGE range{-1, -1};
    EXPECT_EQ(send(ui::PBM_GETRANGE, 1, reinterpret_cast<LPARAM>(&range)), 7) << "asked for lower";
    EXPECT_EQ(range.iLow, 7);
    EXPECT_EQ(range.iHigh, 900);
    EXPECT_EQ(send(ui::PBM_GETRANGE, 0, 0), 900);

    struct Row {
        UINT set, get;
        int system;
    };
    const Row rows[] = {
        {ui::PBM_SETBARCOLOR, ui::PBM_GETBARCOLOR_RESOLVED, platform::COLOR_HIGHLIGHT},
        {ui::PBM_SETBKCOLOR, ui::PBM_GETBKCOLOR_RESOLVED, platform::COLOR_BTNFACE},
        {ui::PBM_SETTEXTCOLOR, ui::PBM_GETTEXTCOLOR, platform::COLOR_WINDOWTEXT},
        {ui::PBM_SETTEXTBARCOLOR, ui::PBM_GETTEXTBARCOLOR, platform::COLOR_WINDOW},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(send(row.get), platform::system_color(row.system)) << row.get;
        EXPECT_EQ(send(row.set, 0, 0x00ABCDEF), static_cast<LRESULT>(ui::CLR_DEFAULT)) << row.set;
        EXPECT_EQ(send(row.get), 0x00ABCDEF) << row.get;
    }
}

TEST_F(ProgressCtrlTest, PositionIsClampedStepWrapsAndTheCaptionFollows) {
    struct Row {
        const char* legend;
        int lower, upper, start, step;
        bool marquee;
        UINT message;
        int argument, expected;
        const char* caption;  // no text: a space and the rounded percentage
    };
    const Row rows[] = {
        {"above upper sets upper", 0, 100, 0, 10, false, ui::PBM_SETPOS, 150, 100, " 100%"},
        {"below lower sets lower", 20, 100, 20, 10, false, ui::PBM_SETPOS, 5, 20, " 0%"},
        {"delta adds", 0, 100, 40, 10, false, ui::PBM_DELTAPOS, 7, 47, " 47%"},
        {"delta past the end clamps", 0, 100, 40, 10, false, ui::PBM_DELTAPOS, 90, 100, " 100%"},
        {"step 95 + 10 wraps to 5", 0, 100, 95, 10, false, ui::PBM_STEPIT, 0, 5, " 5%"},
        {"step landing on upper stays", 0, 100, 90, 10, false, ui::PBM_STEPIT, 0, 100, " 100%"},
        {"negative step wraps from the top", 0, 100, 3, -10, false, ui::PBM_STEPIT, 0, 93, " 93%"},
        {"0.5 % rounds up", 0, 1000, 0, 10, false, ui::PBM_SETPOS, 5, 5, " 1%"},
        {"0.4 % rounds down", 0, 1000, 0, 10, false, ui::PBM_SETPOS, 4, 4, " 0%"},
        {"marquee: (20 + 100) x upper / 100", 0, 100, 0, 10, true, ui::PBM_SETPOS, 500, 120, ""},
        {"marquee: 120 x 33 / 100 = 39.6 -> 39", 0, 33, 0, 10, true, ui::PBM_SETPOS, 99, 39, ""},
    };
    for (const auto& row : rows) {
        fresh();
        send(ui::PBM_SETRANGE32, static_cast<WPARAM>(row.lower), row.upper);
        send(ui::PBM_SETSTEP, static_cast<WPARAM>(row.step));
        if (row.marquee) send(ui::PBM_SETMARQUEE, 1, 30);
        send(ui::PBM_SETPOS, static_cast<WPARAM>(row.start));
        EXPECT_EQ(send(row.message, static_cast<WPARAM>(row.argument)), row.start) << row.legend;
        EXPECT_EQ(send(ui::PBM_GETPOS), row.expected) << row.legend;
        EXPECT_EQ(bar_->caption_text(), row.caption) << row.legend;
    }
    fresh();
    send(ui::PBM_SETPOS, 30);
    platform::set_window_text(bar_->GetSafeHwnd(), "Reading");
    EXPECT_EQ(bar_->caption_text(), "Reading 30%");
    send(ui::PBM_SETSHOWPERCENT, 0);
    EXPECT_EQ(bar_->caption_text(), "Reading");
}

TEST_F(ProgressCtrlTest, MarqueeRunsOnTimerOneAndBouncesWithOneSharedDirection) {
    send(ui::PBM_SETRANGE32, 0, 10);
    EXPECT_EQ(send(ui::PBM_SETMARQUEEBLOCK, 20), 20) << "answers its argument; limit 12";
    EXPECT_EQ(send(ui::PBM_SETMARQUEE, 1, 40), 1);
    EXPECT_TRUE(platform::has_timer(bar_->GetSafeHwnd(), ui::kMarqueeTimer));
    EXPECT_EQ(bar_->caption_text(), "") << "the marquee hides the percentage";
    std::vector<int> seen;
    for (int i = 0; i < 16; ++i) {
        send(platform::kWmTimer, ui::kMarqueeTimer);
        seen.push_back(static_cast<int>(send(ui::PBM_GETPOS)));
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 11, 10, 9, 8}));

    // A second control continues in the direction the first one set.
    ui::CTextProgressCtrl other(parent_, ui::PBS_MARQUEE);
    send_message(other.GetSafeHwnd(), ui::PBM_SETPOS, 50, 0);
    send_message(other.GetSafeHwnd(), platform::kWmTimer, ui::kMarqueeTimer, 0);
    EXPECT_EQ(send_message(other.GetSafeHwnd(), ui::PBM_GETPOS, 0, 0), 49);

    send(ui::PBM_SETMARQUEE, 0, 0);
    EXPECT_FALSE(platform::has_timer(bar_->GetSafeHwnd(), ui::kMarqueeTimer));
    EXPECT_EQ(send(ui::PBM_SETPOS, 50), 8);
    EXPECT_EQ(send(ui::PBM_GETPOS), 10) << "without the marquee the upper bound clamps again";
}

TEST_F(ProgressCtrlTest, FilledPartEndsWhereThePositionSays) {
    struct Row {
        const char* legend;
        std::uint32_t style;
        int position;
        const char* runs;  // the inside's middle line, bottom to top when vertical
    };
    const Row rows[] = {
        {"96 x 0.42 = 40.3: 40 columns", 0, 42, "#40 .56"},
        {"marquee: 96 x 20 / 100 = 19 ending at 48", ui::PBS_MARQUEE, 50, ".29 #19 .48"},
        {"vertical 25 %: 4 rows from the bottom", ui::PBS_VERTICAL, 25, "#4 .12"},
    };
    for (const auto& row : rows) {
        fresh(row.style);
        send(ui::PBM_SETSHOWPERCENT, 0);
        send(ui::PBM_SETPOS, static_cast<WPARAM>(row.position));
        const auto c = paint();
        std::string line, runs;
        for (int i = 0; i < (row.style == ui::PBS_VERTICAL ? 16 : 96); ++i) {
            const ui::COLORREF p =
                row.style == ui::PBS_VERTICAL ? c.pixel(60, 22 - i) : c.pixel(12 + i, 15);
            line += p == kBar ? '#' : p == kBack ? '.' : '?';
        }
        for (std::size_t i = 0, j = 0; i < line.size(); i = j) {
            j = std::min(line.find_first_not_of(line[i], i), line.size());
            if (i) runs += ' ';
            runs += line[i];
            runs += std::to_string(j - i);
        }
        EXPECT_EQ(runs, row.runs) << row.legend;
        EXPECT_EQ(c.pixel(9, 5), kUntouched) << "nothing outside the client rectangle";
        EXPECT_EQ(c.pixel(10, 5), platform::system_color(platform::COLOR_BTNSHADOW)) << "flat edge";
        EXPECT_EQ(c.pixel(11, 6), platform::system_color(platform::COLOR_BTNFACE));
        EXPECT_EQ(c.pixel(108, 22), platform::system_color(platform::COLOR_BTNFACE));
    }
}

TEST_F(ProgressCtrlTest, CaptionChangesColourExactlyWhereTheFillEnds) {
    platform::set_window_text(bar_->GetSafeHwnd(), "HHHHHHHHHH");  // spans the fill edge
    send(ui::PBM_SETPOS, 50);                                      // 48 columns filled
    const auto c = paint();
    int over = 0;
    int plain = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 96; ++x) {
            const ui::COLORREF p = c.pixel(12 + x, 7 + y);
            const bool filled = x < 48;
            if (p == kBar || p == kBack) {
                EXPECT_EQ(p, filled ? kBar : kBack) << x << "," << y;
                continue;
            }
            ASSERT_EQ(p, filled ? kTextOverBar : kText) << x << "," << y;
            (filled ? over : plain)++;
        }
    }
    EXPECT_GT(over, 20);
    EXPECT_GT(plain, 20);
}

TEST_F(ProgressCtrlTest, EmptyOrReversedRangePaintsNothing) {
    for (int upper : {0, -5}) {
        send(ui::PBM_SETRANGE32, 0, upper);
        const auto c = paint();
        for (int y = 0; y < c.height(); ++y)
            for (int x = 0; x < c.width(); ++x) ASSERT_EQ(c.pixel(x, y), kUntouched) << upper;
    }
}

}  // namespace
}  // namespace stridelog
