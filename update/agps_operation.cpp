#include "update/agps_operation.hpp"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "update/epo_packets.hpp"
#include "watchdata/settings_format.hpp"
#include "wire/message_ids.hpp"

namespace stridelog::update {
namespace {

constexpr std::uint32_t kDownloadPhase = 1;
constexpr std::uint32_t kWritePhase = 2;
constexpr int kBarSteps = 16;
constexpr std::uint32_t kResultPauseMs = 500;
constexpr std::size_t kExpiryDayByte = 112;
constexpr std::size_t kExpiryMonthByte = 113;
constexpr std::size_t kExpiryYearByte = 114;
constexpr int kYearBase = 2000;
constexpr std::size_t kSectorsBytes = std::size_t{kAgpsSectorCount} * task::kFlashSectorSize;
static_assert(kSectorsBytes >= kEpoStreamSize, "the packet stream fits the A-GPS sectors");

bool read_whole(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

AgpsOperation::AgpsOperation(task::TaskHost& host, FtpSettings settings, std::uint32_t limit_ms,
                             bool passive, std::filesystem::path folder)
    : Operation(host),
      settings_(std::move(settings)),
      limit_ms_(limit_ms),
      passive_(passive),
      folder_(std::move(folder)),
      download_(host, kDownloadPhase) {}

void AgpsOperation::prepare() {
    // The task window shows the rate display for the download tasks itself.
    host().append_log("UpdateAGPS()");
    host().set_caption("A-GPS");
}

void AgpsOperation::start() {
    host().show_rate_display(true);
    host().set_caption("A-GPS");
    host().set_status_text("Downloading ...");
    const task::WatchFacts& watch = host().watch();
    if (watch.status_flag == 0) {
        fail(SDK_ERR_AGPS_REFUSED);
        return;
    }
    if (watch.status_bytes[0] != 0 || watch.status_bytes[1] != 0) {
        host().append_log("AGPS data is up-to-date");
        host().post_result(SDK_MSG_AGPS_CURRENT);
        host().end_task();
        return;
    }
    decide();
}

void AgpsOperation::decide() {
    if (orbit_file_is_from_today(folder_, local_today())) {
        convert();
    } else {
        download();
    }
}

void AgpsOperation::download() {
    TaskDownload::Options options;
    options.rate_display = true;
    options.progress_posting = true;
    options.limit_ms = limit_ms_;
    options.passive = passive_;
    download_.start_list(settings_, {kDateFileName, kOrbitFileName}, options);
}

bool AgpsOperation::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (download_.OnMessage(message, wparam, lparam)) {
        case TaskDownload::Event::completed:
            convert();
            break;
        case TaskDownload::Event::failed:
            fail(SDK_ERR_DOWNLOAD);
            break;
        case TaskDownload::Event::none:
            break;
    }
    return true;
}

void AgpsOperation::convert() {
    std::vector<std::uint8_t> orbit;
    if (!read_whole(folder_ / kOrbitFileName, orbit)) {
        fail(SDK_ERR_AGPS_FILE);
        return;
    }
    std::ofstream packets(folder_ / kPacketFileName, std::ios::binary | std::ios::trunc);
    if (!packets) {
        fail(SDK_ERR_AGPS_PACKET_FILE);
        return;
    }
    if (orbit.size() != kOrbitFileSize) {
        fail(SDK_ERR_AGPS_SIZE);
        return;
    }
    const std::vector<std::uint8_t> stream = convert_orbit_file(orbit);
    packets.write(reinterpret_cast<const char*>(stream.data()),
                  static_cast<std::streamsize>(stream.size()));
    packets.close();
    if (!packets) {
        // A packet file that did not reach the disk whole is no packet file.
        fail(SDK_ERR_AGPS_PACKET_FILE);
        return;
    }
    host().append_log(std::string("Send ") + kOrbitFileName);
    load_and_write();
}

void AgpsOperation::load_and_write() {
    std::vector<std::uint8_t> stream;
    if (!read_whole(folder_ / kPacketFileName, stream)) {
        fail(SDK_ERR_AGPS_FILE);
        return;
    }
    if (stream.size() > kEpoStreamSize) {
        fail(SDK_ERR_AGPS_SIZE);
        return;
    }
    if (stream.size() != kEpoStreamSize) {
        // Cut short on the disk: writing it would leave old packets behind.
        fail(SDK_ERR_AGPS_FILE);
        return;
    }
    // The bytes past the stream read as erased flash.
    sectors_.assign(kSectorsBytes, 0xFF);
    std::copy(stream.begin(), stream.end(), sectors_.begin());
    host().set_status_text("Writing data ... ");
    host().show_rate_display(false);
    sector_index_ = 0;
    sector_ = kFirstAgpsSector;
    directory_written_ = false;
    host().set_progress_range(0, kBarSteps);
    host().set_progress_pos(0);
    host().set_progress_step(1);
    write_current_sector();
}

void AgpsOperation::write_current_sector() {
    char line[32];
    std::snprintf(line, sizeof line, "Write sector %u", static_cast<unsigned>(sector_));
    host().append_log(line);
    const std::size_t at = std::size_t{sector_index_} * task::kFlashSectorSize;
    host().transfer().write_sector(
        sector_ * task::kFlashSectorSize,
        std::span<const std::uint8_t>(sectors_).subspan(at, task::kFlashSectorSize),
        task::kAgpsSectorWriteStep);
}

void AgpsOperation::on_write_complete(int step_code) {
    if (step_code == task::kAgpsSectorWriteStep) {
        ++sector_;
        if (sector_ == kFirstAgpsSector + kAgpsSectorCount) {
            if (!host().transfer().read_directory()) fail(SDK_ERR_TRANSFER);
            return;
        }
        ++sector_index_;
        write_current_sector();
        host().step_progress();
        host().post_phase_progress(kWritePhase);
        return;
    }
    if (step_code != task::kDirectoryWriteStep) return;
    host().fill_progress();
    char line[64];
    std::snprintf(line, sizeof line, "Write Expired date %04d-%02d-%02d", expiry_.year + kYearBase,
                  expiry_.month, expiry_.day);
    host().append_log(line);
    awaiting_expiry_reply_ = true;
    host().set_timer(task::kExpiryReplyTimer, kExpiryReplyTimeoutMs);
    if (link::CWatchLink* link = host().link())
        link->SetExpiryDate(expiry_.year + kYearBase, expiry_.month, expiry_.day);
}

void AgpsOperation::on_read_complete(int step_code) {
    if (step_code != task::kDirectoryStep || directory_written_) return;
    host().step_progress();
    host().post_phase_progress(kWritePhase);
    expiry_ = read_expiry_date(folder_, local_today());
    std::span<std::uint8_t> directory = host().transfer().directory();
    directory[kExpiryDayByte] = expiry_.day;
    directory[kExpiryMonthByte] = expiry_.month;
    directory[kExpiryYearByte] = expiry_.year;
    directory_written_ = true;
    watchdata::write_settings_checksum(
        directory, watchdata::settings_checksum_length(host().watch().firmware_version));
    host().transfer().write_sector(0, directory, task::kDirectoryWriteStep);
}

void AgpsOperation::on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) {
    (void)status;
    if (reply_id != wire::watch_id::kSetExpiryDateReply || !awaiting_expiry_reply_) return;
    awaiting_expiry_reply_ = false;
    host().kill_timer(task::kExpiryReplyTimer);
    host().query_status();
}

void AgpsOperation::on_status_reply() {
    const task::WatchFacts& watch = host().watch();
    if (watch.status_bytes[0] == 0 && watch.status_bytes[1] == 0) {
        host().append_log("not updated");
        if (++rounds_ >= kAgpsWriteRounds) {
            // The watch does not take the data; writing it again will not change that.
            fail(SDK_ERR_AGPS_REFUSED);
            return;
        }
        decide();
        return;
    }
    host().fill_progress();
    host().post_phase_progress(kWritePhase);
    platform::clock().sleep_ms(kResultPauseMs);
    const std::uint8_t block[3] = {expiry_.year, expiry_.month, expiry_.day};
    host().post_result_block(SDK_MSG_AGPS_LOADED, block);
    host().end_task();
}

bool AgpsOperation::on_timer(UINT_PTR id) {
    switch (download_.OnTimer(id)) {
        case TaskDownload::Timer::timed_out:
            host().post_progress(100.0f);
            fail(SDK_ERR_DOWNLOAD_TIMEOUT);
            return true;
        case TaskDownload::Timer::handled:
            return true;
        case TaskDownload::Timer::not_ours:
            break;
    }
    if (id != task::kExpiryReplyTimer || !awaiting_expiry_reply_) return false;
    awaiting_expiry_reply_ = false;
    host().kill_timer(task::kExpiryReplyTimer);
    host().post_progress(100.0f);
    fail(SDK_ERR_TRANSFER);
    return true;
}

void AgpsOperation::on_task_end() {
    download_.stop();
}

void AgpsOperation::fail(UINT code) {
    host().post_error(code);
    host().end_task();
}

}  // namespace stridelog::update
