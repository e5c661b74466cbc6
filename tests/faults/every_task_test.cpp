// Two promises every task keeps. Closing the task window (what Cancel, Esc or
// the tool's Ctrl-C do, through Stridelog_CancelTasks) ends it at any step: no
// error and no result after the close, no block left allocated, the port
// released for the next call. And the progress a host is shown (0x2022) only
// ever grows within a task, once from a fresh process and once right after
// another task, since the read engine's chunk count outlives a task.
#include "tests/faults/every_task.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"

namespace stridelog {
namespace {

using CancelTest = test::EveryTaskTest;
using ProgressOrder = test::EveryTaskTest;

TEST_F(CancelTest, ClosingTheTaskWindowEndsEveryTaskAtEveryStep) {
    std::size_t cases = 0;
    for (const auto& task : tasks()) {
        if ((task.use & test::k_cancel) == 0) continue;
        // The frames of a whole run, to close the window before, within and near its end.
        std::size_t frames = 0;
        {
            auto bench = this->bench(task);
            test::HostRecorder host;
            task.call(host.hwnd(), TRUE);
            ASSERT_TRUE(test::run_until_task_ends(600'000)) << task.name;
            frames = bench->watch.received().size();
        }
        std::set<std::size_t> steps = {1, frames / 3, frames / 2, frames - 1};
        steps.erase(0);
        for (const std::size_t step : steps) {
            SCOPED_TRACE(task.name + ", closed after frame " + std::to_string(step) + " of " +
                         std::to_string(frames));
            ++cases;
            const std::size_t blocks_before = platform::live_global_blocks();
            auto bench = this->bench(task);
            {
                test::HostRecorder host;
                task.call(host.hwnd(), TRUE);
                EXPECT_FALSE(platform::is_window_enabled(host.hwnd())) << "shown: the host waits";
                for (HWND t : sdk::task_windows_on_this_thread())
                    EXPECT_TRUE(platform::is_window_visible(t));
                ASSERT_TRUE(test::run_until([&] { return bench->watch.received().size() >= step; },
                                            600'000));
                const std::size_t seen = host.notifications().size();
                Stridelog_CancelTasks();
                ASSERT_TRUE(test::run_until_task_ends(600'000)) << "no end";
                // Only what was on its way may still arrive, and never an error.
                const auto& notes = host.notifications();
                std::size_t finals_after = 0;
                for (std::size_t i = 0; i < notes.size(); ++i) {
                    EXPECT_FALSE(notes[i].error) << host.describe();
                    finals_after += i >= seen && notes[i].code != SDK_MSG_PROGRESS &&
                                    notes[i].code != SDK_MSG_PHASE_PROGRESS;
                }
                EXPECT_LE(finals_after, 1u) << host.describe();
                EXPECT_TRUE(platform::is_window_enabled(host.hwnd())) << "the host is usable again";
            }
            expect_nothing_left(*bench, blocks_before);
        }
    }
    std::printf("cancel: %zu cases\n", cases);
}

TEST_F(ProgressOrder, NeverGoesBackwardsInAnyTask) {
    for (const auto& task : tasks()) {
        if ((task.use & test::k_progress) == 0) continue;
        for (const bool fresh : {true, false}) {
            SCOPED_TRACE(task.name + (fresh ? ", fresh process" : ", after another"));
            auto bench = this->bench(task, fresh);
            test::HostRecorder host;
            task.call(host.hwnd(), FALSE);
            EXPECT_TRUE(test::run_until_task_ends(600'000));
            for (const auto& n : host.notifications()) EXPECT_FALSE(n.error) << host.describe();
            const std::vector<float> progress = host.progress_values();
            EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << host.describe();
        }
    }
}

}  // namespace
}  // namespace stridelog
