#include "progress_printer.hpp"

#include <cstdio>

namespace stridelog_tool {

ProgressPrinter::ProgressPrinter(bool terminal) : terminal_(terminal), start_(Clock::now()) {}

void ProgressPrinter::take(const Note& note) {
    if (note.error || note.code != SDK_MSG_PHASE_PROGRESS) return;
    const auto read = stridelog::hostkit::parse_phase_progress_block(note.block);
    if (!read) return;
    const PhaseProgress& now = *read;
    const auto at = Clock::now();
    if (!last_ || last_->phase != now.phase) {
        finish();
        phase_start_ = at;
    }
    const bool print = terminal_ || is_milestone(last_, now);
    const std::string line = progress_line(now, seconds(phase_start_, at), seconds(start_, at));
    last_ = now;
    if (!print) return;
    if (terminal_) {
        std::fprintf(stderr, "\r%-*s", static_cast<int>(drawn_), line.c_str());
        drawn_ = line.size();
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
}

void ProgressPrinter::notice(const std::string& line) {
    finish();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void ProgressPrinter::finish() {
    if (terminal_ && drawn_ > 0) std::fputc('\n', stderr);
    drawn_ = 0;
}

double ProgressPrinter::seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace stridelog_tool
