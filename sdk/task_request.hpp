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

namespace stridelog::sdk {

// The task an entry point starts (sdk/tasks.hpp: one row per task).
enum TaskCode : int;

struct FtpSettings {
    std::string server, user, password, folder, fifth, sixth;
};

struct ClockValue {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct TaskRequest {
    TaskCode task{};  // the SDK version
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

}  // namespace stridelog::sdk
