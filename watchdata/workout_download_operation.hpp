// GetAllWorkout, GetSelectedWorkout(_Ex) and GetWorkoutSummary: the directory
// is read, the selection checked, then each selected session's header sector
// and track sectors are read and decoded one session at a time, and each
// session goes to the host as one block (0x2007 or 0x2008) as soon as it is
// complete; a summary gathers the headers into one 0x2009 block instead. The
// download ends with 0x2006, or clears the directory first when asked to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "task/operation.hpp"
#include "watchdata/session_records.hpp"
#include "watchdata/workout_clearing.hpp"
#include "watchdata/workout_directory.hpp"

namespace stridelog::watchdata {

class WorkoutDownloadOperation final : public task::Operation {
  public:
    enum class Mode { all, selected, summary };

    // `selection` (Mode::selected): session indices in delivery order, repeats allowed.
    WorkoutDownloadOperation(task::TaskHost& host, Mode mode, std::vector<std::uint32_t> selection,
                             bool clear_after);

    task::OperationCode code() const override;
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;
    bool on_timer(UINT_PTR id) override;

  private:
    void on_directory();
    void request_header_sector();
    void on_header_sector();
    void read_track_sector();
    void on_track_sector();
    void end_session();
    void next_session();
    void finish();
    void fail_transfer();

    Mode mode_;
    std::vector<std::uint32_t> selection_;
    bool clear_after_;
    WorkoutClearing clearing_;

    WorkoutDirectory directory_;
    std::size_t current_ = 0;       // position in the selection
    std::size_t sector_index_ = 0;  // within the current session's sector list
    SessionRecord session_;
    TrackDecoder decoder_;
    std::vector<SessionHeader> summary_;
    std::size_t delivered_ = 0;
};

}  // namespace stridelog::watchdata
