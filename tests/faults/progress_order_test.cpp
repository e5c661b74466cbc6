// The progress a host is shown (0x2022) only ever grows within a task, for
// every entry point that talks to the watch: once from a fresh process and once
// right after another task, since the read engine's chunk count outlives a task.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "sim/firmware_image.hpp"
#include "sim/watch.hpp"
#include "sim/watch_setup_content.hpp"
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
    std::function<void(sim::Flash&)> prepare = [](sim::Flash&) {};
};

// The 0x2022 values up to the final notification, and whether any error came.
struct Seen {
    std::vector<float> progress;
    bool error = false;
};

Seen observe(const test::HostRecorder& host) {
    Seen seen;
    for (const auto& n : host.notifications()) {
        seen.error = seen.error || n.error;
        if (n.code == SDK_MSG_PROGRESS && !n.error) seen.progress.push_back(n.progress());
    }
    return seen;
}

class ProgressOrder : public ::testing::Test {
  protected:
    void SetUp() override { image_ = test::realistic_image(); }

    Seen Run(const Task& task) {
        test::RealisticBench bench(image_, "progress" + std::to_string(serial_++), task.config,
                                   task.prepare);
        test::HostRecorder host;
        task.call(host.hwnd());
        EXPECT_TRUE(test::run_until_task_ends(600'000)) << task.name;
        return observe(host);
    }

    test::TestEnvironment env_;
    test::FtpServer ftp_{env_.root() / "ftp"};
    platform::ScopedVirtualClock clock_;
    Bytes image_;
    int serial_ = 0;
};

TEST_F(ProgressOrder, NeverGoesBackwardsInAnyTask) {
    ASSERT_TRUE(ftp_.running()) << "pyftpdlib did not start";
    static const std::uint8_t selection[] = {0, 2};
    static const Bytes no_paths(STRIDELOG_PATH_BLOCK_SIZE, 0);
    static const Bytes views(STRIDELOG_VIEWS_SIZE, 0);
    static const Bytes settings(STRIDELOG_SETTINGS_SIZE, 0);
    std::u16string server;
    for (char c : ftp_.address()) server.push_back(static_cast<char16_t>(c));
    ftp_.put("agps/datetime.txt", "2012-12-30\r\n");
    ftp_.put("agps/MTK7d.EPO", std::string(update::kOrbitFileSize, 'e'));
    sim::WatchConfig expired;
    expired.start_time = sim::WatchTime{2013, 1, 1, 12, 0, 0};
    std::string error;
    std::filesystem::create_directories(ftp_.root() / "fw");
    ASSERT_TRUE(sim::write_firmware_folder((ftp_.root() / "fw").string(), sim::FirmwareFolder{},
                                           nullptr, &error))
        << error;
    sim::WatchConfig older;
    older.version_text = "Ver1.31";

    const std::vector<Task> tasks = {
        {"GetWatch_LongVer", [](HWND h) { GetWatch_LongVer(h, FALSE); }},
        {"GetWorkoutSummary", [](HWND h) { GetWorkoutSummary(h, FALSE); }},
        {"GetAllWorkout", [](HWND h) { GetAllWorkout(h, FALSE, FALSE); }},
        {"GetAllWorkout, clearing after", [](HWND h) { GetAllWorkout(h, TRUE, FALSE); }},
        {"GetSelectedWorkout_Ex",
         [](HWND h) { GetSelectedWorkout_Ex(h, selection, 2, FALSE, FALSE); }},
        {"ClearWorkout", [](HWND h) { ClearWorkout(h, FALSE); }},
        {"GetPaths", [](HWND h) { GetPaths(h, FALSE); }},
        {"SetPaths_Ex",
         [](HWND h) {
             SetPaths_Ex(h, no_paths.data(), static_cast<DWORD>(no_paths.size()), FALSE);
         }},
        {"GetViews", [](HWND h) { GetViews(h, FALSE); }},
        {"SetViews", [](HWND h) { SetViews(h, views.data(), FALSE); }},
        {"GetSetting", [](HWND h) { GetSetting(h, FALSE); }},
        {"SetSetting", [](HWND h) { SetSetting(h, settings.data(), FALSE); }},
        {"SetDateTime", [](HWND h) { SetDateTime(h, 24, 5, 17, 10, 30, 0, FALSE); }},
        {"ReadFlashSector", [](HWND h) { ReadFlashSector(h, 3); }},
        {"AGPSDataUpdate",
         [&](HWND h) {
             AGPSDataUpdate(h, server.c_str(), u"user", u"pass", u"agps", FALSE, 60'000, TRUE);
         },
         expired},
        {"FirmwareUpdate",
         [&](HWND h) {
             FirmwareUpdate(h, server.c_str(), u"user", u"pass", u"fw", u"", FALSE, 60'000, TRUE);
         },
         older,
         [](sim::Flash& flash) {
             const std::string version = "1.31.02_VUNA0_00";
             Bytes directory = flash.read(0, 4096);
             std::fill(directory.begin() + 96, directory.begin() + 112, 0);
             std::copy(version.begin(), version.end(), directory.begin() + 96);
             const auto sum = sim::settings_checksum(directory.data());
             directory[0] = sum[0];
             directory[1] = sum[1];
             flash.store(0, directory);
         }},
    };
    for (const Task& task : tasks) {
        for (const bool fresh : {true, false}) {
            SCOPED_TRACE(std::string(task.name) + (fresh ? ", fresh process" : ", after another"));
            if (fresh) task::reset_read_chunk_progress();
            const Seen seen = Run(task);
            EXPECT_FALSE(seen.error);
            std::string values;
            for (float v : seen.progress) values += std::to_string(v) + " ";
            for (std::size_t i = 1; i < seen.progress.size(); ++i)
                EXPECT_GE(seen.progress[i], seen.progress[i - 1]) << "at " << i << ": " << values;
        }
    }
}

}  // namespace
}  // namespace stridelog
