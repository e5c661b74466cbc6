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

using stridelog::CSdkTaskDlg;

namespace {

// Builds a heap task window for host; null (nothing started) when the cable is
// absent, in which case 0x1000 has been posted and the window is gone.
CSdkTaskDlg* Admit(HWND host) {
    auto* dlg = new (std::nothrow) CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
    if (dlg == nullptr) return nullptr;
    dlg->Attach(host);
    if (!dlg->CheckConnection()) {
        dlg->Dismiss();  // destroys the window, which deletes the object
        return nullptr;
    }
    return dlg;
}

// Rejected parameters: the task window goes without a task having run.
void Reject(CSdkTaskDlg* dlg) {
    dlg->Dismiss();
}

stridelog::TaskRequest Request(stridelog::TaskCode task, BOOL show) {
    stridelog::TaskRequest request;
    request.task = task;
    request.show = show != FALSE;
    return request;
}

void RunSimple(HWND host, stridelog::TaskCode task, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) dlg->Start(Request(task, show));
}

std::string Narrow(LPCWSTR text) {
    return stridelog::diag::ToAnsi(text);
}

// The two download tasks: FTP settings, their log lines, then the usual admission.
void StartDownloadTask(HWND host, const char* name, stridelog::TaskCode task_code,
                       stridelog::FtpSettings ftp, BOOL show, DWORD time_limit_ms, BOOL passive) {
    auto* dlg = new (std::nothrow) CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
    if (dlg == nullptr) return;
    dlg->Attach(host);
    dlg->AppendLog(name);
    char line[64];
    std::snprintf(line, sizeof line, "Handler = %08lX",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(host)));
    dlg->AppendLog(line);
    dlg->AppendLog("Site : " + ftp.server);
    if (!dlg->CheckConnection()) {
        if (task_code == stridelog::TASK_AGPS_UPDATE) dlg->AppendLog("All_Init() -> ERR");
        dlg->Dismiss();
        return;
    }
    auto request = Request(task_code, show);
    request.ftp = std::move(ftp);
    request.download_time_limit_ms = time_limit_ms;
    request.passive_ftp = passive != FALSE;
    dlg->Start(std::move(request));
}

}  // namespace

extern "C" {

STRIDELOG_API void GetClip_COM_Port_List(HWND host) {
    const UINT result =
        stridelog::platform::register_window_message(stridelog::sdk::kResultMessageName);
    std::vector<std::string> ports;
    stridelog::ports::ListCablePorts(ports);
    const auto block = stridelog::ports::BuildPortListBlock(ports);
    stridelog::sdk::PostBlock(host, result, SDK_MSG_PORT_LIST, block);
}

STRIDELOG_API void GetSDKVersion(HWND host) {
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.Attach(host);
    dlg.PostSdkVersion();
    dlg.Dismiss();
}

STRIDELOG_API void GetWatch_Version(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_WATCH_VERSION, show);
}

STRIDELOG_API void GetWatch_LongVer(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_LONG_VERSION, show);
}

STRIDELOG_API void GetAllWorkout(HWND host, BOOL clear_after_download, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        auto request = Request(stridelog::TASK_ALL_WORKOUTS, show);
        request.clear_after_download = clear_after_download != FALSE;
        dlg->Start(std::move(request));
    }
}

STRIDELOG_API void ClearWorkout(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_CLEAR_WORKOUTS, show);
}

STRIDELOG_API void GetWorkoutSummary(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_WORKOUT_SUMMARY, show);
}

STRIDELOG_API void GetSelectedWorkout(HWND host, CUIntArray* sessions, BOOL clear_after_download,
                                      BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        auto request = Request(stridelog::TASK_SELECTED_WORKOUTS, show);
        if (sessions != nullptr && sessions->m_pData != nullptr && sessions->m_nSize > 0)
            request.sessions.assign(sessions->m_pData, sessions->m_pData + sessions->m_nSize);
        request.clear_after_download = clear_after_download != FALSE;
        dlg->Start(std::move(request));
    }
}

STRIDELOG_API void GetSelectedWorkout_Ex(HWND host, const BYTE* sessions, DWORD count,
                                         BOOL clear_after_download, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        auto request = Request(stridelog::TASK_SELECTED_WORKOUTS, show);
        if (sessions != nullptr) request.sessions.assign(sessions, sessions + count);
        request.clear_after_download = clear_after_download != FALSE;
        dlg->Start(std::move(request));
    }
}

STRIDELOG_API void GetPaths(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_GET_PATHS, show);
}

STRIDELOG_API void SetPaths(HWND host, CPtrArray* paths, CStringArray* names, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        auto request = Request(stridelog::TASK_SET_PATHS, show);
        if (paths != nullptr && names != nullptr) {
            request.path_array = paths;
            request.name_array = names;
        }
        dlg->Start(std::move(request));
    }
}

STRIDELOG_API void SetPaths_Ex(HWND host, const BYTE* block, DWORD size, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        if (size != STRIDELOG_PATH_BLOCK_SIZE) {
            stridelog::diag::TraceText("SetPaths_Ex : Invalid size ! should be 34310");
            Reject(dlg);
            return;
        }
        if (block == nullptr) {  // nothing to read: refused like a wrong size, silently
            Reject(dlg);
            return;
        }
        auto request = Request(stridelog::TASK_SET_PATHS, show);
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
        dlg->Start(std::move(request));
    }
}

STRIDELOG_API void AGPSDataUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, BOOL show, DWORD time_limit_ms, BOOL passive) {
    StartDownloadTask(host, "AGPSDataUpdate()", stridelog::TASK_AGPS_UPDATE,
                      {Narrow(server), Narrow(user), Narrow(password), Narrow(folder), {}, {}},
                      show, time_limit_ms, passive);
}

STRIDELOG_API void FirmwareUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, LPCWSTR fifth_text, BOOL show,
                                  DWORD time_limit_ms, BOOL passive) {
    StartDownloadTask(
        host, "FirmwareUpdate()", stridelog::TASK_FIRMWARE_UPDATE,
        {Narrow(server), Narrow(user), Narrow(password), Narrow(folder), Narrow(fifth_text), {}},
        show, time_limit_ms, passive);
}

STRIDELOG_API void GetViews(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_GET_VIEWS, show);
}

STRIDELOG_API void SetViews(HWND host, const BYTE* views, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        if (views == nullptr) {
            Reject(dlg);
            return;
        }
        auto request = Request(stridelog::TASK_SET_VIEWS, show);
        request.record.assign(views, views + STRIDELOG_VIEWS_SIZE);
        dlg->Start(std::move(request));
    }
}

STRIDELOG_API void GetSetting(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_GET_SETTING, show);
}

STRIDELOG_API void SetSetting(HWND host, const BYTE* settings, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        if (settings == nullptr) {
            Reject(dlg);
            return;
        }
        auto request = Request(stridelog::TASK_SET_SETTING, show);
        request.record.assign(settings, settings + STRIDELOG_SETTINGS_SIZE);
        dlg->Start(std::move(request));
    }
}

STRIDELOG_API void ReadFlashSector(HWND host, WORD sector) {
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.Attach(host);
    if (!dlg.CheckConnection()) {
        dlg.Dismiss();
        return;
    }
    auto request =
        Request(stridelog::TASK_READ_SECTOR, TRUE);  // the show flag keeps its initial value
    request.sector = static_cast<std::uint8_t>(sector & 0xFF);
    dlg.Start(std::move(request));
    dlg.RunModal();
    // A loop ended early (the thread is quitting) still ends the task properly.
    if (!dlg.Ended()) dlg.EndTask();
    dlg.Dismiss();
}

STRIDELOG_API void WriteFlashSector(HWND host, const BYTE* data, WORD sector) {
    (void)data;
    (void)sector;
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.Attach(host);
    // Only the cable check: nothing is written, no data is kept for this call.
    dlg.CheckConnection();
    dlg.Dismiss();
}

STRIDELOG_API void SetDateTime(HWND host, BYTE year_minus_2000, BYTE month, DWORD day, BYTE hour,
                               BYTE minute, DWORD second, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        auto request = Request(stridelog::TASK_SET_DATE_TIME, show);
        request.clock = {year_minus_2000 + 2000,  month, static_cast<int>(day), hour, minute,
                         static_cast<int>(second)};
        dlg->Start(std::move(request));
    }
}

}  // extern "C"
