// Every task that talks to the watch, each run against a fresh watch with a
// used look (sessions, paths, settings, views) on an in-process line
// registered as the cable: the rows of the fault, cancel and progress tables.
// The A-GPS and firmware updates fetch their files from a real FTP server on
// loopback. Runs on the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "sim/firmware_image.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/realistic_content.hpp"
#include "sim/watch.hpp"
#include "sim/watch_setup_content.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"
#include "tests/update/ftp_server.hpp"
#include "update/epo_packets.hpp"

namespace stridelog::test {

// Which tables run a row.
enum TaskUse : unsigned {
    k_matrix = 1,       // the fault matrix's 864 cases
    k_full_matrix = 2,  // the matrix with STRIDELOG_FAULT_MATRIX_FULL=1
    k_cancel = 4,       // a modal call cannot be cancelled: its task ends before it returns
    k_progress = 8,
    k_every_table = 15,
};

struct WatchTask {
    std::string name;
    std::function<void(HWND, BOOL show)> call;
    sim::WatchConfig config = {};
    std::function<void(sim::Flash&)> prepare = {};  // changes to the used look
    unsigned use = k_every_table;
    // The longest a fault may add to the run: a few reply timers and the
    // retries they start, or the task's longest single wait.
    std::uint64_t fault_cost_ms = 30'000;
};

struct RealisticBench {
    RealisticBench(const std::vector<std::uint8_t>& image, const std::string& line_name,
                   const WatchTask& task)
        : watch(task.config), line(watch, line_name) {
        watch.with_flash([&](sim::Flash& flash) {
            flash.store(0, image);
            if (task.prepare) task.prepare(flash);
        });
        platform::clear_injected();
        sim::register_as_cable(line, "COM7");
    }
    sim::Watch watch;
    sim::InProcessLine line;
};

class EveryTaskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Watch source;
        const bool large_reserve = sim::uses_large_reserve(source.config().status_bytes);
        source.with_flash([&](sim::Flash& flash) {
            sim::generate_realistic_flash(flash, large_reserve);
            image_.assign(flash.bytes().begin(), flash.bytes().end());
        });
        ASSERT_TRUE(ftp_.running()) << "pyftpdlib did not start";
        for (char c : ftp_.address()) server_.push_back(static_cast<char16_t>(c));
        // A week of A-GPS data on the server, for a watch whose data has run out.
        ftp_.put("agps/datetime.txt", "2012-12-30\r\n");
        std::string orbit(update::kOrbitFileSize, '\0');
        for (std::size_t i = 0; i < orbit.size(); ++i)
            orbit[i] = static_cast<char>(i * 7 + i / 251);
        ftp_.put("agps/MTK7d.EPO", orbit);
        // An update folder offering 1.32.01.
        std::string error;
        std::filesystem::create_directories(ftp_.root() / "fw");
        ASSERT_TRUE(sim::write_firmware_folder((ftp_.root() / "fw").string(), sim::FirmwareFolder{},
                                               nullptr, &error))
            << error;
    }

    // A fresh watch with the row's changes, registered as the cable.
    std::unique_ptr<RealisticBench> bench(const WatchTask& task, bool fresh_process = true) {
        if (fresh_process) task::reset_read_chunk_progress();
        return std::make_unique<RealisticBench>(image_, "bench" + std::to_string(serial_++), task);
    }

    // No block left, the port released, and the next call (after the watch
    // is well again for `recover_ms`, if given) finds the watch.
    void expect_nothing_left(RealisticBench& bench, std::size_t blocks_before,
                             std::uint32_t recover_ms = 0) {
        EXPECT_EQ(platform::live_global_blocks(), blocks_before) << "a block leaked";
        EXPECT_FALSE(bench.line.is_open()) << "the port was not released";
        if (recover_ms != 0) {
            bench.watch.clear_faults();
            bench.line.reconnect();
            run_for(recover_ms);
        }
        HostRecorder next;
        GetWatch_Version(next.hwnd(), FALSE);
        ASSERT_TRUE(run_until_task_ends(600'000));
        EXPECT_EQ(next.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
            << "the next call: " << next.describe();
    }

    std::vector<WatchTask> tasks() const {
        static const std::uint8_t selection[] = {0, 2};
        static const std::vector<std::uint8_t> no_paths(STRIDELOG_PATH_BLOCK_SIZE, 0);
        static const std::vector<std::uint8_t> views(STRIDELOG_VIEWS_SIZE, 0);
        static const std::vector<std::uint8_t> settings(STRIDELOG_SETTINGS_SIZE, 0);
        sim::WatchConfig expired;
        expired.start_time = sim::WatchTime{2013, 1, 1, 12, 0, 0};
        sim::WatchConfig older;
        older.version_text = "Ver1.31";
        const auto at_1_31 = [](sim::Flash& flash) {
            const std::string version = "1.31.02_VUNA0_00";
            auto directory = flash.read(0, 4096);
            std::fill(directory.begin() + 96, directory.begin() + 112, 0);
            std::copy(version.begin(), version.end(), directory.begin() + 96);
            const auto sum = sim::settings_checksum(directory.data());
            directory[0] = sum[0];
            directory[1] = sum[1];
            flash.store(0, directory);
        };
        const char16_t* server = server_.c_str();
        return {
            {"GetWatch_Version", [](HWND h, BOOL s) { GetWatch_Version(h, s); }},
            {"GetWatch_LongVer", [](HWND h, BOOL s) { GetWatch_LongVer(h, s); }},
            {"GetWorkoutSummary", [](HWND h, BOOL s) { GetWorkoutSummary(h, s); }},
            {"GetAllWorkout", [](HWND h, BOOL s) { GetAllWorkout(h, FALSE, s); }},
            {.name = "GetAllWorkout, clearing after",
             .call = [](HWND h, BOOL s) { GetAllWorkout(h, TRUE, s); },
             .use = k_cancel | k_progress},
            {"GetSelectedWorkout_Ex",
             [](HWND h, BOOL s) { GetSelectedWorkout_Ex(h, selection, 2, FALSE, s); }},
            {"ClearWorkout", [](HWND h, BOOL s) { ClearWorkout(h, s); }},
            {"GetPaths", [](HWND h, BOOL s) { GetPaths(h, s); }},
            {"SetPaths_Ex",
             [](HWND h, BOOL s) {
                 SetPaths_Ex(h, no_paths.data(), static_cast<DWORD>(no_paths.size()), s);
             }},
            {"GetViews", [](HWND h, BOOL s) { GetViews(h, s); }},
            {"SetViews", [](HWND h, BOOL s) { SetViews(h, views.data(), s); }},
            {"GetSetting", [](HWND h, BOOL s) { GetSetting(h, s); }},
            {"SetSetting", [](HWND h, BOOL s) { SetSetting(h, settings.data(), s); }},
            {"SetDateTime", [](HWND h, BOOL s) { SetDateTime(h, 24, 5, 17, 10, 30, 0, s); }},
            {.name = "ReadFlashSector",
             .call = [](HWND h, BOOL) { ReadFlashSector(h, 3); },
             .use = k_matrix | k_full_matrix | k_progress},
            {"AGPSDataUpdate",
             [server](HWND h, BOOL s) {
                 AGPSDataUpdate(h, server, u"user", u"pass", u"agps", s, 60'000, TRUE);
             },
             expired},
            // A whole update per case, with its downloads: about two minutes for the matrix.
            {"FirmwareUpdate",
             [server](HWND h, BOOL s) {
                 FirmwareUpdate(h, server, u"user", u"pass", u"fw", u"", s, 60'000, TRUE);
             },
             older, at_1_31, k_full_matrix | k_progress,
             // The watch may take up to the reconnection deadline to acknowledge ProgramUpdate.
             70'000},
        };
    }

    TestEnvironment env_;
    FtpServer ftp_{env_.root() / "ftp"};
    platform::ScopedVirtualClock clock_;
    std::vector<std::uint8_t> image_;
    std::u16string server_;
    int serial_ = 0;
};

}  // namespace stridelog::test
