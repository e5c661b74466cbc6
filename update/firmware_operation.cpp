#include "update/firmware_operation.hpp"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "diag/diagnostics.hpp"
#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "update/firmware_image.hpp"
#include "update/profile_file.hpp"
#include "watchdata/settings_format.hpp"
#include "watchdata/workout_directory.hpp"
#include "wire/message_ids.hpp"

namespace stridelog::update {
namespace {

using task::kFlashSectorSize;
using Step = FirmwareOperation::Step;

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
// Steps that wait for no transfer (a download, the user, a reply, a timer).
constexpr int kNoTransfer = -1;

// The step code of the transfer each step waits for.
constexpr int awaited_step_code(Step step) {
    switch (step) {
        case Step::read_version:
        case Step::customer_directory:
        case Step::restore_read:
            return task::kDirectoryStep;
        case Step::clear_directory:
        case Step::restore_write:
            return task::kDirectoryWriteStep;
        case Step::boot_first:
            return task::kBootFirstStep;
        case Step::boot_second:
            return task::kBootSecondStep;
        case Step::boot_sum:
            return task::kBootSumStep;
        case Step::language:
            return task::kLanguageStep;
        case Step::customer_sector:
            return task::kCustomerSectorStep;
        case Step::customer_settings:
            return task::kCustomerSettingsStep;
        case Step::program_erase:
            return task::kProgramEraseStep;
        case Step::program:
            return task::kProgramStep;
        case Step::program_sum:
            return task::kProgramSumStep;
        case Step::reconnect_poll:
            return task::kReconnectPollStep;
        case Step::fetch_description:
        case Step::fetch_history:
        case Step::ask:
        case Step::fetch_settings_file:
        case Step::fetch_firmware_file:
        case Step::program_update:
        case Step::reconnect_wait:
        case Step::set_clock:
            return kNoTransfer;
    }
    return kNoTransfer;
}

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

// ---- the sequence -----------------------------------------------------------

void FirmwareOperation::start() {
    host().show_rate_display(true);
    host().set_caption("Firmware update");
    step_ = Step::read_version;
    host().append_log("Read sector 0 ...");
    host().set_status_text("Check for udpate ...");
    if (!host().transfer().read_directory()) stop(FirmwareStop::transfer_failed);
}

void FirmwareOperation::advance() {
    switch (step_) {
        case Step::read_version:
            return fetch_description();
        case Step::fetch_description:
            return after_description();
        case Step::fetch_history:
            return after_history();
        case Step::ask:
            return fetch_settings_file();
        case Step::fetch_settings_file:
            return fetch_firmware_file();
        case Step::fetch_firmware_file:
            return clear_directory();
        case Step::clear_directory:
            return write_boot_sector(Step::boot_first, kBootBlockSector);
        case Step::boot_first:
            return write_boot_sector(Step::boot_second, kBootBlockSector + 1);
        case Step::boot_second:
            return write_boot_sum();
        case Step::boot_sum:
            return after_boot_block();
        case Step::language:
            return ++sector_ < kLanguageSectorEnd ? next_language_sector()
                                                  : read_customer_directory();
        case Step::customer_directory:
            return read_customer_sector();
        case Step::customer_sector:
            return write_customer_settings();
        case Step::customer_settings:
            return send_program_update();
        case Step::program_update:
            return erase_sector_one();
        case Step::program_erase:
            return write_program_sector(true);
        case Step::program:
            return ++sector_ != kProgramSectorEnd ? next_program_sector() : write_program_sum();
        case Step::program_sum:
            return wait_for_restart();
        case Step::reconnect_wait:
            return start_polling();
        case Step::reconnect_poll:
            return reconnected();
        case Step::set_clock:
            return read_directory_for_restore();
        case Step::restore_read:
            return restore_directory();
        case Step::restore_write:
            return finish();
    }
}

void FirmwareOperation::stop(FirmwareStop stop) {
    const FirmwareStopRow& row = firmware_stop_row(stop);
    if (row.full_bar_first) host().post_progress(100.0f);
    if (row.code != 0) {
        if (row.error)
            host().post_error(row.code);
        else
            host().post_result(row.code);
    }
    host().end_task();
}

// ---- what reaches the operation ---------------------------------------------

void FirmwareOperation::OnTransferDone(int step_code) {
    // Only the completion of the step in progress moves the update on.
    if (step_code == awaited_step_code(step_)) advance();
}

void FirmwareOperation::on_read_complete(int step_code) {
    OnTransferDone(step_code);
}

void FirmwareOperation::on_write_complete(int step_code) {
    OnTransferDone(step_code);
}

bool FirmwareOperation::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (download_.OnMessage(message, wparam, lparam)) {
        case TaskDownload::Event::completed:
            advance();
            break;
        case TaskDownload::Event::failed:
            stop(FirmwareStop::download_failed);
            break;
        case TaskDownload::Event::none:
            break;
    }
    return true;
}

void FirmwareOperation::on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) {
    (void)status;
    if (reply_id == wire::watch_id::kProgramUpdateReply && step_ == Step::program_update) {
        host().kill_timer(task::kProgramUpdateTimer);
        host().append_log("Prog Update AcK");
        advance();
    } else if (reply_id == wire::watch_id::kSetClockReply && step_ == Step::set_clock) {
        host().kill_timer(task::kClockReplyTimer);
        host().append_log("Set date time PASS");
        advance();
    }
}

bool FirmwareOperation::on_timer(UINT_PTR id) {
    switch (download_.OnTimer(id)) {
        case TaskDownload::Timer::timed_out:
            stop(FirmwareStop::download_timed_out);
            return true;
        case TaskDownload::Timer::handled:
            return true;
        case TaskDownload::Timer::not_ours:
            break;
    }
    const bool reconnecting = step_ == Step::reconnect_wait || step_ == Step::reconnect_poll;
    switch (id) {
        case task::kReconnectWaitTimer:
            host().kill_timer(id);
            if (step_ == Step::reconnect_wait) advance();
            return true;
        case task::kReconnectPollTimer:
            if (step_ == Step::reconnect_poll) {
                poll();
            } else {
                host().kill_timer(id);
            }
            return true;
        case task::kReconnectDeadlineTimer:
            host().kill_timer(id);
            if (!reconnecting) return true;
            host().post_progress(100.0f);
            host().append_log("60sec timeout\r\n");
            reconnected();
            return true;
        case task::kClockReplyTimer:
            host().kill_timer(id);
            if (step_ != Step::set_clock) return true;
            host().append_log("Set date time timeout");
            advance();
            return true;
        case task::kReadTimer:
            // An unanswered poll is simply repeated by the next tick.
            if (!reconnecting) return false;
            host().kill_timer(id);
            return true;
        case task::kProgramUpdateTimer:
            if (step_ != Step::program_update) return false;
            host().kill_timer(id);
            stop(FirmwareStop::program_update_unanswered);
            return true;
        default:
            return false;
    }
}

void FirmwareOperation::on_task_end() {
    download_.stop();
}

// ---- the check --------------------------------------------------------------

void FirmwareOperation::fetch_description() {
    const CurrentFirmware current = read_current_firmware(host().transfer().directory());
    if (!current.version) {
        host().append_log("Long ver : " + current.text);
        return stop(FirmwareStop::unknown_version);
    }
    current_ = *current.version;
    const std::string model = model_number(current_);
    host().append_log("Long ver : " + model + ":" + current.text);
    const std::string description = description_file_name(current_);
    host().append_log(description);
    if (!is_safe_download_name(description)) return stop(FirmwareStop::unsafe_description_name);
    settings_.folder = folder_for_update(settings_.folder, settings_.fifth, current_.code);
    start_download(Step::fetch_description, description, false, 0);
}

void FirmwareOperation::start_download(Step step, const std::string& name, bool streamed,
                                       std::uint32_t size) {
    step_ = step;
    TaskDownload::Options options;
    options.rate_display = streamed;
    options.progress_posting = streamed;
    options.limit_ms = limit_ms_;
    options.passive = passive_;
    download_.start_file(settings_, name, streamed, size, options);
}

void FirmwareOperation::after_description() {
    const auto description = ProfileFile::load(folder_ / description_file_name(current_));
    const auto value =
        description ? description->value(kDescriptionSection, kOfferedKey) : std::nullopt;
    if (!value) return stop(FirmwareStop::offer_missing);
    offered_value_ = *value;
    // The offer names its version the way the watch does; one that does not
    // is no newer firmware.
    const auto offered = parse_firmware_version(offered_value_);
    if (!offered || !is_newer_firmware(current_, *offered)) return stop(FirmwareStop::not_newer);
    offered_ = *offered;
    release_notes_.clear();
    const auto history = description->value(kDescriptionSection, kHistoryKey);
    if (!history) return ask();
    if (!is_safe_download_name(*history)) return stop(FirmwareStop::unsafe_offered_name);
    history_file_ = *history;
    start_download(Step::fetch_history, history_file_, false, 0);
}

void FirmwareOperation::after_history() {
    if (const auto history = ProfileFile::load(folder_ / history_file_))
        release_notes_ = release_notes(*history, current_);
    ask();
}

void FirmwareOperation::ask() {
    step_ = Step::ask;
    if (show_) {
        const bool yes =
            host().confirm(kConfirmationCaption, confirmation_message(offered_), release_notes_);
        // The task may have been closed while the question was open.
        if (host().task_ended()) return;
        if (!yes) return stop(FirmwareStop::user_declined);
    }
    advance();
}

void FirmwareOperation::fetch_settings_file() {
    const auto offered = split_offered_value(offered_value_);
    if (!offered) return stop(FirmwareStop::offer_without_size);
    if (!has_firmware_extension(offered->file_name)) return stop(FirmwareStop::not_firmware_file);
    firmware_file_ = offered->file_name;
    firmware_size_ = offered->file_size;
    settings_file_ = settings_file_name(firmware_file_);
    if (!is_safe_download_name(firmware_file_) || !is_safe_download_name(settings_file_))
        return stop(FirmwareStop::unsafe_offered_name);
    host().set_status_text("Download ...");
    start_download(Step::fetch_settings_file, settings_file_, false, 0);
}

void FirmwareOperation::fetch_firmware_file() {
    host().set_status_text("Download ...");
    start_download(Step::fetch_firmware_file, firmware_file_, true,
                   static_cast<std::uint32_t>(firmware_size_));
}

// ---- the flashing -----------------------------------------------------------

void FirmwareOperation::clear_directory() {
    read_firmware_settings(folder_ / settings_file_, &customer_);
    LoadedFirmware loaded = load_firmware_file(folder_ / firmware_file_);
    if (loaded.check.fault != ImageFault::none) {
        diag::Trace("firmware file %s refused (%d)", firmware_file_.c_str(),
                    static_cast<int>(loaded.check.fault));
        return stop(FirmwareStop::image_rejected);
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
    watchdata::clear_workout_directory(directory, host().watch().status_flag);
    directory_backup_.assign(directory.begin(), directory.end());
    step_ = Step::clear_directory;
    host().transfer().write_sector(0, directory, task::kDirectoryWriteStep);
}

void FirmwareOperation::write_sector_line() {
    char line[48];
    std::snprintf(line, sizeof line, "Write sector : %u, %06X", static_cast<unsigned>(sector_),
                  static_cast<unsigned>(sector_ * kFlashSectorSize));
    host().append_log(line);
}

void FirmwareOperation::write_boot_sector(Step step, std::uint32_t sector) {
    step_ = step;
    sector_ = sector;
    offset_ = (sector - kBootBlockSector) * kSectorBytes;
    write_sector_line();
    host().post_phase_progress(kFlashPhase);
    host().transfer().write_sector(
        sector * kFlashSectorSize,
        std::span<const std::uint8_t>(boot_copy_).subspan(offset_, kSectorBytes),
        awaited_step_code(step));
}

void FirmwareOperation::write_boot_sum() {
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
        task::kBootSumStep);
}

void FirmwareOperation::after_boot_block() {
    host().set_status_text("Writing data ...");
    host().append_log("Writing data ...");
    // A program-only (1.0) image has no language block and no customer settings.
    if (body_.size() == kProgramOnlyBodyLength) return send_program_update();
    step_ = Step::language;
    host().append_log("Write language sector");
    sector_ = kLanguageSector;
    offset_ = kLanguageStart;
    host().post_phase_progress(kFlashPhase);
    write_language_sector();
}

void FirmwareOperation::write_language_sector() {
    write_sector_line();
    host().transfer().write_sector(
        sector_ * kFlashSectorSize,
        std::span<const std::uint8_t>(body_).subspan(offset_, kSectorBytes), task::kLanguageStep);
}

void FirmwareOperation::next_language_sector() {
    host().step_progress();
    host().post_phase_progress(kFlashPhase);
    offset_ += kSectorBytes;
    write_language_sector();
}

void FirmwareOperation::read_customer_directory() {
    platform::clock().sleep_ms(kLanguagePauseMs);
    host().append_log("Read sec0, get PairID & CmpOffset, Sens");
    step_ = Step::customer_directory;
    if (!host().transfer().read_directory()) stop(FirmwareStop::transfer_failed);
}

void FirmwareOperation::read_customer_sector() {
    host().append_log("Read sector 255");
    step_ = Step::customer_sector;
    if (!host().transfer().start_sector_read(kCustomerSector, task::kCustomerSectorStep,
                                             kFlashSectorSize))
        stop(FirmwareStop::transfer_failed);
}

void FirmwareOperation::write_customer_settings() {
    std::span<std::uint8_t> sector = host().transfer().data().subspan(0, kFlashSectorSize);
    build_customer_settings_sector(customer_, host().transfer().directory(), sector);
    host().append_log("Write customer setting to sector 255");
    step_ = Step::customer_settings;
    host().post_phase_progress(kFlashPhase);
    host().transfer().write_sector(kCustomerSector * kFlashSectorSize, sector,
                                   task::kCustomerSettingsStep);
}

void FirmwareOperation::send_program_update() {
    step_ = Step::program_update;
    sector_ = 0;
    host().set_timer(task::kProgramUpdateTimer, kProgramUpdateTimeoutMs);
    if (link::CWatchLink* link = host().link()) link->ProgramUpdate();
}

void FirmwareOperation::erase_sector_one() {
    host().append_log("\r\nUnprotect & erase 4096");
    step_ = Step::program_erase;
    host().transfer().erase_sector(kSectorOneAddress, task::kProgramEraseStep);
}

void FirmwareOperation::write_program_sector(bool first) {
    step_ = Step::program;
    if (first) {
        sector_ = kFirstProgramSector;
        offset_ = kProgramStart;
        program_sum_ = 0;
    } else {
        offset_ += kSectorBytes;
    }
    write_sector_line();
    const auto bytes = std::span<const std::uint8_t>(body_).subspan(offset_, kSectorBytes);
    program_sum_ = static_cast<std::uint16_t>(program_sum_ + byte_sum16(bytes));
    // Sector 2 is prepared and erased first; sectors 3 .. 31 are only written.
    if (first) {
        host().transfer().write_sector(sector_ * kFlashSectorSize, bytes, task::kProgramStep);
    } else {
        host().transfer().write_sector_with_steps(sector_ * kFlashSectorSize, bytes,
                                                  task::kProgramStep, task::WriteStep::write,
                                                  task::WriteStep::halt);
    }
}

void FirmwareOperation::next_program_sector() {
    host().step_progress();
    host().post_phase_progress(kFlashPhase);
    write_program_sector(false);
}

void FirmwareOperation::write_program_sum() {
    char line[32];
    std::snprintf(line, sizeof line, "Checksum = %04lX", static_cast<unsigned long>(program_sum_));
    host().append_log(line);
    step_ = Step::program_sum;
    program_sum_bytes_[0] = static_cast<std::uint8_t>(program_sum_ & 0xFF);
    program_sum_bytes_[1] = static_cast<std::uint8_t>(program_sum_ >> 8);
    host().transfer().write_sector_with_steps(kProgramSumAddress, program_sum_bytes_,
                                              task::kProgramSumStep, task::WriteStep::write,
                                              task::WriteStep::halt);
}

void FirmwareOperation::wait_for_restart() {
    step_ = Step::reconnect_wait;
    host().set_timer(task::kReconnectDeadlineTimer, kReconnectDeadlineMs);
    host().set_timer(task::kReconnectWaitTimer, kReconnectWaitMs);
}

void FirmwareOperation::start_polling() {
    step_ = Step::reconnect_poll;
    host().set_timer(task::kReconnectPollTimer, kReconnectPollMs);
}

void FirmwareOperation::poll() {
    host().append_log("Read addres 0 (128B)");
    host().transfer().read_128(0, task::kReconnectPollStep);
}

void FirmwareOperation::reconnected() {
    host().kill_timer(task::kReconnectPollTimer);
    host().kill_timer(task::kReconnectDeadlineTimer);
    host().append_log("Fwupd, reconnect watch OK");
    set_watch_clock();
}

void FirmwareOperation::set_watch_clock() {
    host().append_log("Set date time");
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    step_ = Step::set_clock;
    host().set_timer(task::kClockReplyTimer, kFirmwareClockTimeoutMs);
    if (link::CWatchLink* link = host().link())
        link->SetClock(
            static_cast<std::uint8_t>(local.tm_year + 1900 - kYearBase),
            static_cast<std::uint8_t>(local.tm_mon + 1), static_cast<std::uint8_t>(local.tm_mday),
            static_cast<std::uint8_t>(local.tm_hour), static_cast<std::uint8_t>(local.tm_min),
            static_cast<std::uint8_t>(local.tm_sec));
}

void FirmwareOperation::read_directory_for_restore() {
    step_ = Step::restore_read;
    // Its read timer runs as for any read: a watch silent from here on ends
    // the task with 0x1004 instead of leaving it waiting.
    if (!host().transfer().read_directory()) return stop(FirmwareStop::transfer_failed);
    host().step_progress();
    host().post_phase_progress(kFlashPhase);
}

void FirmwareOperation::restore_directory() {
    std::span<std::uint8_t> directory = host().transfer().directory();
    update::restore_directory(directory_backup_, directory);
    watchdata::write_settings_checksum(
        directory, watchdata::settings_checksum_length(host().watch().firmware_version));
    step_ = Step::restore_write;
    host().transfer().write_sector(0, directory, task::kDirectoryWriteStep);
    host().append_log("Restore setting");
}

void FirmwareOperation::finish() {
    host().append_log("Restore setting PASS");
    host().step_progress();
    host().post_phase_progress(kFlashPhase);
    host().fill_progress();
    host().post_phase_progress(kFlashPhase);
    platform::clock().sleep_ms(kResultPauseMs);
    stop(FirmwareStop::updated);
}

}  // namespace stridelog::update
