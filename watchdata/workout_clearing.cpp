#include "watchdata/workout_clearing.hpp"

#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "watchdata/workout_directory.hpp"

namespace stridelog::watchdata {
namespace {

constexpr int kProgressSteps = 2;
constexpr float kHalfway = 50.0f;
constexpr float kFull = 100.0f;
constexpr std::uint32_t kFullBarPauseMs = 500;

}  // namespace

void WorkoutClearing::start() {
    active_ = true;
    host_.set_progress_range(0, kProgressSteps);
    if (after_download_) {
        // The download already showed 100: the clear that ends it keeps the bar
        // full instead of starting it over.
        host_.set_progress_pos(kProgressSteps);
        host_.set_progress_step(0);
    } else {
        host_.set_progress_pos(0);
        // One step for the directory read: the default of 10 would wrap the bar
        // to full and then back to half.
        host_.set_progress_step(1);
    }
    host_.transfer().read_directory();
}

bool WorkoutClearing::on_read_complete(int step_code) {
    if (!active_ || step_code != task::kDirectoryStep) return false;
    if (!after_download_) {
        host_.step_progress();
        host_.post_progress(kHalfway);
    }
    host_.append_log("Clear flash");
    task::FlashTransfer& transfer = host_.transfer();
    clear_workout_directory(transfer.directory(), host_.watch().status_flag);
    transfer.write_sector(0, transfer.directory(), task::kDirectoryWriteStep);
    return true;
}

bool WorkoutClearing::on_write_complete(int step_code) {
    if (!active_ || step_code != task::kDirectoryWriteStep) return false;
    active_ = false;
    host_.fill_progress();
    platform::clock().sleep_ms(kFullBarPauseMs);
    host_.post_progress(kFull);
    host_.post_result(after_download_ ? SDK_MSG_WORKOUTS_DONE : SDK_MSG_WORKOUTS_CLEARED);
    host_.end_task();
    return true;
}

}  // namespace stridelog::watchdata
