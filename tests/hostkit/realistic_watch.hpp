// The host's time zone set for a scope, and the shared fixture's watch holding the simulator's
// realistic content (six sessions, ten paths, settings, views, identity), and what the entry points
// called against it post, as a host receives it.
#pragma once

#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/realistic_content.hpp"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/simulated_watch_fixture.hpp"

namespace stridelog::test {

// The host's zone for a while.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* saved = std::getenv("TZ")) saved_ = saved;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        saved_ ? ::setenv("TZ", saved_->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> saved_;
};

class RealisticWatch : public SimulatedWatchTest {
  protected:
    void SetUp() override {
        SimulatedWatchTest::SetUp();
        const bool large_reserve = sim::uses_large_reserve(watch_.config().status_bytes);
        watch_.with_flash(
            [&](sim::Flash& flash) { sim::generate_realistic_flash(flash, large_reserve); });
    }

    // Calls `start` with the host window and runs the loop until its task has
    // ended; the notifications it posted, in order.
    std::vector<Notification> run(const std::function<void(HWND)>& start) {
        host_.clear();
        start(host_.hwnd());
        run_task(3'600'000);
        return host_.notifications();
    }

    // Every session a download delivers, read, in directory order.
    std::vector<hostkit::Session> download_sessions() {
        std::vector<hostkit::Session> sessions;
        for (const auto& n : run([](HWND h) { GetAllWorkout(h, FALSE, FALSE); })) {
            EXPECT_FALSE(n.error) << host_.describe();
            if (n.code != SDK_MSG_SESSION && n.code != SDK_MSG_SESSION_TRACK) continue;
            auto read = hostkit::parse_session_block(n.block);
            EXPECT_TRUE(read) << read.error();
            if (read) sessions.push_back(std::move(*read));
        }
        return sessions;
    }
};

}  // namespace stridelog::test
