#include "watchdata/workout_download_operation.hpp"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "watchdata/directory_image.hpp"

namespace stridelog::watchdata {
namespace {

constexpr std::uint32_t kSessionsDoneDelayMs = 100;
constexpr std::uint32_t kFullBarPauseMs = 500;
constexpr float kFull = 100.0f;
// Sectors the path data takes, as the download log has always reported.
constexpr unsigned kPathSectors = 6;

}  // namespace

WorkoutDownloadOperation::WorkoutDownloadOperation(task::TaskHost& host, Mode mode,
                                                   std::vector<std::uint32_t> selection,
                                                   bool clear_after)
    : Operation(host),
      mode_(mode),
      selection_(std::move(selection)),
      clear_after_(clear_after && mode != Mode::summary),
      clearing_(host, true) {}

task::OperationCode WorkoutDownloadOperation::code() const {
    return mode_ == Mode::selected ? task::OperationCode::selected_workouts
                                   : task::OperationCode::workouts;
}

void WorkoutDownloadOperation::start() {
    // The directory read counts as one sector of the whole flash, so what it
    // shows is never more than the first step of the sized bar that follows.
    host().set_progress_range(0, static_cast<int>(kSectorCount));
    host().set_progress_step(1);
    host().transfer().read_directory();
}

void WorkoutDownloadOperation::on_read_complete(int step_code) {
    if (clearing_.on_read_complete(step_code)) return;
    switch (step_code) {
        case task::kDirectoryStep:
            return on_directory();
        case task::kHeaderStep:
            return on_header_sector();
        case task::kTrackStep:
            return on_track_sector();
        default:
            return;
    }
}

void WorkoutDownloadOperation::on_write_complete(int step_code) {
    clearing_.on_write_complete(step_code);
}

void WorkoutDownloadOperation::on_directory() {
    directory_ = read_workout_directory(host().transfer().directory());
    const std::size_t sessions = directory_.sessions.size();
    if (mode_ != Mode::selected) {
        selection_.resize(sessions);
        for (std::size_t i = 0; i < sessions; ++i) selection_[i] = static_cast<std::uint32_t>(i);
    }
    std::size_t sectors = 0;
    for (std::uint32_t index : selection_) {
        if (index >= sessions) {
            host().post_error(SDK_ERR_NO_SESSION);
            host().end_task();
            return;
        }
        sectors += directory_.sessions[index].size();
    }

    char line[64];
    std::snprintf(
        line, sizeof line, "Parend hWnd : %08lx",
        static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(host().host_window())));
    host().append_log(line);
    std::snprintf(line, sizeof line, "No. of sessions : %zu", sessions);
    host().append_log(line);
    std::snprintf(line, sizeof line, "No. of sectors  : %zu", sectors);
    host().append_log(line);
    std::snprintf(line, sizeof line, "Sector for path : %u", kPathSectors);
    host().append_log(line);
    host().append_log("DL session : Y");
    host().append_log("DL path    : N");
    host().append_log("Clear FAT       : N");
    host().append_log("Clear PATH      : N");

    const std::size_t steps = mode_ == Mode::summary ? sessions + 1 : sectors + 1;
    host().set_progress_range(0, static_cast<int>(steps));
    host().set_progress_pos(0);
    // One step per sector read (per header in a summary): the bar's default
    // step of 10 would run it full after a tenth of the download.
    host().set_progress_step(1);

    if (mode_ != Mode::selected && sessions == 0) {
        host().post_result(SDK_MSG_NO_WORKOUTS);
        host().end_task();
        return;
    }
    summary_.clear();
    current_ = 0;
    if (selection_.empty()) {
        // Nothing asked for: the download ends at once, and clears nothing.
        clear_after_ = false;
        finish();
        return;
    }
    request_header_sector();
}

void WorkoutDownloadOperation::request_header_sector() {
    const auto& sectors = directory_.sessions[selection_[current_]];
    host().transfer().start_sector_read(sectors.front(), task::kHeaderStep, task::kFlashSectorSize);
}

void WorkoutDownloadOperation::on_header_sector() {
    session_ = read_session_header(host().transfer().data().first(task::kFlashSectorSize),
                                   mode_ != Mode::summary);
    if (mode_ == Mode::summary) {
        summary_.push_back(session_.header);
        next_session();
        return;
    }
    const auto& sectors = directory_.sessions[selection_[current_]];
    char line[64];
    std::snprintf(line, sizeof line, "Session %zu , Lap (%u) TrkPt(%u)", current_ + 1,
                  static_cast<unsigned>(session_.lap_count()),
                  static_cast<unsigned>(session_.recorded_points()));
    host().append_log(line);
    if (session_.recorded_points() == 0) {
        for (std::size_t i = 1; i < sectors.size(); ++i) host().step_progress();
        host().post_result_block(SDK_MSG_SESSION, build_session_block(session_));
        ++delivered_;
        next_session();
        return;
    }
    decoder_.begin_session();
    sector_index_ = 1;
    if (sector_index_ >= sectors.size()) {
        end_session();
        return;
    }
    read_track_sector();
}

void WorkoutDownloadOperation::read_track_sector() {
    const std::uint8_t sector = directory_.sessions[selection_[current_]][sector_index_];
    // A directory naming sector 0 or 255 as track data cannot be read as such:
    // end the download as failed rather than wait for data never asked for.
    if (!host().transfer().start_offset_read(sector, task::kTrackStep, kCarryAreaSize,
                                             task::kFlashSectorSize))
        fail_transfer();
}

void WorkoutDownloadOperation::on_track_sector() {
    const auto& sectors = directory_.sessions[selection_[current_]];
    std::vector<std::string> log;
    const auto outcome = decoder_.decode_sector(host().transfer().data().first<kDecodeBufferSize>(),
                                                sectors[sector_index_], log);
    for (const auto& line : log) host().append_log(line);
    if (outcome == TrackDecoder::Outcome::sector_used && ++sector_index_ < sectors.size()) {
        read_track_sector();
        return;
    }
    end_session();
}

void WorkoutDownloadOperation::end_session() {
    auto& points = decoder_.points();
    fix_up_leading_points(points, session_.start_stamp());
    host().post_result_block(SDK_MSG_SESSION_TRACK, build_session_block(session_, points));
    ++delivered_;
    decoder_.begin_session();  // frees nothing it will need: the next session starts anew
    decoder_.points().shrink_to_fit();
    next_session();
}

void WorkoutDownloadOperation::next_session() {
    ++current_;
    if (current_ < selection_.size()) {
        request_header_sector();
        return;
    }
    finish();
}

void WorkoutDownloadOperation::finish() {
    if (mode_ == Mode::summary) {
        host().post_result_block(SDK_MSG_SUMMARY, build_summary_block(summary_));
        summary_.clear();
    }
    host().post_progress(kFull);
    host().set_timer(task::kSessionsDoneTimer, kSessionsDoneDelayMs);
}

bool WorkoutDownloadOperation::on_timer(UINT_PTR id) {
    if (id != task::kSessionsDoneTimer) return false;
    host().kill_timer(id);
    if (clear_after_) {
        clearing_.start();
        return true;
    }
    host().fill_progress();
    platform::clock().sleep_ms(kFullBarPauseMs);
    host().post_progress(kFull);
    host().post_result(SDK_MSG_WORKOUTS_DONE);
    host().end_task();
    return true;
}

void WorkoutDownloadOperation::fail_transfer() {
    host().post_error(SDK_ERR_TRANSFER);
    host().post_progress(kFull);
    host().end_task();
}

}  // namespace stridelog::watchdata
