#include "agps_report.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "codes.hpp"

namespace stridelog_tool {
namespace {

std::string clock(double seconds) {
    const auto whole = static_cast<unsigned long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%02lu:%02lu:%02lu", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%02lu:%02lu", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

std::string progress_line(const PhaseProgress& progress, double phase_seconds,
                          double total_seconds) {
    const double percent = std::isfinite(progress.percent)
                               ? std::fmin(std::fmax(progress.percent, 0.0f), 100.0f)
                               : 0.0;
    const bool download = progress.phase == stridelog::hostkit::kPhaseAgpsDownload ||
                          progress.phase == stridelog::hostkit::kPhaseFirmwareDownload;
    const bool write = progress.phase == stridelog::hostkit::kPhaseAgpsTransfer ||
                       progress.phase == stridelog::hostkit::kPhaseFirmwareTransfer;
    const char* what = download ? "downloading" : write ? "writing to the watch" : "working";
    char text[160];
    int n = std::snprintf(text, sizeof text, "%-20s %3.0f%%", what, percent);
    if (percent > 0 && percent < 100 && phase_seconds > 0.05) {
        const double left = phase_seconds * (100 - percent) / percent;
        if (progress.phase == stridelog::hostkit::kPhaseAgpsDownload) {
            const double rate = percent / 100 * kOrbitFileBytes / phase_seconds / 1000;
            n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "  %.1f kB/s",
                               rate);
        }
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "  %s left",
                           clock(left).c_str());
    }
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "  (%.1f s)", total_seconds);
    return text;
}

bool is_milestone(const std::optional<PhaseProgress>& last, const PhaseProgress& now) {
    if (!last || last->phase != now.phase) return true;
    const auto quarter = [](float p) { return static_cast<int>(std::floor(p / 25.0f)); };
    return quarter(now.percent) > quarter(last->percent);
}

int agps_exit_status(UINT error_code) {
    const unsigned tens = error_code >> 4 & 0xF;
    const unsigned ones = error_code & 0xF;
    if ((error_code & 0xFF00) != 0x1000 || tens > 9 || ones > 9) return 1;
    return static_cast<int>(10 + tens * 10 + ones);
}

std::string agps_error_text(UINT error_code, std::uint32_t limit_s) {
    std::string text;
    switch (error_code) {
        case SDK_ERR_NO_PORT:
            text = "no watch cable found; connect the watch, or try --simulate";
            break;
        case SDK_ERR_PORT_OPEN:
            text = "the cable's serial port cannot be opened; is another program using it?";
            break;
        case SDK_ERR_NO_ANSWER:
            text = "the watch does not answer on its cable; is it switched on?";
            break;
        case SDK_ERR_TRANSFER:
            text =
                "the watch stopped answering while the A-GPS data was written; "
                "run the command again";
            break;
        case SDK_ERR_OLD_FIRMWARE:
            text = "the watch's firmware is older than 1.2 and cannot take A-GPS data";
            break;
        case SDK_ERR_AGPS_REFUSED:
            // Also what ends an update whose data the watch kept reporting as not taken.
            text =
                "the watch does not take A-GPS data (its status refuses it, or it kept "
                "reporting the data written as not taken)";
            break;
        case SDK_ERR_DOWNLOAD:
            text =
                "the download from the FTP server failed; check the server, user, password "
                "and folder, and that the folder holds datetime.txt and MTK7d.EPO";
            break;
        case SDK_ERR_AGPS_FILE:
            text =
                "the downloaded MTK7d.EPO, or the packet file made from it, cannot be opened "
                "in the download folder";
            break;
        case SDK_ERR_AGPS_PACKET_FILE:
            text = "the A-GPS packet file cannot be created in the download folder";
            break;
        case SDK_ERR_AGPS_SIZE:
            text = "MTK7d.EPO is not " + std::to_string(kOrbitFileBytes) +
                   " bytes long; the server offers a file of another kind";
            break;
        case SDK_ERR_DOWNLOAD_TIMEOUT:
            text = "the download did not finish within " + std::to_string(limit_s) +
                   " s; a longer --limit may help";
            break;
        default:
            text = error_info(error_code).meaning;
            break;
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", error_code);
    return std::string("error ") + code + " " + error_info(error_code).name + ": " + text;
}

}  // namespace stridelog_tool
