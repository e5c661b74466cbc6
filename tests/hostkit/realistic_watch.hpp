// The simulator's realistic watch (six sessions, ten paths, settings, views,
// identity) on an in-process line under the virtual clock, and what the entry
// points called against it post, as a host receives it.
#pragma once

#include <functional>
#include <vector>

#include "platform/clock.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"
#include "task/flash_transfer.hpp"

namespace stridelog::test {

class RealisticWatch {
  public:
    RealisticWatch() {
        task::reset_read_chunk_progress();
        sim::register_as_cable(line_, "COM7");
        const bool large_reserve = sim::uses_large_reserve(watch_.config().status_bytes);
        watch_.with_flash([&](sim::Flash& flash) {
            expected_ = sim::generate_realistic_flash(flash, large_reserve);
        });
    }

    sim::Watch& watch() { return watch_; }
    // What a download of every session must deliver, in directory order.
    const std::vector<sim::ExpectedSession>& expected_sessions() const { return expected_; }

    // Calls `start` with the host window and runs the loop until its task has
    // ended; the notifications it posted, in order.
    std::vector<Notification> run(const std::function<void(HWND)>& start) {
        host_.clear();
        start(host_.hwnd());
        run_until_task_ends(3'600'000);
        return host_.notifications();
    }

  private:
    TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    HostRecorder host_;
    sim::Watch watch_;
    sim::InProcessLine line_{watch_, "hostkit"};
    std::vector<sim::ExpectedSession> expected_;
};

}  // namespace stridelog::test
