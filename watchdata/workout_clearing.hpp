// Emptying the workout directory: ClearWorkout, and the end of a download
// asked to clear the watch. The directory is read, its usage bitmap and
// session runs are reset, and sector 0 is written back; the workout sectors
// themselves are left as they are.
#pragma once

#include "task/operation.hpp"

namespace stridelog::watchdata {

class WorkoutClearing {
  public:
    // after_download: the clear ends a download, so the task ends with 0x2006 instead of 0x2014.
    WorkoutClearing(task::TaskHost& host, bool after_download)
        : host_(host), after_download_(after_download) {}

    void start();
    // True when the completion was the clear's.
    bool on_read_complete(int step_code);
    bool on_write_complete(int step_code);
    bool active() const { return active_; }

  private:
    task::TaskHost& host_;
    bool after_download_;
    bool active_ = false;
};

class ClearWorkoutsOperation final : public task::Operation {
  public:
    explicit ClearWorkoutsOperation(task::TaskHost& host)
        : Operation(host), clearing_(host, false) {}

    task::OperationCode code() const override { return task::OperationCode::clear_workouts; }
    void start() override { clearing_.start(); }
    void on_read_complete(int step_code) override { clearing_.on_read_complete(step_code); }
    void on_write_complete(int step_code) override { clearing_.on_write_complete(step_code); }

  private:
    WorkoutClearing clearing_;
};

}  // namespace stridelog::watchdata
