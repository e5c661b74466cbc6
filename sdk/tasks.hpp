// Every task an entry point can start, and what it runs: one row per task.
//
// A task code names what the host asked for; its row says how the task starts
// and, for the tasks that talk to the watch's flash, which operation runs once
// the watch has answered (its code, and the function that makes it from the
// request). The rows stand in task code order, one per code: a task code
// without a row, or an operation task without an operation, does not compile.
//
// Threads: constant data; the makers run on the task window's thread.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "sdk/task_request.hpp"
#include "stridelog/stridelog.h"
#include "task/operation.hpp"
#include "update/agps_operation.hpp"
#include "update/firmware_operation.hpp"
#include "watchdata/clock_operation.hpp"
#include "watchdata/long_version_operation.hpp"
#include "watchdata/path_operations.hpp"
#include "watchdata/sector_read_operation.hpp"
#include "watchdata/settings_operations.hpp"
#include "watchdata/workout_clearing.hpp"
#include "watchdata/workout_download_operation.hpp"

namespace stridelog::sdk {

// Task codes chosen by the entry points.
enum TaskCode : int {
    task_sdk_version = 0,
    task_watch_version = 1,
    task_long_version = 2,
    task_all_workouts = 3,
    task_clear_workouts = 4,
    task_workout_summary = 5,
    task_selected_workouts = 6,
    task_get_paths = 7,
    task_set_paths = 8,
    task_get_views = 9,
    task_set_views = 10,
    task_get_setting = 11,
    task_set_setting = 12,
    task_agps_update = 13,
    task_firmware_update = 14,
    task_read_sector = 15,
    task_write_sector = 16,
    task_set_date_time = 17,
    task_count  // not a task: the number of them
};

using OperationPtr = std::unique_ptr<task::Operation>;
using MakeOperation = OperationPtr (*)(const TaskRequest& request, task::TaskHost& host);

// How a task starts.
enum class TaskStart {
    operation,     // connect, query the status, then run the row's operation
    version_only,  // connect; the version reply ends the task
    sdk_version,   // post the SDK's own version text, nothing else
    nothing,       // start nothing (the refused sector write)
};

// The function that makes a row's operation. `given` is what the compile-time
// checks read: a sanitizer build cannot compare a function's address with
// null in a constant expression.
struct OperationMaker {
    MakeOperation function = nullptr;
    bool given = false;

    OperationPtr operator()(const TaskRequest& request, task::TaskHost& host) const {
        return function(request, host);
    }
};

constexpr OperationMaker maker(MakeOperation function) {
    return {function, true};
}

struct TaskRow {
    TaskCode task;
    TaskStart start;
    task::OperationCode operation = task::OperationCode::none;
    OperationMaker make = {};
    // A download task: the rate display shows from the start, and the status
    // log starts afresh at the connection.
    bool download = false;
    // Checked before the watch is touched: the error that refuses the request, or 0.
    UINT (*refuse)(const TaskRequest& request) = nullptr;
};

// ---- the makers ----

template <class Op>
OperationPtr make_plain(const TaskRequest&, task::TaskHost& host) {
    return std::make_unique<Op>(host);
}

template <class Op>
OperationPtr make_with_record(const TaskRequest& request, task::TaskHost& host) {
    return std::make_unique<Op>(host, request.record);
}

template <watchdata::WorkoutDownloadOperation::Mode mode>
OperationPtr make_workout_download(const TaskRequest& request, task::TaskHost& host) {
    return std::make_unique<watchdata::WorkoutDownloadOperation>(host, mode, request.sessions,
                                                                 request.clear_after_download);
}

inline OperationPtr make_set_paths(const TaskRequest& request, task::TaskHost& host) {
    if (!request.record.empty())
        return std::make_unique<watchdata::SetPathsOperation>(host, request.record);
    return std::make_unique<watchdata::SetPathsOperation>(host, request.path_array,
                                                          request.name_array);
}

inline OperationPtr make_sector_read(const TaskRequest& request, task::TaskHost& host) {
    return std::make_unique<watchdata::SectorReadOperation>(host, request.sector);
}

inline OperationPtr make_set_clock(const TaskRequest& request, task::TaskHost& host) {
    const ClockValue& c = request.clock;
    return std::make_unique<watchdata::SetClockOperation>(
        host, watchdata::WatchTime{c.year, c.month, c.day, c.hour, c.minute, c.second});
}

inline update::FtpSettings update_ftp_settings(const FtpSettings& f) {
    return {f.server, f.user, f.password, f.folder, f.fifth, f.sixth};
}

inline OperationPtr make_agps(const TaskRequest& request, task::TaskHost& host) {
    return std::make_unique<update::AgpsOperation>(host, update_ftp_settings(request.ftp),
                                                   request.download_time_limit_ms,
                                                   request.passive_ftp);
}

inline OperationPtr make_firmware(const TaskRequest& request, task::TaskHost& host) {
    return std::make_unique<update::FirmwareOperation>(host, update_ftp_settings(request.ftp),
                                                       request.show, request.download_time_limit_ms,
                                                       request.passive_ftp);
}

// SetPaths with arrays that are not ten paths and ten names.
inline UINT refuse_path_arrays(const TaskRequest& request) {
    const bool arrays_fit = request.path_array != nullptr && request.name_array != nullptr &&
                            request.path_array->m_nSize == 10 && request.name_array->m_nSize == 10;
    return request.record.empty() && !arrays_fit ? SDK_ERR_PATH_COUNT : 0;
}

// ---- the table ----

using Code = task::OperationCode;
using Mode = watchdata::WorkoutDownloadOperation::Mode;

inline constexpr auto kTasks = std::to_array<TaskRow>({
    {.task = task_sdk_version, .start = TaskStart::sdk_version},
    {.task = task_watch_version, .start = TaskStart::version_only},
    {task_long_version, TaskStart::operation, Code::long_version,
     maker(&make_plain<watchdata::LongVersionOperation>)},
    {task_all_workouts, TaskStart::operation, Code::workouts,
     maker(&make_workout_download<Mode::all>)},
    {task_clear_workouts, TaskStart::operation, Code::clear_workouts,
     maker(&make_plain<watchdata::ClearWorkoutsOperation>)},
    {task_workout_summary, TaskStart::operation, Code::workouts,
     maker(&make_workout_download<Mode::summary>)},
    {task_selected_workouts, TaskStart::operation, Code::selected_workouts,
     maker(&make_workout_download<Mode::selected>)},
    {task_get_paths, TaskStart::operation, Code::get_paths,
     maker(&make_plain<watchdata::GetPathsOperation>)},
    {.task = task_set_paths,
     .start = TaskStart::operation,
     .operation = Code::set_paths,
     .make = maker(&make_set_paths),
     .refuse = &refuse_path_arrays},
    {task_get_views, TaskStart::operation, Code::get_views,
     maker(&make_plain<watchdata::GetViewsOperation>)},
    {task_set_views, TaskStart::operation, Code::set_views,
     maker(&make_with_record<watchdata::SetViewsOperation>)},
    {task_get_setting, TaskStart::operation, Code::get_setting,
     maker(&make_plain<watchdata::GetSettingOperation>)},
    {task_set_setting, TaskStart::operation, Code::set_setting,
     maker(&make_with_record<watchdata::SetSettingOperation>)},
    {task_agps_update, TaskStart::operation, Code::agps, maker(&make_agps), true},
    {task_firmware_update, TaskStart::operation, Code::firmware_check, maker(&make_firmware), true},
    {task_read_sector, TaskStart::operation, Code::read_sector, maker(&make_sector_read)},
    {.task = task_write_sector, .start = TaskStart::nothing},
    {task_set_date_time, TaskStart::operation, Code::set_clock, maker(&make_set_clock)},
});

consteval bool rows_in_task_code_order() {
    for (std::size_t i = 0; i < kTasks.size(); ++i)
        if (kTasks[i].task != static_cast<TaskCode>(i)) return false;
    return true;
}

// An operation task names its operation and can make it; no other task does.
consteval bool operation_rows_complete() {
    for (const TaskRow& row : kTasks) {
        const bool runs_operation = row.start == TaskStart::operation;
        if (runs_operation != row.make.given) return false;
        if (runs_operation != (row.operation != task::OperationCode::none)) return false;
    }
    return true;
}

static_assert(kTasks.size() == task_count, "every task code has its row");
static_assert(rows_in_task_code_order(), "the rows stand in task code order");
static_assert(operation_rows_complete(), "every operation task makes its operation");

constexpr const TaskRow& task_row(TaskCode task) {
    return kTasks[static_cast<std::size_t>(task)];
}

}  // namespace stridelog::sdk
