// What an operation may ask of the task that runs it, and nothing more.
//
// The task window implements this: it decides how a caption, a status line or
// a progress step looks (a window, a terminal, nothing at all when hidden) and
// how a question is put to the user. An operation only says what happened.
//
// Threads: everything here is called on the task window's thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "stridelog/win_types.h"

namespace stridelog::link {
class CWatchLink;
}

namespace stridelog::task {

class FlashTransfer;

// What the watch told the task window before the operation started.
struct WatchFacts {
    float firmware_version = 0.0f;
    std::uint8_t name_width = 10;  // bytes per name field in flash: 10 or 32
    std::uint8_t status_bytes[2] = {0, 0};
    int status_flag = 0;  // 0: no status reply; selects the large-reserve layout
};

class TaskHost {
  public:
    // ---- the watch ----
    virtual link::CWatchLink* link() = 0;  // null once the task has released it
    virtual FlashTransfer& transfer() = 0;
    virtual const WatchFacts& watch() const = 0;
    // Asks the watch for its status again; the reply reaches on_status_reply, a
    // silence re-enters start() with status flag 0.
    virtual void query_status() = 0;

    // ---- what the user sees ----
    virtual void set_caption(std::string_view text) = 0;
    virtual void set_status_text(std::string_view text) = 0;
    // One line of the status log (which also goes to the diagnostic output).
    virtual void append_log(std::string_view line) = 0;
    // The transfer rate and time left of a download: shown or hidden, the
    // latest texts, and a refresh with them.
    virtual void show_rate_display(bool on) = 0;
    virtual void set_rate_texts(std::string rate, std::string time_left) = 0;
    virtual void refresh_rate_display() = 0;
    // The progress bar: its range, position and step, one step, full.
    virtual void set_progress_range(int lower, int upper) = 0;
    virtual void set_progress_pos(int position) = 0;
    virtual void set_progress_step(int step) = 0;
    virtual void step_progress() = 0;
    virtual void fill_progress() = 0;
    // position x 100 / (upper - lower), never negative.
    virtual float bar_percent() const = 0;
    // A Yes/No question with detail lines; true for Yes. It runs a nested loop:
    // the task may have ended by the time it returns (check task_ended()).
    virtual bool confirm(std::string_view title, std::string_view message,
                         const std::vector<std::string>& lines) = 0;

    // ---- what the host receives ----
    virtual void post_error(UINT code) = 0;
    virtual void post_result(UINT code) = 0;
    // Copies `data` into a new block the host owns.
    virtual void post_result_block(UINT code, std::span<const std::uint8_t> data) = 0;
    virtual void post_progress(float percent) = 0;
    // The bar's percentage as the progress of `phase` (0x2023).
    virtual void post_phase_progress(std::uint32_t phase) = 0;
    // The host window the notifications go to (for the log).
    virtual HWND host_window() const = 0;
    virtual void post_to_host(UINT message) = 0;

    // ---- the task ----
    // The window that receives the task's timers and private messages (a
    // worker the operation starts posts to it).
    virtual HWND task_window() const = 0;
    virtual void set_timer(UINT_PTR id, std::uint32_t ms) = 0;
    virtual void kill_timer(UINT_PTR id) = 0;
    virtual void post_to_self(UINT message) = 0;
    // The common task end; the operation must touch nothing of the task afterwards.
    virtual void end_task() = 0;
    // True once the task has ended (a nested loop, such as a question to the
    // user, may have run the task end).
    virtual bool task_ended() const = 0;

  protected:
    ~TaskHost() = default;
};

}  // namespace stridelog::task
