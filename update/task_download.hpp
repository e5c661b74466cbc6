// A download run for an operation: owns the downloader, starts the rate
// display and the download time limit, and turns the downloader's messages
// into what the task window shows and the host receives (status log, progress
// bar, phase progress). A failed or timed-out download is reported to the
// operation, which ends the task its own way.
//
// Threads: the task window's thread; the downloader's worker only posts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stridelog/win_types.h"
#include "task/operation.hpp"
#include "update/ftp_downloader.hpp"

namespace stridelog::update {

inline constexpr std::uint32_t kRateDisplayPeriodMs = 1000;

class TaskDownload {
  public:
    // phase: the phase number of the host's phase progress (1 A-GPS, 3 firmware).
    TaskDownload(task::TaskHost& host, std::uint32_t phase);
    ~TaskDownload();
    TaskDownload(const TaskDownload&) = delete;
    TaskDownload& operator=(const TaskDownload&) = delete;

    struct Options {
        bool rate_display = false;      // refresh the rate display (timer 1007)
        bool progress_posting = false;  // 0x2023 for every progress message
        std::uint32_t limit_ms = 0;     // the download time limit (timer 1008)
        bool passive = false;
    };

    // Every earlier download of this run is stopped first; its connection is
    // reused (one downloader for the run, until Stop).
    void start_list(const FtpSettings& settings, const std::vector<std::string>& names,
                    const Options& options);
    void start_file(const FtpSettings& settings, const std::string& name, bool streamed,
                    std::uint32_t size, const Options& options);

    enum class Event { none, completed, failed };
    // A downloader message: `completed` when every file arrived, `failed` when
    // the download failed (the time limit is stopped for both).
    Event OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
    enum class Timer { not_ours, handled, timed_out };
    // The rate display's and the time limit's timers; `timed_out` when the
    // limit passed (the download is stopped).
    Timer OnTimer(UINT_PTR id);
    // Stops the worker; returns when it has ended.
    void stop();

  private:
    void begin(const Options& options);

    task::TaskHost& host_;
    const std::uint32_t phase_;
    std::unique_ptr<CFtpDownloader> downloader_;
    bool progress_posting_ = false;
    std::string rate_text_;
    std::string time_left_text_;
};

}  // namespace stridelog::update
