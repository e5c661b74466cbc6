// The 21 exported functions. Each asynchronous one builds a task window, loads
// the call's parameters into it, runs the connect check and starts the task;
// everything after that is driven by messages on the caller's thread.
#include <cstdio>
#include <cstring>
#include <memory>

#include "diag/diagnostics.hpp"
#include "platform/window_system.hpp"
#include "ports/cable_ports.hpp"
#include "sdk/notifications.hpp"
#include "sdk/task_window.hpp"
#include "sdk/tasks.hpp"
#include "watchdata/path_formats.hpp"

using stridelog::sdk::CSdkTaskDlg;

namespace {

// Builds a heap task window for host; null (nothing started) when the cable is
// absent, in which case 0x1000 has been posted and the window is gone.
CSdkTaskDlg* admit(HWND host) {
    auto* dlg = new (std::nothrow) CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
    if (dlg == nullptr) return nullptr;
    dlg->attach(host);
    if (!dlg->CheckConnection()) {
        dlg->dismiss();  // destroys the window, which deletes the object
        return nullptr;
    }
    return dlg;
}

// Rejected parameters: the task window goes without a task having run.
void reject(CSdkTaskDlg* dlg) {
    dlg->dismiss();
}

stridelog::sdk::TaskRequest make_request(stridelog::sdk::TaskCode task, BOOL show) {
    stridelog::sdk::TaskRequest request;
    request.task = task;
    request.show = show != FALSE;
    return request;
}

void run_simple(HWND host, stridelog::sdk::TaskCode task, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) dlg->start(make_request(task, show));
}

std::string narrow(LPCWSTR text) {
    return stridelog::diag::ToAnsi(text);
}

// The two download tasks: FTP settings, their log lines, then the usual admission.
void start_download_task(HWND host, const char* name, stridelog::sdk::TaskCode task_code,
                         stridelog::sdk::FtpSettings ftp, BOOL show, DWORD time_limit_ms,
                         BOOL passive) {
    auto* dlg = new (std::nothrow) CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
    if (dlg == nullptr) return;
    dlg->attach(host);
    dlg->AppendLog(name);
    char line[64];
    std::snprintf(line, sizeof line, "Handler = %08lX",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(host)));
    dlg->AppendLog(line);
    dlg->AppendLog("Site : " + ftp.server);
    if (!dlg->CheckConnection()) {
        if (task_code == stridelog::sdk::task_agps_update) dlg->AppendLog("All_Init() -> ERR");
        dlg->dismiss();
        return;
    }
    auto request = make_request(task_code, show);
    request.ftp = std::move(ftp);
    request.download_time_limit_ms = time_limit_ms;
    request.passive_ftp = passive != FALSE;
    dlg->start(std::move(request));
}

}  // namespace

extern "C" {

STRIDELOG_API void GetClip_COM_Port_List(HWND host) {
    const UINT result =
        stridelog::platform::register_window_message(stridelog::sdk::kResultMessageName);
    std::vector<std::string> ports;
    stridelog::ports::ListCablePorts(ports);
    const auto block = stridelog::ports::build_port_list_block(ports);
    stridelog::sdk::post_block(host, result, SDK_MSG_PORT_LIST, block);
}

STRIDELOG_API void GetSDKVersion(HWND host) {
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.attach(host);
    dlg.post_sdk_version();
    dlg.dismiss();
}

STRIDELOG_API void GetWatch_Version(HWND host, BOOL show) {
    run_simple(host, stridelog::sdk::task_watch_version, show);
}

STRIDELOG_API void GetWatch_LongVer(HWND host, BOOL show) {
    run_simple(host, stridelog::sdk::task_long_version, show);
}

STRIDELOG_API void GetAllWorkout(HWND host, BOOL clear_after_download, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        auto request = make_request(stridelog::sdk::task_all_workouts, show);
        request.clear_after_download = clear_after_download != FALSE;
        dlg->start(std::move(request));
    }
}

STRIDELOG_API void ClearWorkout(HWND host, BOOL show) {
    run_simple(host, stridelog::sdk::task_clear_workouts, show);
}

STRIDELOG_API void GetWorkoutSummary(HWND host, BOOL show) {
    run_simple(host, stridelog::sdk::task_workout_summary, show);
}

STRIDELOG_API void GetSelectedWorkout(HWND host, CUIntArray* sessions, BOOL clear_after_download,
                                      BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        auto request = make_request(stridelog::sdk::task_selected_workouts, show);
        if (sessions != nullptr && sessions->m_pData != nullptr && sessions->m_nSize > 0)
            request.sessions.assign(sessions->m_pData, sessions->m_pData + sessions->m_nSize);
        request.clear_after_download = clear_after_download != FALSE;
        dlg->start(std::move(request));
    }
}

STRIDELOG_API void GetSelectedWorkout_Ex(HWND host, const BYTE* sessions, DWORD count,
                                         BOOL clear_after_download, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        auto request = make_request(stridelog::sdk::task_selected_workouts, show);
        if (sessions != nullptr) request.sessions.assign(sessions, sessions + count);
        request.clear_after_download = clear_after_download != FALSE;
        dlg->start(std::move(request));
    }
}

STRIDELOG_API void GetPaths(HWND host, BOOL show) {
    run_simple(host, stridelog::sdk::task_get_paths, show);
}

STRIDELOG_API void SetPaths(HWND host, CPtrArray* paths, CStringArray* names, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        auto request = make_request(stridelog::sdk::task_set_paths, show);
        if (paths != nullptr && names != nullptr) {
            request.path_array = paths;
            request.name_array = names;
        }
        dlg->start(std::move(request));
    }
}

STRIDELOG_API void SetPaths_Ex(HWND host, const BYTE* block, DWORD size, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        if (size != STRIDELOG_PATH_BLOCK_SIZE) {
            stridelog::diag::TraceText("SetPaths_Ex : Invalid size ! should be 34310");
            reject(dlg);
            return;
        }
        if (block == nullptr) {  // nothing to read: refused like a wrong size, silently
            reject(dlg);
            return;
        }
        auto request = make_request(stridelog::sdk::task_set_paths, show);
        request.record.assign(block, block + size);
        // The host may free its block on return: what is written is this copy.
        if (const auto paths = stridelog::watchdata::unpack_paths_block(request.record)) {
            for (std::size_t i = 0; i < paths->size(); ++i) {
                const auto& path = (*paths)[i];
                stridelog::diag::Trace("%d , %s (%d wp)", static_cast<int>(i + 1),
                                       stridelog::diag::ToAnsi(path.name.c_str()).c_str(),
                                       static_cast<int>(path.waypoints.size()));
            }
        }
        dlg->start(std::move(request));
    }
}

STRIDELOG_API void AGPSDataUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, BOOL show, DWORD time_limit_ms, BOOL passive) {
    start_download_task(host, "AGPSDataUpdate()", stridelog::sdk::task_agps_update,
                        {narrow(server), narrow(user), narrow(password), narrow(folder), {}, {}},
                        show, time_limit_ms, passive);
}

STRIDELOG_API void FirmwareUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, LPCWSTR fifth_text, BOOL show,
                                  DWORD time_limit_ms, BOOL passive) {
    start_download_task(
        host, "FirmwareUpdate()", stridelog::sdk::task_firmware_update,
        {narrow(server), narrow(user), narrow(password), narrow(folder), narrow(fifth_text), {}},
        show, time_limit_ms, passive);
}

STRIDELOG_API void GetViews(HWND host, BOOL show) {
    run_simple(host, stridelog::sdk::task_get_views, show);
}

STRIDELOG_API void SetViews(HWND host, const BYTE* views, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        if (views == nullptr) {
            reject(dlg);
            return;
        }
        auto request = make_request(stridelog::sdk::task_set_views, show);
        request.record.assign(views, views + STRIDELOG_VIEWS_SIZE);
        dlg->start(std::move(request));
    }
}

STRIDELOG_API void GetSetting(HWND host, BOOL show) {
    run_simple(host, stridelog::sdk::task_get_setting, show);
}

STRIDELOG_API void SetSetting(HWND host, const BYTE* settings, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        if (settings == nullptr) {
            reject(dlg);
            return;
        }
        auto request = make_request(stridelog::sdk::task_set_setting, show);
        request.record.assign(settings, settings + STRIDELOG_SETTINGS_SIZE);
        dlg->start(std::move(request));
    }
}

STRIDELOG_API void ReadFlashSector(HWND host, WORD sector) {
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.attach(host);
    if (!dlg.CheckConnection()) {
        dlg.dismiss();
        return;
    }
    auto request = make_request(stridelog::sdk::task_read_sector,
                                TRUE);  // the show flag keeps its initial value
    request.sector = static_cast<std::uint8_t>(sector & 0xFF);
    dlg.start(std::move(request));
    dlg.run_modal();
    // A loop ended early (the thread is quitting) still ends the task properly.
    if (!dlg.ended()) dlg.EndTask();
    dlg.dismiss();
}

STRIDELOG_API void WriteFlashSector(HWND host, const BYTE* data, WORD sector) {
    (void)data;
    (void)sector;
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.attach(host);
    // Only the cable check: nothing is written, no data is kept for this call.
    dlg.CheckConnection();
    dlg.dismiss();
}

STRIDELOG_API void SetDateTime(HWND host, BYTE year_minus_2000, BYTE month, DWORD day, BYTE hour,
                               BYTE minute, DWORD second, BOOL show) {
    if (CSdkTaskDlg* dlg = admit(host)) {
        auto request = make_request(stridelog::sdk::task_set_date_time, show);
        request.clock = {year_minus_2000 + 2000,  month, static_cast<int>(day), hour, minute,
                         static_cast<int>(second)};
        dlg->start(std::move(request));
    }
}

}  // extern "C"
