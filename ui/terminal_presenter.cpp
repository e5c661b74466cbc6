// The terminal presenter: the task window as a few lines of text, the question
// asked on the terminal.
#include <algorithm>
#include <cctype>
#include <istream>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/window_system.hpp"
#include "ui/confirm_dlg.hpp"
#include "ui/dialog_templates.hpp"
#include "ui/presenter.hpp"
#include "ui/task_display.hpp"
#include "ui/text_progress_ctrl.hpp"

namespace stridelog::ui {
namespace {

constexpr int kBarCells = 30;
constexpr std::size_t kLabelWidth = 22;

std::string without_carriage_returns(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

std::string labelled(std::string label, const std::string& value) {
    if (label.size() < kLabelWidth) label.resize(kLabelWidth, ' ');
    return label + value;
}

class TerminalPresenter final : public Presenter {
  public:
    TerminalPresenter(std::ostream& out, std::istream& in, bool tty)
        : out_(out), in_(in), tty_(tty) {}

    void window_shown(const TaskDisplay& display) override {
        std::lock_guard lock(mutex_);
        draw(display);
    }
    void window_updated(const TaskDisplay& display) override {
        std::lock_guard lock(mutex_);
        draw(display);
    }
    void window_hidden(const TaskDisplay&) override {
        std::lock_guard lock(mutex_);
        forget();
    }
    void task_ended(const TaskDisplay&) override {
        std::lock_guard lock(mutex_);
        forget();
    }

    void confirm_shown(const CConfirmDlg& dialog) override {
        std::lock_guard lock(mutex_);
        out_ << '\n'
             << dialog.title() << '\n'
             << without_carriage_returns(dialog.control_text(IDC_CONFIRM_MESSAGE)) << '\n';
        const std::string details =
            without_carriage_returns(dialog.control_text(IDC_CONFIRM_DETAILS));
        if (!details.empty()) out_ << details;
        out_ << "Answer [y/N]: " << std::flush;
        std::string answer;
        bool yes = false;
        if (std::getline(in_, answer)) {
            std::erase_if(answer,
                          [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
            std::transform(answer.begin(), answer.end(), answer.begin(),
                           [](char c) { return static_cast<char>(std::tolower(c)); });
            yes = answer == "y" || answer == "yes";
        } else {
            out_ << '\n';
        }
        // The question scrolled the window's lines away: draw them afresh.
        drawn_lines_ = 0;
        last_.clear();
        platform::post_message(dialog.window(), platform::kWmCommand,
                               static_cast<WPARAM>(yes ? IDYES : IDNO), 0);
    }

  private:
    static std::vector<std::string> display_lines(const TaskDisplay& display) {
        const CTextProgressCtrl& bar = display.progress_bar();
        const double fraction = std::clamp(bar.fraction(), 0.0, 1.0);
        const int filled = static_cast<int>(fraction * kBarCells);
        std::string bar_line = "[";
        bar_line.append(static_cast<std::size_t>(filled), '#');
        bar_line.append(static_cast<std::size_t>(kBarCells - filled), '-');
        bar_line += "]";
        bar_line += bar.caption_text();
        std::vector<std::string> lines = {
            "== " + display.caption() + " ==", display.control_text(IDC_STATUS_TEXT), bar_line};
        if (display.control_visible(IDC_TIME_LEFT_LABEL))
            lines.push_back(labelled(display.control_text(IDC_TIME_LEFT_LABEL),
                                     display.control_text(IDC_TIME_LEFT)));
        if (display.control_visible(IDC_RATE_LABEL))
            lines.push_back(
                labelled(display.control_text(IDC_RATE_LABEL), display.control_text(IDC_RATE)));
        return lines;
    }

    void draw(const TaskDisplay& display) {
        if (current_ != &display) {
            forget();
            current_ = &display;
        }
        const auto lines = display_lines(display);
        if (lines == last_) return;
        if (tty_) {
            // Back to the first line of the block, rewrite it, drop leftover lines.
            if (drawn_lines_ > 0) out_ << "\x1b[" << drawn_lines_ << 'F';
            for (const auto& line : lines) out_ << "\x1b[2K" << line << '\n';
            if (lines.size() < last_.size()) out_ << "\x1b[J";
            drawn_lines_ = static_cast<int>(lines.size());
        } else {
            for (std::size_t i = 0; i < lines.size(); ++i)
                if (i >= last_.size() || last_[i] != lines[i]) out_ << lines[i] << '\n';
        }
        out_ << std::flush;
        last_ = lines;
    }

    void forget() {
        current_ = nullptr;
        drawn_lines_ = 0;
        last_.clear();
    }

    // Task windows of several threads share the one terminal.
    std::mutex mutex_;
    std::ostream& out_;
    std::istream& in_;
    bool tty_;
    const TaskDisplay* current_ = nullptr;
    std::vector<std::string> last_;
    int drawn_lines_ = 0;
};

}  // namespace

std::shared_ptr<Presenter> make_terminal_presenter(std::ostream& out, std::istream& in, bool tty) {
    return std::make_shared<TerminalPresenter>(out, in, tty);
}

}  // namespace stridelog::ui
