// Every way the firmware update ends, and what the host is told. The update
// leaves through one function that posts the row's notification and ends the
// task; the ends it does not choose (the Cancel button, a transfer time-out,
// a bad reply) come through the task end.
//
// Threads: constant data, any thread.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "stridelog/stridelog.h"

namespace stridelog::update {

enum class FirmwareStop {
    kTransferFailed,           // a read the flash transfer refused to start
    kProgramUpdateUnanswered,  // the watch never acknowledged ProgramUpdate
    kDownloadFailed,           // a file of the update could not be fetched
    kDownloadTimedOut,         // a download outlasted the host's time limit
    kOfferMissing,             // key "0" of "Method1" missing or empty
    kOfferWithoutSize,         // key "0" without a comma (found after the question)
    kNotNewer,                 // other major, other family, family 2, or not higher
    kUnknownVersion,           // the watch's version text cannot be read as a version
    kNotFirmwareFile,          // the offered file's extension is not "fw2"
    kUnsafeDescriptionName,    // the watch's code would lead out of the download folder
    kUnsafeOfferedName,        // the firmware or history name would do so
    kUserDeclined,             // the user answered other than Yes
    kUpdated,                  // the new firmware is in and the user's settings restored
    kImageRejected,            // the firmware file failed its size, header or checksum check
};

struct FirmwareStopRow {
    FirmwareStop stop;
    bool error;                   // posted as an error (else as a result)
    std::uint32_t code;           // 0: nothing is posted
    bool full_bar_first = false;  // progress 100 goes before the code
};

inline constexpr std::array<FirmwareStopRow, 14> kFirmwareStops{{
    {FirmwareStop::kTransferFailed, true, SDK_ERR_TRANSFER},
    {FirmwareStop::kProgramUpdateUnanswered, true, SDK_ERR_TRANSFER, true},
    {FirmwareStop::kDownloadFailed, true, SDK_ERR_DOWNLOAD},
    {FirmwareStop::kDownloadTimedOut, true, SDK_ERR_DOWNLOAD_TIMEOUT, true},
    {FirmwareStop::kOfferMissing, true, SDK_ERR_FIRMWARE_INFO},
    {FirmwareStop::kOfferWithoutSize, true, SDK_ERR_FIRMWARE_INFO},
    {FirmwareStop::kNotNewer, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::kUnknownVersion, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::kNotFirmwareFile, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::kUnsafeDescriptionName, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::kUnsafeOfferedName, true, SDK_ERR_FIRMWARE_INFO},
    {FirmwareStop::kUserDeclined, false, 0},
    {FirmwareStop::kUpdated, false, SDK_MSG_FIRMWARE_UPDATED},
    {FirmwareStop::kImageRejected, true, SDK_ERR_FIRMWARE_IMAGE},
}};

// The row of `stop` (every value has one, in the enumeration's order).
constexpr const FirmwareStopRow& firmware_stop_row(FirmwareStop stop) {
    return kFirmwareStops[static_cast<std::size_t>(stop)];
}

static_assert(std::ranges::all_of(kFirmwareStops,
                                  [](const FirmwareStopRow& row) {
                                      return &firmware_stop_row(row.stop) == &row;
                                  }),
              "one row per way to stop, in the enumeration's order");

}  // namespace stridelog::update
