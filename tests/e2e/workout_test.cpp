// Workout downloads, summaries and clearing as a host sees them, against a
// simulated watch (in-process line, virtual clock) whose flash is laid out
// here byte by byte: the notification sequence, the blocks, and the directory
// sector the watch is left with.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "stridelog/framework_arrays.h"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
#include "tests/support/record_stream.hpp"
#include "tests/support/simulated_watch_fixture.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using test::Bytes;
using test::Stream;

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

class WorkoutTest : public test::SimulatedWatchTest {
  protected:
    // Lays the sessions out and writes a matching directory and usage bitmap.
    void store_sessions(const std::vector<StoredSession>& sessions) {
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
                Bytes track = s.stream;  // whole sectors, the rest erased
                track.resize((track.size() + 4095) / 4096 * 4096, 0xFF);
                flash.store(static_cast<std::uint32_t>(next) * 4096, track);
                for (std::size_t at = 0; at < track.size(); at += 4096) use(next++);
                runs.push_back(0xFF);
            }
            directory[224] &= 0xFE;
            std::copy(runs.begin(), runs.end(), directory.begin() + 256);
            flash.store(0, directory);
        });
        directory_ = directory;
    }
    // The notifications and the frames, under a heading.
    std::string record(const std::string& legend) const {
        return "== " + legend + "\n" + test::transcript(host_) +
               test::frames_transcript(watch_.received());
    }

    Bytes directory_;
};

// The sequence and each block's bytes (by digest; the session blocks' layout
// is pinned by the session record tests). The summary: four bytes of count,
// then each session's 48 header bytes (session 1's start corrected by B - A =
// 20 s). Without sessions nothing is downloaded, summarised or cleared.
TEST_F(WorkoutTest, DownloadsSelectionsAndSummaries) {
    static std::vector<UINT> indices;
    static CUIntArray array{nullptr, nullptr, 0, 0, 0};
    const auto selected = [](std::vector<UINT> selection) {
        return [selection](HWND h) {
            indices = selection;
            array.m_pData = indices.data();
            array.m_nSize = static_cast<intptr_t>(indices.size());
            GetSelectedWorkout(h, &array, FALSE, FALSE);
        };
    };
    const auto summary = [](HWND h) { GetWorkoutSummary(h, FALSE); };
    const std::tuple<const char*, bool, std::function<void(HWND)>> cases[] = {
        {"GetAllWorkout", true, [](HWND h) { GetAllWorkout(h, FALSE, FALSE); }},
        {"{1, 1}: session 1 twice", true, selected({1, 1})},
        {"{2, 0}: session 2 first", true, selected({2, 0})},
        {"{0, 3} of three: no such session, nothing delivered", true, selected({0, 3})},
        {"empty", true, selected({})},
        {"null array", true, [](HWND h) { GetSelectedWorkout(h, nullptr, FALSE, FALSE); }},
        {"GetSelectedWorkout_Ex {1, 1}", true,
         [](HWND h) {
             const std::uint8_t repeat[] = {1, 1};
             GetSelectedWorkout_Ex(h, repeat, 2, FALSE, FALSE);
         }},
        {"GetWorkoutSummary", true, summary},
        {"no sessions: GetAllWorkout, clearing after", false,
         [](HWND h) { GetAllWorkout(h, TRUE, FALSE); }},
        {"no sessions: GetWorkoutSummary", false, summary},
    };
    std::string text;
    for (const auto& [legend, sessions, call] : cases) {
        store_sessions(sessions ? three_sessions() : std::vector<StoredSession>{});
        host_.clear();
        watch_.clear_received();
        task::reset_read_chunk_progress();  // its pacing carries over tasks
        call(host_.hwnd());
        run_task();
        text += record(legend);
    }
    test::expect_golden("e2e/workout_downloads", text);
}

TEST_F(WorkoutTest, SelectionsLongerThan255AreDeliveredWhole) {
    store_sessions(three_sessions());
    const std::vector<std::uint8_t> selection(300, 0);  // the session without track points
    GetSelectedWorkout_Ex(host_.hwnd(), selection.data(), static_cast<DWORD>(selection.size()),
                          FALSE, FALSE);
    run_task();
    EXPECT_EQ(host_.blocks(SDK_MSG_SESSION).size(), 300u);
    EXPECT_EQ(host_.codes().back(), static_cast<UINT>(SDK_MSG_WORKOUTS_DONE));
}

// The golden file shows each run and what it changed in the directory sector:
// the usage bitmap (bytes 224 .. 255) for the reserved tail, the run list
// erased; the settings block and the path fields stay. A failed transfer posts
// no partial session and clears nothing.
TEST_F(WorkoutTest, ClearingEmptiesTheDirectoryForEitherReservedTail) {
    // Frames: version, status, 32 directory reads, 32 for session 0's header,
    // 32 for session 1's header, then its first track sector.
    Fault short_reply = Fault::on_frame(FaultKind::wrong_length, 2 + 32 * 3 + 5);
    short_reply.length_delta = -1;
    const auto clear = [](HWND h) { ClearWorkout(h, FALSE); };
    const auto silent = [](std::uint8_t id) { return Fault::on_command(FaultKind::silence, id); };
    const std::tuple<const char*, std::function<void(HWND)>, std::optional<Fault>> cases[] = {
        {"ClearWorkout, large reserve", clear, std::nullopt},
        {"ClearWorkout, no status reply: default tail", clear, silent(0x2C)},
        {"GetAllWorkout then clear", [](HWND h) { GetAllWorkout(h, TRUE, FALSE); }, std::nullopt},
        {"session {0} then clear, no status reply: the whole directory goes",
         [](HWND h) {
             const std::uint8_t first[] = {0};
             GetSelectedWorkout_Ex(h, first, 1, TRUE, FALSE);
         },
         silent(0x2C)},
        {"a silent erase while clearing", clear, silent(0x14)},
        {"a short read reply in session 1's track", [](HWND h) { GetAllWorkout(h, FALSE, FALSE); },
         short_reply},
    };
    std::string text;
    for (const auto& [legend, call, fault] : cases) {
        store_sessions(three_sessions());
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        if (fault) watch_.add_fault(*fault);
        task::reset_read_chunk_progress();
        call(host_.hwnd());
        run_task();
        text += record(legend) + test::changes_text(directory_, watch_.read_flash(0, 4096));
        watch_.with_flash([](sim::Flash& flash) { EXPECT_EQ(flash.conflicting_programs(), 0u); });
    }
    test::expect_golden("e2e/workout_clearing", text);
}

}  // namespace
}  // namespace stridelog
