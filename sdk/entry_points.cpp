// The 21 exported functions. Each asynchronous one builds a task window, loads
// the call's parameters into it, runs the connect check and starts the task;
// everything after that is driven by messages on the caller's thread.
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/window_system.hpp"
#include "sdk/diag/diagnostics.hpp"
#include "sdk/notifications.hpp"
#include "sdk/ports/cable_ports.hpp"
#include "sdk/task_window.hpp"

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

void Run(CSdkTaskDlg* dlg, int task_code, BOOL show, int version_only = 0) {
    dlg->m_versionOnly = version_only;
    dlg->m_taskCode = task_code;
    dlg->ApplyShowFlag(show);
    dlg->StartTask();
}

void RunSimple(HWND host, int task_code, BOOL show, int version_only = 0) {
    if (CSdkTaskDlg* dlg = Admit(host)) Run(dlg, task_code, show, version_only);
}

std::string Narrow(LPCWSTR text) {
    return stridelog::diag::ToAnsi(text);
}

// The two download tasks: FTP settings, their log lines, then the usual admission.
void StartDownloadTask(HWND host, const char* name, int task_code, stridelog::FtpSettings ftp,
                       BOOL show, DWORD time_limit_ms, BOOL passive) {
    auto* dlg = new (std::nothrow) CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
    if (dlg == nullptr) return;
    dlg->Attach(host);
    dlg->AppendLog(name);
    char line[64];
    std::snprintf(line, sizeof line, "Handler = %08lX",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(host)));
    dlg->AppendLog(line);
    dlg->AppendLog("Site : " + ftp.server);
    if (task_code == stridelog::TASK_AGPS_UPDATE) {
        dlg->m_agpsFtp = std::move(ftp);
    } else {
        dlg->m_firmwareFtp = std::move(ftp);
    }
    if (!dlg->CheckConnection()) {
        if (task_code == stridelog::TASK_AGPS_UPDATE) dlg->AppendLog("All_Init() -> ERR");
        dlg->Dismiss();
        return;
    }
    dlg->m_downloadTimeLimit = time_limit_ms;
    dlg->m_passiveFtp = passive ? 1 : 0;
    Run(dlg, task_code, show);
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
    dlg.m_taskCode = stridelog::TASK_SDK_VERSION;
    dlg.PostSdkVersion();
    dlg.Dismiss();
}

STRIDELOG_API void GetWatch_Version(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_WATCH_VERSION, show, 1);
}

STRIDELOG_API void GetWatch_LongVer(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_LONG_VERSION, show);
}

STRIDELOG_API void GetAllWorkout(HWND host, BOOL clear_after_download, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        dlg->m_clearAfterDownload = clear_after_download ? 1 : 0;
        Run(dlg, stridelog::TASK_ALL_WORKOUTS, show);
    }
}

STRIDELOG_API void ClearWorkout(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_CLEAR_WORKOUTS, show);
}

STRIDELOG_API void GetWorkoutSummary(HWND host, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        dlg->m_clearAfterDownload = 0;
        Run(dlg, stridelog::TASK_WORKOUT_SUMMARY, show);
    }
}

STRIDELOG_API void GetSelectedWorkout(HWND host, CUIntArray* sessions, BOOL clear_after_download,
                                      BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        dlg->m_selectedSessions.clear();
        if (sessions != nullptr && sessions->m_pData != nullptr && sessions->m_nSize > 0) {
            dlg->m_selectedSessions.assign(sessions->m_pData,
                                           sessions->m_pData + sessions->m_nSize);
        }
        dlg->m_clearAfterDownload = clear_after_download ? 1 : 0;
        Run(dlg, stridelog::TASK_SELECTED_WORKOUTS, show);
    }
}

STRIDELOG_API void GetSelectedWorkout_Ex(HWND host, const BYTE* sessions, DWORD count,
                                         BOOL clear_after_download, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        dlg->m_selectedSessions.clear();
        if (sessions != nullptr) {
            for (DWORD i = 0; i < count; ++i) dlg->m_selectedSessions.push_back(sessions[i]);
        }
        dlg->m_clearAfterDownload = clear_after_download ? 1 : 0;
        Run(dlg, stridelog::TASK_SELECTED_WORKOUTS, show);
    }
}

STRIDELOG_API void GetPaths(HWND host, BOOL show) {
    RunSimple(host, stridelog::TASK_GET_PATHS, show);
}

STRIDELOG_API void SetPaths(HWND host, CPtrArray* paths, CStringArray* names, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        if (paths != nullptr && names != nullptr) {
            dlg->m_pathArray = paths;
            dlg->m_nameArray = names;
        }
        Run(dlg, stridelog::TASK_SET_PATHS, show);
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
        dlg->m_pathBlock.assign(block, block + size);
        Run(dlg, stridelog::TASK_SET_PATHS, show);
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
        std::memcpy(dlg->m_viewsHead.data(), views, dlg->m_viewsHead.size());
        std::memcpy(dlg->m_viewsTail.data(), views + dlg->m_viewsHead.size(),
                    dlg->m_viewsTail.size());
        Run(dlg, stridelog::TASK_SET_VIEWS, show);
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
        std::memcpy(dlg->m_settings.data(), settings, dlg->m_settings.size());
        Run(dlg, stridelog::TASK_SET_SETTING, show);
    }
}

STRIDELOG_API void ReadFlashSector(HWND host, WORD sector) {
    CSdkTaskDlg dlg(CSdkTaskDlg::Storage::local);
    dlg.Attach(host);
    if (!dlg.CheckConnection()) {
        dlg.Dismiss();
        return;
    }
    dlg.m_versionOnly = 0;
    dlg.m_taskCode = stridelog::TASK_READ_SECTOR;
    dlg.m_sector = sector;
    dlg.ApplyShowFlag(TRUE);  // the show flag keeps its initial value
    dlg.StartTask();
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
    if (dlg.CheckConnection()) dlg.m_taskCode = stridelog::TASK_WRITE_SECTOR;
    // Nothing is written: no data is kept for this call and its task starts nothing.
    dlg.Dismiss();
}

STRIDELOG_API void SetDateTime(HWND host, BYTE year_minus_2000, BYTE month, DWORD day, BYTE hour,
                               BYTE minute, DWORD second, BOOL show) {
    if (CSdkTaskDlg* dlg = Admit(host)) {
        dlg->m_clockValue = {year_minus_2000 + 2000,  month, static_cast<int>(day), hour, minute,
                             static_cast<int>(second)};
        Run(dlg, stridelog::TASK_SET_DATE_TIME, show);
    }
}

}  // extern "C"
