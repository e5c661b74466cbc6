// The blocks the SDK posts with its result notifications, read into typed
// records, and the records a host hands to the entry points, written as the
// bytes they take. Pure functions over bytes: every length is checked against
// the block before it is used, so a short, long or inconsistent block is an
// Error naming what is wrong, never a read past its end.
//
// Threads: no shared state; any thread may call anything here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "stridelog/hostkit/result.hpp"

namespace stridelog::hostkit {

using Bytes = std::span<const std::uint8_t>;

// A notification block as the bytes it holds (lParam and Stridelog_BlockSize).
inline Bytes block_bytes(const void* block, std::size_t size) {
    if (block == nullptr) return {};
    return {static_cast<const std::uint8_t*>(block), size};
}

// ---- Dates and times -------------------------------------------------------

// A calendar date-time as the watch keeps it: local time, no zone.
struct DateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// A calendar date (the A-GPS expiry).
struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// Six bytes of a time as they stand in a block.
using Stamp = std::array<std::uint8_t, 6>;

// The watch's own calendar check: minute and second may read 60.
bool is_valid_date_time(const DateTime& time);
// Stamp order: second, minute, hour, day, month, year - 2000 (session blocks,
// headers); nothing when not a valid date-time (an erased stamp reads 0xFF
// throughout).
std::optional<DateTime> from_stamp_order(const Stamp& bytes);
// Point order: year - 2000, month, day, hour, minute, second (track points).
std::optional<DateTime> from_point_order(const Stamp& bytes);

// ---- Workout sessions (0x2007, 0x2008) and the summary (0x2009) ------------

// Longitude of a point recorded without a fix.
constexpr std::int32_t kNoPosition = 2000000000;

constexpr std::size_t kSessionHeaderSize = 48;
constexpr std::size_t kLapRecordSize = 16;
constexpr std::size_t kTrackPointSize = 25;

struct TrackPoint {
    std::uint8_t record_header = 0;  // low 4 bits: the record type that produced it
    std::uint8_t record_byte1 = 0;
    Stamp time_bytes{};
    std::optional<DateTime> time;
    std::int32_t longitude = 0;  // degrees x 10^7
    std::int32_t latitude = 0;
    std::int16_t altitude = 0;
    std::uint16_t m1 = 0;
    std::uint16_t m2 = 0;
    std::uint16_t m3 = 0;
    std::uint8_t m4 = 0;

    int record_type() const { return record_header & 0x0F; }
    // A marker recorded before any position carries 0/0: no place either, and
    // drawing it would send the track to the Gulf of Guinea.
    bool has_position() const {
        return longitude != kNoPosition && !(longitude == 0 && latitude == 0);
    }
};

// The 48 bytes the watch keeps about a session, passed on whole.
struct SessionHeader {
    std::array<std::uint8_t, kSessionHeaderSize> bytes{};

    std::uint16_t recorded_points() const;
    std::uint8_t lap_count() const { return bytes[2]; }
    Stamp start_bytes() const;
    std::optional<DateTime> start() const { return from_stamp_order(start_bytes()); }
};

using LapRecord = std::array<std::uint8_t, kLapRecordSize>;

struct Session {
    Stamp stamp_a_bytes{};
    Stamp stamp_b_bytes{};
    std::optional<DateTime> stamp_a;  // absent when the watch holds no valid stamp
    std::optional<DateTime> stamp_b;
    SessionHeader header;
    std::vector<LapRecord> laps;
    bool has_track = false;  // delivered as 0x2008
    std::vector<TrackPoint> points;
};

enum class SessionBlockKind { kWithoutTrack, kWithTrack, kEither };

// A 0x2007 (kWithoutTrack) or 0x2008 (kWithTrack) block; kEither tells them
// apart by their sizes, which never coincide for the same lap count.
Result<Session> parse_session_block(Bytes block, SessionBlockKind kind = SessionBlockKind::kEither);

// The 0x2009 block: the session headers in delivery order.
struct Summary {
    std::vector<SessionHeader> headers;
};
Result<Summary> parse_summary_block(Bytes block);

// Who a session is, whatever the host's time zone: the SHA-256 of the two
// reference stamps and the header as the watch delivers them (block bytes
// 0 .. 59), as 64 lowercase hex digits.
std::string session_identity(const Session& session);
std::string sha256_hex(Bytes bytes);

// ---- Paths (0x2002) ---------------------------------------------------------

constexpr std::size_t kPathCount = 10;
constexpr std::size_t kMaxWaypoints = 99;
constexpr std::size_t kMaxPathName = 32;      // characters: the wider of the watch's two widths
constexpr std::size_t kMaxWaypointName = 10;  // characters
constexpr std::size_t kHostWaypointSize = 34;

struct PathWaypoint {
    std::uint32_t word1 = 0;  // the two coordinate words, as the watch keeps them
    std::uint32_t word2 = 0;
    std::array<std::uint8_t, 6> attributes{};
    std::string name;  // UTF-8
    friend bool operator==(const PathWaypoint&, const PathWaypoint&) = default;
};

struct WatchPath {
    unsigned index = 0;  // 0 .. 9
    std::string name;    // UTF-8
    std::vector<PathWaypoint> waypoints;
    friend bool operator==(const WatchPath&, const WatchPath&) = default;
};

Result<WatchPath> parse_path_block(Bytes block);

// The 34-byte host waypoint SetPaths and SetPaths_Ex take (the name as
// UTF-16LE, zero-padded, no terminator at 10 characters; a longer name is cut).
using HostWaypointBlock = std::array<std::uint8_t, kHostWaypointSize>;
HostWaypointBlock make_host_waypoint(const PathWaypoint& waypoint);

// ---- Settings (0x2012) ------------------------------------------------------

constexpr std::size_t kSettingsRecordSize = 96;

// The A-GPS data's expiry as the watch keeps it: year - 2000, month, day; all
// three 0xFF while the watch was given no date.
struct AgpsExpiry {
    std::array<std::uint8_t, 3> bytes{0xFF, 0xFF, 0xFF};

    bool unknown() const { return bytes[0] == 0xFF && bytes[1] == 0xFF && bytes[2] == 0xFF; }
    // The date; nothing when unknown or when the bytes are no date.
    std::optional<CalendarDate> date() const;
    friend bool operator==(const AgpsExpiry&, const AgpsExpiry&) = default;
};

// The 96-byte settings record, field by field. The watch's own names: F for a
// flag, B for a byte, W for a word, each with the settings byte it lives in.
// Which fields SetSetting takes back is noted; the others are only reported.
struct SettingsRecord {
    std::uint8_t f94_or_f12d = 0;       // extended watches: F94 (0 .. 3); others: F12d. Written.
    std::uint8_t f12d = 0;              // extended watches only. Written.
    std::uint32_t f2 = 0;               // 0 or 1. Written.
    std::array<std::uint8_t, 2> w10{};  // Written.
    std::uint32_t f5 = 0;               // 0 or 1. Written.
    std::uint8_t b6 = 0;                // Written.
    std::uint8_t b7 = 0;                // Written.
    std::uint8_t b8 = 0;                // Written.
    std::string version_code_text;      // the firmware code, settings bytes 104 .. 111
    std::string version_text;           // the version numbers, settings bytes 96 .. 102
    AgpsExpiry agps_expiry;             // settings bytes 114, 113, 112
    float used_space_percent = 0;       // of the workout sectors
    std::string identity;               // the watch's identity text, 12 characters
    std::uint8_t b93 = 0;               // Written.
    std::uint8_t b3 = 0;                // Written.
    std::uint8_t f12a = 0;              // Written.
    std::uint8_t b17 = 0;               // Written.
    std::array<std::uint8_t, 8> b18_b25{};  // Written.
    friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

Result<SettingsRecord> parse_settings_block(Bytes block);
// The 96 bytes SetSetting takes (texts cut to their fields, the unnamed bytes 0).
using SettingsBlock = std::array<std::uint8_t, kSettingsRecordSize>;
SettingsBlock make_settings_block(const SettingsRecord& record);

// ---- Views (0x2010) ---------------------------------------------------------

constexpr std::size_t kViewsRecordSize = 145;
constexpr std::size_t kViewCount = 5;
constexpr std::size_t kViewRecordSize = 9;
constexpr std::size_t kMaxViewName = 10;  // characters

struct View {
    std::array<std::uint8_t, kViewRecordSize> record{};  // as the watch keeps it
    std::string name;                                    // UTF-8
    friend bool operator==(const View&, const View&) = default;
};

struct ViewsRecord {
    std::array<View, kViewCount> views;
    friend bool operator==(const ViewsRecord&, const ViewsRecord&) = default;
};

Result<ViewsRecord> parse_views_block(Bytes block);
// The 145 bytes SetViews takes (names cut to 10 characters).
using ViewsBlock = std::array<std::uint8_t, kViewsRecordSize>;
ViewsBlock make_views_block(const ViewsRecord& record);

// ---- Versions (0x2000, 0x2001, 0x2016) -------------------------------------

// The library's version text, such as "SDK73688,2.0.11.260".
struct SdkVersion {
    std::string text;
    std::string product;  // before the comma: SDK73688
    std::string version;  // after it: 2.0.11.260
};
Result<SdkVersion> parse_sdk_version_block(Bytes block);

// The watch's version text, posted at the start of every task: "Ver1.30", or
// the numbers of a numeric reply ("1.21"), or "0.0".
struct WatchVersion {
    std::string text;
    // The firmware version number the text names ("Ver" and a number, or a
    // number); nothing for any other text.
    std::optional<double> number;
};
Result<WatchVersion> parse_watch_version_block(Bytes block);

// Dotted numbers, an underscore, the firmware code: 1.31.02_VUNA0_00.
struct FirmwareVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
    std::string code;  // everything after the first underscore
};

// The long version text from the watch's flash (at most 16 characters).
struct LongVersion {
    std::string text;
    bool erased = false;  // the flash holds none: the text is "<FF>"
    // Nothing when the text has no underscore.
    std::optional<FirmwareVersion> firmware;
};
Result<LongVersion> parse_long_version_block(Bytes block);

// ---- Port list (0x2015) -----------------------------------------------------

struct PortList {
    std::vector<std::string> names;  // "COM3", in the SDK's order (sorted as text)
};
Result<PortList> parse_port_list_block(Bytes block);

// ---- Flash sector (0x2021) --------------------------------------------------

constexpr std::size_t kSectorSize = 4096;

struct FlashSector {
    std::array<std::uint8_t, kSectorSize> bytes{};
};
Result<FlashSector> parse_sector_block(Bytes block);

// ---- Progress (0x2022, 0x2023) and the A-GPS result (0x2018) ----------------

// The task's overall progress.
struct Progress {
    float percent = 0;  // 0 .. 100
};
Result<Progress> parse_progress_block(Bytes block);

// What a phase progress block counts.
constexpr std::uint32_t kPhaseFileDownload = 0;  // a download of any other task
constexpr std::uint32_t kPhaseAgpsDownload = 1;
constexpr std::uint32_t kPhaseAgpsTransfer = 2;  // the A-GPS data written to the watch
constexpr std::uint32_t kPhaseFirmwareDownload = 3;
constexpr std::uint32_t kPhaseFirmwareTransfer = 4;  // the firmware written to the watch

struct PhaseProgress {
    std::uint32_t phase = 0;  // kPhase...
    float percent = 0;        // 0 .. 100
};
Result<PhaseProgress> parse_phase_progress_block(Bytes block);

// The date the newly loaded A-GPS data expires (unknown() when the server gave
// no issue date).
Result<AgpsExpiry> parse_agps_loaded_block(Bytes block);

// ---- Any result block ------------------------------------------------------

using Record =
    std::variant<SdkVersion, WatchVersion, WatchPath, Session, Summary, ViewsRecord, SettingsRecord,
                 PortList, LongVersion, AgpsExpiry, FlashSector, Progress, PhaseProgress>;

// The block of the result notification `code` (wParam) read with the reader
// for that code. An error for a code that carries no block.
Result<Record> parse_result_block(std::uint32_t code, Bytes block);
// Whether the result notification `code` carries a block.
bool carries_block(std::uint32_t code);

}  // namespace stridelog::hostkit
