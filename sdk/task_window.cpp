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

namespace stridelog {
namespace {

constexpr int kCancelCommand = 2;  // the Cancel button, or Esc

}  // namespace

CSdkTaskDlg::CSdkTaskDlg(Storage storage) : storage_(storage) {
    window_ = platform::create_window([this](HWND, UINT message, WPARAM wparam, LPARAM lparam) {
        return WindowProc(message, wparam, lparam);
    });
    platform::set_window_text(window_, "Watch");
    display_ = std::make_unique<TaskDisplay>(window_);
    transfer_ = std::make_unique<task::FlashTransfer>(static_cast<task::TaskHost&>(*this));
    platform::register_window_message(kLowLevelMessageName);
    task_handle_ = window_;
    sdk::NoteTaskCreated(task_handle_);
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
    sdk::NoteTaskDestroyed(task_handle_);
}

void CSdkTaskDlg::Attach(HWND host) {
    host_ = host;
    error_message_ = platform::register_window_message(sdk::kErrorMessageName);
    result_message_ = platform::register_window_message(sdk::kResultMessageName);
}

bool CSdkTaskDlg::CheckConnection() {
    if (ports::FindCablePort() != 0) return true;
    post_error(SDK_ERR_NO_PORT);
    return false;
}

void CSdkTaskDlg::ShowForTask() {
    platform::show_window(window_, request_.show);
    display_->SetShown(request_.show);
    if (disable_host_) platform::enable_window(host_, false);
    display_->LayoutWindow();
}

void CSdkTaskDlg::Start(TaskRequest request) {
    request_ = std::move(request);
    disable_host_ = request_.show;
    platform::show_window(window_, request_.show);
    display_->SetShown(request_.show);
    display_->PrepareForStart();
    display_->LayoutWindow();
    const sdk::TaskRow& row = sdk::task_row(request_.task);
    switch (row.start) {
        case sdk::TaskStart::sdk_version:
            PostSdkVersion();
            return;
        case sdk::TaskStart::nothing:
            return;
        case sdk::TaskStart::version_only:
            // The display stays as the template has it.
            BeginConnection(task::OperationCode::none, false);
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
    RunOperation(row.make(request_, *this), row.operation);
}

void CSdkTaskDlg::RunOperation(std::unique_ptr<task::Operation> operation,
                               task::OperationCode requested) {
    operation_ = std::move(operation);
    if (operation_) operation_->prepare();
    const bool download_task = sdk::task_row(request_.task).download;
    display_->ShowRateDisplay(download_task);
    // The download tasks start their log afresh at the connection.
    BeginConnection(requested, download_task);
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
    display_->NotifyTaskEnded();
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

void CSdkTaskDlg::RunModal() {
    platform::run_loop_until([this] { return ended_; });
}

void CSdkTaskDlg::Dismiss() {
    operation_.reset();
    link_.reset();
    display_.reset();
    HWND window = window_;
    window_ = nullptr;
    platform::destroy_window(window);
}

// ---- notifications -------------------------------------------------------

void CSdkTaskDlg::post_error(UINT code) {
    sdk::PostCode(host_, error_message_, code);
}

void CSdkTaskDlg::post_result(UINT code) {
    sdk::PostCode(host_, result_message_, code);
}

void CSdkTaskDlg::post_result_block(UINT code, std::span<const std::uint8_t> data) {
    sdk::PostBlock(host_, result_message_, code, data);
}

void CSdkTaskDlg::post_progress(float percent) {
    sdk::PostFloat(host_, result_message_, SDK_MSG_PROGRESS, percent);
}

void CSdkTaskDlg::post_phase_progress(std::uint32_t phase) {
    const float percent = display_->BarPercent();
    std::uint8_t block[8];
    std::memcpy(block, &phase, 4);
    std::memcpy(block + 4, &percent, 4);
    post_result_block(SDK_MSG_PHASE_PROGRESS, block);
}

void CSdkTaskDlg::PostSdkVersion() {
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
    display_->SetRateTexts(std::move(rate), std::move(time_left));
}

void CSdkTaskDlg::refresh_rate_display() {
    display_->RefreshRateDisplay();
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
    CConfirmDlg question;
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
    const LRESULT result = HandleMessage(message, wparam, lparam);
    if (--handler_depth_ == 0 && destroy_pending_) {
        destroy_pending_ = false;
        platform::destroy_window(window_);  // deletes this object
    }
    return result;
}

LRESULT CSdkTaskDlg::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    // The messages that carry a payload: it is taken first, so it is freed
    // whether or not the task still runs.
    switch (message) {
        case WM_LINK_VERSION: {
            auto text = kVersionTextMessage.take(wparam);
            if (!ended_) OnVersionReply(std::move(text));
            return 0;
        }
        case WM_LINK_STATUS: {
            const auto bytes = kStatusBytesMessage.take(wparam);
            if (!ended_) OnStatusReply(*bytes);
            return 0;
        }
        case WM_FTP_STATUS:
        case WM_FTP_DONE:
        case WM_FTP_FAILED:
        case WM_FTP_PROGRESS:
        case WM_FTP_RANGE:
        case WM_FTP_TIME_LEFT:
        case WM_FTP_RATE:
            // The operation that started the download handles (and owns) them.
            if (ended_ || !operation_ || !operation_->on_message(message, wparam, lparam))
                DropDownloadMessage(message, wparam);
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
        case WM_LINK_READ_DATA:
            transfer_->on_read_data(reinterpret_cast<const std::uint8_t*>(wparam),
                                    static_cast<std::size_t>(lparam));
            return 0;
        case WM_READ_CHUNK_STORED:
            if (const auto step = transfer_->on_chunk_stored(); step && operation_)
                operation_->on_read_complete(*step);
            return 0;
        case WM_LINK_WRITE_ACK:
            if (!link_ || !link_->TakeAwaitedReply(watch_id::kWriteReply)) return 0;
            kill_timer(task::kWriteTimer);
            if (const auto step = transfer_->on_write_ack(); step && operation_)
                operation_->on_write_complete(*step);
            return 0;
        case WM_LINK_ERASE_ACK:
        case WM_LINK_ACK_23:
        case WM_LINK_PREPARE_ACK: {
            const std::uint8_t id = message == WM_LINK_ERASE_ACK ? watch_id::kEraseReply
                                    : message == WM_LINK_ACK_23  ? watch_id::kAck23
                                                                 : watch_id::kPrepareWriteReply;
            if (!link_ || !link_->TakeAwaitedReply(id)) return 0;
            kill_timer(task::kWriteTimer);
            if (const auto step = transfer_->on_step_ack(); step && operation_)
                operation_->on_write_complete(*step);
            return 0;
        }
        case WM_LINK_BAD_REPLY:
            OnBadReply();
            return 0;
        default:
            for (const OperationAcknowledgement& ack : kOperationAcknowledgements) {
                if (ack.message != message) continue;
                OnAcknowledgement(ack.reply_id,
                                  ack.status_in_wparam ? static_cast<std::uint8_t>(wparam) : 0);
                return 0;
            }
            return 0;  // the registered low-level message included: nothing to do
    }
}

}  // namespace stridelog
