#include "ui/confirm_dlg.hpp"

#include "platform/window_system.hpp"
#include "ui/dialog_templates.hpp"
#include "ui/presenter.hpp"

namespace stridelog::ui {
namespace {

constexpr WPARAM kKeyEnter = 13;
constexpr WPARAM kKeyEscape = 27;

}  // namespace

CConfirmDlg::CConfirmDlg(HWND parent) : parent_(parent) {}

CConfirmDlg::~CConfirmDlg() {
    if (hwnd_) platform::destroy_window(hwnd_);
}

void CConfirmDlg::SetContent(std::string_view title, std::string_view message,
                             const std::vector<std::string>* lines) {
    title_.assign(title);
    message_.assign(message);
    lines_ = lines;
}

std::string CConfirmDlg::control_text(int id) const {
    switch (id) {
        case ui::IDC_CONFIRM_MESSAGE:
            return message_control_;
        case ui::IDC_CONFIRM_DETAILS:
            return details_control_;
        default: {
            const auto* control = ui::find_control(ui::confirm_template(), id);
            return control ? std::string(control->text) : std::string();
        }
    }
}

void CConfirmDlg::OnInitDialog() {
    icon_shown_ = true;  // the system's exclamation icon
    message_control_ = message_;
    platform::set_window_text(hwnd_, title_);
    details_control_.clear();
    if (lines_) {
        for (const auto& line : *lines_) {
            details_control_ += line;
            details_control_ += "\r\n";
        }
    }
}

void CConfirmDlg::Close() {
    if (hwnd_) EndDialog(ui::IDNO);
}

void CConfirmDlg::EndDialog(int result) {
    if (ended_) return;
    ended_ = true;
    result_ = result;
}

LRESULT CConfirmDlg::WindowProc(UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case platform::kWmCommand: {
            const auto id = static_cast<int>(wparam & 0xFFFF);
            if (id == ui::IDYES || id == ui::IDNO) EndDialog(id);
            return 0;
        }
        case platform::kWmClose:
            EndDialog(ui::IDNO);
            return 0;
        case platform::kWmKeyDown:
            // Enter and Esc would answer through the default buttons; they are
            // swallowed so that only the buttons and the close box answer.
            if (wparam == kKeyEnter || wparam == kKeyEscape) return 0;
            return 0;
        default:
            return 0;
    }
}

int CConfirmDlg::DoModal() {
    ended_ = false;
    result_ = ui::IDNO;
    hwnd_ = platform::create_window(
        [this](HWND, UINT message, WPARAM wparam, LPARAM lparam) {
            return WindowProc(message, wparam, lparam);
        },
        parent_);
    OnInitDialog();
    platform::show_window(hwnd_, true);
    const bool parent_enabled = parent_ && platform::is_window_enabled(parent_);
    if (parent_enabled) platform::enable_window(parent_, false);

    const int forced = ui::forced_confirm_answer();
    auto presenter = ui::installed_presenter();
    if (forced != 0) {
        platform::post_message(hwnd_, platform::kWmCommand, static_cast<WPARAM>(forced), 0);
    } else if (const auto handler = ui::installed_confirm_handler()) {
        static const std::vector<std::string> kNoLines;
        const int answer = handler(title_, message_, lines_ ? *lines_ : kNoLines);
        platform::post_message(hwnd_, platform::kWmCommand,
                               static_cast<WPARAM>(answer == ui::IDYES ? ui::IDYES : ui::IDNO), 0);
    } else if (presenter) {
        presenter->confirm_shown(*this);
    } else {
        // Nobody can be asked: never go ahead without a Yes.
        EndDialog(ui::IDNO);
    }
    // A loop ended by WM_QUIT, or one left with nothing that could ever answer
    // (an idle virtual clock), counts as No.
    if (!platform::run_loop_until([this] { return ended_; })) EndDialog(ui::IDNO);

    if (parent_enabled) platform::enable_window(parent_, true);
    platform::destroy_window(hwnd_);
    hwnd_ = nullptr;
    return result_;
}

}  // namespace stridelog::ui
