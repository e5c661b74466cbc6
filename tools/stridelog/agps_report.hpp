// What `stridelog agps` makes of the A-GPS notifications: the phase progress
// lines, and an error text and exit status of its own for each error code.
// Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "stridelog/hostkit/records.hpp"
#include "stridelog/stridelog.h"

namespace stridelog_tool {

// The orbit file is always transferred as this many bytes, so a download
// percentage is a byte count.
constexpr std::uint32_t kOrbitFileBytes = 53760;

// The phase progress blocks are read by the host kit.
using stridelog::hostkit::PhaseProgress;

// One progress line: what is done, the percentage, the time left, for the
// orbit file's download (whose size is known) a rate, and the time since the
// command started.
// phase_seconds: time since the phase's first notification.
std::string progress_line(const PhaseProgress& progress, double phase_seconds,
                          double total_seconds);
// Without a terminal only these lines are printed: the first of a phase, each
// quarter, and the end.
bool is_milestone(const std::optional<PhaseProgress>& last, const PhaseProgress& now);

// 10 + the code's last two digits read as a decimal number (the codes skip
// A..F): 0x1000 -> 10, 0x1008 -> 18, 0x1014 -> 24; 1 for any other code.
int agps_exit_status(UINT error_code);
// "error 0x1008 SDK_ERR_DOWNLOAD: ..." with what to do about it.
std::string agps_error_text(UINT error_code, std::uint32_t limit_s);

}  // namespace stridelog_tool
