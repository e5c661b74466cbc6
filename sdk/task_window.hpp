// CSdkTaskDlg: the task window. One object per SDK call; it holds the call's
// parameters, the watch link, the display and the timers, runs the operation
// driven by messages, and ends through EndTask, after which a heap task window
// deletes itself.
//
// Threads: everything here runs on the thread that called the entry point.
// The link's receive thread only posts messages to the window (and copies read
// data into the destination recorded by the one outstanding read command).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "stridelog/stridelog.h"

namespace stridelog {

class CWatchLink;
class TaskDisplay;

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

// Operation codes the status reply starts (and the ones the firmware update sets later).
enum OperationCode : int {
    OP_NONE = 0,
    OP_WORKOUTS = 100,
    OP_GET_PATHS = 101,
    OP_SET_PATHS = 102,
    OP_CLEAR_WORKOUTS = 105,
    OP_GET_VIEWS = 108,
    OP_SET_VIEWS = 109,
    OP_GET_SETTING = 110,
    OP_SET_SETTING = 111,
    OP_LONG_VERSION = 112,
    OP_SELECTED_WORKOUTS = 113,
    OP_AGPS = 114,
    OP_FIRMWARE_CHECK = 115,
    OP_READ_SECTOR = 124,
    OP_FIRMWARE_RECONNECT = 126,
    OP_SET_CLOCK = 127,
};

// Window timers of the task window.
inline constexpr UINT_PTR TIMER_VERSION = 1000;
inline constexpr UINT_PTR TIMER_READ = 1001;
inline constexpr UINT_PTR TIMER_PATHS_NONE = 1002;
inline constexpr UINT_PTR TIMER_PATHS_READ = 1003;
inline constexpr UINT_PTR TIMER_WRITE = 1004;
inline constexpr UINT_PTR TIMER_PATHS_WRITTEN = 1005;
inline constexpr UINT_PTR TIMER_WORKOUTS_DONE = 1006;
inline constexpr UINT_PTR TIMER_RATE = 1007;
inline constexpr UINT_PTR TIMER_DOWNLOAD_LIMIT = 1008;
inline constexpr UINT_PTR TIMER_RECONNECT_LIMIT = 1009;
inline constexpr UINT_PTR TIMER_RECONNECT_WAIT = 1010;
inline constexpr UINT_PTR TIMER_RECONNECT_PROBE = 1011;
inline constexpr UINT_PTR TIMER_CLOCK = 1012;
inline constexpr UINT_PTR TIMER_STATUS = 4006;

inline constexpr std::uint32_t kVersionTimeoutMs = 3000;
inline constexpr std::uint32_t kStatusTimeoutMs = 3000;
inline constexpr std::uint32_t kFirstChunkTimeoutMs = 3000;
inline constexpr std::uint32_t kNextChunkTimeoutMs = 250;
inline constexpr std::uint32_t kWriteStepTimeoutMs = 3000;
inline constexpr int kVersionTries = 3;
inline constexpr std::uint32_t kPortSwitchPauseMs = 250;
inline constexpr std::uint32_t kVersionOnlyEndPauseMs = 500;
inline constexpr std::uint32_t kLinkBaudRate = 115200;

inline constexpr std::size_t kSectorSize = 4096;
inline constexpr std::size_t kDataBufferSectors = 7;
inline constexpr std::uint8_t kReadChunkSize = 128;

// The "SDK<model>,<version>" text GetSDKVersion posts, without a NUL.
inline constexpr char kSdkVersionText[] = "SDK73688,2.0.11.260";

struct FtpSettings {
    std::string server, user, password, folder, fifth, sixth;
};

struct ClockValue {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class CSdkTaskDlg {
  public:
    enum class Storage { heap, local };

    // Creates the (hidden) task window at once.
    explicit CSdkTaskDlg(Storage storage = Storage::heap);
    virtual ~CSdkTaskDlg();
    CSdkTaskDlg(const CSdkTaskDlg&) = delete;
    CSdkTaskDlg& operator=(const CSdkTaskDlg&) = delete;

    // ---- lifecycle (entry points) ----
    // Stores the host, registers the two messages.
    void Attach(HWND host);
    // Connect check: false (after posting 0x1000) when no cable port exists.
    bool CheckConnection();
    // Shows or hides the window according to the show flag.
    void ApplyShowFlag(BOOL show);
    void StartTask();
    // Common task end: releases everything, re-enables the host, destroys the
    // window (a heap task window is deleted by then; touch nothing afterwards).
    void EndTask();
    // Local task windows: runs the window's loop until the task has ended.
    void RunModal();
    // Destroys the window without the task end (a refused call, or a local task
    // window after its loop). A heap object is deleted by it: touch nothing afterwards.
    void Dismiss();
    bool Ended() const { return m_ended; }

    // ---- notifications ----
    void PostError(UINT code);
    void PostResult(UINT code);
    void PostResultBlock(UINT code, const void* data, std::size_t size);
    void PostProgress(float percent);
    void PostFull() { PostProgress(100.0f); }
    void PostSdkVersion();

    // ---- parameters (set by the entry points) ----
    HWND m_hHost = nullptr;
    UINT m_errorMessage = 0;
    UINT m_resultMessage = 0;
    int m_taskCode = -1;
    int m_versionOnly = 0;
    int m_showFlag = 1;     // decides showing
    int m_disableHost = 1;  // decides disabling the host
    int m_clearAfterDownload = 0;
    std::vector<std::uint32_t> m_selectedSessions;
    CPtrArray* m_pathArray = nullptr;
    CStringArray* m_nameArray = nullptr;
    std::vector<std::uint8_t> m_pathBlock;  // SetPaths_Ex block, decoded by the path write
    std::array<std::uint8_t, 45> m_viewsHead{};
    std::array<std::uint8_t, 100> m_viewsTail{};
    std::array<std::uint8_t, STRIDELOG_SETTINGS_SIZE> m_settings{};
    ClockValue m_clockValue;
    std::uint16_t m_sector = 0;
    FtpSettings m_agpsFtp;
    FtpSettings m_firmwareFtp;
    std::uint32_t m_downloadTimeLimit = 0;
    int m_passiveFtp = 0;

    // ---- connection and version ----
    void BeginConnection(std::uint8_t requested_op, bool clear_log);
    int Connect();
    int GetPortNumber() const;
    bool RequestVersion(std::optional<std::uint8_t> requested_op);
    bool OnVersionTimer();
    void OnVersionReply(std::string* text);

    std::vector<std::string> m_portList;
    int m_portIndex = 0;
    std::unique_ptr<CWatchLink> m_link;
    std::uint8_t m_retryCount = 0;
    bool m_versionPending = false;
    std::mutex m_versionLock;
    std::uint8_t m_requestedOp = 0;
    // Firmware version from the version text. A fresh window assumes 0.0 until
    // a reply shows a number, so an unreadable version is refused, not trusted.
    float m_firmwareVersion = 0.0f;
    std::uint8_t m_nameWidth = 10;

    // ---- dispatch ----
    void StartStatusQuery(bool dispatch_after_status);
    void OnStatusReply(std::uint8_t* block, std::size_t count);
    void StartOperation();
    void StartReadRun(std::uint32_t address, std::uint32_t length, std::uint8_t* destination,
                      int step_code);
    void OnReadData(std::uint8_t* destination, std::size_t count);
    void OnReadChunkStored();
    void OnReadRunComplete();
    void OnWriteAck(std::size_t count);
    void OnWriteStepAck();
    void OnBadReply(std::uint8_t id);
    void OnClockAck(std::uint8_t status);
    // An operation this build has no routine for: end without a success notification.
    void EndUnsupportedOperation(const char* what);

    int m_operationCode = OP_NONE;
    int m_stepCode = 0;
    bool m_dispatchAfterStatus = true;
    std::uint8_t m_statusBytes[2] = {0, 0};
    int m_statusFlag = 0;
    std::mutex m_transferLock;
    std::uint32_t m_runAddress = 0;
    std::uint32_t m_runLength = 0;
    std::uint32_t m_runReceived = 0;
    std::uint8_t* m_runDestination = nullptr;
    std::vector<std::uint8_t> m_directory;   // 4096-byte directory image
    std::vector<std::uint8_t> m_dataBuffer;  // seven sectors

    // ---- timers and display ----
    void OnTimer(UINT_PTR id);
    TaskDisplay& Display() { return *m_display; }
    void AppendLog(std::string_view line);

    HWND m_hWnd = nullptr;

    // Reply id (watch_id) of the acknowledgement the command outstanding waits
    // for, set by its sender; an acknowledgement nobody waits for changes nothing.
    std::uint8_t m_awaitedAck = 0;
    bool m_statusPending = false;  // a status query waits for its reply

  private:
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
    bool TakeAwaitedAck(std::uint8_t reply_id);
    void SetTimer(UINT_PTR id, std::uint32_t ms);
    void KillTimer(UINT_PTR id);
    void ShowForTask();
    void StartByCode(int operation, bool rate_display);

    Storage m_storage;
    HWND m_taskHandle = nullptr;  // the window's handle, kept for the task list after destruction
    UINT m_lowLevelMessage = 0;
    bool m_ended = false;
    int m_handlerDepth = 0;
    bool m_destroyPending = false;
    std::unique_ptr<TaskDisplay> m_display;
};

// The process-wide counter of stored read chunks that paces read progress.
// Exposed for tests, which reset it between cases.
void ResetReadChunkProgress();

}  // namespace stridelog
