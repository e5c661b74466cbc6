// FirmwareUpdate: reads the watch's firmware version, fetches the update
// description (and the release notes), asks the user, fetches the firmware's
// settings file and the firmware file, refuses a bad file before the watch is
// touched, then writes the new firmware: the cleared directory, the boot block
// and its sum, the language block and the customer settings, the program
// sectors and their sum; waits for the watch to come back, sets its clock and
// restores the user's settings, paths and views. One step at a time (Step),
// each started by the completion of the one before.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "task/operation.hpp"
#include "update/firmware_check.hpp"
#include "update/firmware_settings.hpp"
#include "update/firmware_stops.hpp"
#include "update/ftp_downloader.hpp"
#include "update/task_download.hpp"

namespace stridelog::update {

inline constexpr std::uint32_t kReconnectDeadlineMs = 70'000;
inline constexpr std::uint32_t kReconnectWaitMs = 30'000;
inline constexpr std::uint32_t kReconnectPollMs = 1000;
inline constexpr std::uint32_t kFirmwareClockTimeoutMs = 250;
// How long the watch may take to acknowledge ProgramUpdate before the task
// gives up (it would otherwise wait for ever). A watch switching to its update
// mode gets as long as one coming back from it: giving up early would leave it
// with its boot block staged and no program written.
inline constexpr std::uint32_t kProgramUpdateTimeoutMs = kReconnectDeadlineMs;

class FirmwareOperation final : public task::Operation {
  public:
    FirmwareOperation(task::TaskHost& host, FtpSettings settings, bool show, std::uint32_t limit_ms,
                      bool passive, std::filesystem::path folder = local_download_folder());

    task::OperationCode code() const override { return task::OperationCode::firmware_check; }
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;
    void on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) override;
    bool on_timer(UINT_PTR id) override;
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam) override;
    void on_task_end() override;

    // Where the update stands. Each step starts one transfer, download,
    // question or command; when it is done, Advance() starts the step named
    // after the arrow. The numbers are the operation codes the watch's tools
    // have always logged for the flashing's steps.
    enum class Step {
        // The check (115).
        read_version,         // the directory sector -> fetch_description
        fetch_description,    // "<model>_<code>.txt" -> fetch_history, or ask without one
        fetch_history,        // the history file's release notes -> ask
        ask,                  // the question (when shown) -> fetch_settings_file
        fetch_settings_file,  // the firmware's ".ini" -> fetch_firmware_file
        fetch_firmware_file,  // the image, streamed -> clear_directory once it checks out
        // The flashing.
        clear_directory,     // 121: sector 0 without workouts -> boot_first
        boot_first,          // 118: sector 34 -> boot_second
        boot_second,         // 119: sector 35 -> boot_sum
        boot_sum,            // 120: sector 36 -> language, or program_update (1.0 images)
        language,            // 116: sectors 244 .. 248, one each time -> customer_directory
        customer_directory,  // 116: the directory sector read -> customer_sector
        customer_sector,     // 116: sector 255 read -> customer_settings
        customer_settings,   // 117: sector 255 written -> program_update
        program_update,      // ProgramUpdate, until acknowledged -> program_erase
        program_erase,       // 123: sector 1 erased -> program
        program,             // 123: sectors 2 .. 31, one each time -> program_sum
        program_sum,         // 129: the program sum at 0x20000 -> reconnect_wait
        reconnect_wait,      // 126: 30 s while the watch restarts -> reconnect_poll
        reconnect_poll,      // 126: a 128-byte read each second, until one is answered or
                             //      the 70 s deadline -> set_clock
        set_clock,           // 126: SetClock, answered or 250 ms -> restore_read
        restore_read,        // 126: the directory sector -> restore_write
        restore_write,       // 126: sector 0 with the user's settings -> the end (0x2020)
    };

  private:
    // The one way out: the row's notification, then the task end.
    void stop(FirmwareStop stop);
    // A transfer completed: the update moves on when it is the step's own.
    void OnTransferDone(int step_code);
    // Starts the step that follows step_.
    void advance();

    // The check.
    void fetch_description();
    void after_description();
    void after_history();
    void ask();
    void fetch_settings_file();
    void fetch_firmware_file();
    void start_download(Step step, const std::string& name, bool streamed, std::uint32_t size);

    // The flashing.
    void clear_directory();
    void write_boot_sector(Step step, std::uint32_t sector);
    void write_boot_sum();
    void after_boot_block();
    void write_language_sector();
    void next_language_sector();
    void read_customer_directory();
    void read_customer_sector();
    void write_customer_settings();
    void send_program_update();
    void erase_sector_one();
    void write_program_sector(bool first);
    void next_program_sector();
    void write_program_sum();
    void wait_for_restart();
    void start_polling();
    void poll();
    void reconnected();
    void set_watch_clock();
    void read_directory_for_restore();
    void restore_directory();
    void finish();
    void write_sector_line();

    FtpSettings settings_;
    const bool show_;
    const std::uint32_t limit_ms_;
    const bool passive_;
    const std::filesystem::path folder_;
    TaskDownload download_;

    Step step_ = Step::read_version;
    FirmwareVersion current_;
    std::string offered_value_;
    FirmwareVersion offered_;
    std::vector<std::string> release_notes_;
    std::string firmware_file_;
    std::string settings_file_;
    std::string history_file_;
    std::int32_t firmware_size_ = 0;

    std::vector<std::uint8_t> body_;
    std::vector<std::uint8_t> boot_copy_;  // boot block, then room for its sum sector
    std::uint16_t boot_sum_ = 0;
    std::uint16_t program_sum_ = 0;
    std::uint8_t program_sum_bytes_[2] = {0, 0};
    std::uint32_t sector_ = 0;
    std::uint32_t offset_ = 0;
    std::vector<std::uint8_t> directory_backup_;
    CustomerSettings customer_;
};

}  // namespace stridelog::update
