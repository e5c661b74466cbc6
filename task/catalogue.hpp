// Every number that names something inside a task: the operation codes, the
// task window's timer ids and the step codes a flash transfer hands back on
// completion. Each is defined here once, with its owner; nothing else writes
// these numbers. They keep the values the watch's tools have always used
// (they show in the diagnostic output), so a number may stand for two things.
//
// The rules for a number used twice:
// - Timer ids: the task window has one timer per id, so two timers may share
//   an id only when they never run in the same task, or when both guard the
//   one command outstanding (the reply timer 1004 guards a write
//   step, the A-GPS expiry date and the program update alike: one command is
//   outstanding at a time, so one timer is running at a time).
// - Step codes: a completion is dispatched to the operation that started the
//   transfer, so two operations may use the same step code; within one
//   operation each must be distinct. kDirectoryStep is the transfer's own (a
//   read with it lands in the directory image): no other read may use 1000.
//
// The static_asserts at the end check, per task, the ids that must differ.
#pragma once

#include <algorithm>
#include <array>

#include "stridelog/win_types.h"

namespace stridelog::task {

// ---- operation codes --------------------------------------------------------
// The operation a task runs once the status query has been answered; the
// values are the ones the watch's tools have always logged.
enum class OperationCode : int {
    none = 0,
    workouts = 100,
    get_paths = 101,
    set_paths = 102,
    clear_workouts = 105,
    get_views = 108,
    set_views = 109,
    get_setting = 110,
    set_setting = 111,
    long_version = 112,
    selected_workouts = 113,
    agps = 114,
    firmware_check = 115,
    read_sector = 124,
    set_clock = 127,
};

// ---- timer ids of the task window --------------------------------------------
// The connection (sdk/): the version request and the status query.
inline constexpr UINT_PTR kVersionTimer = 1000;
inline constexpr UINT_PTR kStatusTimer = 4006;
// FlashTransfer: the reply to a read request, and to a write step.
inline constexpr UINT_PTR kReadTimer = 1001;
inline constexpr UINT_PTR kWriteTimer = 1004;
// The other commands whose reply the write timer guards (one command is
// outstanding at a time): the A-GPS expiry date and the firmware's program update.
inline constexpr UINT_PTR kExpiryReplyTimer = kWriteTimer;
inline constexpr UINT_PTR kProgramUpdateTimer = kWriteTimer;
// GetPaths: the pause with a full bar before the end, without and with paths.
inline constexpr UINT_PTR kNoPathsTimer = 1002;
inline constexpr UINT_PTR kPathsPostedTimer = 1003;
// SetPaths: the pause with a full bar after the last waypoint sector.
inline constexpr UINT_PTR kPathsWrittenTimer = 1005;
// Workout download: the pause after the last session, before the end or the clear.
inline constexpr UINT_PTR kSessionsDoneTimer = 1006;
// A download run (update/): the rate display's refresh and the time limit.
inline constexpr UINT_PTR kRateDisplayTimer = 1007;
inline constexpr UINT_PTR kDownloadLimitTimer = 1008;
// Firmware update: the reconnection's deadline, first wait and poll.
inline constexpr UINT_PTR kReconnectDeadlineTimer = 1009;
inline constexpr UINT_PTR kReconnectWaitTimer = 1010;
inline constexpr UINT_PTR kReconnectPollTimer = 1011;
// The reply to SetClock: SetDateTime, and the firmware update's clock step
// (two operations, never in one task).
inline constexpr UINT_PTR kClockReplyTimer = 1012;

// Every timer the task end stops: the link chain's, the rate display's, the
// firmware reconnection's and the clock reply's.
inline constexpr std::array<UINT_PTR, 8> kTimersStoppedAtTaskEnd{
    kWriteTimer,         kVersionTimer,           kReadTimer,
    kRateDisplayTimer,   kReconnectDeadlineTimer, kReconnectWaitTimer,
    kReconnectPollTimer, kClockReplyTimer};

// ---- step codes -------------------------------------------------------------
// The transfer's own: the directory sector read into the directory image.
inline constexpr int kDirectoryStep = 1000;
// Sector 0 written back whole: ClearWorkout (and the clear after a download),
// SetPaths, A-GPS (the expiry date) and the firmware update (clear and restore).
inline constexpr int kDirectoryWriteStep = 1006;
// Workout download: a session's header sector, then its track sectors.
inline constexpr int kHeaderStep = 1001;
inline constexpr int kTrackStep = 1005;
// GetPaths: the six waypoint sectors in one run.
inline constexpr int kWaypointSectorsStep = 1004;
// SetPaths: the waypoint sectors 249 .. 254, one step code each.
inline constexpr int kFirstWaypointWriteStep = 1007;
inline constexpr int kLastWaypointWriteStep = 1012;
// SetSetting and SetViews: sector 0 with the new record.
inline constexpr int kSettingsWriteStep = 1008;
inline constexpr int kViewsWriteStep = 1009;
// ReadFlashSector: the one sector.
inline constexpr int kSectorDataStep = 1013;
// GetSetting: the identity block (128 bytes of sector 255).
inline constexpr int kIdentityStep = 1015;
// A-GPS: one of the fourteen EPO sectors.
inline constexpr int kAgpsSectorWriteStep = 1016;

// The firmware update: one step code per kind of transfer it starts, each the
// operation code the watch's tools have always logged for that step where
// there is one (its directory reads and writes use the shared codes above).
inline constexpr int kLanguageStep = 116;          // one of sectors 244 .. 248 written
inline constexpr int kCustomerSettingsStep = 117;  // sector 255 written
inline constexpr int kBootFirstStep = 118;         // sector 34 written
inline constexpr int kBootSecondStep = 119;        // sector 35 written
inline constexpr int kBootSumStep = 120;           // sector 36 written
inline constexpr int kProgramEraseStep = 122;      // sector 1 erased (no code of its own there)
inline constexpr int kProgramStep = 123;           // one of sectors 2 .. 31 written
inline constexpr int kProgramSumStep = 129;        // the program sum written
inline constexpr int kCustomerSectorStep = 1002;   // sector 255 read
inline constexpr int kReconnectPollStep = 1015;    // the 128-byte poll of a restarting watch

// ---- the checks -------------------------------------------------------------
namespace catalogue_detail {
template <class T, std::size_t N>
constexpr bool all_distinct(std::array<T, N> values) {
    std::ranges::sort(values);
    return std::ranges::adjacent_find(values) == values.end();
}
}  // namespace catalogue_detail

// Timers that can run in one task must differ. The connection's and the
// transfer's run in every task; the firmware update has the most of its own.
static_assert(catalogue_detail::all_distinct(std::array{
                  kVersionTimer, kStatusTimer, kReadTimer, kWriteTimer, kRateDisplayTimer,
                  kDownloadLimitTimer, kReconnectDeadlineTimer, kReconnectWaitTimer,
                  kReconnectPollTimer, kClockReplyTimer}),
              "the firmware update's timers");
static_assert(catalogue_detail::all_distinct(std::array{kVersionTimer, kStatusTimer, kReadTimer,
                                                        kWriteTimer, kRateDisplayTimer,
                                                        kDownloadLimitTimer}),
              "the A-GPS update's timers (the expiry reply shares the write timer)");
static_assert(catalogue_detail::all_distinct(std::array{kVersionTimer, kStatusTimer, kReadTimer,
                                                        kWriteTimer, kNoPathsTimer,
                                                        kPathsPostedTimer, kPathsWrittenTimer}),
              "the path tasks' timers");
static_assert(catalogue_detail::all_distinct(std::array{kVersionTimer, kStatusTimer, kReadTimer,
                                                        kWriteTimer, kSessionsDoneTimer}),
              "the workout download's timers (its clear included)");
static_assert(catalogue_detail::all_distinct(std::array{kVersionTimer, kStatusTimer, kReadTimer,
                                                        kWriteTimer, kClockReplyTimer}),
              "SetDateTime's timers");

// Step codes one operation uses must differ; no read but the directory's may be 1000.
static_assert(catalogue_detail::all_distinct(std::array{kDirectoryStep, kHeaderStep, kTrackStep,
                                                        kDirectoryWriteStep}),
              "the workout download's steps (its clear included)");
static_assert(catalogue_detail::all_distinct(std::array{
                  kDirectoryStep, kWaypointSectorsStep, kDirectoryWriteStep,
                  kFirstWaypointWriteStep, kFirstWaypointWriteStep + 1, kFirstWaypointWriteStep + 2,
                  kFirstWaypointWriteStep + 3, kFirstWaypointWriteStep + 4,
                  kLastWaypointWriteStep}),
              "the path tasks' steps");
static_assert(kLastWaypointWriteStep - kFirstWaypointWriteStep + 1 == 6,
              "one step code per waypoint sector");
static_assert(catalogue_detail::all_distinct(std::array{kDirectoryStep, kIdentityStep,
                                                        kSettingsWriteStep, kViewsWriteStep}),
              "the settings and views steps");
static_assert(catalogue_detail::all_distinct(std::array{kDirectoryStep, kSectorDataStep}),
              "ReadFlashSector's step");
static_assert(catalogue_detail::all_distinct(std::array{kDirectoryStep, kDirectoryWriteStep,
                                                        kAgpsSectorWriteStep}),
              "the A-GPS update's steps");
static_assert(catalogue_detail::all_distinct(std::array{
                  kDirectoryStep, kDirectoryWriteStep, kLanguageStep, kCustomerSettingsStep,
                  kBootFirstStep, kBootSecondStep, kBootSumStep, kProgramEraseStep, kProgramStep,
                  kProgramSumStep, kCustomerSectorStep, kReconnectPollStep}),
              "the firmware update's steps");

}  // namespace stridelog::task
