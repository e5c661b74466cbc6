// The confirmation dialog from outside: who answers, what the answer is, and
// what the dialog shows while it waits.
#include "ui/confirm_dlg.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/clock.hpp"
#include "platform/window_system.hpp"
#include "stridelog/stridelog.h"
#include "tests/ui/recording_presenter.hpp"
#include "ui/presenter.hpp"

namespace stridelog {
namespace {

using platform::kWmClose;
using platform::kWmCommand;
using platform::kWmKeyDown;

struct Post {
    UINT message;
    WPARAM wparam;
};

class ConfirmDlgTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ui::InstallPresenter(nullptr);
        Stridelog_SetConfirmAnswer(0);
    }
};

TEST_F(ConfirmDlgTest, AnswerComesFromTheButtonsOrTheCloseBoxOnly) {
    struct Row {
        const char* legend;
        int forced;                                  // Stridelog_SetConfirmAnswer
        std::optional<std::vector<Post>> presenter;  // what the user does; none: no presenter
        int expected;
        bool presenter_asked;
    };
    const Row rows[] = {
        {"no presenter, no forced answer: No at once", 0, std::nullopt, 7, false},
        {"Yes button", 0, std::vector<Post>{{kWmCommand, 6}}, 6, true},
        {"No button", 0, std::vector<Post>{{kWmCommand, 7}}, 7, true},
        {"close box counts as No", 0, std::vector<Post>{{kWmClose, 0}}, 7, true},
        {"Enter and Esc leave it open; then Yes", 0,
         std::vector<Post>{{kWmKeyDown, 13}, {kWmKeyDown, 27}, {kWmCommand, 6}}, 6, true},
        {"Enter and Esc leave it open; then No", 0,
         std::vector<Post>{{kWmKeyDown, 13}, {kWmKeyDown, 27}, {kWmCommand, 7}}, 7, true},
        {"other commands (Cancel) do not end it", 0,
         std::vector<Post>{{kWmCommand, 2}, {kWmCommand, 1}, {kWmCommand, 6}}, 6, true},
        {"forced Yes wins over the presenter", 6, std::vector<Post>{{kWmCommand, 7}}, 6, false},
        {"forced No without a presenter", 7, std::nullopt, 7, false},
        {"a forced value other than 6 or 7 means: ask", 5, std::nullopt, 7, false},
    };
    for (const auto& row : rows) {
        Stridelog_SetConfirmAnswer(row.forced);
        std::shared_ptr<test::RecordingPresenter> presenter;
        if (row.presenter) {
            presenter = std::make_shared<test::RecordingPresenter>();
            presenter->on_confirm = [&](const CConfirmDlg& dialog) {
                for (const auto& post : *row.presenter)
                    platform::post_message(dialog.Window(), post.message, post.wparam, 0);
            };
        }
        ui::InstallPresenter(presenter);
        CConfirmDlg dialog;
        dialog.SetContent("Message", "Go?", nullptr);
        EXPECT_EQ(dialog.DoModal(), row.expected) << row.legend;
        if (presenter) {
            EXPECT_EQ(presenter->events.size(), row.presenter_asked ? 1U : 0U) << row.legend;
        }
        EXPECT_EQ(platform::window_count_on_this_thread(), 0U) << row.legend;
        Stridelog_SetConfirmAnswer(0);
    }
}

TEST_F(ConfirmDlgTest, ShowsTitleMessageAndDetailLinesWhileTheParentIsDisabled) {
    struct Row {
        const char* legend;
        std::optional<std::vector<std::string>> lines;
        std::string details;
    };
    const Row rows[] = {
        {"no line array leaves the box empty", std::nullopt, ""},
        {"three lines, each ending in CR LF", std::vector<std::string>{"1.31.03", "- Fix", ""},
         "1.31.03\r\n- Fix\r\n\r\n"},
    };
    HWND parent = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
    for (const auto& row : rows) {
        auto presenter = std::make_shared<test::RecordingPresenter>();
        bool parent_enabled_meanwhile = true;
        std::string title, message, details;
        presenter->on_confirm = [&](const CConfirmDlg& dialog) {
            title = dialog.Title();
            message = dialog.ControlText(6006);
            details = dialog.ControlText(6008);
            parent_enabled_meanwhile = platform::is_window_enabled(parent);
            EXPECT_EQ(platform::get_window_text(dialog.Window()), "Message");
            EXPECT_TRUE(dialog.HasIcon());
            platform::post_message(dialog.Window(), kWmCommand, 6, 0);
        };
        ui::InstallPresenter(presenter);
        CConfirmDlg dialog(parent);
        dialog.SetContent("Message", "A new watch firmware (1.31.03) is  available !",
                          row.lines ? &*row.lines : nullptr);
        EXPECT_EQ(dialog.DoModal(), 6);
        EXPECT_EQ(title, "Message") << row.legend;
        EXPECT_EQ(message, "A new watch firmware (1.31.03) is  available !") << row.legend;
        EXPECT_EQ(details, row.details) << row.legend;
        EXPECT_FALSE(parent_enabled_meanwhile) << row.legend;
        EXPECT_TRUE(platform::is_window_enabled(parent)) << row.legend;
    }
    platform::destroy_window(parent);
}

TEST_F(ConfirmDlgTest, APresenterThatNeverAnswersOnAnIdleVirtualClockMeansNo) {
    platform::ScopedVirtualClock clock;
    auto presenter = std::make_shared<test::RecordingPresenter>();
    ui::InstallPresenter(presenter);
    CConfirmDlg dialog;
    dialog.SetContent("Message", "Go?", nullptr);
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_EQ(presenter->events, std::vector<std::string>{"confirm"});
}

}  // namespace
}  // namespace stridelog
