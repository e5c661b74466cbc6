/**
 * @file stridelog.h
 * @brief The Stridelog SDK: talk to a GPS sports watch on its USB-to-serial cable.
 *
 * Plain C11 (and C++). Link with -lstridelog (pkg-config and CMake package
 * "stridelog"). Everything a host can rely on is written here.
 *
 * @section threads Threads
 * Every entry point and every host helper, except Stridelog_CancelTasks(), is
 * called from one thread of the host, its user-interface thread, and that
 * thread must run a message loop: Stridelog_PumpMessages(), Stridelog_RunUntil()
 * or a nested loop of the SDK. A task runs on the thread that started it,
 * driven by that thread's messages and timers; the SDK's own threads (serial
 * receive, FTP download) only post messages to it. An entry point returns at
 * once (ReadFlashSector() only when its read has ended, running its own loop
 * meanwhile); the results arrive later as notifications. A few steps pause the
 * thread for 0.1 to 1 s where the watch needs time (noted below as "pause").
 * Calls are not serialised: a second task started while one holds the port
 * ends with ::SDK_ERR_PORT_OPEN. Run one task at a time; notifications carry no
 * task identifier.
 *
 * @section notifications Notifications
 * Every outcome is a message posted to the host window given to the entry point:
 * | message | wParam | lParam |
 * |---|---|---|
 * | Stridelog_ErrorMessageId() | an `SDK_ERR_*` code | always 0 |
 * | Stridelog_ResultMessageId() | an `SDK_MSG_*` code | 0, or the address of a block |
 *
 * Notifications are always posted, never sent, and arrive in the order they were
 * posted. A task posts, in this order: the connection sequence (@ref connection),
 * then its progress and data notifications, then exactly one *final*
 * notification (the `final` flag of ::STRIDELOG_ERROR_CODES and
 * ::STRIDELOG_RESULT_CODES); after the final one only ::SDK_MSG_PROGRESS may
 * follow. Every error code is final. Three ends carry no final code:
 * GetWatch_Version() and GetPaths() with paths end after an ::SDK_MSG_PROGRESS
 * of 100.0; a task ended by the user (its window closed or cancelled,
 * Stridelog_CancelTasks(), or No to the firmware question) ends silently.
 * Stridelog_TaskActive() turns FALSE when the last task of the thread has ended,
 * whichever way it ended.
 *
 * A host window may also receive the plain message number 0xCAA (wParam 0,
 * lParam 0) when a flash write step finds the link gone; it carries nothing and
 * is to be ignored.
 *
 * @section blocks Blocks
 * A block is fixed memory of exactly the size of its contents, with no header
 * of its own; Stridelog_BlockSize() gives the size (text blocks are measured that
 * way). Multi-byte numbers are little-endian, floats IEEE 754 single precision.
 * Text blocks are 8-bit ASCII without a terminating NUL. Times come in two
 * byte orders: *stamp order* (second, minute, hour, day, month, year - 2000) and
 * *point order* (year - 2000, month, day, hour, minute, second).
 *
 * The host owns every block it receives and frees it with Stridelog_FreeBlock()
 * once handled; the SDK never touches a block after posting it. A block whose
 * notification is never delivered (the host window was destroyed first) is freed
 * by the SDK. Blocks posted before a failure stay complete and valid.
 *
 * Two blocks are posted by many tasks:
 * - progress (::SDK_MSG_PROGRESS), 4 bytes: float, the task's progress in
 *   percent (0.0 to 100.0); it never decreases within a task.
 * - phase progress (::SDK_MSG_PHASE_PROGRESS), 8 bytes: uint32 phase at 0,
 *   float percent at 4 (never negative). Phases: 1 A-GPS file download,
 *   2 A-GPS data written to the watch, 3 firmware file download, 4 firmware
 *   written to the watch.
 *
 * @section connection The connection sequence
 * Every entry point that talks to the watch (all but GetClip_COM_Port_List(),
 * GetSDKVersion() and WriteFlashSector()) begins the same way:
 * 1. At the call, the cable check: when no port of the watch's cable exists,
 *    ::SDK_ERR_NO_PORT is posted before the call returns, nothing else follows
 *    and no task runs.
 * 2. The cable's ports (the list of GetClip_COM_Port_List()) are tried in list
 *    order, each with up to three version requests 3 s apart. Ends:
 *    ::SDK_ERR_NO_PORT (the list is empty or a name is not COMn),
 *    ::SDK_ERR_PORT_OPEN (a port cannot be opened, for instance because another
 *    task holds it), or ::SDK_ERR_NO_ANSWER followed by ::SDK_MSG_PROGRESS 100.0
 *    (no port answered).
 * 3. ::SDK_MSG_WATCH_VERSION with the watch's version text, once per version reply.
 * 4. All but GetWatch_Version(): ::SDK_ERR_OLD_FIRMWARE when the firmware number
 *    is below 1.2. The number is read after the first three characters of a text
 *    holding "Ver" ("Ver1.30" is 1.30), from a text starting with a digit
 *    ("1.21"), and is 0 for "0.0" and any other text.
 * 5. The status query (3 s); its silence is no error.
 *
 * @section transfer Flash transfers
 * The watch's flash is 256 sectors of 4096 bytes, read and written in chunks of
 * 128 bytes, one command at a time. Reads post ::SDK_MSG_PROGRESS with the task's
 * bar position about once per 4096 bytes (the count runs on across tasks).
 * A transfer failure ends the task with ::SDK_ERR_TRANSFER: an unanswered read
 * (3 s for the first chunk of a run, 250 ms for the path sectors' first and for
 * every later chunk) posts the error, then ::SDK_MSG_PROGRESS 100.0; an
 * unanswered write step (3 s) posts ::SDK_MSG_PROGRESS 100.0, then the error; a
 * malformed reply posts the error alone. Nothing written is rolled back.
 *
 * @section show The show flag
 * A nonzero show flag shows the task window (progress bar, status log, Cancel
 * button) through the presenter chosen with Stridelog_UsePresenter() and
 * disables the host window until the task ends, which enables it again (also
 * when it was enabled before). With 0 nothing is shown, the host window stays
 * enabled, and FirmwareUpdate() asks no question. Closing or cancelling the
 * shown window ends the task silently.
 */
#ifndef STRIDELOG_H
#define STRIDELOG_H

#include "framework_arrays.h"
#include "win_types.h"

/** @def STRIDELOG_API
 * Marks an exported function of the shared library. */
#if defined(__GNUC__)
#define STRIDELOG_API __attribute__((visibility("default")))
#else
#define STRIDELOG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Registered name of the error message; see Stridelog_ErrorMessageId(). */
#define STRIDELOG_ERROR_MESSAGE_NAME "Stride_Log_SDK_V1.0_ERROR"
/** Registered name of the result message; see Stridelog_ResultMessageId(). */
#define STRIDELOG_RESULT_MESSAGE_NAME "Stride_Log_SDK_V1.0_MSG"

/* clang-format off */
/**
 * @brief The error codes (wParam of the error message; lParam is always 0), one
 * row each: `X(name, value, final, meaning)`.
 *
 * `final` is 1 when the code is a final notification (see @ref notifications):
 * every error is. `meaning` is a one-line English text. The values skip the
 * numbers whose last hexadecimal digit is A to F. Expand the table with a macro
 * of your own to build lookup tables, as ::STRIDELOG_CODE_ENUMERATOR does for the
 * constants.
 */
#define STRIDELOG_ERROR_CODES(X) \
    X(SDK_ERR_NO_PORT, 0x1000, 1, "no serial port of the watch's cable exists, or the port list holds no usable port") \
    X(SDK_ERR_PORT_OPEN, 0x1001, 1, "the COM port exists but cannot be opened (also when another task holds it)") \
    X(SDK_ERR_NO_ANSWER, 0x1002, 1, "no version reply from the watch on any port after the retries") \
    X(SDK_ERR_PATH_COUNT, 0x1003, 1, "SetPaths was not given exactly 10 paths and 10 names") \
    X(SDK_ERR_TRANSFER, 0x1004, 1, "a watch command was not answered in time or answered wrongly during a read or write") \
    X(SDK_ERR_OLD_FIRMWARE, 0x1005, 1, "the firmware version number read from the watch's version text is below 1.2") \
    X(SDK_ERR_NO_SESSION, 0x1006, 1, "a selected workout session does not exist on the watch") \
    X(SDK_ERR_AGPS_REFUSED, 0x1007, 1, "the watch's status flag is 0, so A-GPS data cannot be loaded") \
    X(SDK_ERR_DOWNLOAD, 0x1008, 1, "the FTP download failed") \
    X(SDK_ERR_AGPS_FILE, 0x1009, 1, "the downloaded A-GPS orbit file, or the packet file made from it, cannot be opened") \
    X(SDK_ERR_AGPS_PACKET_FILE, 0x1010, 1, "the A-GPS packet file cannot be created") \
    X(SDK_ERR_AGPS_SIZE, 0x1011, 1, "the A-GPS orbit file does not have the expected length, or its packet stream is too long") \
    X(SDK_ERR_FIRMWARE_INFO, 0x1012, 1, "the downloaded firmware description lacks the expected entry or is malformed") \
    X(SDK_ERR_FIRMWARE_IMAGE, 0x1013, 1, "a downloaded firmware image file cannot be opened or fails its checks") \
    X(SDK_ERR_DOWNLOAD_TIMEOUT, 0x1014, 1, "the whole-download time limit given to AGPSDataUpdate or FirmwareUpdate has expired") \
    X(SDK_ERR_CLOCK_TIMEOUT, 0x1015, 1, "the watch did not confirm the new date and time in time") \
    X(SDK_ERR_CLOCK_VALUE, 0x1016, 1, "the date and time given to SetDateTime is not a valid date in year 2000 or later")

/**
 * @brief The result codes (wParam of the result message), one row each:
 * `X(name, value, final, meaning)`.
 *
 * `final` is 1 when nothing but ::SDK_MSG_PROGRESS follows the code from the
 * same call (see @ref notifications). The block each code carries is described
 * at the entry points that post it.
 */
#define STRIDELOG_RESULT_CODES(X) \
    X(SDK_MSG_SDK_VERSION, 0x2000, 1, "the SDK's version text (block)") \
    X(SDK_MSG_WATCH_VERSION, 0x2001, 0, "the watch's version text (block), at the start of every task that reaches the watch") \
    X(SDK_MSG_PATH, 0x2002, 0, "one path (block)") \
    X(SDK_MSG_NO_PATHS, 0x2003, 1, "the watch holds no path with waypoints") \
    X(SDK_MSG_PATHS_WRITTEN, 0x2004, 1, "the ten paths are written") \
    X(SDK_MSG_NO_WORKOUTS, 0x2005, 1, "the watch holds no workout session") \
    X(SDK_MSG_WORKOUTS_DONE, 0x2006, 1, "workout download finished (and cleared, when asked)") \
    X(SDK_MSG_SESSION, 0x2007, 0, "one session without track points (block)") \
    X(SDK_MSG_SESSION_TRACK, 0x2008, 0, "one session with its track points (block)") \
    X(SDK_MSG_SUMMARY, 0x2009, 0, "the session headers of every workout (block)") \
    X(SDK_MSG_VIEWS, 0x2010, 1, "the views record (block)") \
    X(SDK_MSG_VIEWS_WRITTEN, 0x2011, 1, "the views are written") \
    X(SDK_MSG_SETTINGS, 0x2012, 1, "the settings record (block)") \
    X(SDK_MSG_SETTINGS_WRITTEN, 0x2013, 1, "the settings are written") \
    X(SDK_MSG_WORKOUTS_CLEARED, 0x2014, 1, "the workout memory is cleared") \
    X(SDK_MSG_PORT_LIST, 0x2015, 1, "the cable's serial ports (block)") \
    X(SDK_MSG_LONG_VERSION, 0x2016, 1, "the watch's long version text (block)") \
    X(SDK_MSG_AGPS_CURRENT, 0x2017, 1, "the A-GPS data on the watch is still valid; nothing was loaded") \
    X(SDK_MSG_AGPS_LOADED, 0x2018, 1, "A-GPS data loaded; the new expiry date (block)") \
    X(SDK_MSG_FIRMWARE_CURRENT, 0x2019, 1, "no newer firmware is offered") \
    X(SDK_MSG_FIRMWARE_UPDATED, 0x2020, 1, "the firmware update is finished") \
    X(SDK_MSG_SECTOR, 0x2021, 1, "one flash sector (block)") \
    X(SDK_MSG_PROGRESS, 0x2022, 0, "overall progress of the task (block)") \
    X(SDK_MSG_PHASE_PROGRESS, 0x2023, 0, "progress of a download or of a transfer to the watch (block)") \
    X(SDK_MSG_CLOCK_SET, 0x2024, 1, "the watch's date and time are set")
/* clang-format on */

/** Expands one row of a code table to the enumerator `name = value`. */
#define STRIDELOG_CODE_ENUMERATOR(name, value, final, meaning) name = value,

/** The error codes as integer constants, from ::STRIDELOG_ERROR_CODES. */
enum StridelogErrorCode { STRIDELOG_ERROR_CODES(STRIDELOG_CODE_ENUMERATOR) };
/** The result codes as integer constants, from ::STRIDELOG_RESULT_CODES. */
enum StridelogResultCode { STRIDELOG_RESULT_CODES(STRIDELOG_CODE_ENUMERATOR) };

/** Size in bytes of the views record (GetViews(), SetViews()). */
#define STRIDELOG_VIEWS_SIZE 145
/** Size in bytes of the settings record (GetSetting(), SetSetting()). */
#define STRIDELOG_SETTINGS_SIZE 96
/** Size in bytes of the block SetPaths_Ex() takes. */
#define STRIDELOG_PATH_BLOCK_SIZE 34310

/* ---- The 21 entry points, in export order. ---- */

/**
 * @brief Lists the serial ports of the watch's cable.
 *
 * Synchronous: no task, no cable check, no port opened. Posts exactly one
 * ::SDK_MSG_PORT_LIST before it returns, also when no port exists. Block:
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 4 | uint32 k, the number of names |
 * | 4 | | k entries: the name's UTF-16LE characters ("COM3"), then one 16-bit 0 |
 *
 * Size 4 + sum of (2 x length + 2). The names are sorted by ordinal comparison
 * of their upper-case forms (COM10 before COM2), the order in which tasks try
 * them; a port found twice is listed twice.
 * @param host window the notification goes to
 */
STRIDELOG_API void GetClip_COM_Port_List(HWND host);

/**
 * @brief Reports the SDK's version.
 *
 * Synchronous: no task, no cable check. Posts exactly one ::SDK_MSG_SDK_VERSION
 * whose block is the 19 ASCII characters "SDK73688,2.0.11.260" (no NUL).
 * @param host window the notification goes to
 */
STRIDELOG_API void GetSDKVersion(HWND host);

/**
 * @brief Asks the watch for its version text.
 *
 * Posts the connection sequence up to ::SDK_MSG_WATCH_VERSION (without the
 * firmware check), then, after a 0.5 s pause, ::SDK_MSG_PROGRESS 100.0, and ends
 * without a final code. The block is the reply's text as sent, at most 31 ASCII
 * characters without NUL ("Ver1.30"); a numeric reply reads "major.minor" ("1.21").
 * Errors: ::SDK_ERR_NO_PORT, ::SDK_ERR_PORT_OPEN, ::SDK_ERR_NO_ANSWER.
 * @param host window the notifications go to
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetWatch_Version(HWND host, BOOL show);

/**
 * @brief Reads the watch's long version text from flash.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS while sector 0 is read;
 * ::SDK_MSG_LONG_VERSION (final); ::SDK_MSG_PROGRESS 100.0. The block is the
 * text at byte 96 of sector 0 up to its first zero byte, at most 16 ASCII
 * characters without NUL ("1.31.02_VUNA0_00"), or the 4 characters "<FF>" when
 * that byte is erased. Errors: those of the connection, ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetWatch_LongVer(HWND host, BOOL show);

/**
 * @brief Downloads every workout session, optionally clearing them afterwards.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS as the directory and the
 * sessions are read; ::SDK_MSG_NO_WORKOUTS (final) when the watch holds no
 * session; otherwise one block per session in directory order:
 * ::SDK_MSG_SESSION when its header records no track points, else
 * ::SDK_MSG_SESSION_TRACK; then ::SDK_MSG_PROGRESS 100.0. 0.1 s later, with
 * clear_after_download, the workout directory is emptied as ClearWorkout()
 * does it; then, after a 0.5 s pause, ::SDK_MSG_PROGRESS 100.0 and
 * ::SDK_MSG_WORKOUTS_DONE (final). Errors: those of the connection,
 * ::SDK_ERR_TRANSFER (the session blocks already posted stay valid).
 *
 * Session block, ::SDK_MSG_SESSION: 60 + 16 L bytes; ::SDK_MSG_SESSION_TRACK:
 * 64 + 16 L + 25 N bytes (L laps, N track points):
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 6 | reference stamp A, stamp order, as stored (0xFF bytes when erased) |
 * | 6 | 6 | reference stamp B, likewise |
 * | 12 | 48 | session header, below |
 * | 60 + 16 i | 16 | lap record i (i = 0 .. L - 1), as the watch stores it |
 * | 60 + 16 L | 4 | with track: uint32 N, points decoded (may differ from the recorded count) |
 * | 64 + 16 L + 25 j | 25 | with track: track point j (j = 0 .. N - 1), in recorded order |
 *
 * Session header (48 bytes; also the unit of ::SDK_MSG_SUMMARY):
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 2 | uint16 track points recorded by the watch (0: none) |
 * | 2 | 1 | L, the lap count |
 * | 3 | 6 | start time, stamp order; moved by B - A when A, B and the start are valid dates |
 * | 9 | 39 | further session values, as stored |
 *
 * Track point (25 bytes):
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 1 | header byte of the record it came from; low 4 bits: record type 0 .. 3 |
 * | 1 | 1 | record byte 1 (types 0 and 1), else 0 |
 * | 2 | 6 | time, point order |
 * | 8 | 4 | int32 longitude, degrees x 10^7; 2000000000: no position |
 * | 12 | 4 | int32 latitude, degrees x 10^7 |
 * | 16 | 2 | int16 altitude |
 * | 18 | 2 | measured value M1 |
 * | 20 | 2 | measured value M2 |
 * | 22 | 2 | measured value M3 |
 * | 24 | 1 | measured value M4 |
 *
 * Units are the watch's own; the SDK expands the recorded deltas and passes
 * everything else through. The first point takes the corrected start time
 * (when it is a valid date); when it has no position, the points without one
 * that directly follow it keep their time offsets to it.
 * @param host window the notifications go to
 * @param clear_after_download nonzero empties the workout directory after the last session
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetAllWorkout(HWND host, BOOL clear_after_download, BOOL show);

/**
 * @brief Clears the watch's workout memory.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS while sector 0 is read;
 * ::SDK_MSG_PROGRESS 50.0; after sector 0 has been rewritten with an empty
 * workout directory and every workout sector marked free, a 0.5 s pause,
 * ::SDK_MSG_PROGRESS 100.0 and ::SDK_MSG_WORKOUTS_CLEARED (final). Settings,
 * views and paths stay. Errors: those of the connection, ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void ClearWorkout(HWND host, BOOL show);

/**
 * @brief Reads the header of every workout session, without laps or track points.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS as the directory and the
 * session headers are read; ::SDK_MSG_NO_WORKOUTS (final) when the watch holds
 * no session; otherwise ::SDK_MSG_SUMMARY and ::SDK_MSG_PROGRESS 100.0, then,
 * 0.1 s later and after a 0.5 s pause, ::SDK_MSG_PROGRESS 100.0 and
 * ::SDK_MSG_WORKOUTS_DONE (final). Summary block, 4 + 48 n bytes: uint32 n at 0, then the n 48-byte
 * session headers (layout at GetAllWorkout()) in directory order, start times
 * corrected. Errors: those of the connection, ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetWorkoutSummary(HWND host, BOOL show);

/**
 * @brief Downloads chosen workout sessions, optionally clearing all afterwards.
 *
 * As GetAllWorkout(), for the sessions whose indices the array holds, in its
 * order (0-based, directory order, the order of ::SDK_MSG_SUMMARY; an index
 * given twice is delivered twice). ::SDK_ERR_NO_SESSION (final) ends the task
 * before any session block when an index is not below the watch's session
 * count. No ::SDK_MSG_NO_WORKOUTS: an empty selection ends as after a last
 * session, without session blocks, and clears nothing. The clear empties the
 * whole directory, not only the chosen sessions.
 * @param host window the notifications go to
 * @param sessions the indices, copied before the call returns; NULL selects none
 * @param clear_after_download nonzero empties the workout directory after the last session
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetSelectedWorkout(HWND host, CUIntArray* sessions, BOOL clear_after_download,
                                      BOOL show);

/**
 * @brief Reads the ten paths (routes) stored on the watch.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS while sector 0 is read.
 * When no path has waypoints: 1.5 s later ::SDK_MSG_PROGRESS 100.0 and
 * ::SDK_MSG_NO_PATHS (final). Otherwise ::SDK_MSG_PROGRESS while the six path
 * sectors are read, ten ::SDK_MSG_PATH blocks (paths 0 to 9, empty ones
 * included), and 1.5 s later ::SDK_MSG_PROGRESS 100.0, which ends the task
 * without a final code. Errors: those of the connection, ::SDK_ERR_TRANSFER.
 *
 * Path block, 3 + 2 c + 34 n bytes:
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 1 | path index 0 .. 9 |
 * | 1 | 1 | name length in bytes, 2 c |
 * | 2 | 2 c | name, c UTF-16LE characters (at most 32), no terminator |
 * | 2 + 2 c | 1 | n, the waypoint count (0 .. 99) |
 * | 3 + 2 c + 34 k | 34 | waypoint k, below |
 *
 * Waypoint (34 bytes; also what SetPaths() and SetPaths_Ex() take):
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 4 | coordinate word 1, passed through |
 * | 4 | 4 | coordinate word 2, passed through |
 * | 8 | 6 | waypoint attributes, passed through |
 * | 14 | 20 | name, UTF-16LE, at most 10 characters, zero-padded (no terminator at 10) |
 *
 * Names hold what the watch's character set has: ASCII and
 * à á â ä è é ê ë ì í î ï ò ó ô ö ù ú û ü ç ñ; any other stored byte reads as a
 * space.
 * @param host window the notifications go to
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetPaths(HWND host, BOOL show);

/**
 * @brief Replaces the ten paths on the watch, from the host's array objects.
 *
 * paths holds exactly 10 elements, path i at index i, each pointing to a
 * ::CPtrArray whose elements point to the path's 34-byte waypoints (layout at
 * GetPaths()); names holds the 10 path names. Only the first 99 waypoints of a
 * path are stored; a path without waypoints is stored under the name
 * "Path<i + 1>"; names are cut to 32 characters and waypoint names to 10, and a
 * character outside the watch's set is stored as '|'. The arrays are read only
 * after the watch has answered: keep them alive and unchanged until the task
 * has ended.
 *
 * Posts: ::SDK_ERR_PATH_COUNT (final) before the call returns, with no
 * connection, when either pointer is NULL or an array does not hold 10
 * elements; otherwise the connection sequence, ::SDK_ERR_PATH_COUNT when a
 * path or waypoint pointer is NULL; ::SDK_MSG_PROGRESS while sector 0 is read;
 * ::SDK_MSG_PROGRESS 12.0 as the names and counts are written, then 24.0, 36.0,
 * 48.0, 60.0, 72.0 and 84.0 as each of the six waypoint sectors is written;
 * 1.5 s later ::SDK_MSG_PROGRESS 100.0 and ::SDK_MSG_PATHS_WRITTEN (final).
 * Errors: those of the connection, ::SDK_ERR_TRANSFER (a write cut short
 * after the names leaves old waypoints in part).
 * @param host window the notifications go to
 * @param paths the ten paths
 * @param names the ten path names
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void SetPaths(HWND host, CPtrArray* paths, CStringArray* names, BOOL show);

/**
 * @brief Loads current A-GPS orbit data, fetched over FTP, into the watch.
 *
 * The files "datetime.txt" (first line: the issue date, "2012-12-30") and
 * "MTK7d.EPO" (53,760 bytes) are fetched from the folder into the local
 * download folder, "Stride Log" in the user's documents folder; an orbit file
 * already fetched today is used again without a download.
 *
 * Posts: the connection sequence; ::SDK_ERR_AGPS_REFUSED when the watch's status
 * flag is 0 (no status reply, or a fourth status byte of 0);
 * ::SDK_MSG_AGPS_CURRENT (final) when its first two status bytes are not both 0
 * (its data is valid); otherwise ::SDK_MSG_PHASE_PROGRESS phase 1 during the orbit file's
 * download, phase 2 as the data is written (sectors 230 to 243, then sector 0
 * with the expiry date), ::SDK_MSG_PROGRESS while sector 0 is read; after the
 * watch confirms, a final phase 2 and, after a 0.5 s pause,
 * ::SDK_MSG_AGPS_LOADED (final) with a 3-byte block: expiry year - 2000, month,
 * day (issue date + 7 days; a date field that does not parse is today's;
 * 0xFF 0xFF 0xFF when "datetime.txt" is missing). When the watch still reports
 * old data after a load, the load is repeated; after the third,
 * ::SDK_ERR_AGPS_REFUSED.
 *
 * Errors: those of the connection, ::SDK_ERR_AGPS_REFUSED, ::SDK_ERR_DOWNLOAD,
 * ::SDK_ERR_DOWNLOAD_TIMEOUT (after ::SDK_MSG_PROGRESS 100.0), ::SDK_ERR_AGPS_FILE,
 * ::SDK_ERR_AGPS_PACKET_FILE, ::SDK_ERR_AGPS_SIZE, ::SDK_ERR_TRANSFER (also when
 * the watch does not confirm the expiry date within 6 s, then after
 * ::SDK_MSG_PROGRESS 100.0). Strings are copied before the call returns; NULL
 * reads as empty.
 * @param host window the notifications go to
 * @param server FTP server: host name or address, optionally ":port" (default 21)
 * @param user FTP user name
 * @param password FTP password
 * @param folder folder on the server holding the two files
 * @param show nonzero shows the task window (@ref show)
 * @param time_limit_ms time the download may take in all, in milliseconds
 * @param passive nonzero uses passive-mode FTP
 */
STRIDELOG_API void AGPSDataUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, BOOL show, DWORD time_limit_ms, BOOL passive);

/**
 * @brief Updates the watch's firmware from an FTP server, when newer firmware is offered.
 *
 * Reads the firmware version at byte 96 of sector 0 ("1.31.02_VUNA0_00"), fetches
 * the update description "<model>_<code>.txt" (model 73688 for 1.3x firmware,
 * else 73521), whose key "0" of section "Method1" offers "<file>.fw2,<size>",
 * and its optional "History" file of release notes. Firmware is newer only
 * within the same major number 1 and the same family (minor 0-29, 30-39;
 * 40 and later are never updated). With a nonzero show flag the user is asked,
 * through Stridelog_SetConfirmAnswer(), Stridelog_SetConfirmHandler() or the
 * presenter, the first that is set (none: No); anything but Yes ends the task
 * silently.
 * Then "<file>.ini" (the settings kept across the update) and the firmware file
 * are fetched, checked whole, and written; the workout directory is cleared
 * first and stays empty whatever happens later. The watch restarts and is
 * polled for up to 70 s.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS while flash is read;
 * ::SDK_MSG_FIRMWARE_CURRENT (final) when nothing newer is offered, the offered
 * file is not a ".fw2" file, or the watch's version cannot be read;
 * ::SDK_MSG_PHASE_PROGRESS phase 3 during the firmware file's download, phase 4
 * as it is written; ::SDK_MSG_PROGRESS 100.0 if the watch is not back within
 * 70 s (the update goes on); after a 1 s pause ::SDK_MSG_FIRMWARE_UPDATED (final).
 * Errors: those of the connection, ::SDK_ERR_DOWNLOAD, ::SDK_ERR_DOWNLOAD_TIMEOUT
 * (after ::SDK_MSG_PROGRESS 100.0), ::SDK_ERR_FIRMWARE_INFO (key "0" missing or
 * without a size, a file name leading out of the download folder),
 * ::SDK_ERR_FIRMWARE_IMAGE (before anything is written), ::SDK_ERR_TRANSFER
 * (also, after ::SDK_MSG_PROGRESS 100.0, when the watch does not take the
 * program update request within 10 s). Strings are copied before the call
 * returns; NULL reads as empty.
 * @param host window the notifications go to
 * @param server FTP server: host name or address, optionally ":port" (default 21)
 * @param user FTP user name
 * @param password FTP password
 * @param folder folder on the server holding the files
 * @param fifth_text "WEX0" (any case) appends "/" and the first part of the
 *        watch's firmware code to the folder, unless the folder holds it already
 * @param show nonzero shows the task window and asks before updating (@ref show)
 * @param time_limit_ms time each file's download may take, in milliseconds
 * @param passive nonzero uses passive-mode FTP
 */
STRIDELOG_API void FirmwareUpdate(HWND host, LPCWSTR server, LPCWSTR user, LPCWSTR password,
                                  LPCWSTR folder, LPCWSTR fifth_text, BOOL show,
                                  DWORD time_limit_ms, BOOL passive);

/**
 * @brief Reads the five data views.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS while sector 0 is read;
 * ::SDK_MSG_PROGRESS 100.0; after a 0.5 s pause ::SDK_MSG_VIEWS (final) with
 * the 145-byte views record:
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 45 | five 9-byte view records, view v at 9 v, as stored (settings bytes 27 .. 71) |
 * | 45 + 20 v | 20 | name of view v, UTF-16LE, at most 10 characters, zero-padded |
 *
 * Errors: those of the connection, ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetViews(HWND host, BOOL show);

/**
 * @brief Writes the five data views.
 *
 * Takes the 145-byte views record of GetViews(), copied before the call
 * returns; names are cut to 10 characters, a character outside the watch's set
 * (see GetPaths()) stored as '|'. A NULL record starts nothing and posts
 * nothing (after the cable check). Posts: the connection sequence;
 * ::SDK_MSG_PROGRESS while sector 0 is read; ::SDK_MSG_PROGRESS 50.0; once sector
 * 0 is written, ::SDK_MSG_PROGRESS 100.0 and, after a 0.5 s pause,
 * ::SDK_MSG_VIEWS_WRITTEN (final). Errors: those of the connection,
 * ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param views the views record, ::STRIDELOG_VIEWS_SIZE bytes
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void SetViews(HWND host, const BYTE* views, BOOL show);

/**
 * @brief Reads the watch's settings.
 *
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS while sector 0 and the
 * 128-byte identity block at flash address 0xFF010 are read; after a 0.5 s
 * pause ::SDK_MSG_SETTINGS (final) with the 96-byte settings record. "Byte k"
 * is byte k of the watch's settings block (the start of sector 0), whose
 * meanings the SDK passes through:
 * | offset | size | content | SetSetting() |
 * |---|---|---|---|
 * | 0 | 1 | *extended* firmware: bits 0-1 of byte 94; otherwise bit 3 of byte 12 | (a) |
 * | 1 | 1 | bit 3 of byte 12 | (b) |
 * | 2 | 4 | uint32, bit 0 of byte 2 | bit 0 of its first byte |
 * | 6 | 2 | bytes 10 .. 11 | yes |
 * | 8 | 4 | uint32, 1 when bit 4 of byte 5 is set | nonzero: byte 5 = 0x10, else 0 |
 * | 12 | 3 | bytes 6, 7, 8 | yes |
 * | 15 | 16 | bytes 104 .. 111, each widened to one UTF-16LE unit | no |
 * | 33 | 14 | bytes 96 .. 102, likewise | no |
 * | 51 | 3 | A-GPS expiry: year - 2000, month, day (bytes 114, 113, 112) | no |
 * | 54 | 4 | float, used workout memory in percent | no |
 * | 58 | 24 | identity text, UTF-16LE, 12 characters, zero-padded | no |
 * | 82 | 2 | 0 | no |
 * | 84 | 1 | byte 93 | yes |
 * | 85 | 1 | byte 3 | yes |
 * | 86 | 1 | bit 0 of byte 12 | bit 0 |
 * | 87 | 1 | byte 17 | yes |
 * | 88 | 8 | bytes 18 .. 25 | yes |
 *
 * (a) Extended: its bits 0-1 become bits 0-1 of byte 94. Otherwise nonzero
 * sets, and 0 clears, bit 3 of byte 12 and bits 0-1 of byte 94 (01 or 00; only
 * where byte 94 is not 0xFF). (b) Extended only: its bit 0 becomes bit 3 of
 * byte 12.
 *
 * *Extended* firmware is 1.30 to 1.39, or below 1.30 with a firmware code
 * starting "QOVA0" or "PEXO0", as the long version text (GetWatch_LongVer())
 * says, else the version number. Errors: those of the connection,
 * ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetSetting(HWND host, BOOL show);

/**
 * @brief Writes the watch's settings.
 *
 * Takes the 96-byte settings record of GetSetting(), copied before the call
 * returns; the last column of its table says what is written, the rest is
 * ignored, and the settings checksum is recomputed. A NULL record starts nothing
 * and posts nothing (after the cable check). Posts: the connection sequence;
 * ::SDK_MSG_PROGRESS while sector 0 is read; ::SDK_MSG_PROGRESS 50.0; once sector
 * 0 is written, ::SDK_MSG_PROGRESS 100.0 and, after a 0.5 s pause,
 * ::SDK_MSG_SETTINGS_WRITTEN (final). Errors: those of the connection,
 * ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param settings the settings record, ::STRIDELOG_SETTINGS_SIZE bytes
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void SetSetting(HWND host, const BYTE* settings, BOOL show);

/**
 * @brief Reads one flash sector; returns when the read has ended.
 *
 * Synchronous: after the cable check it runs a message loop of its own until
 * the task ends, dispatching the thread's other messages meanwhile, so the
 * notifications reach the host window during the call. It runs as with a
 * nonzero show flag (@ref show).
 * Posts: the connection sequence; ::SDK_MSG_PROGRESS while the sector is read;
 * ::SDK_MSG_SECTOR (final) with the sector's 4096 bytes in flash order.
 * Errors: those of the connection, ::SDK_ERR_TRANSFER.
 * @param host window the notifications go to
 * @param sector sector number; only the low 8 bits count (256 reads sector 0)
 */
STRIDELOG_API void ReadFlashSector(HWND host, WORD sector);

/**
 * @brief Checks for the cable and writes nothing.
 *
 * Posts ::SDK_ERR_NO_PORT when the cable is absent, else nothing; data is not
 * read. Sector writes are reachable only through the tasks that use them.
 * @param host window the notification goes to
 * @param data unused
 * @param sector unused
 */
STRIDELOG_API void WriteFlashSector(HWND host, const BYTE* data, WORD sector);

/**
 * @brief Sets the watch's date and time.
 *
 * Posts: the connection sequence; ::SDK_ERR_CLOCK_VALUE when the values are not a
 * valid date and time (month 1 .. 12, day within the month, hour 0 .. 23,
 * minute and second 0 .. 59); otherwise, when the watch confirms within 250 ms,
 * after a 1 s pause ::SDK_MSG_CLOCK_SET (final), else ::SDK_MSG_PROGRESS 100.0
 * and ::SDK_ERR_CLOCK_TIMEOUT.
 * @param host window the notifications go to
 * @param year_minus_2000 the year minus 2000 (12 is 2012)
 * @param month 1 .. 12
 * @param day 1 .. 31
 * @param hour 0 .. 23
 * @param minute 0 .. 59
 * @param second 0 .. 59
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void SetDateTime(HWND host, BYTE year_minus_2000, BYTE month, DWORD day, BYTE hour,
                               BYTE minute, DWORD second, BOOL show);

/**
 * @brief Downloads chosen workout sessions given as bytes.
 *
 * As GetSelectedWorkout(), with each byte one session index.
 * @param host window the notifications go to
 * @param sessions count index bytes, copied before the call returns; NULL selects none
 * @param count number of bytes at sessions
 * @param clear_after_download nonzero empties the workout directory after the last session
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void GetSelectedWorkout_Ex(HWND host, const BYTE* sessions, DWORD count,
                                         BOOL clear_after_download, BOOL show);

/**
 * @brief Replaces the ten paths on the watch, from one flat block.
 *
 * The block, copied before the call returns, is 10 records of 3431 bytes,
 * path i at offset 3431 i:
 * | offset | size | content |
 * |---|---|---|
 * | 0 | 64 | path name, UTF-16LE, at most 32 characters, ends at the first 0 or after 32 |
 * | 64 | 1 | waypoint count n (above 99 counts as 99) |
 * | 65 + 34 k | 34 | waypoint k (layout at GetPaths()), k = 0 .. 98; slots from n on are ignored |
 *
 * After the cable check, a size other than ::STRIDELOG_PATH_BLOCK_SIZE or a NULL
 * block starts nothing and posts nothing. Otherwise it runs and posts as
 * SetPaths().
 * @param host window the notifications go to
 * @param block the paths block
 * @param size size of block in bytes; must be ::STRIDELOG_PATH_BLOCK_SIZE
 * @param show nonzero shows the task window (@ref show)
 */
STRIDELOG_API void SetPaths_Ex(HWND host, const BYTE* block, DWORD size, BOOL show);

/* ---- Host helpers: what the desktop platform gave a host for free. ---- */

/**
 * @brief Window procedure of a host window (Stridelog_CreateHostWindow()), and
 * receiver of thread messages (Stridelog_SetThreadMessageProc()).
 *
 * Called on the window's own thread with the context given at creation, the
 * window (NULL for a thread message), the message number and its two
 * parameters; the return value is the message's result.
 */
typedef LRESULT (*Stridelog_HostProc)(void* context, HWND window, UINT message, WPARAM wparam,
                                      LPARAM lparam);
/** Test of Stridelog_RunUntil(): nonzero when the host is done waiting. */
typedef int (*Stridelog_DoneFn)(void* context);

/**
 * @brief Creates a window owned by the calling thread whose messages go to proc.
 * @param proc the window procedure; NULL creates nothing
 * @param context passed to every call of proc
 * @return the window, or NULL
 */
STRIDELOG_API HWND Stridelog_CreateHostWindow(Stridelog_HostProc proc, void* context);
/**
 * @brief Destroys a window of the calling thread; its queued messages are
 * dropped and the blocks they carry freed.
 * @param window the window
 * @return TRUE when a window was destroyed
 */
STRIDELOG_API BOOL Stridelog_DestroyHostWindow(HWND window);
/**
 * @brief Tells whether a window is enabled (a task with the show flag disables its host).
 * @param window the window
 * @return TRUE when enabled
 */
STRIDELOG_API BOOL Stridelog_IsWindowEnabled(HWND window);
/**
 * @brief Sets the receiver of the calling thread's thread messages: the
 * notifications of tasks started with a NULL host window.
 * @param proc called with window NULL; NULL removes the receiver
 * @param context passed to every call of proc
 */
STRIDELOG_API void Stridelog_SetThreadMessageProc(Stridelog_HostProc proc, void* context);

/**
 * @brief The number of the error message (registered name ::STRIDELOG_ERROR_MESSAGE_NAME).
 * @return the same nonzero number for the whole process
 */
STRIDELOG_API UINT Stridelog_ErrorMessageId(void);
/**
 * @brief The number of the result message (registered name ::STRIDELOG_RESULT_MESSAGE_NAME).
 * @return the same nonzero number for the whole process
 */
STRIDELOG_API UINT Stridelog_ResultMessageId(void);

/**
 * @brief Dispatches every message waiting for the calling thread, first waiting
 * up to wait_ms for one to arrive. A quit message stops it and stays queued.
 * @param wait_ms longest wait for the first message, in milliseconds
 * @return the number of messages dispatched
 */
STRIDELOG_API int Stridelog_PumpMessages(DWORD wait_ms);
/**
 * @brief Runs the calling thread's message loop until done(context) is nonzero
 * or timeout_ms has passed; done is checked after every message.
 * @param done the test; NULL waits the whole timeout
 * @param context passed to done
 * @param timeout_ms longest run, in milliseconds
 * @return TRUE when done said so, FALSE at the timeout
 */
STRIDELOG_API BOOL Stridelog_RunUntil(Stridelog_DoneFn done, void* context, DWORD timeout_ms);
/**
 * @brief Tells whether a task started by an entry point on this thread still runs.
 * @return TRUE while a task window of the calling thread lives
 */
STRIDELOG_API BOOL Stridelog_TaskActive(void);
/**
 * @brief Ends every running task of the process as its Cancel button would:
 * silently, releasing the port. Any thread may call it (not a signal
 * handler); each task ends on its own thread's next message.
 */
STRIDELOG_API void Stridelog_CancelTasks(void);

/**
 * @brief Frees a notification block.
 * @param block a block received with a notification, or NULL
 * @return NULL, or block itself when it is not a live block (nothing freed)
 */
STRIDELOG_API void* Stridelog_FreeBlock(void* block);
/**
 * @brief The size of a notification block.
 * @param block a block received with a notification
 * @return its size in bytes; 0 when it is not a live block
 */
STRIDELOG_API size_t Stridelog_BlockSize(const void* block);

/**
 * @brief The port a task would connect to now, as the cable check sees it.
 * @return n of COMn, or 0 when no cable is found
 */
STRIDELOG_API int Stridelog_CablePort(void);
/**
 * @brief The device (such as /dev/ttyUSB0) behind a port name such as "COM1", so
 * a host can name it when ::SDK_ERR_PORT_OPEN arrives.
 * @param port_name the port name; NULL finds nothing
 * @param buffer receives the path, cut to size - 1 bytes and NUL-terminated
 *        (when size > 0); may be NULL
 * @param size size of buffer in bytes
 * @return the path's full length, 0 when no port of that name exists
 */
STRIDELOG_API size_t Stridelog_PortDevicePath(const char* port_name, char* buffer, size_t size);
/**
 * @brief The SDK's local download folder: "Stride Log" in the user's documents
 * folder, where ::AGPSDataUpdate and ::FirmwareUpdate store what they fetch and
 * where a host may keep the workouts it downloads. Not created here.
 * @param buffer receives the path, cut to size - 1 bytes and NUL-terminated
 *        (when size > 0); may be NULL
 * @param size size of buffer in bytes
 * @return the path's full length, 0 when no documents folder can be found
 */
STRIDELOG_API size_t Stridelog_DownloadFolder(char* buffer, size_t size);

/** Presenter kind: shown windows stay invisible; questions are answered No. The default. */
#define STRIDELOG_PRESENTER_NONE 0
/** Presenter kind: progress drawn on stderr, questions asked y/n on stdin. */
#define STRIDELOG_PRESENTER_TERMINAL 1
/** Presenter kind: the task window's look rendered to the PNG file given as path. */
#define STRIDELOG_PRESENTER_IMAGE 2
/**
 * @brief Chooses how shown task windows and the confirmation question are
 * presented, for the whole process.
 * @param kind one of the STRIDELOG_PRESENTER_* values
 * @param path the PNG file for ::STRIDELOG_PRESENTER_IMAGE, else unused
 * @return FALSE for an unknown kind or an image presenter without a path
 */
STRIDELOG_API BOOL Stridelog_UsePresenter(int kind, const char* path);
/**
 * @brief Answers every confirmation question the same way, for the whole process;
 * a forced answer comes before the handler and the presenter.
 * @param answer 6 (Yes) or 7 (No); any other value asks again
 */
STRIDELOG_API void Stridelog_SetConfirmAnswer(int answer);
/**
 * @brief Asks the host a confirmation question (FirmwareUpdate()).
 *
 * Gets the caption, the message and the detail lines (UTF-8, valid during the
 * call). Runs on the task's thread.
 * @return 6 for Yes, anything else for No
 */
typedef int (*Stridelog_ConfirmFn)(void* context, const char* caption, const char* message,
                                   const char* const* lines, size_t line_count);
/**
 * @brief Lets the host answer every confirmation question itself, for the whole
 * process: after a forced answer (Stridelog_SetConfirmAnswer()), before the presenter.
 * @param fn the handler; NULL removes it
 * @param context passed to every call of fn
 */
STRIDELOG_API void Stridelog_SetConfirmHandler(Stridelog_ConfirmFn fn, void* context);

#ifdef __cplusplus
}
#endif

#endif
