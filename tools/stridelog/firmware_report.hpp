// What `stridelog firmware` makes of a firmware update: the offer as the
// confirmation question shows it, the moment the watch restarts, and an error
// text per code. Pure functions and a clock-driven watcher, tested on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agps_report.hpp"
#include "stridelog/stridelog.h"

namespace stridelog_tool {

// What the SDK showed when it asked before writing a firmware.
struct FirmwareOffer {
    bool asked = false;
    std::string caption;
    std::string message;             // as shown, line ends "\r\n"
    std::vector<std::string> notes;  // release notes: version, "- " lines, an empty line
};

// The offered version, "1.32.1", from the question ("... firmware (1.32.1) is
// available ..."); nullopt when the message names none.
std::optional<std::string> offered_version(const std::string& message);
// The message with "\r\n" (and lone "\r") as "\n", without trailing line ends.
std::string terminal_text(const std::string& message);
// The release notes without the empty lines at their end, each indented by
// `indent` (empty lines stay empty).
std::vector<std::string> note_lines(const std::vector<std::string>& notes,
                                    const std::string& indent);

// After the firmware is written the watch restarts and answers nothing until
// the SDK reconnects (30 s at least, 70 s at most); until then no notification
// comes. Writing posts progress at least every few seconds, since an
// unanswered write fails after 3 s, so a longer silence in the writing phase
// is the restart.
class RestartWatch {
  public:
    static constexpr double kSilenceS = 3.5;

    enum class Event { none, restarting, back };
    // A phase progress notification at time `at` (seconds).
    Event take(std::uint32_t phase, double at);
    // No notification since the last one; `at` is now.
    Event tick(double at);
    bool restarting() const { return restarting_; }
    // Seconds from the last write before the silence to `at`.
    double silent_for(double at) const { return at - last_; }

  private:
    bool writing_ = false;
    bool restarting_ = false;
    double last_ = 0;
};

// Same scheme as agps: 10 + the code's last two digits.
inline int firmware_exit_status(UINT error_code) {
    return agps_exit_status(error_code);
}
// "error 0x1013 SDK_ERR_FIRMWARE_IMAGE: ..." with what it means for the watch.
std::string firmware_error_text(UINT error_code, std::uint32_t limit_s);

}  // namespace stridelog_tool
