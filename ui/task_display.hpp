// The task window's display: status log, status text, caption, rate display and
// the progress bar control, kept as data so every service works whether or not
// the window is shown. A shown window is drawn by the installed presenter.
//
// Threads: the task window's thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/canvas.hpp"
#include "stridelog/win_types.h"

namespace stridelog::ui {

class CTextProgressCtrl;

// Control ids of dialog template 6000.
inline constexpr int IDD_TASK_WINDOW = 6000;
inline constexpr int IDC_PROGRESS = 6000;
inline constexpr int IDC_STATUS_TEXT = 6006;
inline constexpr int IDC_STATUS_LOG = 1039;
inline constexpr int IDC_SECTOR = 1008;
inline constexpr int IDC_LOG_CHECK = 1069;
inline constexpr int IDC_TIME_LEFT_LABEL = 6002;
inline constexpr int IDC_RATE_LABEL = 6003;
inline constexpr int IDC_TIME_LEFT = 6004;
inline constexpr int IDC_RATE = 6005;

class TaskDisplay {
  public:
    // Creates the display of the task window `window`, including its progress bar
    // control (a child window).
    explicit TaskDisplay(HWND window);
    ~TaskDisplay();
    TaskDisplay(const TaskDisplay&) = delete;
    TaskDisplay& operator=(const TaskDisplay&) = delete;

    // Status log: each line gets "\r\n"; every line also goes to the diagnostic output.
    void AppendLog(std::string_view line);
    void ClearLog();
    void RefreshLog();
    const std::string& log_text() const;
    // Appends to the log text without the control refresh or the diagnostic line.
    void append_log_text_direct(std::string_view text);

    void SetStatusText(std::string_view text);
    void SetCaption(std::string_view text);
    void ShowRateDisplay(bool on);
    // Texts computed by the download worker, shown by refresh_rate_display (timer 1007).
    void set_rate_texts(std::string rate, std::string time_left);
    void refresh_rate_display();
    // Shrinks the window to the part above the status log and centres it.
    void LayoutWindow();
    // Start of a task: empty bar caption, bar text colour 255.
    void prepare_for_start();
    // The window was shown or hidden (show flag).
    void set_shown(bool shown);
    bool shown() const;

    // Progress bar operations (messages to the bar control).
    void SetRange(int lower, int upper);
    int SetPos(int position);
    int SetStep(int step);
    int StepIt();
    int GetPos() const;
    std::pair<int, int> GetRange() const;
    void FillProgress();
    // position x 100 / (upper - lower), never negative.
    float BarPercent() const;

    HWND window() const { return window_; }
    CTextProgressCtrl& progress_bar();
    const CTextProgressCtrl& progress_bar() const;

    // The window title (kept here, so it outlives the window).
    const std::string& caption() const;
    // The window's screen rectangle, frame and caption bar included; before
    // LayoutWindow it holds the whole template at the screen's top-left corner.
    platform::Rect window_rect() const;
    // Line the status log is scrolled to (its last one after every refresh).
    int log_scroll_line() const;
    // True once the window has been shown during this task.
    bool was_shown() const;
    // Tells the presenter the task has ended (once; the destructor does it too).
    void notify_task_ended();

    // Text of a control of template 6000 (tests, presenters); empty for an unknown id.
    std::string control_text(int id) const;
    bool control_visible(int id) const;

  private:
    struct State;
    // Tells the presenter when a shown window changed.
    void changed() const;
    LRESULT send_to_bar(UINT message, WPARAM wparam, LPARAM lparam) const;

    HWND window_;
    std::unique_ptr<State> state_;
};

}  // namespace stridelog::ui
