#include "update/ftp_downloader.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "diag/diagnostics.hpp"
#include "platform/clock.hpp"
#include "platform/window_system.hpp"

namespace stridelog::update {
namespace {

// The worker waits for and measures a real network, whatever clock the
// owner's timers run on.
void real_sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t real_now_ms() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::string escaped(CURL* curl, std::string_view text) {
    char* escaped = curl_easy_escape(curl, text.data(), static_cast<int>(text.size()));
    std::string out = escaped ? escaped : "";
    curl_free(escaped);
    return out;
}

// The folder as URL path segments, each ending in '/'; a leading '/' stays
// absolute (%2F) instead of being taken relative to the login folder.
std::string folder_path(CURL* curl, std::string_view folder) {
    std::string out;
    if (!folder.empty() && folder.front() == '/') out = "%2F";
    std::size_t start = 0;
    while (start <= folder.size()) {
        std::size_t end = folder.find('/', start);
        if (end == std::string_view::npos) end = folder.size();
        if (end > start) out += escaped(curl, folder.substr(start, end - start)) + "/";
        start = end + 1;
    }
    return out;
}

}  // namespace

std::filesystem::path local_download_folder() {
    return std::filesystem::path(diag::GetPersonalFolder()) / "Stride Log";
}

bool is_safe_download_name(std::string_view name) {
    if (name.empty() || name == ".") return false;
    if (name.find("..") != std::string_view::npos) return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<ServerAddress> parse_server(std::string_view server) {
    ServerAddress address;
    const std::size_t colon = server.rfind(':');
    const bool bracketed = !server.empty() && server.front() == '[';
    const bool has_port =
        colon != std::string_view::npos &&
        (bracketed ? server.substr(0, colon).ends_with(']') : server.find(':') == colon);
    if (!has_port) {
        address.host = std::string(server);
        return address;
    }
    const std::string_view port = server.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || value == 0 ||
        value > 65535)
        return std::nullopt;
    address.host = std::string(server.substr(0, colon));
    address.port = static_cast<std::uint16_t>(value);
    return address;
}

std::string format_time_left(std::uint32_t seconds) {
    char text[32];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%02u:%02u", seconds / 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    return text;
}

std::optional<RateTexts> transfer_rate_texts(std::uint32_t done, std::uint32_t estimate,
                                             std::uint64_t elapsed_ms) {
    if (elapsed_ms == 0 || done == 0) return std::nullopt;
    // Bytes per millisecond are kB/s: the first second counts in full.
    const double rate = static_cast<double>(done) / static_cast<double>(elapsed_ms);
    const double left = (static_cast<double>(estimate) - done) / 1000.0 / rate;
    char text[64];
    std::snprintf(text, sizeof text, "%.2lf", rate);
    const double capped = std::clamp(left, 0.0, double{std::numeric_limits<std::uint32_t>::max()});
    return RateTexts{text, format_time_left(static_cast<std::uint32_t>(capped))};
}

struct CFtpDownloader::Session {
    CURL* curl = nullptr;
    std::string base_url;  // "ftp://host:port/folder/"
    bool connected = false;
    ~Session() {
        if (curl) curl_easy_cleanup(curl);
    }
};

CFtpDownloader::CFtpDownloader(HWND owner) : owner_(owner) {
    // Not thread-safe in older libcurl: done once, on the owner's thread.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CFtpDownloader::~CFtpDownloader() {
    StopDownload();
    delete session_;
}

bool CFtpDownloader::DownloadFile(const FtpSettings& settings, const std::string& file_name,
                                  bool streamed, std::uint32_t file_size, bool passive) {
    Job job;
    job.settings = settings;
    job.names = {file_name};
    job.streamed = streamed;
    job.file_size = file_size;
    job.passive = passive;
    start(std::move(job));
    return true;
}

bool CFtpDownloader::DownloadFiles(const FtpSettings& settings,
                                   const std::vector<std::string>* names, int /*unused*/,
                                   bool passive) {
    if (worker_.joinable()) StopDownload();
    if (!names) return false;
    Job job;
    job.settings = settings;
    job.names = *names;
    job.list = true;
    job.passive = passive;
    start(std::move(job));
    return true;
}

void CFtpDownloader::start(Job job) {
    if (worker_.joinable()) StopDownload();
    stop_ = false;
    finished_ = false;
    passive_ = job.passive;
    // A virtual clock must not jump to the owner's next timer (the download
    // time limit) while the network still works; the worker's last post
    // precedes the release.
    platform::note_in_flight(+1);
    worker_ = std::thread([this, job = std::move(job)] {
        run(job);
        platform::note_in_flight(-1);
    });
}

void CFtpDownloader::StopDownload() {
    stop_ = true;
    finished_ = true;
    if (worker_.joinable()) worker_.join();
}

void CFtpDownloader::post(UINT message, WPARAM wparam, LPARAM lparam) const {
    platform::post_message(owner_, message, wparam, lparam);
}

void CFtpDownloader::post_text(const link::PayloadMessage<std::string>& message,
                               std::string text) const {
    message.post(owner_, std::make_unique<std::string>(std::move(text)));
}

void CFtpDownloader::run(const Job& job) {
    const FtpSettings& s = job.settings;
    post_text(kFtpStatusMessage, "Connnect to " + s.display_name + "(" + s.server + ")");

    // Checked before connecting, so a name that would leave the download
    // folder never gets a local file.
    for (const std::string& name : job.names) {
        if (!is_safe_download_name(name)) {
            post_text(kFtpStatusMessage, "Invalid file name " + name);
            post(WM_FTP_FAILED, 0, 0);
            return;
        }
    }

    // A relative folder would land wherever the host's current directory is.
    const std::filesystem::path folder = local_download_folder();
    if (!folder.is_absolute()) {
        post_text(kFtpStatusMessage, std::string("FTP : ") + "Write local file fail");
        post(WM_FTP_FAILED, 0, 0);
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);

    if (!session_ || !session_->connected) {
        if (!connect(s)) {
            if (stop_) finished_ = true;
            return;
        }
    }
    real_sleep(150);

    bool failed = false;
    for (const std::string& name : job.names) {
        if (stop_) break;
        const std::filesystem::path local = folder / name;
        post_text(kFtpStatusMessage, "Downloading " + name + " ...");
        bool ok;
        if (job.list)
            ok = name == kWholeFileName ? fetch_whole(name, local)
                                        : fetch_streamed(name, local, kListStreamSize);
        else
            ok = job.streamed ? fetch_streamed(name, local, job.file_size)
                              : fetch_whole(name, local);
        if (!ok) {
            failed = true;
            break;
        }
    }

    if (stop_) {
        finished_ = true;
        return;
    }
    real_sleep(100);
    if (failed) {
        post(WM_FTP_FAILED, 0, 0);
        return;
    }
    post_text(kFtpStatusMessage, "Download is completed");
    post(WM_FTP_DONE, 0, 0);
    finished_ = true;
}

namespace {

// Ends a transfer on a stop, or once nothing has arrived for the stall limit
// (a data connection the server leaves open and silent would never end).
struct Watchdog {
    Watchdog(std::atomic<bool>* stop_flag, std::uint32_t limit_ms)
        : stop(stop_flag), stall_limit_ms(limit_ms) {}
    std::atomic<bool>* stop;
    std::uint32_t stall_limit_ms;
    curl_off_t received = 0;
    std::uint64_t since_ms = real_now_ms();
    bool stalled = false;
};

int watch_transfer(void* data, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* w = static_cast<Watchdog*>(data);
    if (w->stop->load()) return 1;
    const std::uint64_t now = real_now_ms();
    if (received != w->received) {
        w->received = received;
        w->since_ms = now;
    } else if (now - w->since_ms >= w->stall_limit_ms) {
        w->stalled = true;
        return 1;
    }
    return 0;
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

void prepare(CURL* curl, const std::string& url, Watchdog* watchdog, bool passive) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, watch_transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, watchdog);
    // Active mode: the data port on the address the control connection uses.
    curl_easy_setopt(curl, CURLOPT_FTPPORT, passive ? nullptr : "-");
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
}

}  // namespace

bool CFtpDownloader::connect(const FtpSettings& s) {
    delete session_;
    session_ = new Session;
    auto address = parse_server(s.server);
    session_->curl = curl_easy_init();
    Watchdog watchdog(&stop_, stall_limit_ms_);
    CURLcode result = CURLE_URL_MALFORMAT;
    if (address && session_->curl && !address->host.empty()) {
        CURL* curl = session_->curl;
        const std::string host =
            address->host.find(':') != std::string::npos && address->host.front() != '['
                ? "[" + address->host + "]"
                : address->host;
        session_->base_url = "ftp://" + host + ":" + std::to_string(address->port) + "/" +
                             folder_path(curl, s.folder);
        curl_easy_setopt(curl, CURLOPT_USERNAME, s.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, s.password.c_str());
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 20L);
        curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, 30L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        prepare(curl, session_->base_url, &watchdog, passive_);
        // Log in and enter the folder, nothing transferred.
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
        result = curl_easy_perform(curl);
        curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    }
    if (stop_) return false;
    if (result == CURLE_OK) {
        session_->connected = true;
        return true;
    }
    diag::Trace("FTP connect: %s", curl_easy_strerror(result));
    if (result == CURLE_REMOTE_ACCESS_DENIED)
        post_text(kFtpStatusMessage, "FTP set current directory err");
    else
        post_text(kFtpStatusMessage, "Error in connecting FTP site " + s.server);
    post(WM_FTP_FAILED, 0, 0);
    delete session_;
    session_ = nullptr;
    return false;
}

namespace {

// A whole-file fetch: the local file is created on the first byte (or at the
// end, for an empty file), so a missing remote file leaves no local file.
struct WholeTarget {
    std::filesystem::path path;
    std::ofstream out;
    bool open_failed = false;
    bool Open() {
        if (!out.is_open() && !open_failed) {
            out.open(path, std::ios::binary | std::ios::trunc);
            open_failed = !out.is_open();
        }
        return !open_failed;
    }
};

size_t write_whole(char* data, size_t size, size_t count, void* target) {
    auto* t = static_cast<WholeTarget*>(target);
    if (!t->Open()) return 0;
    t->out.write(data, static_cast<std::streamsize>(size * count));
    return t->out ? size * count : 0;
}

}  // namespace

bool CFtpDownloader::fetch_whole(const std::string& name, const std::filesystem::path& local) {
    CURL* curl = session_->curl;
    WholeTarget target;
    target.path = local;
    Watchdog watchdog(&stop_, stall_limit_ms_);
    prepare(curl, session_->base_url + escaped(curl, name), &watchdog, passive_);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_whole);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &target);
    CURLcode result = curl_easy_perform(curl);
    if (stop_) return false;
    if (result == CURLE_OK && (!target.Open() || !(target.out.flush()))) result = CURLE_WRITE_ERROR;
    if (result == CURLE_OK) return true;
    diag::Trace("FTP get %s: %s", name.c_str(),
                watchdog.stalled ? "nothing received" : curl_easy_strerror(result));
    post_text(kFtpStatusMessage, "FTP Exception ");
    return false;
}

namespace {

// A streamed fetch: the data reaches the file in chunks of 128 bytes (the last
// one shorter when the size is not a multiple), each followed by progress,
// rate and time left. Only bytes received are written.
struct StreamTarget {
    std::atomic<bool>* stop = nullptr;
    std::filesystem::path path;
    std::ofstream out;
    bool open_failed = false;
    bool write_failed = false;
    bool stopped = false;
    std::uint32_t size = 0;  // expected
    std::uint32_t done = 0;
    std::uint64_t start_ms = 0;
    std::array<char, kChunkBytes> buffer{};
    std::uint32_t filled = 0;
    std::function<void(UINT, WPARAM)> post;
    std::function<void(const link::PayloadMessage<std::string>&, std::string)> post_text;

    std::uint32_t chunk_length() const { return std::min<std::uint32_t>(kChunkBytes, size - done); }

    bool Open() {
        if (!out.is_open() && !open_failed) {
            out.open(path, std::ios::binary | std::ios::trunc);
            open_failed = !out.is_open();
        }
        return !open_failed;
    }

    bool write_filled() {
        out.write(buffer.data(), filled);
        done += filled;
        filled = 0;
        if (!out) write_failed = true;
        return !write_failed;
    }

    void report() {
        post(WM_FTP_PROGRESS, static_cast<WPARAM>(std::uint64_t{done} * 100 / size));
        auto texts = transfer_rate_texts(done, size, real_now_ms() - start_ms);
        if (!texts) return;
        post_text(kFtpRateMessage, std::move(texts->rate));
        post_text(kFtpTimeLeftMessage, std::move(texts->time_left));
    }
};

size_t write_streamed(char* data, size_t size, size_t count, void* target) {
    auto* t = static_cast<StreamTarget*>(target);
    const size_t total = size * count;
    size_t used = 0;
    while (used < total) {
        if (t->done == t->size) return 0;  // more than expected: the rest is not wanted
        const std::uint32_t want = t->chunk_length() - t->filled;
        const auto take = static_cast<std::uint32_t>(std::min<size_t>(want, total - used));
        std::copy_n(data + used, take, t->buffer.data() + t->filled);
        t->filled += take;
        used += take;
        if (t->filled < t->chunk_length()) break;
        if (t->stop->load()) {
            t->stopped = true;
            return 0;
        }
        if (!t->Open() || !t->write_filled()) return 0;
        t->report();
    }
    return total;
}

}  // namespace

bool CFtpDownloader::fetch_streamed(const std::string& name, const std::filesystem::path& local,
                                    std::uint32_t size) {
    post(WM_FTP_RANGE, 0, 100);
    post(WM_FTP_PROGRESS, 0, 0);
    CURL* curl = session_->curl;
    StreamTarget target;
    target.stop = &stop_;
    target.path = local;
    target.size = size;
    target.start_ms = real_now_ms();
    target.post = [this](UINT message, WPARAM wparam) { post(message, wparam, 0); };
    target.post_text = [this](const link::PayloadMessage<std::string>& message, std::string text) {
        post_text(message, std::move(text));
    };
    Watchdog watchdog(&stop_, stall_limit_ms_);
    prepare(curl, session_->base_url + escaped(curl, name), &watchdog, passive_);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_streamed);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &target);
    const CURLcode result = curl_easy_perform(curl);
    if (stop_ || target.stopped) return false;
    if (target.open_failed || target.write_failed) {
        post_text(kFtpStatusMessage, std::string("FTP : ") + "Write local file fail");
        return false;
    }
    const bool complete = target.done == size;
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && complete)) {
        diag::Trace("FTP stream %s: %s", name.c_str(),
                    watchdog.stalled ? "nothing received" : curl_easy_strerror(result));
        if (target.done == 0 && !target.out.is_open()) {
            // Never opened on the server (missing, refused).
            post_text(kFtpStatusMessage, "FTP Exception ");
            return false;
        }
    }
    if (!complete) {
        // Shorter than expected: keep what arrived, nothing more, and fail.
        if (target.filled > 0 && target.Open()) target.write_filled();
        if (!target.Open()) {
            post_text(kFtpStatusMessage, std::string("FTP : ") + "Write local file fail");
            return false;
        }
        post_text(kFtpStatusMessage,
                  std::string("FTP : exception") + "FTP : SetWriteBufferSize fail");
        return false;
    }
    // The last bytes reach the disk only here: a full disk may show now.
    if (target.Open()) target.out.close();
    if (target.open_failed || !target.out) {
        post_text(kFtpStatusMessage, std::string("FTP : ") + "Write local file fail");
        return false;
    }
    post(WM_FTP_PROGRESS, 100, 0);
    return true;
}

}  // namespace stridelog::update
