#include "firmware_report.hpp"

#include <cstdio>

#include "codes.hpp"

namespace stridelog_tool {

std::optional<std::string> offered_version(const std::string& message) {
    const std::size_t open = message.find('(');
    if (open == std::string::npos) return std::nullopt;
    const std::size_t close = message.find(')', open + 1);
    if (close == std::string::npos || close == open + 1) return std::nullopt;
    const std::string version = message.substr(open + 1, close - open - 1);
    for (const char c : version)
        if ((c < '0' || c > '9') && c != '.' && c != '-') return std::nullopt;
    return version;
}

std::string terminal_text(const std::string& message) {
    std::string text;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r') {
            text += '\n';
            if (i + 1 < message.size() && message[i + 1] == '\n') ++i;
        } else {
            text += message[i];
        }
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::vector<std::string> note_lines(const std::vector<std::string>& notes,
                                    const std::string& indent) {
    std::size_t end = notes.size();
    while (end > 0 && notes[end - 1].empty()) --end;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < end; ++i)
        lines.push_back(notes[i].empty() ? std::string() : indent + notes[i]);
    return lines;
}

RestartWatch::Event RestartWatch::take(std::uint32_t phase, double at) {
    const bool was_restarting = restarting_;
    writing_ = phase == stridelog::hostkit::kPhaseFirmwareTransfer;
    restarting_ = false;
    last_ = at;
    return was_restarting ? Event::back : Event::none;
}

RestartWatch::Event RestartWatch::tick(double at) {
    if (!writing_ || restarting_ || at - last_ < kSilenceS) return Event::none;
    restarting_ = true;
    return Event::restarting;
}

std::string firmware_error_text(UINT error_code, std::uint32_t limit_s) {
    std::string text;
    switch (error_code) {
        case SDK_ERR_TRANSFER:
            text =
                "the watch stopped answering; if the firmware was being written, its workouts "
                "and paths are already erased and the update must be run again";
            break;
        case SDK_ERR_OLD_FIRMWARE:
            text = "the watch's firmware is older than 1.2, which this tool cannot update";
            break;
        case SDK_ERR_DOWNLOAD:
            text =
                "the download from the FTP server failed; check the server, user, password and "
                "folder, and that the folder holds this watch's update description (such as "
                "73688_VUNA0_00.txt) and the files it names";
            break;
        case SDK_ERR_FIRMWARE_INFO:
            text =
                "the server's update description names no firmware file and size "
                "([Method1] 0=FILE.fw2,SIZE); nothing was written to the watch";
            break;
        case SDK_ERR_FIRMWARE_IMAGE:
            text =
                "the downloaded firmware image is damaged or not a watch firmware (its size, "
                "header or checksum is wrong); nothing was written to the watch";
            break;
        case SDK_ERR_DOWNLOAD_TIMEOUT:
            text = "a download did not finish within " + std::to_string(limit_s) +
                   " s; a longer --limit may help";
            break;
        default:
            return agps_error_text(error_code, limit_s);
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", error_code);
    return std::string("error ") + code + " " + error_info(error_code).name + ": " + text;
}

}  // namespace stridelog_tool
