// AGPSDataUpdate: asks the watch whether its orbit data is still valid and, if
// not, fetches the orbit file (unless today's is already here), writes it as
// EPO packets into sectors 230..243, stores the expiry date in the directory
// sector, tells the watch the date and checks that it took the data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "task/operation.hpp"
#include "update/agps_files.hpp"
#include "update/ftp_downloader.hpp"
#include "update/task_download.hpp"

namespace stridelog::update {

inline constexpr std::uint8_t kFirstAgpsSector = 230;
inline constexpr std::uint8_t kAgpsSectorCount = 14;
inline constexpr std::uint32_t kExpiryReplyTimeoutMs = 6000;
// Writes a watch that keeps saying "not updated" gets before the task gives up.
inline constexpr int kAgpsWriteRounds = 3;

class AgpsOperation final : public task::Operation {
  public:
    AgpsOperation(task::TaskHost& host, FtpSettings settings, std::uint32_t limit_ms, bool passive,
                  std::filesystem::path folder = local_download_folder());

    task::OperationCode code() const override { return task::OperationCode::agps; }
    void prepare() override;
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;
    void on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) override;
    bool on_timer(UINT_PTR id) override;
    void on_status_reply() override;
    bool on_message(UINT message, WPARAM wparam, LPARAM lparam) override;
    void on_task_end() override;

  private:
    void decide();
    void download();
    void convert();
    void load_and_write();
    void write_current_sector();
    void fail(UINT code);

    FtpSettings settings_;
    std::uint32_t limit_ms_;
    bool passive_;
    std::filesystem::path folder_;
    TaskDownload download_;

    // 14 whole sectors: the packet stream, then erased bytes.
    std::vector<std::uint8_t> sectors_;
    std::uint32_t sector_ = kFirstAgpsSector;
    std::uint32_t sector_index_ = 0;
    ExpiryDate expiry_;
    bool directory_written_ = false;
    bool awaiting_expiry_reply_ = false;
    int rounds_ = 0;
};

}  // namespace stridelog::update
