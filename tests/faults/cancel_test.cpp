// Closing the task window (what Cancel, Esc or the tool's Ctrl-C do, through
// Stridelog_CancelTasks) ends every kind of task through the task end at any
// step: no error and no result after the close, no block left allocated, the
// port released for the next call.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/faults/realistic_bench.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"
#include "tests/update/ftp_server.hpp"
#include "update/epo_packets.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Task {
    const char* name;
    std::function<void(HWND)> call;
    sim::WatchConfig config = {};
};

class CancelTest : public ::testing::Test {
  protected:
    void SetUp() override { image_ = test::realistic_image(); }

    std::unique_ptr<test::RealisticBench> new_bench(const Task& task) {
        task::reset_read_chunk_progress();
        return std::make_unique<test::RealisticBench>(image_, "cancel" + std::to_string(serial_++),
                                                      task.config, [](sim::Flash&) {});
    }

    test::TestEnvironment env_;
    test::FtpServer ftp_{env_.root() / "ftp"};
    platform::ScopedVirtualClock clock_;
    Bytes image_;
    int serial_ = 0;
};

TEST_F(CancelTest, ClosingTheTaskWindowEndsEveryTaskAtEveryStep) {
    static const std::uint8_t selection[] = {0, 2};
    static const Bytes no_paths(STRIDELOG_PATH_BLOCK_SIZE, 0);
    static const Bytes views(STRIDELOG_VIEWS_SIZE, 0);
    std::vector<Task> tasks = {
        {"GetWatch_LongVer", [](HWND h) { GetWatch_LongVer(h, TRUE); }},
        {"GetWorkoutSummary", [](HWND h) { GetWorkoutSummary(h, TRUE); }},
        {"GetAllWorkout", [](HWND h) { GetAllWorkout(h, TRUE, TRUE); }},
        {"GetSelectedWorkout_Ex",
         [](HWND h) { GetSelectedWorkout_Ex(h, selection, 2, TRUE, TRUE); }},
        {"ClearWorkout", [](HWND h) { ClearWorkout(h, TRUE); }},
        {"GetPaths", [](HWND h) { GetPaths(h, TRUE); }},
        {"SetPaths_Ex",
         [](HWND h) {
             SetPaths_Ex(h, no_paths.data(), static_cast<DWORD>(no_paths.size()), TRUE);
         }},
        {"GetViews", [](HWND h) { GetViews(h, TRUE); }},
        {"SetViews", [](HWND h) { SetViews(h, views.data(), TRUE); }},
        {"GetSetting", [](HWND h) { GetSetting(h, TRUE); }},
        {"SetDateTime", [](HWND h) { SetDateTime(h, 24, 5, 17, 10, 30, 0, TRUE); }},
    };
    std::u16string server;
    ASSERT_TRUE(ftp_.running()) << "pyftpdlib did not start";
    for (char c : ftp_.address()) server.push_back(static_cast<char16_t>(c));
    ftp_.put("agps/datetime.txt", "2012-12-30\r\n");
    ftp_.put("agps/MTK7d.EPO", std::string(update::kOrbitFileSize, 'e'));
    sim::WatchConfig expired;
    expired.start_time = sim::WatchTime{2013, 1, 1, 12, 0, 0};
    tasks.push_back({"AGPSDataUpdate",
                     [&](HWND h) {
                         AGPSDataUpdate(h, server.c_str(), u"user", u"pass", u"agps", TRUE, 60'000,
                                        TRUE);
                     },
                     expired});

    std::size_t cases = 0;
    for (const Task& task : tasks) {
        // The frames of a whole run, to close the window before, within and near its end.
        std::size_t frames = 0;
        {
            auto bench = new_bench(task);
            test::HostRecorder host;
            task.call(host.hwnd());
            ASSERT_TRUE(test::run_until_task_ends(600'000)) << task.name;
            frames = bench->watch.received().size();
            ASSERT_GE(frames, 2u) << task.name;
        }
        std::set<std::size_t> steps = {1, frames / 3, frames / 2, frames - 1};
        steps.erase(0);
        for (const std::size_t step : steps) {
            SCOPED_TRACE(std::string(task.name) + ", closed after frame " + std::to_string(step) +
                         " of " + std::to_string(frames));
            ++cases;
            const std::size_t blocks_before = platform::live_global_blocks();
            auto bench = new_bench(task);
            {
                test::HostRecorder host;
                const std::uint64_t start = platform::clock().now_ms();
                task.call(host.hwnd());
                ASSERT_TRUE(test::run_until([&] { return bench->watch.received().size() >= step; },
                                           600'000));
                const std::size_t seen = host.notifications().size();
                Stridelog_CancelTasks();
                ASSERT_TRUE(test::run_until_task_ends(600'000)) << "no end";
                EXPECT_FALSE(sdk::task_active_on_this_thread());
                EXPECT_LT(platform::clock().now_ms() - start, 600'000u);
                // Only what was on its way may still arrive, and never an error.
                const auto& notes = host.notifications();
                for (std::size_t i = 0; i < notes.size(); ++i)
                    EXPECT_FALSE(notes[i].error) << host.describe();
                std::size_t finals_after = 0;
                for (std::size_t i = seen; i < notes.size(); ++i)
                    if (notes[i].code != SDK_MSG_PROGRESS &&
                        notes[i].code != SDK_MSG_PHASE_PROGRESS)
                        ++finals_after;
                EXPECT_LE(finals_after, 1u) << host.describe();
                EXPECT_TRUE(platform::is_window_enabled(host.hwnd())) << "the host is usable again";
            }
            EXPECT_EQ(platform::live_global_blocks(), blocks_before) << "a block leaked";
            EXPECT_FALSE(bench->line.is_open()) << "the port was not released";
            test::HostRecorder next;
            GetWatch_Version(next.hwnd(), FALSE);
            ASSERT_TRUE(test::run_until_task_ends(600'000));
            EXPECT_EQ(next.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
                << "the next call: " << next.describe();
        }
    }
    std::printf("cancel: %zu cases over %zu tasks\n", cases, tasks.size());
}

}  // namespace
}  // namespace stridelog
