#include "watchdata/workout_clearing.hpp"

#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "ui/task_display.hpp"
#include "watchdata/flash_transfer.hpp"
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
    host_.display().SetRange(0, kProgressSteps);
    host_.display().SetPos(0);
    host_.transfer().read_directory();
}

bool WorkoutClearing::on_read_complete(int step_code) {
    if (!active_ || step_code != kDirectoryStep) return false;
    host_.display().StepIt();
    host_.post_progress(kHalfway);
    host_.append_log("Clear flash");
    FlashTransfer& transfer = host_.transfer();
    clear_workout_directory(transfer.directory(), host_.watch().status_flag);
    transfer.write_sector(0, transfer.directory(), kDirectoryWriteStep);
    return true;
}

bool WorkoutClearing::on_write_complete(int step_code) {
    if (!active_ || step_code != kDirectoryWriteStep) return false;
    active_ = false;
    host_.display().FillProgress();
    platform::clock().sleep_ms(kFullBarPauseMs);
    host_.post_progress(kFull);
    host_.post_result(after_download_ ? SDK_MSG_WORKOUTS_DONE : SDK_MSG_WORKOUTS_CLEARED);
    host_.end_task();
    return true;
}

}  // namespace stridelog::watchdata
