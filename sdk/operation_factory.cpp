#include "sdk/operation_factory.hpp"

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

using task::OperationCode;

OperationCode RequestedOperation(TaskCode task) {
    switch (task) {
        case TASK_LONG_VERSION:
            return OperationCode::long_version;
        case TASK_ALL_WORKOUTS:
        case TASK_WORKOUT_SUMMARY:
            return OperationCode::workouts;
        case TASK_CLEAR_WORKOUTS:
            return OperationCode::clear_workouts;
        case TASK_SELECTED_WORKOUTS:
            return OperationCode::selected_workouts;
        case TASK_GET_PATHS:
            return OperationCode::get_paths;
        case TASK_SET_PATHS:
            return OperationCode::set_paths;
        case TASK_GET_VIEWS:
            return OperationCode::get_views;
        case TASK_SET_VIEWS:
            return OperationCode::set_views;
        case TASK_GET_SETTING:
            return OperationCode::get_setting;
        case TASK_SET_SETTING:
            return OperationCode::set_setting;
        case TASK_AGPS_UPDATE:
            return OperationCode::agps;
        case TASK_FIRMWARE_UPDATE:
            return OperationCode::firmware_check;
        case TASK_READ_SECTOR:
            return OperationCode::read_sector;
        case TASK_SET_DATE_TIME:
            return OperationCode::set_clock;
        case TASK_SDK_VERSION:
        case TASK_WATCH_VERSION:
        case TASK_WRITE_SECTOR:
            break;
    }
    return OperationCode::none;
}

std::unique_ptr<task::Operation> MakeOperation(const TaskRequest& request, task::TaskHost& host) {
    switch (RequestedOperation(request.task)) {
        case OperationCode::long_version:
            return std::make_unique<watchdata::LongVersionOperation>(host);
        case OperationCode::read_sector:
            return std::make_unique<watchdata::SectorReadOperation>(host, request.sector);
        case OperationCode::workouts:
        case OperationCode::selected_workouts: {
            using Mode = watchdata::WorkoutDownloadOperation::Mode;
            const Mode mode = request.task == TASK_WORKOUT_SUMMARY     ? Mode::summary
                              : request.task == TASK_SELECTED_WORKOUTS ? Mode::selected
                                                                       : Mode::all;
            return std::make_unique<watchdata::WorkoutDownloadOperation>(
                host, mode, request.sessions, request.clear_after_download);
        }
        case OperationCode::clear_workouts:
            return std::make_unique<watchdata::ClearWorkoutsOperation>(host);
        case OperationCode::get_paths:
            return std::make_unique<watchdata::GetPathsOperation>(host);
        case OperationCode::set_paths:
            if (!request.record.empty())
                return std::make_unique<watchdata::SetPathsOperation>(host, request.record);
            return std::make_unique<watchdata::SetPathsOperation>(host, request.path_array,
                                                                  request.name_array);
        case OperationCode::get_setting:
            return std::make_unique<watchdata::GetSettingOperation>(host);
        case OperationCode::set_setting:
            return std::make_unique<watchdata::SetSettingOperation>(host, request.record);
        case OperationCode::get_views:
            return std::make_unique<watchdata::GetViewsOperation>(host);
        case OperationCode::set_views:
            return std::make_unique<watchdata::SetViewsOperation>(host, request.record);
        case OperationCode::set_clock: {
            const ClockValue& c = request.clock;
            return std::make_unique<watchdata::SetClockOperation>(
                host, watchdata::WatchTime{c.year, c.month, c.day, c.hour, c.minute, c.second});
        }
        case OperationCode::agps: {
            const FtpSettings& f = request.ftp;
            return std::make_unique<update::AgpsOperation>(
                host, update::FtpSettings{f.server, f.user, f.password, f.folder, f.fifth, f.sixth},
                request.download_time_limit_ms, request.passive_ftp);
        }
        case OperationCode::firmware_check: {
            const FtpSettings& f = request.ftp;
            return std::make_unique<update::FirmwareOperation>(
                host, update::FtpSettings{f.server, f.user, f.password, f.folder, f.fifth, f.sixth},
                request.show, request.download_time_limit_ms, request.passive_ftp);
        }
        default:
            return nullptr;
    }
}

}  // namespace stridelog::sdk
