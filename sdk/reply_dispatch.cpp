// Reply dispatch: the status query, the operation start, the acknowledgements
// and the one timer handler. Read and write completions go to the flash
// transfer and from there to the running operation (task_window.cpp).
#include <memory>

#include "diag/diagnostics.hpp"
#include "link/watch_link.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_window.hpp"
#include "task/flash_transfer.hpp"

namespace stridelog::sdk {
namespace {

constexpr std::uint32_t kStatusTimeoutMs = 3000;

}  // namespace

void CSdkTaskDlg::start_status_query(bool dispatch_after_status) {
    if (!link_) return;
    dispatch_after_status_ = dispatch_after_status;
    status_pending_ = true;
    set_timer(task::kStatusTimer, kStatusTimeoutMs);
    link_->GetStatus();
}

void CSdkTaskDlg::OnStatusReply(const std::vector<std::uint8_t>& block) {
    const std::size_t count = block.size();
    // Only the reply to our query counts: one that comes unasked, or after the
    // query timed out and the operation started, changes nothing.
    if (!status_pending_ || count < 2) return;
    status_pending_ = false;
    kill_timer(task::kStatusTimer);
    facts_.status_bytes[0] = block[0];
    facts_.status_bytes[1] = block[1];
    // Two status bytes: flag 1. Four or more: the fourth, signed. Three: the
    // watch answered but has no fourth byte to read; it counts as an answer (1).
    facts_.status_flag = count >= 4 ? static_cast<std::int8_t>(block[3]) : 1;
    if (dispatch_after_status_) {
        start_operation();
    } else if (operation_ && operation_->code() == requested_) {
        operation_->on_status_reply();
    } else {
        fail_unmatched_operation("status reply");
    }
}

void CSdkTaskDlg::OnStatusTimeout() {
    status_pending_ = false;
    facts_.status_flag = 0;
    start_operation();
}

void CSdkTaskDlg::fail_unmatched_operation(const char* event) {
    // The task would never end by itself: it fails, loudly, rather than end
    // without a word or hang. The host gets the error every failed exchange
    // with the watch gives, so it needs no case of its own for it.
    const int running = operation_ ? static_cast<int>(operation_->code()) : 0;
    diag::Trace("%s: operation %d was requested but operation %d is running; the task fails", event,
                static_cast<int>(requested_), running);
    post_error(SDK_ERR_TRANSFER);
    EndTask();
}

void CSdkTaskDlg::start_operation() {
    if (operation_ && operation_->code() == requested_) {
        operation_->start();
        return;
    }
    fail_unmatched_operation("operation start");
}

void CSdkTaskDlg::OnAcknowledgement(std::uint8_t reply_id, std::uint8_t status) {
    // Only the reply its sender waits for; a repeated or unasked one changes nothing.
    if (!link_ || !link_->take_awaited_reply(reply_id)) return;
    if (operation_) operation_->on_acknowledgement(reply_id, status);
}

void CSdkTaskDlg::OnBadReply() {
    kill_timer(task::kWriteTimer);
    post_error(SDK_ERR_TRANSFER);
    EndTask();
}

namespace {

// The timers that wait for a reply from the watch.
bool is_reply_timer(UINT_PTR id) {
    return id == task::kVersionTimer || id == task::kStatusTimer || id == task::kReadTimer ||
           id == task::kWriteTimer || id == task::kClockReplyTimer;
}

// How often, and how long at most, a reply timer looks again while the reply
// has arrived but waits for the receive thread.
constexpr std::uint32_t kLateReplyRecheckMs = 20;
constexpr int kLateReplyRechecks = 100;

}  // namespace

void CSdkTaskDlg::OnTimer(UINT_PTR id) {
    // A reply already on this machine is not missing: the receive thread was
    // not scheduled in time (a busy machine). Its message is posted once it
    // runs and is handled before the timer fires again.
    if (is_reply_timer(id) && link_ && link_->reply_in_flight() &&
        late_reply_rechecks_ < kLateReplyRechecks) {
        ++late_reply_rechecks_;
        platform::set_timer(window_, id, kLateReplyRecheckMs);
        return;
    }
    if (id == task::kVersionTimer) {
        kill_timer(id);
        OnVersionTimer();
        return;
    }
    if (id == task::kStatusTimer) {
        kill_timer(id);
        OnStatusTimeout();
        return;
    }
    if (operation_ && operation_->on_timer(id)) return;
    transfer_->on_timer(id);
}

}  // namespace stridelog::sdk
