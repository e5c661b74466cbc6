#include "update/firmware_operation.hpp"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "diag/diagnostics.hpp"
#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "update/firmware_image.hpp"
#include "update/profile_file.hpp"
#include "watchdata/settings_format.hpp"
#include "wire/message_ids.hpp"

namespace stridelog::update {
namespace {

using task::kFlashSectorSize;

constexpr std::uint32_t kDownloadPhase = 3;
constexpr std::uint32_t kFlashPhase = 4;
constexpr std::uint8_t kCustomerSector = 255;
constexpr std::uint32_t kSectorOneAddress = 0x1000;
constexpr std::uint32_t kFirstProgramSector = 2;
constexpr std::uint32_t kProgramSectorEnd = 32;
constexpr std::uint32_t kLanguageSectorEnd = 249;
constexpr std::uint32_t kLanguagePauseMs = 100;
constexpr std::uint32_t kResultPauseMs = 1000;
constexpr int kYearBase = 2000;

// Directory bytes the clearing marks: the usage bitmap and the workout directory.
constexpr std::size_t kBitmapStart = 224;
constexpr std::size_t kBitmapEnd = 256;
constexpr std::size_t kWorkoutDirectoryEnd = 1280;

}  // namespace

FirmwareOperation::FirmwareOperation(task::TaskHost& host, FtpSettings settings, bool show,
                                     std::uint32_t limit_ms, bool passive,
                                     std::filesystem::path folder)
    : Operation(host),
      settings_(std::move(settings)),
      show_(show),
      limit_ms_(limit_ms),
      passive_(passive),
      folder_(std::move(folder)),
      download_(host, kDownloadPhase) {}

void FirmwareOperation::start() {
    host().show_rate_display(true);
    host().set_caption("Firmware update");
    step_ = Step::check;
    host().append_log("Read sector 0 ...");
    host().set_status_text("Check for udpate ...");
    if (!host().transfer().read_directory()) Fail(SDK_ERR_TRANSFER);
}

// ---- the check ------------------------------------------------------------

void FirmwareOperation::OnDirectoryRead() {
    const CurrentFirmware current = read_current_firmware(host().transfer().directory());
    if (!current.version) {
        host().append_log("Long ver : " + current.text);
        Stop(FirmwareStop::kUnknownVersion);
        return;
    }
    current_ = *current.version;
    const std::string model = model_number(current_);
    host().append_log("Long ver : " + model + ":" + current.text);
    const std::string description = description_file_name(current_);
    host().append_log(description);
    if (!is_safe_download_name(description)) {
        Stop(FirmwareStop::kUnsafeDescriptionName);
        return;
    }
    settings_.folder = folder_for_update(settings_.folder, settings_.fifth, current_.code);
    StartDownload(Stage::description, description, false, 0);
}

void FirmwareOperation::StartDownload(Stage stage, const std::string& name, bool streamed,
                                      std::uint32_t size) {
    stage_ = stage;
    TaskDownload::Options options;
    options.rate_display = streamed;
    options.progress_posting = streamed;
    options.limit_ms = limit_ms_;
    options.passive = passive_;
    download_.StartFile(settings_, name, streamed, size, options);
}

bool FirmwareOperation::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    if (download_.OnMessage(message, wparam, lparam) == TaskDownload::Event::completed)
        OnDownloaded();
    return true;
}

void FirmwareOperation::OnDownloaded() {
    switch (stage_) {
        case Stage::description:
            OnDescription();
            return;
        case Stage::history:
            OnHistory();
            return;
        case Stage::settings_file:
            host().set_status_text("Download ...");
            StartDownload(Stage::firmware_file, firmware_file_, true,
                          static_cast<std::uint32_t>(firmware_size_));
            return;
        case Stage::firmware_file:
            Flash();
            return;
    }
}

void FirmwareOperation::OnDescription() {
    const auto description = ProfileFile::load(folder_ / description_file_name(current_));
    const auto value =
        description ? description->value(kDescriptionSection, kOfferedKey) : std::nullopt;
    if (!value) {
        Stop(FirmwareStop::kOfferMissing);
        return;
    }
    offered_value_ = *value;
    // The offer names its version the way the watch does; one that does not
    // is no newer firmware.
    const auto offered = parse_firmware_version(offered_value_);
    if (!offered || !is_newer_firmware(current_, *offered)) {
        Stop(FirmwareStop::kNotNewer);
        return;
    }
    offered_ = *offered;
    release_notes_.clear();
    const auto history = description->value(kDescriptionSection, kHistoryKey);
    if (!history) {
        Confirm();
        return;
    }
    if (!is_safe_download_name(*history)) {
        Stop(FirmwareStop::kUnsafeOfferedName);
        return;
    }
    history_file_ = *history;
    StartDownload(Stage::history, history_file_, false, 0);
}

void FirmwareOperation::OnHistory() {
    if (const auto history = ProfileFile::load(folder_ / history_file_))
        release_notes_ = release_notes(*history, current_);
    Confirm();
}

void FirmwareOperation::Confirm() {
    if (show_) {
        const bool yes =
            host().confirm(kConfirmationCaption, confirmation_message(offered_), release_notes_);
        // The task may have been closed while the question was open.
        if (host().task_ended()) return;
        if (!yes) {
            Stop(FirmwareStop::kUserDeclined);
            return;
        }
    }
    const auto offered = split_offered_value(offered_value_);
    if (!offered) {
        Stop(FirmwareStop::kOfferWithoutSize);
        return;
    }
    if (!has_firmware_extension(offered->file_name)) {
        Stop(FirmwareStop::kNotFirmwareFile);
        return;
    }
    firmware_file_ = offered->file_name;
    firmware_size_ = offered->file_size;
    settings_file_ = settings_file_name(firmware_file_);
    if (!is_safe_download_name(firmware_file_) || !is_safe_download_name(settings_file_)) {
        Stop(FirmwareStop::kUnsafeOfferedName);
        return;
    }
    step_ = Step::check;
    host().set_status_text("Download ...");
    StartDownload(Stage::settings_file, settings_file_, false, 0);
}

void FirmwareOperation::Stop(FirmwareStop stop) {
    const FirmwareStopRow& row = firmware_stop_row(stop);
    if (row.code != 0) {
        if (row.error)
            host().post_error(row.code);
        else
            host().post_result(row.code);
    }
    host().end_task();
}

// ---- the flashing ---------------------------------------------------------

void FirmwareOperation::Flash() {
    read_firmware_settings(folder_ / settings_file_, &customer_);
    LoadedFirmware loaded = load_firmware_file(folder_ / firmware_file_);
    if (loaded.check.fault != ImageFault::kNone) {
        diag::Trace("firmware file %s refused (%d)", firmware_file_.c_str(),
                    static_cast<int>(loaded.check.fault));
        Stop(FirmwareStop::kImageRejected);
        return;
    }
    body_ = std::move(loaded.body);
    host().show_rate_display(false);
    host().set_status_text("Writing data ...");
    boot_copy_.assign(body_.begin(), body_.begin() + kBootBlockLength);
    boot_copy_.resize(kBootBlockLength + kSectorBytes, 0xFF);
    boot_sum_ = boot_block_sum(body_);
    host().set_progress_range(0, body_.size() == kProgramOnlyBodyLength ? 37 : 42);
    host().set_progress_pos(1);
    host().set_progress_step(1);

    // The workout directory goes: the new firmware starts with none.
    host().append_log("Clear flash");
    std::span<std::uint8_t> directory = host().transfer().directory();
    std::fill(directory.begin() + kBitmapStart, directory.begin() + kBitmapEnd, 0xFF);
    directory[224] = 0xFE;
    if (host().watch().status_flag != 0) {
        directory[252] = 0x3F;
        directory[253] = directory[254] = directory[255] = 0x00;
    } else {
        directory[254] = 0x0F;
        directory[255] = 0x00;
    }
    std::fill(directory.begin() + kBitmapEnd, directory.begin() + kWorkoutDirectoryEnd, 0xFF);
    directory_backup_.assign(directory.begin(), directory.end());
    step_ = Step::clear_directory;
    host().transfer().write_sector(0, directory, task::kDirectoryWriteStep);
}

void FirmwareOperation::WriteSectorLine() {
    char line[48];
    std::snprintf(line, sizeof line, "Write sector : %u, %06X", static_cast<unsigned>(sector_),
                  static_cast<unsigned>(sector_ * kFlashSectorSize));
    host().append_log(line);
}

void FirmwareOperation::WriteBootSector(Step step, std::uint32_t sector) {
    step_ = step;
    sector_ = sector;
    offset_ = (sector - kBootBlockSector) * kSectorBytes;
    WriteSectorLine();
    host().post_phase_progress(kFlashPhase);
    host().transfer().write_sector(
        sector * kFlashSectorSize,
        std::span<const std::uint8_t>(boot_copy_).subspan(offset_, kSectorBytes), 0);
}

void FirmwareOperation::WriteLanguageSector() {
    WriteSectorLine();
    host().transfer().write_sector(
        sector_ * kFlashSectorSize,
        std::span<const std::uint8_t>(body_).subspan(offset_, kSectorBytes), 0);
}

void FirmwareOperation::on_write_complete(int step_code) {
    (void)step_code;
    switch (step_) {
        case Step::clear_directory:
            WriteBootSector(Step::boot_first, kBootBlockSector);
            return;
        case Step::boot_first:
            WriteBootSector(Step::boot_second, kBootBlockSector + 1);
            return;
        case Step::boot_second: {
            step_ = Step::boot_sum;
            char line[48];
            std::snprintf(line, sizeof line, "Write sector 34-35 checksum : %04X",
                          static_cast<unsigned>(boot_sum_));
            host().append_log(line);
            const auto sum_sector = boot_sum_sector(body_);
            std::copy(sum_sector.begin(), sum_sector.end(), boot_copy_.begin() + kBootBlockLength);
            host().post_phase_progress(kFlashPhase);
            host().transfer().write_sector(
                kBootSumSector * kFlashSectorSize,
                std::span<const std::uint8_t>(boot_copy_).subspan(kBootBlockLength, kSectorBytes),
                0);
            return;
        }
        case Step::boot_sum:
            step_ = Step::program;
            host().set_status_text("Writing data ...");
            host().append_log("Writing data ...");
            if (body_.size() == kProgramOnlyBodyLength) {
                StartProgramUpdate();
                return;
            }
            step_ = Step::language;
            host().append_log("Write language sector");
            sector_ = kLanguageSector;
            offset_ = kLanguageStart;
            host().post_phase_progress(kFlashPhase);
            WriteLanguageSector();
            return;
        case Step::language:
            ++sector_;
            if (sector_ < kLanguageSectorEnd) {
                host().step_progress();
                host().post_phase_progress(kFlashPhase);
                offset_ += kSectorBytes;
                WriteLanguageSector();
                return;
            }
            platform::clock().sleep_ms(kLanguagePauseMs);
            host().append_log("Read sec0, get PairID & CmpOffset, Sens");
            if (!host().transfer().read_directory()) Fail(SDK_ERR_TRANSFER);
            return;
        case Step::customer_settings:
            StartProgramUpdate();
            return;
        case Step::program:
            if (awaiting_program_ack_) return;
            if (sector_ < kFirstProgramSector) {
                WriteProgramSector(true);  // sector 1 is erased: the program starts
                return;
            }
            ++sector_;
            if (sector_ != kProgramSectorEnd) {
                host().step_progress();
                host().post_phase_progress(kFlashPhase);
                WriteProgramSector(false);
                return;
            }
            {
                char line[32];
                std::snprintf(line, sizeof line, "Checksum = %04lX",
                              static_cast<unsigned long>(program_sum_));
                host().append_log(line);
            }
            step_ = Step::program_sum;
            program_sum_bytes_[0] = static_cast<std::uint8_t>(program_sum_ & 0xFF);
            program_sum_bytes_[1] = static_cast<std::uint8_t>(program_sum_ >> 8);
            host().transfer().write_sector_with_steps(kProgramSumAddress, program_sum_bytes_, 0,
                                                      task::WriteStep::write,
                                                      task::WriteStep::halt);
            return;
        case Step::program_sum:
            StartReconnection();
            return;
        case Step::reconnect:
            if (!restoring_) return;
            host().append_log("Restore setting PASS");
            host().step_progress();
            host().post_phase_progress(kFlashPhase);
            host().fill_progress();
            host().post_phase_progress(kFlashPhase);
            platform::clock().sleep_ms(kResultPauseMs);
            host().post_result(SDK_MSG_FIRMWARE_UPDATED);
            host().end_task();
            return;
        case Step::check:
            return;
    }
}

void FirmwareOperation::on_read_complete(int step_code) {
    switch (step_) {
        case Step::check:
            if (step_code == task::kDirectoryStep) OnDirectoryRead();
            return;
        case Step::language:
            if (step_code == task::kDirectoryStep) {
                host().append_log("Read sector 255");
                if (!host().transfer().start_sector_read(
                        kCustomerSector, task::step_code(task::FirmwareStep::customer_sector),
                        kFlashSectorSize))
                    Fail(SDK_ERR_TRANSFER);
            } else if (step_code == task::step_code(task::FirmwareStep::customer_sector)) {
                std::span<std::uint8_t> sector =
                    host().transfer().data().subspan(0, kFlashSectorSize);
                build_customer_settings_sector(customer_, host().transfer().directory(), sector);
                host().append_log("Write customer setting to sector 255");
                step_ = Step::customer_settings;
                host().post_phase_progress(kFlashPhase);
                host().transfer().write_sector(kCustomerSector * kFlashSectorSize, sector, 0);
            }
            return;
        case Step::reconnect:
            if (step_code == task::step_code(task::FirmwareStep::reconnect_poll) && polling_) {
                Reconnected();
            } else if (step_code == task::kDirectoryStep && !restoring_ && !polling_ &&
                       !awaiting_clock_) {
                std::span<std::uint8_t> directory = host().transfer().directory();
                restore_directory(directory_backup_, directory);
                watchdata::write_settings_checksum(directory, watchdata::settings_checksum_length(
                                                                  host().watch().firmware_version));
                restoring_ = true;
                host().transfer().write_sector(0, directory, task::kDirectoryWriteStep);
                host().append_log("Restore setting");
            }
            return;
        default:
            return;
    }
}

void FirmwareOperation::StartProgramUpdate() {
    step_ = Step::program;
    sector_ = 0;
    awaiting_program_ack_ = true;
    host().set_timer(task::kProgramUpdateTimer, kProgramUpdateTimeoutMs);
    if (CWatchLink* link = host().link()) link->ProgramUpdate();
}

void FirmwareOperation::WriteProgramSector(bool first) {
    if (first) {
        sector_ = kFirstProgramSector;
        offset_ = kProgramStart;
        program_sum_ = 0;
    } else {
        offset_ += kSectorBytes;
    }
    WriteSectorLine();
    const auto bytes = std::span<const std::uint8_t>(body_).subspan(offset_, kSectorBytes);
    program_sum_ = static_cast<std::uint16_t>(program_sum_ + byte_sum16(bytes));
    if (first) {
        host().transfer().write_sector(sector_ * kFlashSectorSize, bytes, 0);
    } else {
        host().transfer().write_sector_with_steps(sector_ * kFlashSectorSize, bytes, 0,
                                                  task::WriteStep::write, task::WriteStep::halt);
    }
}

void FirmwareOperation::on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) {
    (void)status;
    if (reply_id == wire::watch_id::kProgramUpdateReply && awaiting_program_ack_) {
        awaiting_program_ack_ = false;
        host().kill_timer(task::kProgramUpdateTimer);
        host().append_log("Prog Update AcK");
        host().append_log("\r\nUnprotect & erase 4096");
        host().transfer().erase_sector(kSectorOneAddress, 0);
        return;
    }
    if (reply_id == wire::watch_id::kSetClockReply && awaiting_clock_) {
        host().kill_timer(task::kClockReplyTimer);
        host().append_log("Set date time PASS");
        AfterClock();
    }
}

void FirmwareOperation::StartReconnection() {
    step_ = Step::reconnect;
    polling_ = true;
    host().set_timer(task::kReconnectDeadlineTimer, kReconnectDeadlineMs);
    host().set_timer(task::kReconnectWaitTimer, kReconnectWaitMs);
}

void FirmwareOperation::Reconnected() {
    polling_ = false;
    host().kill_timer(task::kReconnectPollTimer);
    host().kill_timer(task::kReconnectDeadlineTimer);
    host().append_log("Fwupd, reconnect watch OK");
    SetClock();
}

void FirmwareOperation::SetClock() {
    host().append_log("Set date time");
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    step_ = Step::reconnect;
    awaiting_clock_ = true;
    host().set_timer(task::kClockReplyTimer, kFirmwareClockTimeoutMs);
    if (CWatchLink* link = host().link())
        link->SetClock(
            static_cast<std::uint8_t>(local.tm_year + 1900 - kYearBase),
            static_cast<std::uint8_t>(local.tm_mon + 1), static_cast<std::uint8_t>(local.tm_mday),
            static_cast<std::uint8_t>(local.tm_hour), static_cast<std::uint8_t>(local.tm_min),
            static_cast<std::uint8_t>(local.tm_sec));
}

void FirmwareOperation::AfterClock() {
    awaiting_clock_ = false;
    step_ = Step::reconnect;
    // Its read timer runs as for any read: a watch silent from here on ends
    // the task with 0x1004 instead of leaving it waiting.
    if (!host().transfer().read_directory()) {
        Fail(SDK_ERR_TRANSFER);
        return;
    }
    host().step_progress();
    host().post_phase_progress(kFlashPhase);
}

bool FirmwareOperation::on_timer(UINT_PTR id) {
    if (download_.OnTimer(id)) return true;
    switch (id) {
        case task::kReconnectWaitTimer:
            host().kill_timer(task::kReconnectWaitTimer);
            if (polling_) host().set_timer(task::kReconnectPollTimer, kReconnectPollMs);
            return true;
        case task::kReconnectPollTimer:
            if (!polling_) {
                host().kill_timer(task::kReconnectPollTimer);
                return true;
            }
            step_ = Step::reconnect;
            host().append_log("Read addres 0 (128B)");
            host().transfer().read_128(0, task::step_code(task::FirmwareStep::reconnect_poll));
            return true;
        case task::kReconnectDeadlineTimer:
            host().kill_timer(task::kReconnectDeadlineTimer);
            if (!polling_) return true;
            host().post_progress(100.0f);
            host().append_log("60sec timeout\r\n");
            Reconnected();
            return true;
        case task::kClockReplyTimer:
            host().kill_timer(task::kClockReplyTimer);
            if (!awaiting_clock_) return true;
            host().append_log("Set date time timeout");
            AfterClock();
            return true;
        case task::kReadTimer:
            // An unanswered poll is simply repeated by the next tick.
            if (polling_) {
                host().kill_timer(task::kReadTimer);
                return true;
            }
            return false;
        case task::kProgramUpdateTimer:
            if (!awaiting_program_ack_) return false;
            awaiting_program_ack_ = false;
            host().kill_timer(task::kProgramUpdateTimer);
            host().post_progress(100.0f);
            Fail(SDK_ERR_TRANSFER);
            return true;
        default:
            return false;
    }
}

void FirmwareOperation::on_task_end() {
    download_.Stop();
}

void FirmwareOperation::Fail(UINT code) {
    host().post_error(code);
    host().end_task();
}

}  // namespace stridelog::update
