// FirmwareUpdate: reads the watch's firmware version, fetches the update
// description (and the release notes), asks the user, fetches the firmware's
// settings file and the firmware file, refuses a bad file before the watch is
// touched, then writes the new firmware: the cleared directory, the boot block
// and its sum, the language block and the customer settings, the program
// sectors and their sum; waits for the watch to come back, sets its clock and
// restores the user's settings, paths and views.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "task/operation.hpp"
#include "update/firmware_settings.hpp"
#include "update/firmware_version.hpp"
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
                      bool passive, std::filesystem::path folder = LocalDownloadFolder());

    task::OperationCode code() const override { return task::OperationCode::firmware_check; }
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;
    void on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) override;
    bool on_timer(UINT_PTR id) override;
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam) override;
    void on_task_end() override;

    // Where the task stands: the code of the step in progress, as the log and
    // the watch's tools have always numbered them.
    enum class Step : int {
        check = 115,
        clear_directory = 121,
        boot_first = 118,
        boot_second = 119,
        boot_sum = 120,
        language = 116,
        customer_settings = 117,
        program = 123,
        program_sum = 129,
        reconnect = 126,
    };

  private:
    enum class Stage { description, settings_file, firmware_file, history };

    // The check.
    void OnDirectoryRead();
    void StartDownload(Stage stage, const std::string& name, bool streamed, std::uint32_t size);
    void OnDownloaded();
    void OnDescription();
    void OnHistory();
    void Confirm();
    void Stop(FirmwareStop stop);

    // The flashing.
    void Flash();
    void WriteSectorLine();
    void WriteBootSector(Step step, std::uint32_t sector);
    void WriteLanguageSector();
    void StartProgramUpdate();
    void WriteProgramSector(bool first);
    void StartReconnection();
    void Reconnected();
    void SetClock();
    void AfterClock();
    void Fail(UINT code);

    FtpSettings settings_;
    const bool show_;
    const std::uint32_t limit_ms_;
    const bool passive_;
    const std::filesystem::path folder_;
    TaskDownload download_;

    Step step_ = Step::check;
    Stage stage_ = Stage::description;
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
    bool awaiting_program_ack_ = false;
    bool polling_ = false;
    bool awaiting_clock_ = false;
    bool restoring_ = false;
};

}  // namespace stridelog::update
