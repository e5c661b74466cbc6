/* Stridelog SDK: talk to a GPS sports watch on its USB-to-serial cable.
 *
 * Threads: every entry point and every host helper is called from the host's
 * user-interface thread, the thread that runs the message loop (the helpers
 * Stridelog_PumpMessages / Stridelog_RunUntil, or a nested loop of the SDK).
 * Entry points return at once (but ReadFlashSector, which runs its own loop);
 * results arrive later as notifications posted to the host window:
 *   message Stridelog_ErrorMessageId()  wParam SDK_ERR_*  lParam 0
 *   message Stridelog_ResultMessageId() wParam SDK_MSG_*  lParam 0 or a block
 * A block is owned by the host once delivered; free it with Stridelog_FreeBlock.
 * A null host window turns every notification into a thread message of the
 * calling thread (see Stridelog_SetThreadMessageProc). */
#ifndef STRIDELOG_H
#define STRIDELOG_H

#include "framework_arrays.h"
#include "win_types.h"

#if defined(__GNUC__)
#define STRIDELOG_API __attribute__((visibility("default")))
#else
#define STRIDELOG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Registered names of the two notification messages. */
#define STRIDELOG_ERROR_MESSAGE_NAME "Stride_Log_SDK_V1.0_ERROR"
#define STRIDELOG_RESULT_MESSAGE_NAME "Stride_Log_SDK_V1.0_MSG"

/* Error message codes (lParam is always 0). */
#define SDK_ERR_NO_PORT 0x1000
#define SDK_ERR_PORT_OPEN 0x1001
#define SDK_ERR_NO_ANSWER 0x1002
#define SDK_ERR_PATH_COUNT 0x1003
#define SDK_ERR_TRANSFER 0x1004
#define SDK_ERR_OLD_FIRMWARE 0x1005
#define SDK_ERR_NO_SESSION 0x1006
#define SDK_ERR_AGPS_REFUSED 0x1007
#define SDK_ERR_DOWNLOAD 0x1008
#define SDK_ERR_AGPS_FILE 0x1009
#define SDK_ERR_AGPS_PACKET_FILE 0x1010
#define SDK_ERR_AGPS_SIZE 0x1011
#define SDK_ERR_FIRMWARE_INFO 0x1012
#define SDK_ERR_FIRMWARE_IMAGE 0x1013
#define SDK_ERR_DOWNLOAD_TIMEOUT 0x1014
#define SDK_ERR_CLOCK_TIMEOUT 0x1015
#define SDK_ERR_CLOCK_VALUE 0x1016

/* Result message codes. */
#define SDK_MSG_SDK_VERSION 0x2000
#define SDK_MSG_WATCH_VERSION 0x2001
#define SDK_MSG_PATH 0x2002
#define SDK_MSG_NO_PATHS 0x2003
#define SDK_MSG_PATHS_WRITTEN 0x2004
#define SDK_MSG_NO_WORKOUTS 0x2005
#define SDK_MSG_WORKOUTS_DONE 0x2006
#define SDK_MSG_SESSION 0x2007
#define SDK_MSG_SESSION_TRACK 0x2008
#define SDK_MSG_SUMMARY 0x2009
#define SDK_MSG_VIEWS 0x2010
#define SDK_MSG_VIEWS_WRITTEN 0x2011
#define SDK_MSG_SETTINGS 0x2012
#define SDK_MSG_SETTINGS_WRITTEN 0x2013
#define SDK_MSG_WORKOUTS_CLEARED 0x2014
#define SDK_MSG_PORT_LIST 0x2015
#define SDK_MSG_LONG_VERSION 0x2016
#define SDK_MSG_AGPS_CURRENT 0x2017
#define SDK_MSG_AGPS_LOADED 0x2018
#define SDK_MSG_FIRMWARE_CURRENT 0x2019
#define SDK_MSG_FIRMWARE_UPDATED 0x2020
#define SDK_MSG_SECTOR 0x2021
#define SDK_MSG_PROGRESS 0x2022
#define SDK_MSG_PHASE_PROGRESS 0x2023
#define SDK_MSG_CLOCK_SET 0x2024

/* Sizes of the fixed records the entry points take. */
#define STRIDELOG_VIEWS_SIZE 145
#define STRIDELOG_SETTINGS_SIZE 96
#define STRIDELOG_PATH_BLOCK_SIZE 34310

/* ---- The 21 entry points, in export order. ---- */
STRIDELOG_API void GetClip_COM_Port_List(HWND host);
STRIDELOG_API void GetSDKVersion(HWND host);
STRIDELOG_API void GetWatch_Version(HWND host, BOOL show);
STRIDELOG_API void GetWatch_LongVer(HWND host, BOOL show);
STRIDELOG_API void GetAllWorkout(HWND host, BOOL clear_after_download, BOOL show);
STRIDELOG_API void ClearWorkout(HWND host, BOOL show);
STRIDELOG_API void GetWorkoutSummary(HWND host, BOOL show);
STRIDELOG_API void GetSelectedWorkout(HWND host, CUIntArray* sessions, BOOL clear_after_download,
                                      BOOL show);
STRIDELOG_API void GetPaths(HWND host, BOOL show);
STRIDELOG_API void SetPaths(HWND host, CPtrArray* paths, CStringArray* names, BOOL show);
STRIDELOG_API void AGPSDataUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, BOOL show, DWORD time_limit_ms, BOOL passive);
STRIDELOG_API void FirmwareUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, LPCWSTR fifth_text, BOOL show,
                                  DWORD time_limit_ms, BOOL passive);
STRIDELOG_API void GetViews(HWND host, BOOL show);
STRIDELOG_API void SetViews(HWND host, const BYTE* views, BOOL show);
STRIDELOG_API void GetSetting(HWND host, BOOL show);
STRIDELOG_API void SetSetting(HWND host, const BYTE* settings, BOOL show);
STRIDELOG_API void ReadFlashSector(HWND host, WORD sector);
STRIDELOG_API void WriteFlashSector(HWND host, const BYTE* data, WORD sector);
STRIDELOG_API void SetDateTime(HWND host, BYTE year_minus_2000, BYTE month, DWORD day, BYTE hour,
                               BYTE minute, DWORD second, BOOL show);
STRIDELOG_API void GetSelectedWorkout_Ex(HWND host, const BYTE* sessions, DWORD count,
                                         BOOL clear_after_download, BOOL show);
STRIDELOG_API void SetPaths_Ex(HWND host, const BYTE* block, DWORD size, BOOL show);

/* ---- Host helpers: what the desktop platform gave a host for free. ---- */

/* Window procedure of a host window; context is the pointer given at creation. */
typedef LRESULT (*Stridelog_HostProc)(void* context, HWND window, UINT message, WPARAM wparam,
                                      LPARAM lparam);
typedef int (*Stridelog_DoneFn)(void* context);

/* A window owned by the calling thread whose messages go to proc. */
STRIDELOG_API HWND Stridelog_CreateHostWindow(Stridelog_HostProc proc, void* context);
STRIDELOG_API BOOL Stridelog_DestroyHostWindow(HWND window);
STRIDELOG_API BOOL Stridelog_IsWindowEnabled(HWND window);
/* Receives the thread messages of the calling thread (notifications for a null host). */
STRIDELOG_API void Stridelog_SetThreadMessageProc(Stridelog_HostProc proc, void* context);

/* The numbers of the two registered notification messages. */
STRIDELOG_API UINT Stridelog_ErrorMessageId(void);
STRIDELOG_API UINT Stridelog_ResultMessageId(void);

/* Dispatches every message waiting for this thread, first waiting up to wait_ms
 * for one to arrive. Returns the number dispatched. */
STRIDELOG_API int Stridelog_PumpMessages(DWORD wait_ms);
/* Runs this thread's message loop until done(context) is nonzero (TRUE) or
 * timeout_ms has passed (FALSE). done is checked after every message. */
STRIDELOG_API BOOL Stridelog_RunUntil(Stridelog_DoneFn done, void* context, DWORD timeout_ms);
/* TRUE while a task window started by an entry point called on this thread lives. */
STRIDELOG_API BOOL Stridelog_TaskActive(void);
/* Ends every running task of the process as its Cancel button would: through
 * the task end, which releases the port. Any thread may call it (not a signal
 * handler); the tasks end on their own threads' next messages. */
STRIDELOG_API void Stridelog_CancelTasks(void);

/* Frees a notification block; returns NULL, or the block itself when it is not one. */
STRIDELOG_API void* Stridelog_FreeBlock(void* block);
/* The size in bytes of a notification block, 0 when it is not one. */
STRIDELOG_API size_t Stridelog_BlockSize(const void* block);

/* The port a task would connect to now (n of COMn), 0 when no cable is found. */
STRIDELOG_API int Stridelog_CablePort(void);
/* The device (such as /dev/ttyUSB0) behind a port name such as "COM1": writes it,
 * cut to size - 1 bytes and terminated, to buffer (when size > 0) and returns its
 * full length; 0 when no port of that name exists. Lets a host name the device
 * when SDK_ERR_PORT_OPEN arrives. */
STRIDELOG_API size_t Stridelog_PortDevicePath(const char* port_name, char* buffer, size_t size);

/* How shown task windows and the confirmation question are presented. */
#define STRIDELOG_PRESENTER_NONE 0     /* shown windows stay invisible; questions answer No */
#define STRIDELOG_PRESENTER_TERMINAL 1 /* progress on stderr, questions asked y/n on stdin */
#define STRIDELOG_PRESENTER_IMAGE 2    /* the window's look rendered to the PNG file `path` */
STRIDELOG_API BOOL Stridelog_UsePresenter(int kind, const char* path);
/* 0: ask the presenter; 6 (Yes) or 7 (No): answer every confirmation that way. */
STRIDELOG_API void Stridelog_SetConfirmAnswer(int answer);
/* The host answers every confirmation itself: fn gets the caption, the message and
 * the detail lines (UTF-8, valid during the call) and returns 6 for Yes, anything
 * else for No. It runs on the task's thread, after a forced answer and before the
 * presenter. NULL removes it. */
typedef int (*Stridelog_ConfirmFn)(void* context, const char* caption, const char* message,
                                   const char* const* lines, size_t line_count);
STRIDELOG_API void Stridelog_SetConfirmHandler(Stridelog_ConfirmFn fn, void* context);

#ifdef __cplusplus
}
#endif

#endif
