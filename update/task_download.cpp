#include "update/task_download.hpp"

namespace stridelog::update {
namespace {

std::string take_text(const link::PayloadMessage<std::string>& message, WPARAM wparam) {
    const auto text = message.take(wparam);
    return text ? std::move(*text) : std::string();
}

}  // namespace

TaskDownload::TaskDownload(task::TaskHost& host, std::uint32_t phase)
    : host_(host), phase_(phase) {}

TaskDownload::~TaskDownload() {
    stop();
}

void TaskDownload::begin(const Options& options) {
    // One downloader for the run: its connection, and so its login, serves
    // every download (a server may limit logins). Starting stops the last one.
    if (!downloader_) downloader_ = std::make_unique<CFtpDownloader>(host_.task_window());
    if (options.rate_display) host_.set_timer(task::kRateDisplayTimer, kRateDisplayPeriodMs);
    progress_posting_ = options.progress_posting;
    host_.set_timer(task::kDownloadLimitTimer, options.limit_ms);
}

void TaskDownload::start_list(const FtpSettings& settings, const std::vector<std::string>& names,
                              const Options& options) {
    begin(options);
    downloader_->DownloadFiles(settings, &names, 0, options.passive);
}

void TaskDownload::start_file(const FtpSettings& settings, const std::string& name, bool streamed,
                              std::uint32_t size, const Options& options) {
    begin(options);
    downloader_->DownloadFile(settings, name, streamed, size, options.passive);
}

void TaskDownload::stop() {
    if (downloader_) downloader_->StopDownload();
    downloader_.reset();
}

TaskDownload::Event TaskDownload::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_FTP_STATUS:
            host_.append_log(take_text(kFtpStatusMessage, wparam));
            return Event::none;
        case WM_FTP_DONE:
            host_.kill_timer(task::kDownloadLimitTimer);
            return Event::completed;
        case WM_FTP_FAILED:
            host_.kill_timer(task::kDownloadLimitTimer);
            return Event::failed;
        case WM_FTP_PROGRESS:
            host_.set_progress_pos(static_cast<int>(wparam));
            if (progress_posting_) host_.post_phase_progress(phase_);
            return Event::none;
        case WM_FTP_RANGE:
            host_.set_progress_range(static_cast<int>(wparam), static_cast<int>(lparam));
            return Event::none;
        case WM_FTP_TIME_LEFT:
            time_left_text_ = take_text(kFtpTimeLeftMessage, wparam);
            host_.set_rate_texts(rate_text_, time_left_text_);
            return Event::none;
        case WM_FTP_RATE:
            rate_text_ = take_text(kFtpRateMessage, wparam);
            host_.set_rate_texts(rate_text_, time_left_text_);
            return Event::none;
        default:
            return Event::none;
    }
}

TaskDownload::Timer TaskDownload::OnTimer(UINT_PTR id) {
    if (id == task::kRateDisplayTimer) {
        host_.refresh_rate_display();
        return Timer::handled;
    }
    if (id != task::kDownloadLimitTimer) return Timer::not_ours;
    host_.kill_timer(task::kDownloadLimitTimer);
    stop();
    return Timer::timed_out;
}

}  // namespace stridelog::update
