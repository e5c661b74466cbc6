// Phase progress of a download and of the writing to the watch, on stderr:
// one line rewritten on a terminal, milestone lines otherwise.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "agps_report.hpp"
#include "host_session.hpp"

namespace stridelog_tool {

class ProgressPrinter {
  public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressPrinter(bool terminal);
    ~ProgressPrinter() { finish(); }
    ProgressPrinter(const ProgressPrinter&) = delete;
    ProgressPrinter& operator=(const ProgressPrinter&) = delete;

    void take(const Note& note);
    // A line of its own, after the progress line drawn so far.
    void notice(const std::string& line);
    // Ends the drawn line, so that what follows starts on a line of its own.
    void finish();

  private:
    static double seconds(Clock::time_point from, Clock::time_point to);

    bool terminal_;
    Clock::time_point start_;
    Clock::time_point phase_start_;
    std::optional<PhaseProgress> last_;
    std::size_t drawn_ = 0;
};

}  // namespace stridelog_tool
