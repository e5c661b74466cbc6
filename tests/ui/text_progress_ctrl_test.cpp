// The progress bar control seen from outside: messages in, results, state and
// painted pixels out.
#include "ui/text_progress_ctrl.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/window_system.hpp"
#include "tests/support/golden.hpp"

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

// The client rectangle and a pixel around it, one character a pixel: the bar
// '#', the background '.', the caption 't' and over the bar 'o', the edge's
// shadow 's' and face 'f', untouched ' '.
std::string picture(const platform::Canvas& c) {
    const std::map<ui::COLORREF, char> kinds = {
        {kBar, '#'},
        {kBack, '.'},
        {kText, 't'},
        {kTextOverBar, 'o'},
        {kUntouched, ' '},
        {platform::system_color(platform::COLOR_BTNSHADOW), 's'},
        {platform::system_color(platform::COLOR_BTNFACE), 'f'}};
    std::string out;
    for (int y = 4; y < 27; ++y) {
        for (int x = 9; x < 112; ++x) {
            const auto kind = kinds.find(c.pixel(x, y));
            out += kind == kinds.end() ? '?' : kind->second;
        }
        out += '\n';
    }
    return out;
}

TEST_F(ProgressCtrlTest, PaintedPixels) {
    struct Row {
        const char* legend;
        std::uint32_t style;
        int upper, position;
        const char* caption;  // null: no percentage either
    };
    const Row rows[] = {
        {"96 x 0.42 = 40.3: 40 columns", 0, 100, 42, nullptr},
        {"marquee: 96 x 20 / 100 = 19 ending at 48", ui::PBS_MARQUEE, 100, 50, nullptr},
        {"vertical 25 %: 4 rows from the bottom", ui::PBS_VERTICAL, 100, 25, nullptr},
        {"the caption changes colour where the fill ends", 0, 100, 50, "HHHHHHHHHH"},
        {"an empty range paints nothing", 0, 0, 0, nullptr},
        {"nor does a reversed one", 0, -5, 0, nullptr},
    };
    std::string pictures;
    for (const auto& row : rows) {
        fresh(row.style);
        send(ui::PBM_SETRANGE32, 0, row.upper);
        send(ui::PBM_SETPOS, static_cast<WPARAM>(row.position));
        if (row.caption) {
            platform::set_window_text(bar_->GetSafeHwnd(), row.caption);
        } else {
            send(ui::PBM_SETSHOWPERCENT, 0);
        }
        pictures += std::string("## ") + row.legend + "\n" + picture(paint());
    }
    test::expect_golden("ui/progress-pictures", pictures);
}

}  // namespace
}  // namespace stridelog
