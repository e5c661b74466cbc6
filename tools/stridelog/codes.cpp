#include "codes.hpp"

#include <iterator>

namespace stridelog_tool {
namespace {

struct Entry {
    UINT code;
    CodeInfo info;
};

constexpr Entry kErrors[] = {
    {SDK_ERR_NO_PORT,
     {"SDK_ERR_NO_PORT",
      "no serial port of the watch's cable exists, or the port list holds no usable port"}},
    {SDK_ERR_PORT_OPEN,
     {"SDK_ERR_PORT_OPEN",
      "the COM port exists but cannot be opened (also when another task holds it)"}},
    {SDK_ERR_NO_ANSWER,
     {"SDK_ERR_NO_ANSWER", "no version reply from the watch on any port after the retries"}},
    {SDK_ERR_PATH_COUNT,
     {"SDK_ERR_PATH_COUNT", "SetPaths was not given exactly 10 paths and 10 names"}},
    {SDK_ERR_TRANSFER,
     {"SDK_ERR_TRANSFER",
      "a watch command was not answered in time or answered wrongly during a read or write"}},
    {SDK_ERR_OLD_FIRMWARE,
     {"SDK_ERR_OLD_FIRMWARE",
      "the firmware version number read from the watch's version text is below 1.2"}},
    {SDK_ERR_NO_SESSION,
     {"SDK_ERR_NO_SESSION", "a selected workout session does not exist on the watch"}},
    {SDK_ERR_AGPS_REFUSED,
     {"SDK_ERR_AGPS_REFUSED", "the watch's status flag is 0, so A-GPS data cannot be loaded"}},
    {SDK_ERR_DOWNLOAD, {"SDK_ERR_DOWNLOAD", "the FTP download failed"}},
    {SDK_ERR_AGPS_FILE,
     {"SDK_ERR_AGPS_FILE",
      "the downloaded A-GPS orbit file, or the packet file made from it, cannot be opened"}},
    {SDK_ERR_AGPS_PACKET_FILE,
     {"SDK_ERR_AGPS_PACKET_FILE", "the A-GPS packet file cannot be created"}},
    {SDK_ERR_AGPS_SIZE,
     {"SDK_ERR_AGPS_SIZE",
      "the A-GPS orbit file does not have the expected length, or its packet stream is too long"}},
    {SDK_ERR_FIRMWARE_INFO,
     {"SDK_ERR_FIRMWARE_INFO",
      "the downloaded firmware description lacks the expected entry or is malformed"}},
    {SDK_ERR_FIRMWARE_IMAGE,
     {"SDK_ERR_FIRMWARE_IMAGE",
      "a downloaded firmware image file cannot be opened or fails its checks"}},
    {SDK_ERR_DOWNLOAD_TIMEOUT,
     {"SDK_ERR_DOWNLOAD_TIMEOUT",
      "the whole-download time limit given to AGPSDataUpdate or FirmwareUpdate has expired"}},
    {SDK_ERR_CLOCK_TIMEOUT,
     {"SDK_ERR_CLOCK_TIMEOUT", "the watch did not confirm the new date and time in time"}},
    {SDK_ERR_CLOCK_VALUE,
     {"SDK_ERR_CLOCK_VALUE",
      "the date and time given to SetDateTime is not a valid date in year 2000 or later"}},
};

constexpr Entry kResults[] = {
    {SDK_MSG_SDK_VERSION, {"SDK_MSG_SDK_VERSION", "library version"}},
    {SDK_MSG_WATCH_VERSION, {"SDK_MSG_WATCH_VERSION", "the watch's version text"}},
    {SDK_MSG_PATH, {"SDK_MSG_PATH", "one path"}},
    {SDK_MSG_NO_PATHS, {"SDK_MSG_NO_PATHS", "no path with waypoints"}},
    {SDK_MSG_PATHS_WRITTEN, {"SDK_MSG_PATHS_WRITTEN", "paths written"}},
    {SDK_MSG_NO_WORKOUTS, {"SDK_MSG_NO_WORKOUTS", "the watch holds no workout session"}},
    {SDK_MSG_WORKOUTS_DONE, {"SDK_MSG_WORKOUTS_DONE", "workout download finished"}},
    {SDK_MSG_SESSION, {"SDK_MSG_SESSION", "one session without track points"}},
    {SDK_MSG_SESSION_TRACK, {"SDK_MSG_SESSION_TRACK", "one session with its track points"}},
    {SDK_MSG_SUMMARY, {"SDK_MSG_SUMMARY", "workout summary"}},
    {SDK_MSG_VIEWS, {"SDK_MSG_VIEWS", "views record"}},
    {SDK_MSG_VIEWS_WRITTEN, {"SDK_MSG_VIEWS_WRITTEN", "views written"}},
    {SDK_MSG_SETTINGS, {"SDK_MSG_SETTINGS", "settings record"}},
    {SDK_MSG_SETTINGS_WRITTEN, {"SDK_MSG_SETTINGS_WRITTEN", "settings written"}},
    {SDK_MSG_WORKOUTS_CLEARED, {"SDK_MSG_WORKOUTS_CLEARED", "workout memory cleared"}},
    {SDK_MSG_PORT_LIST, {"SDK_MSG_PORT_LIST", "port list"}},
    {SDK_MSG_LONG_VERSION, {"SDK_MSG_LONG_VERSION", "the watch's long version text"}},
    {SDK_MSG_AGPS_CURRENT, {"SDK_MSG_AGPS_CURRENT", "the A-GPS data on the watch is still valid"}},
    {SDK_MSG_AGPS_LOADED, {"SDK_MSG_AGPS_LOADED", "A-GPS data loaded"}},
    {SDK_MSG_FIRMWARE_CURRENT, {"SDK_MSG_FIRMWARE_CURRENT", "no newer firmware exists"}},
    {SDK_MSG_FIRMWARE_UPDATED, {"SDK_MSG_FIRMWARE_UPDATED", "firmware update finished"}},
    {SDK_MSG_SECTOR, {"SDK_MSG_SECTOR", "flash sector"}},
    {SDK_MSG_PROGRESS, {"SDK_MSG_PROGRESS", "overall progress"}},
    {SDK_MSG_PHASE_PROGRESS, {"SDK_MSG_PHASE_PROGRESS", "phase progress"}},
    {SDK_MSG_CLOCK_SET, {"SDK_MSG_CLOCK_SET", "date and time set"}},
};

template <std::size_t N>
CodeInfo Find(const Entry (&table)[N], UINT code) {
    for (const auto& e : table)
        if (e.code == code) return e.info;
    return {"?", "unknown code"};
}

}  // namespace

CodeInfo ErrorInfo(UINT code) {
    return Find(kErrors, code);
}
CodeInfo ResultInfo(UINT code) {
    return Find(kResults, code);
}

}  // namespace stridelog_tool
