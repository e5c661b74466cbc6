// The fixture of every suite that drives entry points against a simulated
// watch on an in-process line: a private environment, the virtual clock, a
// recording host, the watch registered as the cable on COM7, and at the end a
// check that no task is left running and no block leaked.
//
// Suites derive from it and arrange the watch's flash in their own SetUp after
// calling this one. Threads: the test's main thread only.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::test {

class SimulatedWatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        task::reset_read_chunk_progress();
        sim::register_as_cable(line_, "COM7");
    }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread()) << "a task is still running";
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }

    // Runs the message loop until the task ends (virtual time bound).
    void run_task(std::uint64_t bound_ms = 600'000) {
        EXPECT_TRUE(run_until_task_ends(bound_ms)) << "task did not end";
    }
    // Command ids the watch received, without the connection's own (0x10, 0x2C).
    std::vector<std::uint8_t> command_ids() const {
        std::vector<std::uint8_t> ids;
        for (const auto& p : watch_.received())
            if (!p.empty() && p[0] != 0x10 && p[0] != 0x2C) ids.push_back(p[0]);
        return ids;
    }
    void store(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
        watch_.with_flash([&](sim::Flash& flash) { flash.store(address, bytes); });
    }

    TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    HostRecorder host_;
    sim::Watch watch_;
    sim::InProcessLine line_{watch_, "COM7"};
    std::size_t blocks_before_ = 0;
};

}  // namespace stridelog::test
