// Every entry point that talks to the watch, against a watch that misbehaves on
// each command the entry point sends, in every way a line or a watch can: no
// reply, a late one, a bad checksum, a wrong length, line noise before it, the
// reply cut in two or into single bytes, the reply twice, the line going away
// halfway through a reply, the watch restarting. Whatever happens, the host
// sees one ending (or the whole success), no block is left allocated, the port
// is free for the next call, and the task ends within a bounded time.
//
// Runs on the virtual clock with the in-process line, so timer-driven endings
// cost no real time. The A-GPS and firmware updates fetch their files from a
// real FTP server on loopback; the firmware row runs only with
// STRIDELOG_FAULT_MATRIX_FULL=1.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "sdk/task_registry.hpp"
#include "sim/firmware_image.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/realistic_content.hpp"
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

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;

// Codes after which a task posts nothing but progress: the header's tables say which.
bool is_final(UINT code) {
    switch (code) {
#define STRIDELOG_FINAL_CASE(name, value, final, meaning) \
    case name:                                            \
        return final != 0;
        STRIDELOG_ERROR_CODES(STRIDELOG_FINAL_CASE)
        STRIDELOG_RESULT_CODES(STRIDELOG_FINAL_CASE)
#undef STRIDELOG_FINAL_CASE
        default:
            return false;
    }
}

bool is_error(UINT code) {
    switch (code) {
#define STRIDELOG_ERROR_CASE(name, value, final, meaning) case name:
        STRIDELOG_ERROR_CODES(STRIDELOG_ERROR_CASE)
#undef STRIDELOG_ERROR_CASE
        return true;
        default:
            return false;
    }
}

// What a host keeps of a run: each notification but progress and the version
// text (a retried version query posts the text once per reply), with its block.
struct Outcome {
    std::vector<UINT> codes;
    std::vector<Bytes> blocks;
    bool operator==(const Outcome&) const = default;
};

Outcome outcome_of(const test::HostRecorder& host) {
    Outcome out;
    for (const auto& n : host.notifications()) {
        if (n.code == SDK_MSG_PROGRESS || n.code == SDK_MSG_PHASE_PROGRESS ||
            n.code == SDK_MSG_WATCH_VERSION)
            continue;
        out.codes.push_back(n.code);
        out.blocks.push_back(n.block);
    }
    return out;
}

struct EntryPoint {
    const char* name;
    std::function<void(HWND)> call;
    sim::WatchConfig config = {};
    // Changes to the used watch's flash for this entry point.
    std::function<void(sim::Flash&)> prepare = {};
    // The longest a fault may add to the run: a few reply timers and the retries
    // they start, or the entry point's longest single wait.
    std::uint64_t fault_cost_ms = 30'000;
};

struct FaultCase {
    const char* name;
    std::function<Fault(std::uint8_t id)> make;
    // A watch that still answers every command correctly: the task must succeed
    // exactly as it does without the fault.
    bool harmless;
};

constexpr std::uint32_t kRebootMs = 5000;

const std::vector<FaultCase>& fault_cases() {
    static const std::vector<FaultCase> cases = {
        {"no reply", [](std::uint8_t id) { return Fault::on_command(FaultKind::silence, id); },
         false},
        {"late reply",
         [](std::uint8_t id) {
             Fault f = Fault::on_command(FaultKind::delay, id);
             f.delay_ms = 3500;  // past every reply timer
             return f;
         },
         false},
        {"bad checksum",
         [](std::uint8_t id) { return Fault::on_command(FaultKind::bad_checksum, id); }, false},
        {"one byte too many",
         [](std::uint8_t id) { return Fault::on_command(FaultKind::wrong_length, id); }, false},
        {"one byte too few",
         [](std::uint8_t id) {
             Fault f = Fault::on_command(FaultKind::wrong_length, id);
             f.length_delta = -1;
             return f;
         },
         false},
        {"noise before the reply",
         [](std::uint8_t id) { return Fault::on_command(FaultKind::garbage_before, id); }, true},
        {"reply in two parts",
         [](std::uint8_t id) {
             Fault f = Fault::on_command(FaultKind::split, id);
             f.delay_ms = 5;
             return f;
         },
         true},
        {"reply byte by byte",
         [](std::uint8_t id) {
             Fault f = Fault::on_command(FaultKind::byte_by_byte, id);
             f.delay_ms = 1;
             return f;
         },
         true},
        {"reply twice", [](std::uint8_t id) { return Fault::on_command(FaultKind::duplicate, id); },
         true},
        {"line gone before the reply",
         [](std::uint8_t id) { return Fault::on_command(FaultKind::disconnect, id); }, false},
        {"line gone halfway through the reply",
         [](std::uint8_t id) {
             Fault f = Fault::on_command(FaultKind::disconnect, id);
             f.cut_after = 4;  // the frame start and its length
             return f;
         },
         false},
        {"watch restarts",
         [](std::uint8_t id) {
             Fault f = Fault::on_command(FaultKind::reboot, id);
             f.delay_ms = kRebootMs;
             return f;
         },
         false},
    };
    return cases;
}

using Bench = test::RealisticBench;

class FaultMatrix : public ::testing::Test {
  protected:
    void SetUp() override { image_ = test::realistic_image(); }

    std::unique_ptr<Bench> new_bench(const EntryPoint* entry = nullptr) {
        task::reset_read_chunk_progress();
        return std::make_unique<Bench>(image_, "matrix" + std::to_string(serial_++),
                                       entry ? entry->config : sim::WatchConfig{},
                                       [entry](sim::Flash& flash) {
                                           if (entry && entry->prepare) entry->prepare(flash);
                                       });
    }
    std::uint64_t now() { return platform::clock().now_ms(); }

    // The block a Get call delivers, for the matching Set call.
    Bytes fetch_block(const std::function<void(HWND)>& get, UINT code) {
        auto bench = new_bench();
        test::HostRecorder host;
        get(host.hwnd());
        EXPECT_TRUE(test::run_until_task_ends(600'000));
        const auto blocks = host.blocks(code);
        EXPECT_EQ(blocks.size(), 1u) << host.describe();
        return blocks.empty() ? Bytes{} : blocks[0];
    }

    test::TestEnvironment env_;
    test::FtpServer ftp_{env_.root() / "ftp"};
    platform::ScopedVirtualClock clock_;
    Bytes image_;
    int serial_ = 0;
};

TEST_F(FaultMatrix, EveryEntryPointEveryCommandEveryFault) {
    const Bytes views = fetch_block([](HWND h) { GetViews(h, FALSE); }, SDK_MSG_VIEWS);
    const Bytes settings = fetch_block([](HWND h) { GetSetting(h, FALSE); }, SDK_MSG_SETTINGS);
    ASSERT_EQ(views.size(), static_cast<std::size_t>(STRIDELOG_VIEWS_SIZE));
    ASSERT_EQ(settings.size(), static_cast<std::size_t>(STRIDELOG_SETTINGS_SIZE));
    const Bytes no_paths(STRIDELOG_PATH_BLOCK_SIZE, 0);
    static const std::uint8_t selection[] = {0, 2};

    std::vector<EntryPoint> entry_points = {
        {"GetWatch_Version", [](HWND h) { GetWatch_Version(h, FALSE); }},
        {"GetWatch_LongVer", [](HWND h) { GetWatch_LongVer(h, FALSE); }},
        {"GetWorkoutSummary", [](HWND h) { GetWorkoutSummary(h, FALSE); }},
        {"GetAllWorkout", [](HWND h) { GetAllWorkout(h, FALSE, FALSE); }},
        {"GetSelectedWorkout_Ex",
         [](HWND h) { GetSelectedWorkout_Ex(h, selection, 2, FALSE, FALSE); }},
        {"ClearWorkout", [](HWND h) { ClearWorkout(h, FALSE); }},
        {"GetPaths", [](HWND h) { GetPaths(h, FALSE); }},
        {"SetPaths_Ex",
         [&](HWND h) {
             SetPaths_Ex(h, no_paths.data(), static_cast<DWORD>(no_paths.size()), FALSE);
         }},
        {"GetViews", [](HWND h) { GetViews(h, FALSE); }},
        {"SetViews", [&](HWND h) { SetViews(h, views.data(), FALSE); }},
        {"GetSetting", [](HWND h) { GetSetting(h, FALSE); }},
        {"SetSetting", [&](HWND h) { SetSetting(h, settings.data(), FALSE); }},
        {"SetDateTime", [](HWND h) { SetDateTime(h, 24, 5, 17, 10, 30, 0, FALSE); }},
        {"ReadFlashSector", [](HWND h) { ReadFlashSector(h, 3); }},
    };
    // A watch whose A-GPS data has run out, and a server with a week of it.
    std::u16string server;
    if (ftp_.running()) {
        for (char c : ftp_.address()) server.push_back(static_cast<char16_t>(c));
        ftp_.put("agps/datetime.txt", "2012-12-30\r\n");
        std::string orbit(update::kOrbitFileSize, '\0');
        for (std::size_t i = 0; i < orbit.size(); ++i)
            orbit[i] = static_cast<char>(i * 7 + i / 251);
        ftp_.put("agps/MTK7d.EPO", orbit);
        sim::WatchConfig expired;
        expired.start_time = sim::WatchTime{2013, 1, 1, 12, 0, 0};
        entry_points.push_back({"AGPSDataUpdate",
                                [&](HWND h) {
                                    AGPSDataUpdate(h, server.c_str(), u"user", u"pass", u"agps",
                                                   FALSE, 60'000, TRUE);
                                },
                                expired});
    }
    // The firmware row takes about two minutes (a whole update per case, with
    // its downloads): STRIDELOG_FAULT_MATRIX_FULL=1 adds it.
    const char* full = std::getenv("STRIDELOG_FAULT_MATRIX_FULL");
    if (ftp_.running() && full != nullptr && std::string(full) == "1") {
        // A watch at 1.31.02 and an update folder offering 1.32.01.
        sim::FirmwareFolder offer;
        std::string error;
        std::filesystem::create_directories(ftp_.root() / "fw");
        ASSERT_TRUE(
            sim::write_firmware_folder((ftp_.root() / "fw").string(), offer, nullptr, &error))
            << error;
        sim::WatchConfig older;
        older.version_text = "Ver1.31";
        entry_points.push_back({"FirmwareUpdate",
                                [&](HWND h) {
                                    FirmwareUpdate(h, server.c_str(), u"user", u"pass", u"fw", u"",
                                                   FALSE, 60'000, TRUE);
                                },
                                older,
                                [](sim::Flash& flash) {
                                    const std::string version = "1.31.02_VUNA0_00";
                                    Bytes text(16, 0);
                                    std::copy(version.begin(), version.end(), text.begin());
                                    Bytes directory = flash.read(0, 4096);
                                    std::copy(text.begin(), text.end(), directory.begin() + 96);
                                    const auto sum = sim::settings_checksum(directory.data());
                                    directory[0] = sum[0];
                                    directory[1] = sum[1];
                                    flash.store(0, directory);
                                },
                                // The watch may take up to the reconnection
                                // deadline to acknowledge ProgramUpdate.
                                70'000});
    }
    if (!ftp_.running()) ADD_FAILURE() << "pyftpdlib did not start: the update rows left out";

    std::size_t cases = 0;
    for (const auto& entry : entry_points) {
        // The run without a fault: what success looks like, and which commands go out.
        Outcome success;
        std::vector<std::uint8_t> commands;
        std::size_t middle_frame = 0;  // 1-based; 0: the run is too short for one
        std::uint8_t middle_id = 0;
        std::uint64_t success_ms = 0;
        {
            auto bench = new_bench(&entry);
            test::HostRecorder host;
            const std::uint64_t start = now();
            entry.call(host.hwnd());
            ASSERT_TRUE(test::run_until_task_ends(600'000)) << entry.name;
            success_ms = now() - start;
            success = outcome_of(host);
            const auto sent = bench->watch.received_ids();
            for (std::uint8_t id : sent)
                if (std::find(commands.begin(), commands.end(), id) == commands.end())
                    commands.push_back(id);
            // Beyond the first of each command: one frame in the middle of a
            // long run (later reads have shorter timers than the first).
            if (sent.size() >= 8) {
                middle_frame = sent.size() / 2;
                middle_id = sent[middle_frame - 1];
            }
            ASSERT_FALSE(success.codes.empty() && std::string(entry.name) != "GetWatch_Version")
                << entry.name << ": " << host.describe();
            for (UINT code : success.codes)
                ASSERT_FALSE(is_error(code)) << entry.name << " fails without a fault";
        }
        // The status query may go unanswered: the operation then runs on the
        // default status, which changes what some results say (the used space).
        Outcome success_without_status;
        {
            auto bench = new_bench(&entry);
            bench->watch.add_fault(Fault::on_command(FaultKind::silence, 0x2C, -1));
            test::HostRecorder host;
            entry.call(host.hwnd());
            ASSERT_TRUE(test::run_until_task_ends(600'000)) << entry.name;
            success_without_status = outcome_of(host);
        }
        auto succeeded = [&](const Outcome& outcome, std::uint8_t id) {
            return outcome == success || (id == 0x2C && outcome == success_without_status);
        };
        std::uint64_t longest = 0;

        const auto real_start = std::chrono::steady_clock::now();
        const std::size_t cases_before = cases;
        // Each command's first frame, then the middle frame (as target 0).
        std::vector<std::size_t> targets(commands.size());
        for (std::size_t t = 0; t < targets.size(); ++t) targets[t] = t + 1;
        if (middle_frame != 0) targets.push_back(0);
        for (const std::size_t target : targets) {
            const std::uint8_t id = target != 0 ? commands[target - 1] : middle_id;
            for (const auto& fault : fault_cases()) {
                char legend[160];
                if (target != 0) {
                    std::snprintf(legend, sizeof legend, "%s, command 0x%02X, %s", entry.name, id,
                                  fault.name);
                } else {
                    std::snprintf(legend, sizeof legend, "%s, frame %zu (0x%02X), %s", entry.name,
                                  middle_frame, id, fault.name);
                }
                SCOPED_TRACE(legend);
                ++cases;
                const std::size_t blocks_before = platform::live_global_blocks();
                auto bench = new_bench(&entry);
                Fault injected = fault.make(id);
                if (target == 0) {
                    injected.command.reset();
                    injected.frame_number = middle_frame;
                }
                bench->watch.add_fault(injected);
                std::uint64_t took = 0;
                {
                    test::HostRecorder host;
                    const std::uint64_t start = now();
                    entry.call(host.hwnd());
                    const bool ended = test::run_until_task_ends(600'000);
                    took = now() - start;
                    ASSERT_TRUE(ended) << "no end";
                    ASSERT_FALSE(sdk::task_active_on_this_thread());

                    // One ending, then nothing but progress.
                    const auto& notes = host.notifications();
                    std::size_t finals = 0;
                    std::size_t last_final = 0;
                    for (std::size_t i = 0; i < notes.size(); ++i) {
                        if (!is_final(notes[i].code)) continue;
                        ++finals;
                        last_final = i;
                    }
                    const Outcome outcome = outcome_of(host);
                    const bool failed =
                        std::any_of(outcome.codes.begin(), outcome.codes.end(), is_error);
                    if (finals == 0) {
                        // Only the two tasks without a code of their own end like this.
                        EXPECT_TRUE(succeeded(outcome, id)) << host.describe();
                    } else {
                        EXPECT_EQ(finals, 1u) << host.describe();
                        for (std::size_t i = last_final + 1; i < notes.size(); ++i)
                            EXPECT_EQ(notes[i].code, static_cast<UINT>(SDK_MSG_PROGRESS))
                                << "after the ending: " << host.describe();
                        // A success is the whole success, never part of the data.
                        if (!failed) {
                            EXPECT_TRUE(succeeded(outcome, id)) << host.describe();
                        }
                    }
                    if (fault.harmless) {
                        EXPECT_EQ(outcome, success) << host.describe();
                    }
                }
                EXPECT_EQ(platform::live_global_blocks(), blocks_before) << "a block leaked";
                EXPECT_FALSE(bench->line.is_open()) << "the port was not released";
                EXPECT_LE(took, success_ms + entry.fault_cost_ms) << "took " << took << " ms";
                longest = std::max(longest, took);

                // The next call opens the port and finds the watch again.
                bench->watch.clear_faults();
                bench->line.reconnect();
                test::run_for(kRebootMs);
                test::HostRecorder next;
                GetWatch_Version(next.hwnd(), FALSE);
                ASSERT_TRUE(test::run_until_task_ends(600'000));
                EXPECT_EQ(next.codes(),
                          (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS}))
                    << "the next call: " << next.describe();
            }
        }
        std::printf(
            "  %-22s %zu targets, %zu cases, longest %llu ms virtual (%llu without a "
            "fault), %lld ms real\n",
            entry.name, targets.size(), cases - cases_before,
            static_cast<unsigned long long>(longest), static_cast<unsigned long long>(success_ms),
            static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - real_start)
                                       .count()));
        std::fflush(stdout);
    }
    std::printf("fault matrix: %zu cases over %zu entry points and %zu faults\n", cases,
                entry_points.size(), fault_cases().size());
    RecordProperty("cases", static_cast<int>(cases));
    EXPECT_GE(cases, entry_points.size() * 2 * fault_cases().size());
}

}  // namespace
}  // namespace stridelog
