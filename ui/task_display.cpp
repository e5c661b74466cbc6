#include "ui/task_display.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "diag/diagnostics.hpp"
#include "platform/window_system.hpp"
#include "ui/dialog_templates.hpp"
#include "ui/presenter.hpp"
#include "ui/text_progress_ctrl.hpp"

namespace stridelog::ui {
namespace {

// The screen the window is centred on.
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
// A scroll request far beyond any log's length lands on its last line.
constexpr int kScrollToEnd = 65535;
// The text colour the bar gets at every task start: pure red.
constexpr COLORREF kStartTextColour = 255;

struct ControlState {
    int id;
    std::string text;
    bool visible;
};

}  // namespace

struct TaskDisplay::State {
    std::vector<ControlState> controls;
    std::unique_ptr<CTextProgressCtrl> bar;
    std::string caption;
    std::string log;
    int log_scroll_line = 0;
    std::string rate;
    std::string time_left;
    platform::Rect window_rect;
    bool shown = false;
    bool was_shown = false;
    bool ended = false;

    ControlState* find(int id) {
        for (auto& c : controls)
            if (c.id == id) return &c;
        return nullptr;
    }
    const ControlState* find(int id) const { return const_cast<State*>(this)->find(id); }
};

TaskDisplay::TaskDisplay(HWND window) : window_(window), state_(std::make_unique<State>()) {
    const auto& dialog = ui::task_window_template();
    for (const auto& control : dialog.controls) {
        if (control.id == IDC_PROGRESS) continue;  // the bar keeps its own state
        state_->controls.push_back(
            {control.id, std::string(control.text), (control.style & ui::WS_VISIBLE) != 0});
    }
    state_->caption = std::string(dialog.title);
    platform::set_window_text(window_, state_->caption);

    const platform::Rect client = ui::dialog_units_to_pixels(dialog.position);
    state_->window_rect = {0, 0, client.width() + 2 * ui::kFrameWidth,
                           client.height() + 2 * ui::kFrameWidth + ui::kCaptionHeight};

    state_->bar = std::make_unique<CTextProgressCtrl>(window_);
    if (HWND bar = state_->bar->GetSafeHwnd()) {
        platform::set_window_text(bar, ui::find_control(dialog, IDC_PROGRESS)->text);
        platform::show_window(bar, true);
    }
    state_->bar->set_redraw_handler([this] { changed(); });
}

TaskDisplay::~TaskDisplay() {
    notify_task_ended();
    state_->bar->set_redraw_handler(nullptr);
}

void TaskDisplay::changed() const {
    if (!state_->shown) return;
    if (auto presenter = ui::installed_presenter()) presenter->window_updated(*this);
}

LRESULT TaskDisplay::send_to_bar(UINT message, WPARAM wparam, LPARAM lparam) const {
    // The bar answers from its own state, so it still does once its window is gone.
    HWND bar = state_->bar->GetSafeHwnd();
    if (bar) return platform::send_message(bar, message, wparam, lparam);
    return state_->bar->WindowProc(message, wparam, lparam);
}

void TaskDisplay::AppendLog(std::string_view line) {
    state_->log.append(line);
    state_->log.append("\r\n");
    RefreshLog();
    diag::TraceText(line);
}

void TaskDisplay::ClearLog() {
    state_->log.clear();
    state_->find(IDC_STATUS_LOG)->text.clear();
    state_->log_scroll_line = 0;
    changed();
}

void TaskDisplay::RefreshLog() {
    state_->find(IDC_STATUS_LOG)->text = state_->log;
    const auto lines = static_cast<int>(std::count(state_->log.begin(), state_->log.end(), '\n'));
    // Scrolling stops at the last line (the empty one after the final line end).
    state_->log_scroll_line = std::min(kScrollToEnd, lines);
    changed();
}

const std::string& TaskDisplay::log_text() const {
    return state_->log;
}

void TaskDisplay::append_log_text_direct(std::string_view text) {
    state_->log.append(text);
}

int TaskDisplay::log_scroll_line() const {
    return state_->log_scroll_line;
}

void TaskDisplay::SetStatusText(std::string_view text) {
    state_->find(IDC_STATUS_TEXT)->text.assign(text);
    changed();
}

void TaskDisplay::SetCaption(std::string_view text) {
    state_->caption.assign(text);
    platform::set_window_text(window_, text);
    changed();
}

const std::string& TaskDisplay::caption() const {
    return state_->caption;
}

void TaskDisplay::ShowRateDisplay(bool on) {
    static constexpr struct {
        int id;
        const char* text;
    } kShown[] = {{IDC_TIME_LEFT_LABEL, "Estimated time left"},
                  {IDC_TIME_LEFT, "--:--"},
                  {IDC_RATE_LABEL, "Transfer rate"},
                  {IDC_RATE, "0.0 kB/s"}};
    for (const auto& item : kShown) {
        ControlState* control = state_->find(item.id);
        control->visible = on;
        if (on) control->text = item.text;
    }
    changed();
}

void TaskDisplay::set_rate_texts(std::string rate, std::string time_left) {
    state_->rate = std::move(rate);
    state_->time_left = std::move(time_left);
}

void TaskDisplay::refresh_rate_display() {
    state_->find(IDC_RATE)->text = state_->rate + " kB/s";
    state_->find(IDC_TIME_LEFT)->text = state_->time_left;
    changed();
}

void TaskDisplay::LayoutWindow() {
    const auto& dialog = ui::task_window_template();
    const platform::Rect log =
        ui::dialog_units_to_pixels(ui::find_control(dialog, IDC_STATUS_LOG)->position);
    platform::Rect& window = state_->window_rect;
    const int log_top_on_screen = window.top + ui::kFrameWidth + ui::kCaptionHeight + log.top;
    const int width = window.width();
    const int height = log_top_on_screen - window.top;
    const int left = (kScreenWidth - width) / 2;
    const int top = (kScreenHeight - height) / 2;
    window = {left, top, left + width, top + height};
    changed();
}

platform::Rect TaskDisplay::window_rect() const {
    return state_->window_rect;
}

void TaskDisplay::prepare_for_start() {
    if (HWND bar = state_->bar->GetSafeHwnd()) platform::set_window_text(bar, "");
    send_to_bar(PBM_SETTEXTCOLOR, 0, static_cast<LPARAM>(kStartTextColour));
}

void TaskDisplay::set_shown(bool shown) {
    platform::show_window(window_, shown);
    if (shown == state_->shown) return;
    state_->shown = shown;
    if (shown) state_->was_shown = true;
    if (auto presenter = ui::installed_presenter()) {
        if (shown) {
            presenter->window_shown(*this);
        } else {
            presenter->window_hidden(*this);
        }
    }
}

bool TaskDisplay::shown() const {
    return state_->shown;
}
bool TaskDisplay::was_shown() const {
    return state_->was_shown;
}

void TaskDisplay::notify_task_ended() {
    if (state_->ended) return;
    state_->ended = true;
    if (auto presenter = ui::installed_presenter()) presenter->task_ended(*this);
}

void TaskDisplay::SetRange(int lower, int upper) {
    const auto packed = (static_cast<std::uint32_t>(lower) & 0xFFFF) |
                        ((static_cast<std::uint32_t>(upper) & 0xFFFF) << 16);
    send_to_bar(PBM_SETRANGE, 0, static_cast<LPARAM>(packed));
}

int TaskDisplay::SetPos(int position) {
    return static_cast<int>(send_to_bar(PBM_SETPOS, static_cast<WPARAM>(position), 0));
}

int TaskDisplay::SetStep(int step) {
    return static_cast<int>(send_to_bar(PBM_SETSTEP, static_cast<WPARAM>(step), 0));
}

int TaskDisplay::StepIt() {
    return static_cast<int>(send_to_bar(PBM_STEPIT, 0, 0));
}

int TaskDisplay::GetPos() const {
    return static_cast<int>(send_to_bar(PBM_GETPOS, 0, 0));
}

std::pair<int, int> TaskDisplay::GetRange() const {
    PBRANGE range{0, 0};
    send_to_bar(PBM_GETRANGE, 1, reinterpret_cast<LPARAM>(&range));
    return {range.iLow, range.iHigh};
}

void TaskDisplay::FillProgress() {
    SetPos(GetRange().second);
}

float TaskDisplay::BarPercent() const {
    const auto [lower, upper] = GetRange();
    // An empty range has no percentage; 0 rather than a division by zero.
    if (upper == lower) return 0.0F;
    const auto percent = static_cast<float>(GetPos() * 100.0 / static_cast<double>(upper - lower));
    return percent < 0.0F ? 0.0F : percent;
}

CTextProgressCtrl& TaskDisplay::progress_bar() {
    return *state_->bar;
}
const CTextProgressCtrl& TaskDisplay::progress_bar() const {
    return *state_->bar;
}

std::string TaskDisplay::control_text(int id) const {
    if (id == IDC_PROGRESS) return state_->bar->window_text();
    const ControlState* control = state_->find(id);
    return control ? control->text : std::string();
}

bool TaskDisplay::control_visible(int id) const {
    if (id == IDC_PROGRESS) return true;
    const ControlState* control = state_->find(id);
    return control && control->visible;
}

}  // namespace stridelog::ui
