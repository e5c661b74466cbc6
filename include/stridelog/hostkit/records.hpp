/**
 * @file stridelog/hostkit/records.hpp
 * @brief The blocks the SDK posts with its result notifications, read into
 * typed records, and the records a host hands to the entry points, written as
 * the bytes they take.
 *
 * Pure functions over bytes: every length is checked against the block before
 * it is used, so a short, long or inconsistent block is an Error naming what is
 * wrong, never a read past its end. Texts in the records are UTF-8. Times are
 * the watch's local time, without zone; LocalTime (exporters.hpp) turns them
 * into UTC.
 *
 * @par Threads
 * No shared state; any thread may call anything here.
 */
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

/// The bytes of a block, borrowed: valid only while the block is.
using Bytes = std::span<const std::uint8_t>;

/**
 * @brief A notification block as the bytes it holds.
 *
 * The span borrows the block: read it before the block is freed with
 * Stridelog_FreeBlock().
 * @param block the notification's lParam; NULL gives an empty span
 * @param size Stridelog_BlockSize() of the block
 * @return the block's bytes
 */
inline Bytes block_bytes(const void* block, std::size_t size) {
    if (block == nullptr) return {};
    return {static_cast<const std::uint8_t*>(block), size};
}

/// @name Dates and times
/// @{

/// @brief A calendar date-time as the watch keeps it: local time, no zone.
struct DateTime {
    int year = 0;    ///< full year; 2000 .. 2255 when read from a block
    int month = 0;   ///< 1 .. 12
    int day = 0;     ///< 1 .. 31
    int hour = 0;    ///< 0 .. 23
    int minute = 0;  ///< 0 .. 60
    int second = 0;  ///< 0 .. 60
    /// @return true when every field is equal
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

/// @brief A calendar date (the A-GPS expiry).
struct CalendarDate {
    int year = 0;   ///< full year
    int month = 0;  ///< 1 .. 12
    int day = 0;    ///< 1 .. 31
    /// @return true when every field is equal
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

/// Six bytes of a time as they stand in a block, in stamp or point order.
using Stamp = std::array<std::uint8_t, 6>;

/**
 * @brief The watch's own calendar check.
 *
 * Month 1 .. 12, a day that month has (Gregorian leap years), hour 0 .. 23,
 * minute and second 0 .. 60 (the watch may write 60). The year is not checked.
 * @param time the date-time to check
 * @return true when the watch would accept it
 */
bool is_valid_date_time(const DateTime& time);

/**
 * @brief Reads a time in stamp order: second, minute, hour, day, month,
 * year - 2000 (the stamps of session blocks, the session header's start).
 * @param bytes the six bytes
 * @return the date-time; nothing when it is not valid by is_valid_date_time()
 *         (an erased stamp reads 0xFF throughout)
 */
std::optional<DateTime> from_stamp_order(const Stamp& bytes);

/**
 * @brief Reads a time in point order: year - 2000, month, day, hour, minute,
 * second (track points).
 * @param bytes the six bytes
 * @return the date-time; nothing when it is not valid by is_valid_date_time()
 */
std::optional<DateTime> from_point_order(const Stamp& bytes);
/// @}

/// @name Workout sessions (0x2007, 0x2008) and the summary (0x2009)
/// @{

/// Longitude of a point recorded without a fix.
constexpr std::int32_t kNoPosition = 2000000000;

/// Bytes of a session header.
constexpr std::size_t kSessionHeaderSize = 48;
/// Bytes of a lap record.
constexpr std::size_t kLapRecordSize = 16;
/// Bytes of a track point in a ::SDK_MSG_SESSION_TRACK block.
constexpr std::size_t kTrackPointSize = 25;

/// @brief One track point of a session, every byte of it kept.
struct TrackPoint {
    /// Header byte of the record that produced the point; low 4 bits: the record type.
    std::uint8_t record_header = 0;
    std::uint8_t record_byte1 = 0;  ///< byte 1 of that record (record types 0 and 1), else 0
    Stamp time_bytes{};             ///< the time in point order, as the block holds it
    std::optional<DateTime> time;   ///< time_bytes read; absent when no valid date-time
    std::int32_t longitude = 0;     ///< degrees x 10^7, east positive; kNoPosition: no fix
    std::int32_t latitude = 0;      ///< degrees x 10^7, north positive
    std::int16_t altitude = 0;      ///< as recorded; the exporters write it as metres
    std::uint16_t m1 = 0;           ///< measured value M1, in the watch's unit
    std::uint16_t m2 = 0;           ///< measured value M2, in the watch's unit
    std::uint16_t m3 = 0;           ///< measured value M3, in the watch's unit
    std::uint8_t m4 = 0;            ///< measured value M4, in the watch's unit

    /// @return the record type, 0 .. 3 (the low 4 bits of record_header)
    int record_type() const { return record_header & 0x0F; }
    /**
     * @brief Whether the point has a place to draw.
     *
     * A marker recorded before any position carries 0/0: no place either, and
     * drawing it would send the track to the Gulf of Guinea.
     * @return false for a longitude of kNoPosition and for 0/0
     */
    bool has_position() const {
        return longitude != kNoPosition && !(longitude == 0 && latitude == 0);
    }
};

/// @brief The 48 bytes the watch keeps about a session, passed on whole.
struct SessionHeader {
    /// The header as stored (session block bytes 12 .. 59).
    std::array<std::uint8_t, kSessionHeaderSize> bytes{};

    /// @return the uint16 at header byte 0: track points the watch recorded
    ///         (0: none; may differ from the points decoded)
    std::uint16_t recorded_points() const;
    /// @return header byte 2: the number of lap records
    std::uint8_t lap_count() const { return bytes[2]; }
    /// @return header bytes 3 .. 8: the start time in stamp order
    Stamp start_bytes() const;
    /// @return the start time (the watch's local time); nothing when start_bytes()
    ///         are no valid date-time
    std::optional<DateTime> start() const { return from_stamp_order(start_bytes()); }
};

/// One lap record, 16 bytes as the watch stores it.
using LapRecord = std::array<std::uint8_t, kLapRecordSize>;

/// @brief One workout session: a ::SDK_MSG_SESSION or ::SDK_MSG_SESSION_TRACK block.
struct Session {
    /// Reference stamp A in stamp order, as stored (0xFF bytes when erased).
    Stamp stamp_a_bytes{};
    Stamp stamp_b_bytes{};            ///< reference stamp B in stamp order, as stored
    std::optional<DateTime> stamp_a;  ///< stamp A read; absent when the watch holds no valid stamp
    std::optional<DateTime> stamp_b;  ///< stamp B read; absent when the watch holds no valid stamp
    SessionHeader header;             ///< the session header
    std::vector<LapRecord> laps;      ///< header.lap_count() lap records, in stored order
    bool has_track = false;           ///< true when delivered as 0x2008, with track points
    std::vector<TrackPoint> points;   ///< the track points in recorded order; empty without track
};

/// @brief Which session block parse_session_block() expects.
enum class SessionBlockKind {
    without_track,  ///< a ::SDK_MSG_SESSION block (0x2007): stamps, header, laps
    with_track,     ///< a ::SDK_MSG_SESSION_TRACK block (0x2008): those, then the points
    either          ///< told apart by size: exactly 60 + 16 x laps bytes is one without track
};

/**
 * @brief Reads a session block.
 *
 * Without track the block is 60 + 16 L bytes, with track 64 + 16 L + 25 N
 * (L laps from the header, N points from the uint32 after the laps); the two
 * sizes never coincide for the same lap count.
 * @param block the block's bytes
 * @param kind the block expected; either tells them apart by size
 * @return the session; an Error when the block is shorter than 60 bytes,
 *         cannot hold its laps, ends before its point count, or is not
 *         exactly the size its laps and points make
 */
Result<Session> parse_session_block(Bytes block, SessionBlockKind kind = SessionBlockKind::either);

/// @brief The ::SDK_MSG_SUMMARY block (0x2009): the session headers, without laps or points.
struct Summary {
    std::vector<SessionHeader> headers;  ///< one per session, in delivery order
};

/**
 * @brief Reads a summary block: a uint32 count, then that many 48-byte headers.
 * @param block the block's bytes
 * @return the summary; an Error when the block has no count or is not exactly
 *         4 + 48 x count bytes
 */
Result<Summary> parse_summary_block(Bytes block);

/**
 * @brief Who a session is, whatever the host's time zone.
 *
 * The SHA-256 of the two reference stamps and the header as the watch
 * delivers them (block bytes 0 .. 59): the same session downloaded again gives
 * the same identity; laps and points do not count.
 * @param session the session
 * @return 64 lowercase hexadecimal digits
 */
std::string session_identity(const Session& session);

/**
 * @brief SHA-256 of some bytes.
 * @param bytes the bytes to hash
 * @return the digest as 64 lowercase hexadecimal digits
 */
std::string sha256_hex(Bytes bytes);
/// @}

/// @name Paths (0x2002)
/// @{

/// Paths (routes) the watch stores, with indices 0 .. 9.
constexpr std::size_t kPathCount = 10;
/// Waypoints one path holds at most.
constexpr std::size_t kMaxWaypoints = 99;
/// Characters of a path name at most: the wider of the watch's two widths.
constexpr std::size_t kMaxPathName = 32;
/// Characters of a waypoint name at most.
constexpr std::size_t kMaxWaypointName = 10;
/// Bytes of one host waypoint, in a path block and in what SetPaths() takes.
constexpr std::size_t kHostWaypointSize = 34;

/// @brief One waypoint of a path.
struct PathWaypoint {
    std::uint32_t word1 = 0;                   ///< first coordinate word, as the watch keeps it
    std::uint32_t word2 = 0;                   ///< second coordinate word, as the watch keeps it
    std::array<std::uint8_t, 6> attributes{};  ///< attribute bytes, as the watch keeps them
    std::string name;                          ///< UTF-8, at most kMaxWaypointName characters
    /// @return true when every field is equal
    friend bool operator==(const PathWaypoint&, const PathWaypoint&) = default;
};

/// @brief One path (route) of the watch: a ::SDK_MSG_PATH block.
struct WatchPath {
    unsigned index = 0;                   ///< 0 .. 9
    std::string name;                     ///< UTF-8, at most kMaxPathName characters
    std::vector<PathWaypoint> waypoints;  ///< in path order, at most kMaxWaypoints
    /// @return true when every field is equal
    friend bool operator==(const WatchPath&, const WatchPath&) = default;
};

/**
 * @brief Reads a path block.
 *
 * Layout: byte 0 the index, byte 1 the name's length n in bytes, n bytes of
 * UTF-16LE name, one byte of waypoint count k, then k host waypoints of 34
 * bytes (see make_host_waypoint()).
 * @param block the block's bytes
 * @return the path; an Error when the block is shorter than 3 bytes, n is odd,
 *         over 64 or past the end, the index is over 9, k is over 99, or the
 *         block is not exactly 3 + n + 34 k bytes
 */
Result<WatchPath> parse_path_block(Bytes block);

/// The 34 bytes of one host waypoint.
using HostWaypointBlock = std::array<std::uint8_t, kHostWaypointSize>;

/**
 * @brief Writes a waypoint as the 34-byte host waypoint SetPaths() and
 * SetPaths_Ex() take.
 *
 * Bytes 0 and 4: word1 and word2 (uint32); 8 .. 13: the attributes; 14 .. 33:
 * the name as UTF-16LE, zero-padded, without terminator at 10 units. A longer
 * name is cut after 10 units; check names with first_unstorable_character().
 * @param waypoint the waypoint
 * @return its 34 bytes
 */
HostWaypointBlock make_host_waypoint(const PathWaypoint& waypoint);
/// @}

/// @name Settings (0x2012)
/// @{

/// Bytes of the settings record (STRIDELOG_SETTINGS_SIZE).
constexpr std::size_t kSettingsRecordSize = 96;

/// @brief The A-GPS data's expiry as the watch keeps it: year - 2000, month, day;
/// all three 0xFF while the watch was given no date.
struct AgpsExpiry {
    std::array<std::uint8_t, 3> bytes{0xFF, 0xFF, 0xFF};  ///< year - 2000, month, day

    /// @return true when all three bytes are 0xFF: the watch holds no date
    bool unknown() const { return bytes[0] == 0xFF && bytes[1] == 0xFF && bytes[2] == 0xFF; }
    /// @return the date; nothing when unknown(), when any byte is 0xFF, or when
    ///         the bytes are no valid date
    std::optional<CalendarDate> date() const;
    /// @return true when the bytes are equal
    friend bool operator==(const AgpsExpiry&, const AgpsExpiry&) = default;
};

/**
 * @brief The 96-byte settings record, field by field.
 *
 * The watch's own names: F for a flag, B for a byte, W for a word, each with
 * the settings byte it lives in. Each field notes its offset in the record;
 * "Written" marks the fields SetSetting() takes back, the others are only
 * reported. Bytes 31, 32, 47 .. 50, 82 and 83 are not kept.
 */
struct SettingsRecord {
    /// Byte 0. Extended watches: F94 (0 .. 3); others: F12d. Written.
    std::uint8_t f94_or_f12d = 0;
    std::uint8_t f12d = 0;              ///< byte 1. F12d, extended watches only. Written.
    std::uint32_t f2 = 0;               ///< bytes 2 .. 5, uint32. F2, 0 or 1. Written.
    std::array<std::uint8_t, 2> w10{};  ///< bytes 6, 7. W10. Written.
    std::uint32_t f5 = 0;               ///< bytes 8 .. 11, uint32. F5, 0 or 1. Written.
    std::uint8_t b6 = 0;                ///< byte 12. B6. Written.
    std::uint8_t b7 = 0;                ///< byte 13. B7. Written.
    std::uint8_t b8 = 0;                ///< byte 14. B8. Written.
    /// Bytes 15 .. 30, UTF-16LE: the firmware code (settings bytes 104 .. 111).
    std::string version_code_text;
    /// Bytes 33 .. 46, UTF-16LE: the version numbers (settings bytes 96 .. 102).
    std::string version_text;
    /// Bytes 51 .. 53: the A-GPS expiry (settings bytes 114, 113, 112).
    AgpsExpiry agps_expiry;
    /// Bytes 54 .. 57, float: the used share of the workout sectors, in percent.
    float used_space_percent = 0;
    /// Bytes 58 .. 81, UTF-16LE: the watch's identity text, 12 characters.
    std::string identity;
    std::uint8_t b93 = 0;                   ///< byte 84. B93. Written.
    std::uint8_t b3 = 0;                    ///< byte 85. B3. Written.
    std::uint8_t f12a = 0;                  ///< byte 86. F12a. Written.
    std::uint8_t b17 = 0;                   ///< byte 87. B17. Written.
    std::array<std::uint8_t, 8> b18_b25{};  ///< bytes 88 .. 95. B18 .. B25. Written.
    /// @return true when every field is equal
    friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

/**
 * @brief Reads the ::SDK_MSG_SETTINGS block.
 * @param block the block's bytes
 * @return the record; an Error when the block is not 96 bytes
 */
Result<SettingsRecord> parse_settings_block(Bytes block);

/// The 96 bytes of a settings record.
using SettingsBlock = std::array<std::uint8_t, kSettingsRecordSize>;

/**
 * @brief Writes a settings record as the 96 bytes SetSetting() takes.
 *
 * Every field is written at its offset; texts are cut to their fields at a
 * character's end and zero-padded; the bytes no field names are 0.
 * @param record the record
 * @return its 96 bytes
 */
SettingsBlock make_settings_block(const SettingsRecord& record);
/// @}

/// @name Views (0x2010)
/// @{

/// Bytes of the views record (STRIDELOG_VIEWS_SIZE).
constexpr std::size_t kViewsRecordSize = 145;
/// Views in the record.
constexpr std::size_t kViewCount = 5;
/// Bytes of one view's record.
constexpr std::size_t kViewRecordSize = 9;
/// Characters of a view name at most.
constexpr std::size_t kMaxViewName = 10;

/// @brief One view (a screen of the watch).
struct View {
    /// The view's 9 bytes as the watch keeps them.
    std::array<std::uint8_t, kViewRecordSize> record{};
    std::string name;  ///< UTF-8, at most kMaxViewName characters
    /// @return true when every field is equal
    friend bool operator==(const View&, const View&) = default;
};

/// @brief The 145-byte views record: five 9-byte view records, then five
/// 20-byte UTF-16LE names, zero-padded.
struct ViewsRecord {
    std::array<View, kViewCount> views;  ///< the five views, in record order
    /// @return true when every view is equal
    friend bool operator==(const ViewsRecord&, const ViewsRecord&) = default;
};

/**
 * @brief Reads the ::SDK_MSG_VIEWS block.
 * @param block the block's bytes
 * @return the record; an Error when the block is not 145 bytes
 */
Result<ViewsRecord> parse_views_block(Bytes block);

/// The 145 bytes of a views record.
using ViewsBlock = std::array<std::uint8_t, kViewsRecordSize>;

/**
 * @brief Writes a views record as the 145 bytes SetViews() takes.
 * @param record the record; names longer than 10 UTF-16 units are cut at a
 *        character's end
 * @return its 145 bytes
 */
ViewsBlock make_views_block(const ViewsRecord& record);
/// @}

/// @name Versions (0x2000, 0x2001, 0x2016)
/// @{

/// @brief The library's version text, such as "SDK73688,2.0.11.260".
struct SdkVersion {
    std::string text;     ///< the whole text
    std::string product;  ///< before the comma: SDK73688
    std::string version;  ///< after it: 2.0.11.260
};

/**
 * @brief Reads the ::SDK_MSG_SDK_VERSION block.
 * @param block the block's bytes: ASCII without NUL
 * @return the version; an Error when the block is empty, longer than 64 bytes,
 *         holds a NUL, or is not two non-empty parts around one comma
 */
Result<SdkVersion> parse_sdk_version_block(Bytes block);

/// @brief The watch's version text, posted at the start of every task: "Ver1.30",
/// or the numbers of a numeric reply ("1.21"), or "0.0".
struct WatchVersion {
    std::string text;  ///< the text as posted
    /// The firmware version number the text names: after "Ver" (anything may
    /// follow it: "Ver1.30 beta" names 1.30), or a text that is a number and
    /// nothing else; nothing for any other text.
    std::optional<double> number;
};

/**
 * @brief Reads the ::SDK_MSG_WATCH_VERSION block.
 * @param block the block's bytes: ASCII without NUL
 * @return the version; an Error when the block is empty, longer than 199
 *         bytes, or holds a NUL
 */
Result<WatchVersion> parse_watch_version_block(Bytes block);

/// @brief Dotted numbers, an underscore, the firmware code: 1.31.02_VUNA0_00.
struct FirmwareVersion {
    int major = 0;     ///< leading digits of the first dotted part (0 when none)
    int minor = 0;     ///< of the second part (0 when none or missing)
    int patch = 0;     ///< of the third part (0 when none or missing)
    std::string code;  ///< everything after the first underscore: VUNA0_00
};

/// @brief The long version text from the watch's flash (at most 16 characters).
struct LongVersion {
    std::string text;     ///< the text as posted
    bool erased = false;  ///< the flash holds none: the text is "<FF>"
    /// The text read as a firmware version; nothing when erased or when the
    /// text has no underscore.
    std::optional<FirmwareVersion> firmware;
};

/**
 * @brief Reads the ::SDK_MSG_LONG_VERSION block.
 * @param block the block's bytes: ASCII without NUL
 * @return the version; an Error when the block is empty, longer than 16 bytes,
 *         or holds a NUL
 */
Result<LongVersion> parse_long_version_block(Bytes block);
/// @}

/// @name Port list (0x2015)
/// @{

/// @brief The serial ports of the watch's cable.
struct PortList {
    std::vector<std::string> names;  ///< such as "COM3", in the order tasks try them
};

/**
 * @brief Reads the ::SDK_MSG_PORT_LIST block: a uint32 count, then that many
 * UTF-16LE names, each ended by a 16-bit 0.
 * @param block the block's bytes
 * @return the list (possibly empty); an Error when the block has no count,
 *         a name runs past its end, or bytes follow the last name
 */
Result<PortList> parse_port_list_block(Bytes block);
/// @}

/// @name Flash sector (0x2021)
/// @{

/// Bytes of a flash sector.
constexpr std::size_t kSectorSize = 4096;

/// @brief One flash sector read with ReadFlashSector().
struct FlashSector {
    std::array<std::uint8_t, kSectorSize> bytes{};  ///< the sector's bytes
};

/**
 * @brief Reads the ::SDK_MSG_SECTOR block.
 * @param block the block's bytes
 * @return the sector; an Error when the block is not 4096 bytes
 */
Result<FlashSector> parse_sector_block(Bytes block);
/// @}

/// @name Progress (0x2022, 0x2023) and the A-GPS result (0x2018)
/// @{

/// @brief The task's overall progress (::SDK_MSG_PROGRESS).
struct Progress {
    float percent = 0;  ///< 0 .. 100
};

/**
 * @brief Reads the ::SDK_MSG_PROGRESS block: one float.
 * @param block the block's bytes
 * @return the progress; an Error when the block is not 4 bytes or the percent
 *         is not a number from 0 to 100
 */
Result<Progress> parse_progress_block(Bytes block);

constexpr std::uint32_t kPhaseFileDownload = 0;      ///< phase: a download of any other task
constexpr std::uint32_t kPhaseAgpsDownload = 1;      ///< phase: the A-GPS file downloaded
constexpr std::uint32_t kPhaseAgpsTransfer = 2;      ///< phase: the A-GPS data written to the watch
constexpr std::uint32_t kPhaseFirmwareDownload = 3;  ///< phase: the firmware files downloaded
constexpr std::uint32_t kPhaseFirmwareTransfer = 4;  ///< phase: the firmware written to the watch

/// @brief Progress of one phase of a task (::SDK_MSG_PHASE_PROGRESS).
struct PhaseProgress {
    std::uint32_t phase = 0;  ///< what is counted: kPhaseFileDownload .. kPhaseFirmwareTransfer
    float percent = 0;        ///< 0 .. 100
};

/**
 * @brief Reads the ::SDK_MSG_PHASE_PROGRESS block: uint32 phase, float percent.
 * @param block the block's bytes
 * @return the progress; an Error when the block is not 8 bytes, the phase is
 *         over 4, or the percent is not a number from 0 to 100
 */
Result<PhaseProgress> parse_phase_progress_block(Bytes block);

/**
 * @brief Reads the ::SDK_MSG_AGPS_LOADED block: the date the newly loaded A-GPS
 * data expires.
 * @param block the block's bytes: year - 2000, month, day
 * @return the expiry, unknown() when the server gave no issue date; an Error
 *         when the block is not 3 bytes or they are neither a date nor FF FF FF
 */
Result<AgpsExpiry> parse_agps_loaded_block(Bytes block);
/// @}

/// @name Any result block
/// @{

/// @brief The record of any result block; parse_result_block() picks the
/// alternative by the notification's code.
using Record =
    std::variant<SdkVersion, WatchVersion, WatchPath, Session, Summary, ViewsRecord, SettingsRecord,
                 PortList, LongVersion, AgpsExpiry, FlashSector, Progress, PhaseProgress>;

/**
 * @brief Reads the block of a result notification with the reader for its code.
 *
 * ::SDK_MSG_SESSION and ::SDK_MSG_SESSION_TRACK are read as
 * SessionBlockKind::without_track and SessionBlockKind::with_track.
 * @param code the notification's wParam, an `SDK_MSG_*` code
 * @param block the block's bytes
 * @return the record; the reader's Error for a bad block, and an Error for a
 *         code that carries no block (carries_block() is false)
 */
Result<Record> parse_result_block(std::uint32_t code, Bytes block);

/**
 * @brief Whether a result notification carries a block.
 * @param code the notification's wParam
 * @return true for the 14 codes whose lParam is a block the host must free
 */
bool carries_block(std::uint32_t code);
/// @}

}  // namespace stridelog::hostkit
