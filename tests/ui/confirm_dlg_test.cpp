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

class ConfirmDlgTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ui::install_presenter(nullptr);
        Stridelog_SetConfirmAnswer(0);
        Stridelog_SetConfirmHandler(nullptr, nullptr);
    }
};

TEST_F(ConfirmDlgTest, AnswerComesFromTheButtonsOrTheCloseBoxOnly) {
    platform::ScopedVirtualClock clock;  // idle: a dialog nothing can answer gives up
    struct Post {
        UINT message;
        WPARAM wparam;
    };
    using Posts = std::vector<Post>;
    struct Row {
        const char* legend;
        int forced;                   // Stridelog_SetConfirmAnswer
        std::optional<Posts> person;  // what the person does; none: no presenter
        int expected;
        bool asked;
    };
    const Row rows[] = {
        {"no presenter, no forced answer: No at once", 0, std::nullopt, 7, false},
        {"Yes button", 0, Posts{{kWmCommand, 6}}, 6, true},
        {"No button", 0, Posts{{kWmCommand, 7}}, 7, true},
        {"close box counts as No", 0, Posts{{kWmClose, 0}}, 7, true},
        {"Enter leaves it open (not Yes)", 0, Posts{{kWmKeyDown, 13}, {kWmCommand, 7}}, 7, true},
        {"Esc leaves it open (not No)", 0, Posts{{kWmKeyDown, 27}, {kWmCommand, 6}}, 6, true},
        {"other commands (Cancel, OK) do not end it", 0,
         Posts{{kWmCommand, 2}, {kWmCommand, 1}, {kWmCommand, 6}}, 6, true},
        {"forced Yes wins over the presenter", 6, Posts{{kWmCommand, 7}}, 6, false},
        {"forced No wins over the presenter", 7, Posts{{kWmCommand, 6}}, 7, false},
        {"a forced value other than 6 or 7 means: ask", 5, Posts{{kWmCommand, 6}}, 6, true},
        {"a presenter that never answers: No", 0, Posts{}, 7, true},
    };
    for (const auto& row : rows) {
        Stridelog_SetConfirmAnswer(row.forced);
        std::shared_ptr<test::RecordingPresenter> presenter;
        if (row.person) {
            presenter = std::make_shared<test::RecordingPresenter>();
            presenter->on_confirm = [&](const ui::CConfirmDlg& dialog) {
                for (const auto& post : *row.person)
                    platform::post_message(dialog.window(), post.message, post.wparam, 0);
            };
        }
        ui::install_presenter(presenter);
        ui::CConfirmDlg dialog;
        dialog.SetContent("Message", "Go?", nullptr);
        EXPECT_EQ(dialog.DoModal(), row.expected) << row.legend;
        EXPECT_EQ(presenter ? presenter->events.size() : 0U, row.asked ? 1U : 0U) << row.legend;
        EXPECT_EQ(platform::window_count_on_this_thread(), 0U) << row.legend;
    }
}

TEST_F(ConfirmDlgTest, ShowsTitleMessageAndDetailLinesWhileTheParentIsDisabled) {
    const std::vector<std::string> lines = {"1.31.03", "- Fix", ""};
    const std::string text = "A new watch firmware (1.31.03) is  available !";
    HWND parent = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
    for (bool with_lines : {false, true}) {
        SCOPED_TRACE(with_lines ? "three detail lines" : "no line array");
        auto presenter = std::make_shared<test::RecordingPresenter>();
        presenter->on_confirm = [&](const ui::CConfirmDlg& dialog) {
            EXPECT_EQ(platform::get_window_text(dialog.window()), "Message");
            EXPECT_EQ(dialog.control_text(6006), text);
            // No line array leaves the box empty; each line ends in CR LF.
            EXPECT_EQ(dialog.control_text(6008), with_lines ? "1.31.03\r\n- Fix\r\n\r\n" : "");
            EXPECT_TRUE(dialog.has_icon());
            EXPECT_FALSE(platform::is_window_enabled(parent));
            platform::post_message(dialog.window(), kWmCommand, 6, 0);
        };
        ui::install_presenter(presenter);
        ui::CConfirmDlg dialog(parent);
        dialog.SetContent("Message", text, with_lines ? &lines : nullptr);
        EXPECT_EQ(dialog.DoModal(), 6);
        EXPECT_EQ(presenter->events.size(), 1U);
        EXPECT_TRUE(platform::is_window_enabled(parent));
    }
    platform::destroy_window(parent);
}

// A host answering through the C callback: what it is handed, and who wins.
struct HostAnswer {
    int answer = 7;
    int calls = 0;
    std::string caption, message;
    std::vector<std::string> lines;
};

int answer_as_host(void* context, const char* caption, const char* message,
                   const char* const* lines, size_t count) {
    auto* host = static_cast<HostAnswer*>(context);
    ++host->calls;
    host->caption = caption;
    host->message = message;
    host->lines.assign(lines, lines + count);
    return host->answer;
}

TEST_F(ConfirmDlgTest, AHostHandlerAnswersBeforeThePresenterAndAfterAForcedAnswer) {
    const std::vector<std::string> lines = {"1.32.00", "- notes", ""};
    struct Case {
        const char* legend;
        int handler_answer;
        int forced;
        int expected;
        int handler_calls;
    };
    const Case cases[] = {
        {"handler says Yes", 6, 0, 6, 1},
        {"handler says No", 7, 0, 7, 1},
        {"handler says something else: No", 42, 0, 7, 1},
        {"a forced answer wins over the handler", 6, 7, 7, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        auto presenter = std::make_shared<test::RecordingPresenter>();
        ui::install_presenter(presenter);
        HostAnswer host;
        host.answer = c.handler_answer;
        Stridelog_SetConfirmHandler(answer_as_host, &host);
        Stridelog_SetConfirmAnswer(c.forced);
        ui::CConfirmDlg dialog;
        dialog.SetContent("Message", "question?", &lines);
        EXPECT_EQ(dialog.DoModal(), c.expected);
        EXPECT_EQ(host.calls, c.handler_calls);
        EXPECT_TRUE(presenter->events.empty()) << "the presenter is not asked";
        if (c.handler_calls) {
            EXPECT_EQ(host.caption, "Message");
            EXPECT_EQ(host.message, "question?");
            EXPECT_EQ(host.lines, lines);
        }
    }
}

}  // namespace
}  // namespace stridelog
