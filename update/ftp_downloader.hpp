// Fetches files from the host's FTP server into the local download folder, on a
// worker thread, reporting to an owner window with the WM_FTP_* messages.
//
// One worker at a time: starting a download stops the running one. The
// connection made by the first download of an object is kept and reused by the
// later ones (their settings are then not used to connect again).
//
// Threads: construct, start, stop and destroy on the owner's thread. The worker
// only reads what was copied in at the start and posts messages; it never
// touches the owner's state. The process's current directory is never changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "stridelog/win_types.h"
#include "update/ftp_messages.hpp"

namespace stridelog::update {

// Server, account and folder as the host passes them. The server text may end
// in ":port" (default 21).
struct FtpSettings {
    std::string server;
    std::string user;
    std::string password;
    std::string folder;
    std::string fifth;         // not used by the downloader
    std::string display_name;  // shown in the connection status line only
};

// The list variant streams every name but this one with this expected size.
inline constexpr const char* kWholeFileName = "datetime.txt";
inline constexpr std::uint32_t kListStreamSize = 53760;
inline constexpr std::uint32_t kChunkBytes = 128;

// The documents folder plus "Stride Log" (not created here).
std::filesystem::path local_download_folder();
// The one rule for a file name from the server (or from the watch) that the
// update tasks download: it can only name a file inside the download folder.
// Not empty, not ".", no "/" or "\" or NUL, and no ".." anywhere (stricter
// than a path check needs, so no reading of the name can climb out).
bool is_safe_download_name(std::string_view name);
// "host:port" split; nullopt when the port is not a number in 1..65535.
struct ServerAddress {
    std::string host;
    std::uint16_t port = 21;
};
std::optional<ServerAddress> parse_server(std::string_view server);
// Time left as posted: "mm:ss" under an hour, else "hh:mm:ss".
std::string format_time_left(std::uint32_t seconds);
// The rate (kB/s, "%.2lf") and time-left texts after `done` of `estimate`
// bytes arrived in `elapsed_ms`: nullopt while no millisecond has passed or
// nothing has arrived.
struct RateTexts {
    std::string rate;
    std::string time_left;
};
std::optional<RateTexts> transfer_rate_texts(std::uint32_t done, std::uint32_t estimate,
                                             std::uint64_t elapsed_ms);

// A transfer that receives nothing for this long fails.
inline constexpr std::uint32_t kDefaultStallLimitMs = 60'000;

class CFtpDownloader {
  public:
    explicit CFtpDownloader(HWND owner);
    virtual ~CFtpDownloader();
    CFtpDownloader(const CFtpDownloader&) = delete;
    CFtpDownloader& operator=(const CFtpDownloader&) = delete;

    // One file, fetched whole or streamed in 128-byte chunks with progress
    // (size: the expected size). Always true; the work goes on in the worker.
    bool DownloadFile(const FtpSettings& settings, const std::string& file_name, bool streamed,
                      std::uint32_t file_size, bool passive);
    // The names in order: "datetime.txt" whole, every other one streamed as
    // 53760 bytes. False (nothing started) when names is null.
    bool DownloadFiles(const FtpSettings& settings, const std::vector<std::string>* names,
                       int unused, bool passive);
    // Returns once the worker has ended; it posts nothing more after a stop.
    void StopDownload();

    // For the downloads started after the call.
    void set_stall_limit_ms(std::uint32_t ms) { stall_limit_ms_ = ms; }

    bool finished() const { return finished_.load(); }
    bool running() const { return worker_.joinable(); }

  private:
    struct Job {
        FtpSettings settings;
        std::vector<std::string> names;
        bool list = false;
        bool streamed = false;
        std::uint32_t file_size = 0;
        bool passive = false;
    };
    struct Session;

    void start(Job job);
    void run(const Job& job);
    bool connect(const FtpSettings& settings);
    bool fetch_whole(const std::string& name, const std::filesystem::path& local);
    bool fetch_streamed(const std::string& name, const std::filesystem::path& local,
                        std::uint32_t size);
    void post_text(const link::PayloadMessage<std::string>& message, std::string text) const;
    void post(UINT message, WPARAM wparam, LPARAM lparam) const;

    const HWND owner_;
    Session* session_ = nullptr;  // the kept connection; null until the first one
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    bool passive_ = false;
    std::atomic<std::uint32_t> stall_limit_ms_{kDefaultStallLimitMs};
    std::thread worker_;
};

}  // namespace stridelog::update
