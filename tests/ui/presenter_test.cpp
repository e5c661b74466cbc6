// The two presenters and the host helpers that install them: what a person sees
// on the terminal, the PNG file written, and the answers they give.
#include "ui/presenter.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "platform/canvas.hpp"
#include "platform/window_system.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"
#include "ui/confirm_dlg.hpp"
#include "ui/task_display.hpp"
#include "ui/text_progress_ctrl.hpp"

namespace stridelog {
namespace {

namespace fs = std::filesystem;

class PresenterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = platform::create_window([](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
    }
    void TearDown() override {
        platform::destroy_window(window_);
        ui::install_presenter(nullptr);
        Stridelog_SetConfirmAnswer(0);
    }
    // A task window as a download task shows it.
    std::unique_ptr<ui::TaskDisplay> start_download() {
        auto display = std::make_unique<ui::TaskDisplay>(window_);
        display->prepare_for_start();
        display->LayoutWindow();
        display->ShowRateDisplay(true);
        display->SetCaption("A-GPS");
        display->SetStatusText("Download ...");
        display->set_shown(true);
        return display;
    }

    HWND window_ = nullptr;
    test::TestEnvironment env_;  // a temporary folder for the pictures
};

// What the terminal shows is in the golden file: each changed line once (the
// hidden window's position, an unchanged text and the log print nothing), then
// on a terminal the block redrawn in place.
TEST_F(PresenterTest, TerminalWritesEachChangedLineOnceOrRedrawsOnATty) {
    std::ostringstream out;
    std::istringstream in;
    ui::install_presenter(ui::make_terminal_presenter(out, in, false));
    ui::TaskDisplay display(window_);
    display.prepare_for_start();
    display.ShowRateDisplay(false);
    display.SetPos(10);  // hidden: nothing printed
    display.set_shown(true);
    display.SetPos(42);
    display.SetStatusText("Progress   ");  // unchanged text: nothing printed
    display.AppendLog("not on the terminal");
    display.ShowRateDisplay(true);
    display.set_rate_texts("12.8", "00:07");
    display.refresh_rate_display();
    std::string text = out.str();

    // On a terminal the block is redrawn in place.
    ui::install_presenter(ui::make_terminal_presenter(out, in, true));
    ui::TaskDisplay on_tty(window_);
    on_tty.prepare_for_start();
    on_tty.ShowRateDisplay(false);
    on_tty.set_shown(true);
    out.str("");
    on_tty.SetPos(50);
    text += "== on a terminal, after SetPos(50)\n";
    for (const char c : out.str()) text += c == '\x1b' ? std::string("<ESC>") : std::string(1, c);
    test::expect_golden("ui/terminal_presenter", text);
}

TEST_F(PresenterTest, TerminalAsksTheQuestionAndReadsTheAnswer) {
    const std::vector<std::string> notes = {"1.31.03", "- Faster sync", ""};
    // y or yes in any case and with blanks is Yes; anything else, or no input, No.
    for (const auto& [input, answer] :
         {std::pair{"y\n", 6}, {"  YES \n", 6}, {"sure\n", 7}, {"", 7}}) {
        std::ostringstream out;
        std::istringstream in(input);
        ui::install_presenter(ui::make_terminal_presenter(out, in, false));
        ui::CConfirmDlg dialog;
        dialog.SetContent("Message", "Update?\r\n\r\nDo you want to proceed ?", &notes);
        EXPECT_EQ(dialog.DoModal(), answer) << '"' << input << '"';
        EXPECT_THAT(out.str(), ::testing::HasSubstr("Message\nUpdate?\n\nDo you want to proceed ?\n"
                                                    "1.31.03\n- Faster sync\n\nAnswer [y/N]: "));
    }
}

TEST_F(PresenterTest, ImagePresenterWritesTheLaidOutWindowAtTheEndAndAnswersNo) {
    const std::string path = (env_.root() / "window.png").string();
    ASSERT_TRUE(Stridelog_UsePresenter(STRIDELOG_PRESENTER_IMAGE, path.c_str()));
    ui::TaskDisplay(window_).SetPos(42);
    EXPECT_FALSE(fs::exists(path)) << "a window never shown is not written";
    auto display = start_download();
    display->SetPos(42);
    EXPECT_FALSE(fs::exists(path)) << "written at the end, not on every change";
    const auto window = display->window_rect();
    display->notify_task_ended();

    const auto image = platform::Canvas::read_png(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), window.width());
    EXPECT_EQ(image->height(), window.height());
    // The bar's inside starts 10 pixels into the client, which starts at (3, 22);
    // 42 % of its 272 pixels are filled.
    const int y = 22 + 36;
    EXPECT_EQ(image->pixel(3 + 10, y), platform::system_color(platform::COLOR_HIGHLIGHT));
    EXPECT_EQ(image->pixel(3 + 10 + 113, y), platform::system_color(platform::COLOR_HIGHLIGHT));
    EXPECT_EQ(image->pixel(3 + 10 + 114, y), platform::system_color(platform::COLOR_BTNFACE));
    int red = 0;
    for (int py = 22 + 35; py < 22 + 52; ++py)
        for (int px = 0; px < image->width(); ++px) red += image->pixel(px, py) == 255;
    EXPECT_GT(red, 20) << "the caption \" 42%\" in the start colour";

    ui::CConfirmDlg dialog;
    dialog.SetContent("Message", "Proceed ?", nullptr);
    EXPECT_EQ(dialog.DoModal(), 7);
    const auto question = platform::Canvas::read_png((env_.root() / "window-confirm.png").string());
    ASSERT_TRUE(question);
    // 297 x 149 dialog units and the frame.
    EXPECT_EQ(question->width(), 297 * 6 / 4 + 6);
    EXPECT_EQ(question->height(), 149 * 13 / 8 + 6 + 19);
}

TEST_F(PresenterTest, HostHelpersRefuseWhatTheyCannotDo) {
    struct Row {
        const char* legend;
        int kind;
        const char* path;
        BOOL accepted;
    };
    const Row rows[] = {
        {"none", STRIDELOG_PRESENTER_NONE, nullptr, TRUE},
        {"image without a path", STRIDELOG_PRESENTER_IMAGE, nullptr, FALSE},
        {"image with an empty path", STRIDELOG_PRESENTER_IMAGE, "", FALSE},
        {"unknown kind", 9, "x.png", FALSE},
        {"terminal", STRIDELOG_PRESENTER_TERMINAL, nullptr, TRUE},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Stridelog_UsePresenter(row.kind, row.path), row.accepted) << row.legend;
    EXPECT_TRUE(ui::installed_presenter());
    Stridelog_UsePresenter(STRIDELOG_PRESENTER_NONE, nullptr);
    EXPECT_FALSE(ui::installed_presenter());
}

// Not a check: renders the picture of the documentation when
// STRIDELOG_TASK_WINDOW_PICTURE names the file (scripts/make-task-window-picture.sh).
TEST_F(PresenterTest, DocumentationPicture) {
    const char* path = std::getenv("STRIDELOG_TASK_WINDOW_PICTURE");
    if (path == nullptr) GTEST_SKIP() << "set STRIDELOG_TASK_WINDOW_PICTURE to render it";
    ui::install_presenter(ui::make_image_presenter(path));
    auto display = start_download();
    display->SetPos(42);
    display->set_rate_texts("12.8", "00:07");
    display->refresh_rate_display();
    display->notify_task_ended();
    EXPECT_TRUE(platform::Canvas::read_png(path));
}

}  // namespace
}  // namespace stridelog
