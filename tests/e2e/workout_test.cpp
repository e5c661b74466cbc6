// Workout downloads, summaries and clearing as a host sees them, against a
// simulated watch (in-process line, virtual clock) whose flash is laid out
// here byte by byte: the notification sequence, the blocks, and the directory
// sector the watch is left with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "stridelog/framework_arrays.h"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/record_stream.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::Bytes;
using test::Stream;
using Codes = std::vector<UINT>;

constexpr test::StampBytes kErased{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr test::Time kMorning{2024, 5, 17, 7, 0, 0};

struct StoredSession {
    Bytes header_sector;
    Bytes stream;  // empty: no track sectors
};

// Three sessions: no track points and three laps; a track running over two
// sectors; a short track. Sessions take sectors from 1 on in directory order.
std::vector<StoredSession> three_sessions() {
    Stream long_track;
    long_track.full(1000, 2000, 50, kMorning);
    for (int i = 0; i < 250; ++i) long_track.delta(i / 20 % 60, (i * 3) % 60, 10, -10, 1);
    long_track.time_only(1);
    Stream pad;  // a track over two sectors: fill the first with time-only records
    pad.full(5, 6, 0, kMorning).time_only(1357).full(7, 8, 0, kMorning).end();
    return {
        {test::header_sector(0, 3, {0, 0, 6, 17, 5, 24}, kErased, kErased), {}},
        {test::header_sector(1359, 1, {0, 0, 7, 17, 5, 24}, {0, 0, 10, 1, 6, 24},
                            {20, 0, 10, 1, 6, 24}),
         pad.bytes},
        {test::header_sector(252, 0, {0, 0, 8, 17, 5, 24}, kErased, kErased),
         long_track.end().bytes},
    };
}

class WorkoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        task::reset_read_chunk_progress();
        sim::register_as_cable(line_, "COM7");
    }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }
    // Lays the sessions out and writes a matching directory and usage bitmap.
    void store(const std::vector<StoredSession>& sessions) {
        Bytes directory(4096, 0xFF);
        for (std::size_t i = 0; i < 224; ++i) directory[i] = static_cast<std::uint8_t>(i);
        std::vector<std::uint8_t> runs;
        int next = 1;
        watch_.with_flash([&](sim::Flash& flash) {
            for (const auto& s : sessions) {
                const auto use = [&](int sector) {
                    directory[224 + sector / 8] &= static_cast<std::uint8_t>(~(1u << (sector % 8)));
                    runs.push_back(static_cast<std::uint8_t>(sector));
                };
                flash.store(static_cast<std::uint32_t>(next) * 4096, s.header_sector);
                use(next++);
                for (std::size_t at = 0; at < s.stream.size(); at += 4096) {
                    Bytes sector(4096, 0xFF);
                    std::copy_n(s.stream.begin() + static_cast<std::ptrdiff_t>(at),
                                std::min<std::size_t>(4096, s.stream.size() - at), sector.begin());
                    flash.store(static_cast<std::uint32_t>(next) * 4096, sector);
                    use(next++);
                }
                runs.push_back(0xFF);
            }
            directory[224] &= 0xFE;
            std::copy(runs.begin(), runs.end(), directory.begin() + 256);
            flash.store(0, directory);
        });
        directory_ = directory;
    }
    bool run_task() { return test::run_until_task_ends(600'000); }
    // The last notifications, progress written as its value ("2022:100").
    std::vector<std::string> tail(std::size_t count) const {
        std::vector<std::string> tail;
        const auto& notes = host_.notifications();
        for (std::size_t i = notes.size() - std::min(count, notes.size()); i < notes.size(); ++i) {
            char text[32];
            if (notes[i].code == SDK_MSG_PROGRESS)
                std::snprintf(text, sizeof text, "%04x:%g", notes[i].code, notes[i].progress());
            else
                std::snprintf(text, sizeof text, "%04x", notes[i].code);
            tail.emplace_back(text);
        }
        return tail;
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::HostRecorder host_;
    sim::Watch watch_;
    sim::InProcessLine line_{watch_, "workouts"};
    Bytes directory_;
    std::size_t blocks_before_ = 0;
};

TEST_F(WorkoutTest, GetAllWorkoutDeliversEverySessionInDirectoryOrder) {
    const auto sessions = three_sessions();
    store(sessions);
    GetAllWorkout(host_.hwnd(), FALSE, FALSE);
    ASSERT_TRUE(run_task());
    EXPECT_EQ(host_.codes_without_progress(),
              (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_SESSION, SDK_MSG_SESSION_TRACK,
                     SDK_MSG_SESSION_TRACK, SDK_MSG_WORKOUTS_DONE}))
        << host_.describe();
    EXPECT_EQ(tail(3), (std::vector<std::string>{"2022:100", "2022:100", "2006"}));

    const auto plain = host_.blocks(SDK_MSG_SESSION);
    ASSERT_EQ(plain.size(), 1u);
    ASSERT_EQ(plain[0].size(), 108u);
    EXPECT_TRUE(
        std::equal(plain[0].begin() + 12, plain[0].begin() + 60, sessions[0].header_sector.begin()))
        << "the header as stored (erased stamps: no correction)";
    EXPECT_TRUE(
        std::equal(plain[0].begin() + 60, plain[0].end(), sessions[0].header_sector.begin() + 64))
        << "three laps as stored";

    const auto tracks = host_.blocks(SDK_MSG_SESSION_TRACK);
    ASSERT_EQ(tracks.size(), 2u);
    auto count = [](const Bytes& b, std::size_t laps) {
        const std::size_t at = 60 + 16 * laps;
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24;
    };
    EXPECT_EQ(count(tracks[0], 1), 1359) << "two full records and 1357 time-only over two sectors";
    EXPECT_EQ(tracks[0].size(), 64u + 16u + 25u * 1359u);
    EXPECT_EQ(tracks[0][12 + 5], 7) << "start hour";
    EXPECT_EQ(tracks[0][12 + 3], 20) << "start moved by B - A = 20 s";
    EXPECT_EQ(count(tracks[1], 0), 252);
    // The last point of the long track: 250 deltas of +10 from 1000.
    const Bytes last(tracks[1].end() - 25, tracks[1].end());
    EXPECT_EQ(last[0] & 0x0F, 2) << "the closing time-only record";
    EXPECT_EQ(last[8] | last[9] << 8, 1000 + 2500);
}

TEST_F(WorkoutTest, Selections) {
    store(three_sessions());
    std::vector<UINT> indices;
    CUIntArray array{nullptr, nullptr, 0, 0, 0};
    struct Case {
        const char* legend;
        std::vector<UINT> selection;
        bool null_array;
        Codes codes;  // blocks and ends, without the read progress
    };
    auto with_done = [&](Codes c) {
        c.insert(c.begin(), SDK_MSG_WATCH_VERSION);
        c.push_back(SDK_MSG_WORKOUTS_DONE);
        return c;
    };
    const Case cases[] = {
        {"{1, 1}: session 1 twice",
         {1, 1},
         false,
         with_done({SDK_MSG_SESSION_TRACK, SDK_MSG_SESSION_TRACK})},
        {"{2, 0}: session 2 first",
         {2, 0},
         false,
         with_done({SDK_MSG_SESSION_TRACK, SDK_MSG_SESSION})},
        {"{3} of three: no such session, nothing delivered",
         {0, 3},
         false,
         {SDK_MSG_WATCH_VERSION, SDK_ERR_NO_SESSION}},
        {"empty: ends at once with 0x2006", {}, false, with_done({})},
        {"null array: the same", {}, true, with_done({})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        host_.clear();
        indices = c.selection;
        array.m_pData = indices.data();
        array.m_nSize = static_cast<intptr_t>(indices.size());
        GetSelectedWorkout(host_.hwnd(), c.null_array ? nullptr : &array, FALSE, FALSE);
        ASSERT_TRUE(run_task());
        EXPECT_EQ(host_.codes_without_progress(), c.codes) << host_.describe();
        if (c.codes.back() == static_cast<UINT>(SDK_MSG_WORKOUTS_DONE)) {
            EXPECT_EQ(tail(3), (std::vector<std::string>{"2022:100", "2022:100", "2006"}));
        }
    }
    host_.clear();
    const std::uint8_t repeat[] = {1, 1};
    GetSelectedWorkout_Ex(host_.hwnd(), repeat, 2, FALSE, FALSE);
    ASSERT_TRUE(run_task());
    const auto ones = host_.blocks(SDK_MSG_SESSION_TRACK);
    ASSERT_EQ(ones.size(), 2u);
    EXPECT_EQ(ones[0], ones[1]) << "a session delivered twice is the same block twice";
}

TEST_F(WorkoutTest, SelectionsLongerThan255AreDeliveredWhole) {
    store(three_sessions());
    const std::vector<std::uint8_t> selection(300, 0);  // the session without track points
    GetSelectedWorkout_Ex(host_.hwnd(), selection.data(), static_cast<DWORD>(selection.size()),
                          FALSE, FALSE);
    ASSERT_TRUE(run_task());
    EXPECT_EQ(host_.blocks(SDK_MSG_SESSION).size(), 300u);
    EXPECT_EQ(host_.codes().back(), static_cast<UINT>(SDK_MSG_WORKOUTS_DONE));
}

TEST_F(WorkoutTest, SummaryGathersTheCorrectedHeaders) {
    const auto sessions = three_sessions();
    store(sessions);
    GetWorkoutSummary(host_.hwnd(), FALSE);
    ASSERT_TRUE(run_task());
    EXPECT_EQ(host_.codes_without_progress(),
              (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_SUMMARY, SDK_MSG_WORKOUTS_DONE}))
        << host_.describe();
    EXPECT_EQ(tail(4), (std::vector<std::string>{"2009", "2022:100", "2022:100", "2006"}));
    const auto summary = host_.blocks(SDK_MSG_SUMMARY);
    ASSERT_EQ(summary.size(), 1u);
    ASSERT_EQ(summary[0].size(), 4u + 3u * 48u);
    EXPECT_EQ(summary[0][0], 3);
    Bytes expected(sessions[1].header_sector.begin(), sessions[1].header_sector.begin() + 48);
    expected[3] = 20;  // B - A
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), summary[0].begin() + 4 + 48));
    EXPECT_EQ(watch_.received_count(0x12), 4u * 32u) << "the directory and three header sectors";
}

TEST_F(WorkoutTest, NoSessions) {
    store({});
    for (auto call : {+[](HWND h) { GetAllWorkout(h, TRUE, FALSE); },
                      +[](HWND h) { GetWorkoutSummary(h, FALSE); }}) {
        host_.clear();
        call(host_.hwnd());
        ASSERT_TRUE(run_task());
        EXPECT_EQ(host_.codes_without_progress(),
                  (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_NO_WORKOUTS}))
            << host_.describe();
    }
    EXPECT_EQ(watch_.received_count(0x14), 0u) << "nothing cleared";
}

TEST_F(WorkoutTest, ClearingEmptiesTheDirectoryForEitherReservedTail) {
    struct Case {
        const char* legend;
        std::function<void(HWND)> call;
        bool status_silent;  // flag 0: the default tail 244..255
        Codes codes;         // without progress
    };
    const Case cases[] = {
        {"ClearWorkout, large reserve",
         [](HWND h) { ClearWorkout(h, FALSE); },
         false,
         {SDK_MSG_WATCH_VERSION, SDK_MSG_WORKOUTS_CLEARED}},
        {"ClearWorkout, no status reply: default tail",
         [](HWND h) { ClearWorkout(h, FALSE); },
         true,
         {SDK_MSG_WATCH_VERSION, SDK_MSG_WORKOUTS_CLEARED}},
        {"GetAllWorkout then clear: ends with 0x2006",
         [](HWND h) { GetAllWorkout(h, TRUE, FALSE); },
         false,
         {SDK_MSG_WATCH_VERSION, SDK_MSG_SESSION, SDK_MSG_SESSION_TRACK, SDK_MSG_SESSION_TRACK,
          SDK_MSG_WORKOUTS_DONE}},
        {"session {0} then clear: the whole directory goes",
         [](HWND h) {
             const std::uint8_t first[] = {0};
             GetSelectedWorkout_Ex(h, first, 1, TRUE, FALSE);
         },
         true,
         {SDK_MSG_WATCH_VERSION, SDK_MSG_SESSION, SDK_MSG_WORKOUTS_DONE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        store(three_sessions());
        host_.clear();
        watch_.clear_faults();
        if (c.status_silent) watch_.add_fault(Fault::on_command(FaultKind::silence, 0x2C));
        c.call(host_.hwnd());
        ASSERT_TRUE(run_task());
        EXPECT_EQ(host_.codes_without_progress(), c.codes) << host_.describe();
        // A clear that ends a download keeps the bar the download filled.
        const bool after_download = c.codes.back() == static_cast<UINT>(SDK_MSG_WORKOUTS_DONE);
        EXPECT_EQ(tail(3), after_download
                               ? (std::vector<std::string>{"2022:100", "2022:100", "2006"})
                               : (std::vector<std::string>{"2022:50", "2022:100", "2014"}));

        const Bytes after = watch_.read_flash(0, 4096);
        EXPECT_TRUE(std::equal(after.begin(), after.begin() + 224, directory_.begin()))
            << "the settings block stays";
        EXPECT_EQ(after[224], 0xFE);
        const bool large = !c.status_silent;
        for (std::size_t i = 225; i < 252; ++i) EXPECT_EQ(after[i], 0xFF) << "byte " << i;
        EXPECT_EQ(after[252], large ? 0x3F : 0xFF);
        EXPECT_EQ(after[253], large ? 0x00 : 0xFF);
        EXPECT_EQ(after[254], large ? 0x00 : 0x0F);
        EXPECT_EQ(after[255], 0x00);
        EXPECT_TRUE(std::all_of(after.begin() + 256, after.begin() + 1280,
                                [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_TRUE(std::equal(after.begin() + 1280, after.end(), directory_.begin() + 1280))
            << "path counts and names stay";
        watch_.with_flash([](sim::Flash& flash) { EXPECT_EQ(flash.conflicting_programs(), 0u); });
    }
}

TEST_F(WorkoutTest, TransferFailuresPostNoPartialSession) {
    struct Case {
        const char* legend;
        std::function<void(HWND)> call;
        Fault fault;
        Codes codes;
    };
    auto short_reply = [] {
        // Frames: version, status, 32 directory reads, 32 for session 0's
        // header, 32 for session 1's header, then its first track sector.
        auto f = Fault::on_frame(FaultKind::wrong_length, 2 + 32 * 3 + 5);
        f.length_delta = -1;
        return f;
    }();
    const Case cases[] = {
        {"a short read reply in session 1's track: session 0 stays, no block for 1",
         [](HWND h) { GetAllWorkout(h, FALSE, FALSE); },
         short_reply,
         {SDK_MSG_WATCH_VERSION, SDK_MSG_SESSION, SDK_ERR_TRANSFER}},
        {"a silent erase while clearing: full, then the error",
         [](HWND h) { ClearWorkout(h, FALSE); },
         Fault::on_command(FaultKind::silence, 0x14),
         {SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        store(three_sessions());
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        watch_.add_fault(c.fault);
        c.call(host_.hwnd());
        ASSERT_TRUE(run_task());
        EXPECT_EQ(host_.codes_without_progress(), c.codes) << host_.describe();
        EXPECT_TRUE(host_.blocks(SDK_MSG_SESSION_TRACK).empty()) << "no partial session";
    }
}

}  // namespace
}  // namespace stridelog
