// What an entry point asked for: the task code and the call's parameters,
// handed to the task window in one piece. Everything the host passed by
// pointer that the task needs later is copied here at call time, so the host
// may free its own copy when the call returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stridelog/framework_arrays.h"
#include "stridelog/win_types.h"

namespace stridelog {

// Task codes chosen by the entry points.
enum TaskCode : int {
    TASK_SDK_VERSION = 0,
    TASK_WATCH_VERSION = 1,
    TASK_LONG_VERSION = 2,
    TASK_ALL_WORKOUTS = 3,
    TASK_CLEAR_WORKOUTS = 4,
    TASK_WORKOUT_SUMMARY = 5,
    TASK_SELECTED_WORKOUTS = 6,
    TASK_GET_PATHS = 7,
    TASK_SET_PATHS = 8,
    TASK_GET_VIEWS = 9,
    TASK_SET_VIEWS = 10,
    TASK_GET_SETTING = 11,
    TASK_SET_SETTING = 12,
    TASK_AGPS_UPDATE = 13,
    TASK_FIRMWARE_UPDATE = 14,
    TASK_READ_SECTOR = 15,
    TASK_WRITE_SECTOR = 16,
    TASK_SET_DATE_TIME = 17,
};

struct FtpSettings {
    std::string server, user, password, folder, fifth, sixth;
};

struct ClockValue {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct TaskRequest {
    TaskCode task = TASK_SDK_VERSION;
    bool show = true;
    // Workouts.
    bool clear_after_download = false;
    std::vector<std::uint32_t> sessions;  // GetSelectedWorkout(_Ex), in the host's order
    // SetPaths: the host's arrays (read when the write starts, as the call promises).
    CPtrArray* path_array = nullptr;
    CStringArray* name_array = nullptr;
    // SetPaths_Ex block, SetViews or SetSetting record, copied at call time.
    std::vector<std::uint8_t> record;
    ClockValue clock;         // SetDateTime
    std::uint8_t sector = 0;  // ReadFlashSector: the low 8 bits of the argument
    FtpSettings ftp;          // AGPSDataUpdate, FirmwareUpdate
    std::uint32_t download_time_limit_ms = 0;
    bool passive_ftp = false;
};

}  // namespace stridelog
