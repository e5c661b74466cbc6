#include "sdk/task_window.hpp"

#include <cstring>

#include "diag/diagnostics.hpp"
#include "link/link_messages.hpp"
#include "link/watch_link.hpp"
#include "platform/window_system.hpp"
#include "ports/cable_ports.hpp"
#include "sdk/notifications.hpp"
#include "sdk/task_registry.hpp"
#include "sdk/tasks.hpp"
#include "task/flash_transfer.hpp"
#include "ui/confirm_dlg.hpp"
#include "ui/dialog_templates.hpp"
#include "ui/task_display.hpp"
#include "update/ftp_messages.hpp"

namespace stridelog::sdk {
namespace {

constexpr int kCancelCommand = 2;  // the Cancel button, or Esc

}  // namespace

CSdkTaskDlg::CSdkTaskDlg(Storage storage) : storage_(storage) {
    window_ = platform::create_window([this](HWND, UINT message, WPARAM wparam, LPARAM lparam) {
        return WindowProc(message, wparam, lparam);
    });
    platform::set_window_text(window_, "Watch");
    display_ = std::make_unique<ui::TaskDisplay>(window_);
    transfer_ = std::make_unique<task::FlashTransfer>(static_cast<task::TaskHost&>(*this));
    platform::register_window_message(link::kLowLevelMessageName);
    task_handle_ = window_;
    sdk::note_task_created(task_handle_);
}

CSdkTaskDlg::~CSdkTaskDlg() {
    operation_.reset();
    link_.reset();
    display_.reset();
    if (platform::is_window(window_)) {
        // Never reached for a heap window (it is deleted from its own destruction).
        HWND window = window_;
        window_ = nullptr;
        platform::destroy_window(window);
    }
    sdk::note_task_destroyed(task_handle_);
}

void CSdkTaskDlg::attach(HWND host) {
    host_ = host;
    error_message_ = platform::register_window_message(sdk::kErrorMessageName);
    result_message_ = platform::register_window_message(sdk::kResultMessageName);
}

bool CSdkTaskDlg::CheckConnection() {
    if (ports::FindCablePort() != 0) return true;
    post_error(SDK_ERR_NO_PORT);
    return false;
}

void CSdkTaskDlg::show_for_task() {
    platform::show_window(window_, request_.show);
    display_->set_shown(request_.show);
    if (disable_host_) platform::enable_window(host_, false);
    display_->LayoutWindow();
}

void CSdkTaskDlg::start(TaskRequest request) {
    request_ = std::move(request);
    disable_host_ = request_.show;
    platform::show_window(window_, request_.show);
    display_->set_shown(request_.show);
    display_->prepare_for_start();
    display_->LayoutWindow();
    const sdk::TaskRow& row = sdk::task_row(request_.task);
    switch (row.start) {
        case sdk::TaskStart::sdk_version:
            post_sdk_version();
            return;
        case sdk::TaskStart::nothing:
            return;
        case sdk::TaskStart::version_only:
            // The display stays as the template has it.
            begin_connection(task::OperationCode::none, false);
            return;
        case sdk::TaskStart::operation:
            break;
    }
    // A request the watch need not see to refuse is refused before it is touched.
    if (const UINT refusal = row.refuse ? row.refuse(request_) : 0; refusal != 0) {
        post_error(refusal);
        EndTask();
        return;
    }
    run_operation(row.make(request_, *this), row.operation);
}

void CSdkTaskDlg::run_operation(std::unique_ptr<task::Operation> operation,
                                task::OperationCode requested) {
    operation_ = std::move(operation);
    if (operation_) operation_->prepare();
    const bool download_task = sdk::task_row(request_.task).download;
    display_->ShowRateDisplay(download_task);
    // The download tasks start their log afresh at the connection.
    begin_connection(requested, download_task);
}

void CSdkTaskDlg::EndTask() {
    if (ended_) return;
    ended_ = true;
    // Workers (downloads) stop first: nothing they post afterwards is read.
    if (operation_) operation_->on_task_end();
    // A question about an ended task has no answer to wait for.
    if (question_) question_->Close();
    AppendLog("dll exit()");
    link_.reset();
    for (UINT_PTR id : task::kTimersStoppedAtTaskEnd) kill_timer(id);
    request_.sessions.clear();
    request_.record.clear();
    transfer_->release();
    platform::enable_window(host_, true);
    display_->notify_task_ended();
    if (storage_ == Storage::heap) {
        // The window's final destruction deletes this object; inside a handler
        // it waits until the handler has returned.
        if (handler_depth_ > 0) {
            destroy_pending_ = true;
        } else {
            platform::destroy_window(window_);
        }
    }
    // A local (modal) task window ends its loop instead; the entry point destroys it.
}

void CSdkTaskDlg::run_modal() {
    platform::run_loop_until([this] { return ended_; });
}

void CSdkTaskDlg::dismiss() {
    operation_.reset();
    link_.reset();
    display_.reset();
    HWND window = window_;
    window_ = nullptr;
    platform::destroy_window(window);
}

// ---- notifications -------------------------------------------------------

void CSdkTaskDlg::post_error(UINT code) {
    sdk::post_code(host_, error_message_, code);
}

void CSdkTaskDlg::post_result(UINT code) {
    sdk::post_code(host_, result_message_, code);
}

void CSdkTaskDlg::post_result_block(UINT code, std::span<const std::uint8_t> data) {
    sdk::post_block(host_, result_message_, code, data);
}

void CSdkTaskDlg::post_progress(float percent) {
    sdk::post_float(host_, result_message_, SDK_MSG_PROGRESS, percent);
}

void CSdkTaskDlg::post_phase_progress(std::uint32_t phase) {
    const float percent = display_->BarPercent();
    std::uint8_t block[8];
    std::memcpy(block, &phase, 4);
    std::memcpy(block + 4, &percent, 4);
    post_result_block(SDK_MSG_PHASE_PROGRESS, block);
}

void CSdkTaskDlg::post_sdk_version() {
    post_result_block(SDK_MSG_SDK_VERSION,
                      std::span(reinterpret_cast<const std::uint8_t*>(kSdkVersionText),
                                sizeof kSdkVersionText - 1));
}

void CSdkTaskDlg::AppendLog(std::string_view line) {
    if (display_) display_->AppendLog(line);
}

// ---- what the operation shows -----------------------------------------------

void CSdkTaskDlg::set_caption(std::string_view text) {
    display_->SetCaption(text);
}

void CSdkTaskDlg::set_status_text(std::string_view text) {
    display_->SetStatusText(text);
}

void CSdkTaskDlg::show_rate_display(bool on) {
    display_->ShowRateDisplay(on);
}

void CSdkTaskDlg::set_rate_texts(std::string rate, std::string time_left) {
    display_->set_rate_texts(std::move(rate), std::move(time_left));
}

void CSdkTaskDlg::refresh_rate_display() {
    display_->refresh_rate_display();
}

void CSdkTaskDlg::set_progress_range(int lower, int upper) {
    display_->SetRange(lower, upper);
}

void CSdkTaskDlg::set_progress_pos(int position) {
    display_->SetPos(position);
}

void CSdkTaskDlg::set_progress_step(int step) {
    display_->SetStep(step);
}

void CSdkTaskDlg::step_progress() {
    display_->StepIt();
}

void CSdkTaskDlg::fill_progress() {
    display_->FillProgress();
}

float CSdkTaskDlg::bar_percent() const {
    return display_->BarPercent();
}

bool CSdkTaskDlg::confirm(std::string_view title, std::string_view message,
                          const std::vector<std::string>& lines) {
    // No parent: the task window, and its Cancel button, stay usable while the
    // question is open.
    ui::CConfirmDlg question;
    question.SetContent(title, message, &lines);
    question_ = &question;
    const int answer = question.DoModal();
    question_ = nullptr;
    return answer == ui::IDYES;
}

void CSdkTaskDlg::set_timer(UINT_PTR id, std::uint32_t ms) {
    late_reply_rechecks_ = 0;  // a new wait
    platform::set_timer(window_, id, ms);
}

void CSdkTaskDlg::kill_timer(UINT_PTR id) {
    platform::kill_timer(window_, id);
}

void CSdkTaskDlg::post_to_self(UINT message) {
    platform::post_message(window_, message, 0, 0);
}

void CSdkTaskDlg::post_to_host(UINT message) {
    platform::post_message(host_, message, 0, 0);
}

// ---- messages --------------------------------------------------------------

LRESULT CSdkTaskDlg::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == platform::kWmNcDestroy) {
        if (storage_ == Storage::heap) delete this;  // the window's final destruction
        return 0;
    }
    // A handler may run a nested loop (a question to the user) in which another
    // handler ends the task; the window then goes when the outermost handler returns.
    ++handler_depth_;
    const LRESULT result = handle_message(message, wparam, lparam);
    if (--handler_depth_ == 0 && destroy_pending_) {
        destroy_pending_ = false;
        platform::destroy_window(window_);  // deletes this object
    }
    return result;
}

LRESULT CSdkTaskDlg::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    // The messages that carry a payload: it is taken first, so it is freed
    // whether or not the task still runs.
    switch (message) {
        case link::WM_LINK_VERSION: {
            auto text = link::kVersionTextMessage.take(wparam);
            if (!ended_) OnVersionReply(std::move(text));
            return 0;
        }
        case link::WM_LINK_STATUS: {
            const auto bytes = link::kStatusBytesMessage.take(wparam);
            if (!ended_) OnStatusReply(*bytes);
            return 0;
        }
        case update::WM_FTP_STATUS:
        case update::WM_FTP_DONE:
        case update::WM_FTP_FAILED:
        case update::WM_FTP_PROGRESS:
        case update::WM_FTP_RANGE:
        case update::WM_FTP_TIME_LEFT:
        case update::WM_FTP_RATE:
            // The operation that started the download handles (and owns) them.
            if (ended_ || !operation_ || !operation_->on_message(message, wparam, lparam))
                update::drop_download_message(message, wparam);
            return 0;
        default:
            break;
    }
    // After the task end nothing else a late message says can matter.
    if (ended_ && message != platform::kWmTimer) return 0;
    switch (message) {
        case platform::kWmTimer:
            if (!ended_) OnTimer(wparam);
            return 0;
        case platform::kWmClose:
            EndTask();
            return 0;
        case platform::kWmCommand:
            if ((wparam & 0xFFFF) == kCancelCommand) EndTask();
            return 0;
        case link::WM_LINK_READ_DATA:
            transfer_->on_read_data(reinterpret_cast<const std::uint8_t*>(wparam),
                                    static_cast<std::size_t>(lparam));
            return 0;
        case link::WM_READ_CHUNK_STORED:
            if (const auto step = transfer_->on_chunk_stored(); step && operation_)
                operation_->on_read_complete(*step);
            return 0;
        case link::WM_LINK_WRITE_ACK:
            if (!link_ || !link_->take_awaited_reply(wire::watch_id::kWriteReply)) return 0;
            kill_timer(task::kWriteTimer);
            if (const auto step = transfer_->on_write_ack(); step && operation_)
                operation_->on_write_complete(*step);
            return 0;
        case link::WM_LINK_ERASE_ACK:
        case link::WM_LINK_ACK_23:
        case link::WM_LINK_PREPARE_ACK: {
            const std::uint8_t id = message == link::WM_LINK_ERASE_ACK ? wire::watch_id::kEraseReply
                                    : message == link::WM_LINK_ACK_23
                                        ? wire::watch_id::kAck23
                                        : wire::watch_id::kPrepareWriteReply;
            if (!link_ || !link_->take_awaited_reply(id)) return 0;
            kill_timer(task::kWriteTimer);
            if (const auto step = transfer_->on_step_ack(); step && operation_)
                operation_->on_write_complete(*step);
            return 0;
        }
        case link::WM_LINK_BAD_REPLY:
            OnBadReply();
            return 0;
        default:
            for (const link::OperationAcknowledgement& ack : link::kOperationAcknowledgements) {
                if (ack.message != message) continue;
                OnAcknowledgement(ack.reply_id,
                                  ack.status_in_wparam ? static_cast<std::uint8_t>(wparam) : 0);
                return 0;
            }
            return 0;  // the registered low-level message included: nothing to do
    }
}

}  // namespace stridelog::sdk
