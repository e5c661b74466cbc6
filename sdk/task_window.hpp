// CSdkTaskDlg: the task window, host of one SDK call. It keeps the call's
// request, connects to the watch (port walk, version check, status query),
// starts the operation the request names and forwards to it every read
// completion, write completion, acknowledgement and timer expiry; it posts the
// host notifications and ends the task, after which a heap task window
// deletes itself. It is the operation's TaskHost: what the operation says
// (a caption, a progress step, a question) it shows with ui/.
//
// Threads: everything here runs on the thread that called the entry point.
// The link's receive thread only posts messages to the window (and copies read
// data into the destination recorded by the one outstanding read command).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/task_request.hpp"
#include "stridelog/stridelog.h"
#include "task/operation.hpp"

namespace stridelog::ui {
class CConfirmDlg;
class TaskDisplay;
}  // namespace stridelog::ui
namespace stridelog::link {
class CWatchLink;
}
namespace stridelog::task {
class FlashTransfer;
}
namespace stridelog {
struct TaskWindowTestAccess;
}

namespace stridelog::sdk {

// The "SDK<model>,<version>" text GetSDKVersion posts, without a NUL.
inline constexpr char kSdkVersionText[] = "SDK73688,2.0.11.260";

class CSdkTaskDlg final : private task::TaskHost {
  public:
    enum class Storage { heap, local };

    // Creates the (hidden) task window at once.
    explicit CSdkTaskDlg(Storage storage = Storage::heap);
    ~CSdkTaskDlg();
    CSdkTaskDlg(const CSdkTaskDlg&) = delete;
    CSdkTaskDlg& operator=(const CSdkTaskDlg&) = delete;

    // Stores the host, registers the two messages.
    void attach(HWND host);
    // Connect check: false (after posting 0x1000) when no cable port exists.
    bool CheckConnection();
    // Shows or hides the window as asked and starts the task.
    void start(TaskRequest request);
    // Common task end: releases everything, re-enables the host, destroys the
    // window (a heap task window is deleted by then; touch nothing afterwards).
    void EndTask();
    // Local task windows: runs the window's loop until the task has ended.
    void run_modal();
    // Destroys the window without the task end (a refused call, or a local task
    // window after its loop). A heap object is deleted by it: touch nothing afterwards.
    void dismiss();
    bool ended() const { return ended_; }

    void post_sdk_version();
    void AppendLog(std::string_view line);

    HWND window() const { return window_; }
    ui::TaskDisplay& display() { return *display_; }

  private:
    friend struct stridelog::TaskWindowTestAccess;  // tests reach the status facts and start their
                                                    // own operations

    // Runs `operation` once the watch has answered (null: the task ends there).
    void run_operation(std::unique_ptr<task::Operation> operation, task::OperationCode requested);

    // ---- TaskHost: what the running operation may use ----
    link::CWatchLink* link() override { return link_.get(); }
    task::FlashTransfer& transfer() override { return *transfer_; }
    const task::WatchFacts& watch() const override { return facts_; }
    void query_status() override { start_status_query(false); }
    void set_caption(std::string_view text) override;
    void set_status_text(std::string_view text) override;
    void append_log(std::string_view line) override { AppendLog(line); }
    void show_rate_display(bool on) override;
    void set_rate_texts(std::string rate, std::string time_left) override;
    void refresh_rate_display() override;
    void set_progress_range(int lower, int upper) override;
    void set_progress_pos(int position) override;
    void set_progress_step(int step) override;
    void step_progress() override;
    void fill_progress() override;
    float bar_percent() const override;
    bool confirm(std::string_view title, std::string_view message,
                 const std::vector<std::string>& lines) override;
    void post_error(UINT code) override;
    void post_result(UINT code) override;
    void post_result_block(UINT code, std::span<const std::uint8_t> data) override;
    void post_progress(float percent) override;
    void post_phase_progress(std::uint32_t phase) override;
    HWND host_window() const override { return host_; }
    void post_to_host(UINT message) override;
    HWND task_window() const override { return window_; }
    void set_timer(UINT_PTR id, std::uint32_t ms) override;
    void kill_timer(UINT_PTR id) override;
    void post_to_self(UINT message) override;
    void end_task() override { EndTask(); }
    bool task_ended() const override { return ended_; }

    // ---- connection and version (connection.cpp) ----
    void begin_connection(task::OperationCode requested, bool clear_log);
    int connect();
    int get_port_number() const;
    bool request_version(std::optional<task::OperationCode> requested);
    bool OnVersionTimer();
    void OnVersionReply(std::unique_ptr<std::string> text);

    // ---- dispatch (reply_dispatch.cpp) ----
    void start_status_query(bool dispatch_after_status);
    void OnStatusReply(const std::vector<std::uint8_t>& block);
    void OnStatusTimeout();
    void start_operation();
    void OnAcknowledgement(std::uint8_t reply_id, std::uint8_t status);
    void OnBadReply();
    void OnTimer(UINT_PTR id);
    // The running operation is not the one the request names (or none runs):
    // a diagnostic line, SDK_ERR_TRANSFER, the task end.
    void fail_unmatched_operation(const char* event);

    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    void show_for_task();

    // The call.
    Storage storage_;
    HWND window_ = nullptr;
    HWND task_handle_ = nullptr;  // kept for the task list after destruction
    HWND host_ = nullptr;
    UINT error_message_ = 0;
    UINT result_message_ = 0;
    TaskRequest request_;
    bool disable_host_ = true;

    // The connection.
    std::vector<std::string> port_list_;
    int port_index_ = 0;
    std::unique_ptr<link::CWatchLink> link_;
    std::uint8_t retry_count_ = 0;
    bool version_pending_ = false;
    std::mutex version_lock_;
    task::OperationCode requested_ = task::OperationCode::none;
    // A fresh window assumes firmware 0.0 until a reply shows a number, so an
    // unreadable version is refused, not trusted.
    task::WatchFacts facts_;
    bool status_pending_ = false;
    bool dispatch_after_status_ = true;

    // The operation.
    std::unique_ptr<task::FlashTransfer> transfer_;
    std::unique_ptr<task::Operation> operation_;

    // The window.
    std::unique_ptr<ui::TaskDisplay> display_;
    ui::CConfirmDlg* question_ = nullptr;  // while the user is being asked
    bool ended_ = false;
    int handler_depth_ = 0;
    // Expiries of the current reply wait put off because the reply had arrived
    // and was still on its way through the receive thread.
    int late_reply_rechecks_ = 0;
    bool destroy_pending_ = false;
};

}  // namespace stridelog::sdk
