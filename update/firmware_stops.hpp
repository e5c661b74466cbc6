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
    transfer_failed,            // a read the flash transfer refused to start
    program_update_unanswered,  // the watch never acknowledged ProgramUpdate
    download_failed,            // a file of the update could not be fetched
    download_timed_out,         // a download outlasted the host's time limit
    offer_missing,              // key "0" of "Method1" missing or empty
    offer_without_size,         // key "0" without a comma (found after the question)
    not_newer,                  // other major, other family, family 2, or not higher
    unknown_version,            // the watch's version text cannot be read as a version
    not_firmware_file,          // the offered file's extension is not "fw2"
    unsafe_description_name,    // the watch's code would lead out of the download folder
    unsafe_offered_name,        // the firmware or history name would do so
    user_declined,              // the user answered other than Yes
    updated,                    // the new firmware is in and the user's settings restored
    image_rejected,             // the firmware file failed its size, header or checksum check
};

struct FirmwareStopRow {
    FirmwareStop stop;
    bool error;                   // posted as an error (else as a result)
    std::uint32_t code;           // 0: nothing is posted
    bool full_bar_first = false;  // progress 100 goes before the code
};

inline constexpr std::array<FirmwareStopRow, 14> kFirmwareStops{{
    {FirmwareStop::transfer_failed, true, SDK_ERR_TRANSFER},
    {FirmwareStop::program_update_unanswered, true, SDK_ERR_TRANSFER, true},
    {FirmwareStop::download_failed, true, SDK_ERR_DOWNLOAD},
    {FirmwareStop::download_timed_out, true, SDK_ERR_DOWNLOAD_TIMEOUT, true},
    {FirmwareStop::offer_missing, true, SDK_ERR_FIRMWARE_INFO},
    {FirmwareStop::offer_without_size, true, SDK_ERR_FIRMWARE_INFO},
    {FirmwareStop::not_newer, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::unknown_version, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::not_firmware_file, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::unsafe_description_name, false, SDK_MSG_FIRMWARE_CURRENT},
    {FirmwareStop::unsafe_offered_name, true, SDK_ERR_FIRMWARE_INFO},
    {FirmwareStop::user_declined, false, 0},
    {FirmwareStop::updated, false, SDK_MSG_FIRMWARE_UPDATED},
    {FirmwareStop::image_rejected, true, SDK_ERR_FIRMWARE_IMAGE},
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
