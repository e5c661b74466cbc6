// The task window's display: services in, control texts, bar state and the
// presenter's notifications out.
#include "ui/task_display.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "platform/window_system.hpp"
#include "tests/ui/recording_presenter.hpp"
#include "ui/presenter.hpp"
#include "ui/text_progress_ctrl.hpp"

namespace stridelog {
namespace {

class TaskDisplayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
        ui::install_presenter(presenter_);
        display_ = std::make_unique<ui::TaskDisplay>(window_);
    }
    void TearDown() override {
        display_.reset();
        platform::destroy_window(window_);
        ui::install_presenter(nullptr);
    }

    HWND window_ = nullptr;
    std::shared_ptr<test::RecordingPresenter> presenter_ =
        std::make_shared<test::RecordingPresenter>();
    std::unique_ptr<ui::TaskDisplay> display_;
};

TEST_F(TaskDisplayTest, ServicesRunWhileHiddenAndOnlyAShownWindowReachesThePresenter) {
    display_->prepare_for_start();
    EXPECT_EQ(
        platform::send_message(display_->progress_bar().GetSafeHwnd(), ui::PBM_GETTEXTCOLOR, 0, 0),
        255);
    display_->SetRange(0, 200);
    display_->SetPos(50);
    display_->AppendLog("Read sector 0 ...");
    display_->SetStatusText("Reading");
    EXPECT_TRUE(presenter_->events.empty());

    display_->set_shown(true);
    display_->set_shown(true);
    display_->SetPos(100);
    display_->SetStatusText("Download ...");
    display_->SetRange(0, 100);  // range changes do not redraw
    display_->set_shown(false);
    display_->SetStatusText("unseen");
    display_.reset();
    const std::vector<std::string> expected = {"shown Reading| 25%", "updated Reading| 50%",
                                               "updated Download ...| 50%", "hidden", "ended"};
    EXPECT_EQ(presenter_->events, expected);
}

TEST_F(TaskDisplayTest, LogLinesEndInCrLfAndTheControlFollowsTheText) {
    display_->AppendLog("first");
    display_->AppendLog("50% done");
    EXPECT_EQ(display_->control_text(ui::IDC_STATUS_LOG), "first\r\n50% done\r\n");
    EXPECT_EQ(display_->log_scroll_line(), 2);
    display_->append_log_text_direct("direct\r\n");
    EXPECT_EQ(display_->control_text(ui::IDC_STATUS_LOG), "first\r\n50% done\r\n");
    display_->RefreshLog();
    EXPECT_EQ(display_->control_text(ui::IDC_STATUS_LOG), "first\r\n50% done\r\ndirect\r\n");
    display_->ClearLog();
    EXPECT_EQ(display_->log_text(), "");
    EXPECT_EQ(display_->control_text(ui::IDC_STATUS_LOG), "");
}

// The texts themselves reach the host through the terminal presenter's test.
TEST_F(TaskDisplayTest, RateDisplayHidesAndShowsNewTextsOnlyOnRefresh) {
    display_->ShowRateDisplay(false);
    for (int id : {ui::IDC_TIME_LEFT_LABEL, ui::IDC_TIME_LEFT, ui::IDC_RATE_LABEL, ui::IDC_RATE})
        EXPECT_FALSE(display_->control_visible(id)) << id;
    display_->ShowRateDisplay(true);
    display_->set_rate_texts("12.5", "01:07");
    EXPECT_EQ(display_->control_text(ui::IDC_RATE), "0.0 kB/s") << "shown only by the refresh";
    display_->refresh_rate_display();
    EXPECT_EQ(display_->control_text(ui::IDC_RATE), "12.5 kB/s");
    EXPECT_EQ(display_->control_text(ui::IDC_TIME_LEFT), "01:07");
}

TEST_F(TaskDisplayTest, LayoutKeepsTheUpperPartCentredOnTheScreen) {
    const auto before = display_->window_rect();
    display_->LayoutWindow();
    const auto after = display_->window_rect();
    // The status log starts 85 dialog units down: 85 x 13 / 8 = 138 pixels.
    EXPECT_EQ(after.width(), before.width());
    EXPECT_EQ(after.height(), 3 + 19 + 138);
    EXPECT_EQ(after.left, (1024 - after.width()) / 2);
    EXPECT_EQ(after.top, (768 - after.height()) / 2);
    display_->LayoutWindow();
    EXPECT_EQ(display_->window_rect(), after) << "laying out twice changes nothing";
}

// The phase progress a host is posted: an empty or reversed range gives 0,
// never a division by zero or a negative percentage; the bar shown at the end
// is full. A step is the control's (its own test).
TEST_F(TaskDisplayTest, BarOperationsAndPercent) {
    for (const auto& [lower, upper] : {std::pair{0, 0}, std::pair{100, 50}}) {
        display_->SetRange(lower, upper);
        display_->SetPos(100);
        EXPECT_EQ(display_->BarPercent(), 0.0F) << lower << ".." << upper;
    }
    display_->SetRange(0, 100);
    display_->FillProgress();
    EXPECT_EQ(display_->GetPos(), 100);
}

TEST_F(TaskDisplayTest, BarKeepsAnsweringAfterTheWindowIsDestroyed) {
    display_->SetPos(30);
    platform::destroy_window(window_);
    EXPECT_EQ(display_->GetPos(), 30);
    display_->SetPos(60);
    EXPECT_FLOAT_EQ(display_->BarPercent(), 60.0F);
    EXPECT_EQ(display_->control_text(ui::IDC_PROGRESS), "Progress1");
}

}  // namespace
}  // namespace stridelog
