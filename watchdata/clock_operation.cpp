#include "watchdata/clock_operation.hpp"

#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "wire/message_ids.hpp"

namespace stridelog::watchdata {
namespace {

constexpr std::uint32_t kFullBarPauseMs = 1000;
constexpr int kYearBase = 2000;

}  // namespace

void SetClockOperation::start() {
    host().append_log("Set date time");
    host().set_progress_range(0, 1);
    // The watch takes the year as one byte after 2000; anything else is no date it can hold.
    const bool representable = time_.year >= kYearBase && time_.year <= kYearBase + 255;
    if (!representable || !is_valid_date_time(time_)) {
        host().post_error(SDK_ERR_CLOCK_VALUE);
        host().end_task();
        return;
    }
    awaiting_ = true;
    host().set_timer(task::kClockReplyTimer, kClockReplyTimeoutMs);
    // Without a link the timer ends the task as for a silent watch.
    if (link::CWatchLink* link = host().link())
        link->SetClock(static_cast<std::uint8_t>(time_.year - kYearBase),
                       static_cast<std::uint8_t>(time_.month), static_cast<std::uint8_t>(time_.day),
                       static_cast<std::uint8_t>(time_.hour),
                       static_cast<std::uint8_t>(time_.minute),
                       static_cast<std::uint8_t>(time_.second));
}

void SetClockOperation::on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) {
    (void)status;  // the watch's answer is its acknowledgement; the byte carries nothing more
    if (!awaiting_ || reply_id != wire::watch_id::kSetClockReply) return;
    awaiting_ = false;
    host().kill_timer(task::kClockReplyTimer);
    host().fill_progress();
    platform::clock().sleep_ms(kFullBarPauseMs);
    host().post_result(SDK_MSG_CLOCK_SET);
    host().end_task();
}

bool SetClockOperation::on_timer(UINT_PTR id) {
    if (id != task::kClockReplyTimer) return false;
    host().kill_timer(task::kClockReplyTimer);
    if (!awaiting_) return true;
    awaiting_ = false;
    // The error is the task's final notification: the full bar goes before it.
    host().post_progress(100.0f);
    host().post_error(SDK_ERR_CLOCK_TIMEOUT);
    host().end_task();
    return true;
}

}  // namespace stridelog::watchdata
