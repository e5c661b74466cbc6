// GetPaths, SetPaths and SetPaths_Ex as a host sees them, against a simulated
// watch (in-process line, virtual clock): the notification sequence, the path
// blocks byte for byte, and the flash the watch is left with.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "stridelog/framework_arrays.h"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/golden.hpp"
#include "tests/support/simulated_watch_fixture.hpp"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSector = 4096;
constexpr std::uint32_t kPathArea = 249 * kSector;

// A 34-byte host waypoint: distinct words and attributes, then the UTF-16LE name.
Bytes host_waypoint(int seed, std::u16string_view name) {
    Bytes w(34, 0);
    for (int i = 0; i < 14; ++i) w[i] = static_cast<std::uint8_t>(seed * 3 + i);
    for (std::size_t i = 0; i < name.size() && i < 10; ++i) {
        w[14 + 2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
        w[15 + 2 * i] = static_cast<std::uint8_t>(name[i] >> 8);
    }
    return w;
}

// The same waypoint as the watch stores it, name given as watch bytes.
Bytes stored_waypoint(int seed, const Bytes& name) {
    Bytes w = host_waypoint(seed, u"");
    w.resize(14);
    w.insert(w.end(), name.begin(), name.end());
    w.resize(24, 0);
    return w;
}

// Byte of waypoint k of path p in the six-sector area, worked out from the slot rule.
std::uint32_t slot_address(int p, int k) {
    const int slot = 99 * p + k;
    return kPathArea + static_cast<std::uint32_t>(slot / 170) * kSector +
           static_cast<std::uint32_t>(24 * (slot % 170));
}

// The host's array objects for SetPaths, kept alive for the whole task.
struct HostArrays {
    std::vector<std::vector<Bytes>> waypoints;
    std::vector<std::vector<void*>> waypoint_ptrs;
    std::vector<CPtrArray> path_objects;
    std::vector<void*> path_ptrs;
    std::vector<std::u16string> names;
    std::vector<CString> name_objects;
    CPtrArray paths{};
    CStringArray name_array{};

    HostArrays(std::vector<std::vector<Bytes>> wps, std::vector<std::u16string> ns)
        : waypoints(std::move(wps)), names(std::move(ns)) {
        waypoint_ptrs.resize(waypoints.size());
        path_objects.resize(waypoints.size());
        for (std::size_t i = 0; i < waypoints.size(); ++i) {
            for (auto& w : waypoints[i]) waypoint_ptrs[i].push_back(w.data());
            path_objects[i].m_pData = waypoint_ptrs[i].data();
            path_objects[i].m_nSize = static_cast<intptr_t>(waypoint_ptrs[i].size());
        }
        for (auto& p : path_objects) path_ptrs.push_back(&p);
        for (auto& n : names) name_objects.push_back(CString{n.c_str()});
        paths.m_pData = path_ptrs.data();
        paths.m_nSize = static_cast<intptr_t>(path_ptrs.size());
        name_array.m_pData = name_objects.data();
        name_array.m_nSize = static_cast<intptr_t>(name_objects.size());
    }
};

class PathsTest : public test::SimulatedWatchTest {
  protected:
    // A directory with settings-like bytes before the path fields, all counts 0
    // and empty names.
    Bytes base_directory() const {
        Bytes directory(kSector, 0xFF);
        for (std::size_t i = 0; i < 1280; ++i) directory[i] = static_cast<std::uint8_t>(i * 5);
        std::fill_n(directory.begin() + 1280, 10, 0);
        std::fill_n(directory.begin() + 1536, 10 * 32, 0);  // names, zero-padded
        return directory;
    }
    // The notifications and frames of the last run, and what it changed in
    // the directory and in the path area.
    std::string run_text(const std::string& legend, const Bytes& directory, const Bytes& area) {
        std::string text =
            "== " + legend + "\n" + test::transcript(host_) +
            test::frames_transcript(watch_.received()) +
            "directory: " + test::changes_text(directory, watch_.read_flash(0, kSector)) +
            "path area: " + test::changes_text(area, watch_.read_flash(kPathArea, 6 * kSector));
        host_.clear();
        watch_.clear_received();
        return text;
    }
};

// Every firmware the library accepts has 32-byte names (10 is covered by the
// format tests). Ten blocks: number, name length in bytes, the UTF-16LE name,
// the waypoint count (above 99 read as 99), then the waypoints; 0xC0 is not in
// the watch's set (a space). Then the bar rests at 100. With no waypoints only
// the directory is read, and the full bar rests 1500 ms.
TEST_F(PathsTest, GetPathsPostsTenBlocksAsStored) {
    store(kPathArea, Bytes(6 * kSector, 0xFF));
    const auto stored = [&] {
        Bytes directory = base_directory();
        auto name = [&](int p, const Bytes& bytes) {
            std::copy(bytes.begin(), bytes.end(), directory.begin() + 1536 + p * 32);
        };
        directory[1280] = 2;
        name(0, {0x43, 0x61, 0x66, 0xA5});  // Café
        directory[1282] = 150;
        name(2, Bytes(32, 'W'));  // fills the field, no zero
        directory[1283] = 1;
        name(3, {'a', 0xC0, 'b'});
        name(5, {'E', 'm', 'p', 't', 'y'});
        store(slot_address(0, 0), stored_waypoint(1, {'S', 't', 'a', 'r', 't'}));
        store(slot_address(0, 1), stored_waypoint(2, {'P', 0xA0, 'z', 0xC0}));
        for (int k = 0; k < 100; ++k) store(slot_address(2, k), stored_waypoint(k, {'n'}));
        store(slot_address(3, 0),
              stored_waypoint(9, {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
        return directory;
    };
    const auto no_waypoints = [&] {
        Bytes directory = base_directory();
        std::copy_n("Named", 5, directory.begin() + 1536);
        return directory;
    };
    std::string text;
    for (const auto& [legend, make] :
         {std::pair<std::string, std::function<Bytes()>>{"GetPaths", stored},
          {"GetPaths, no waypoints", no_waypoints}}) {
        const Bytes directory = make();
        store(0, directory);
        const Bytes area = watch_.read_flash(kPathArea, 6 * kSector);
        const auto start = platform::clock().now_ms();
        GetPaths(host_.hwnd(), FALSE);
        run_task();
        const auto took = std::to_string(platform::clock().now_ms() - start);
        text += run_text(legend + ": " + took + " ms", directory, area);
    }
    test::expect_golden("e2e/get_paths", text);
}

std::vector<std::vector<Bytes>> sample_waypoints() {
    std::vector<std::vector<Bytes>> paths(10);
    paths[0] = {host_waypoint(1, u"Café"), host_waypoint(2, u"Straße"),
                host_waypoint(3, u"0123456789")};
    // Path 1 empty: stored as Path2.
    for (int k = 0; k < 120; ++k) paths[2].push_back(host_waypoint(k, u"long"));
    paths[9] = {host_waypoint(77, u"ñ")};
    return paths;
}

std::vector<std::u16string> sample_names() {
    return {u"Café", u"unused", u"Große Runde", u"", u"", u"", u"", u"", u"", u"Ende"};
}

// Seven sectors (the directory, then the six of the path area) each prepared,
// erased and written; ß stored as '|', the empty path named Path2, at most 99
// waypoints a path. Read back, the host gets what it wrote. Then again with
// each sector's last chunk acknowledged twice in one write (the copy goes out
// as the noise before the reply, so both are read in one burst): the copy
// meets the next sector's prepare outstanding and answers nothing, so the
// notifications, frames and flash are the same.
TEST_F(PathsTest, SetPathsWritesSevenSectorsAndReadsBack) {
    const Bytes directory = base_directory();
    // Old waypoints everywhere: a sector not erased would show them through.
    const Bytes area(6 * kSector, 0x5A);
    std::string text[2];
    Bytes flash[2];
    std::vector<Fault> twice;
    for (int run = 0; run < 2; ++run) {
        store(0, directory);
        store(kPathArea, area);
        watch_.clear_faults();
        for (const Fault& f : twice) watch_.add_fault(f);
        task::reset_read_chunk_progress();  // the read's progress pacing carries over tasks
        HostArrays arrays(sample_waypoints(), sample_names());
        SetPaths(host_.hwnd(), &arrays.paths, &arrays.name_array, FALSE);
        run_task();
        EXPECT_EQ(watch_.read_flash(slot_address(0, 1), 24),
                  stored_waypoint(2, {'S', 't', 'r', 'a', '|', 'e'}));
        EXPECT_EQ(watch_.read_flash(slot_address(3, 0), 24), Bytes(24, 0xFF)) << "no 100th";
        watch_.with_flash([](sim::Flash& f) {
            EXPECT_EQ(f.conflicting_programs(), 0u) << "a chunk written without its erase";
        });
        // A chunk right before a prepare ends a sector; frames[i - 1] is frame i.
        const auto frames = watch_.received();
        for (std::size_t i = 1; run == 0 && i < frames.size(); ++i) {
            if (frames[i][0] != 0x24 || frames[i - 1][0] != 0x16) continue;
            Fault f = Fault::on_frame(FaultKind::garbage_before, i);
            f.garbage = wire::encode_frame(Bytes{0x17});
            twice.push_back(f);
        }
        flash[run] = watch_.read_flash(0, kPathArea + 6 * kSector);
        text[run] = run_text("SetPaths", directory, area);
    }
    EXPECT_EQ(twice.size(), 6u);
    EXPECT_EQ(text[1], text[0]);
    EXPECT_EQ(flash[1], flash[0]);
    const Bytes written = watch_.read_flash(0, kSector);
    const Bytes written_area = watch_.read_flash(kPathArea, 6 * kSector);
    GetPaths(host_.hwnd(), FALSE);
    run_task();
    test::expect_golden("e2e/set_paths", text[0] + run_text("read back", written, written_area));
}

Bytes paths_block(std::size_t size) {
    Bytes block(size, 0);
    for (std::size_t p = 0; p < 10 && (p + 1) * 3431 <= size; ++p) {
        const Bytes name = host_waypoint(0, p == 4 ? u"Cent" : u"");  // its UTF-16 name field
        std::copy(name.begin() + 14, name.end(),
                  block.begin() + static_cast<std::ptrdiff_t>(p * 3431));
        block[p * 3431 + 64] = p == 4 ? 150 : 0;
        for (int k = 0; k < 99; ++k) {
            const Bytes w = host_waypoint(k, u"x");
            std::copy(w.begin(), w.end(),
                      block.begin() + static_cast<std::ptrdiff_t>(p * 3431 + 65 + 34 * k));
        }
    }
    return block;
}

// SetPaths_Ex: one diagnostic line per path as unpacked when the call was made
// (the host overwrites its block on return); the count of 150 is capped at 99.
// Refused before connecting: nothing sent at all; after: nothing read or
// written. The directory's erase or its first chunk unanswered: full, then the
// error, and nothing sent after the silent command.
TEST_F(PathsTest, SetPathsExAndRefusedInputs) {
    HostArrays good(sample_waypoints(), sample_names());
    HostArrays nine(std::vector<std::vector<Bytes>>(9), std::vector<std::u16string>(9));
    HostArrays null_path(sample_waypoints(), sample_names());
    null_path.path_ptrs[3] = nullptr;
    HostArrays null_waypoint(sample_waypoints(), sample_names());
    null_waypoint.waypoint_ptrs[0][1] = nullptr;
    const auto block_of = [&](std::size_t size) {
        return [this, size] {
            Bytes b = paths_block(size);
            SetPaths_Ex(host_.hwnd(), b.data(), static_cast<DWORD>(b.size()), FALSE);
            std::fill(b.begin(), b.end(), 0xEE);
        };
    };
    const auto set = [&](HostArrays& a, bool paths, bool names) {
        return [this, &a, paths, names] {
            SetPaths(host_.hwnd(), paths ? &a.paths : nullptr, names ? &a.name_array : nullptr,
                     FALSE);
        };
    };
    const auto silent = [&](std::uint8_t id) {
        return [this, id, call = set(good, true, true)] {
            watch_.add_fault(Fault::on_command(FaultKind::silence, id));
            call();
        };
    };
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"SetPaths_Ex", block_of(34310)},
        {"null paths", set(good, false, true)},
        {"null names", set(good, true, false)},
        {"nine paths", set(nine, true, true)},
        {"a null path among ten", set(null_path, true, true)},
        {"a null waypoint", set(null_waypoint, true, true)},
        {"silent erase", silent(0x14)},
        {"silent first chunk", silent(0x16)},
    };
    const Bytes directory = base_directory();
    store(0, directory);
    const Bytes area = watch_.read_flash(kPathArea, 6 * kSector);
    env_.set_switch("DebugView", "1");
    test::DebugCapture capture;
    std::string text;
    for (const auto& [legend, call] : cases) {
        store(0, directory);
        store(kPathArea, area);
        watch_.clear_faults();
        capture.clear();
        call();
        text += capture.text();
        run_task();
        text += run_text(legend, directory, area);
        watch_.with_flash([](sim::Flash& flash) { EXPECT_EQ(flash.conflicting_programs(), 0u); });
    }
    test::expect_golden("e2e/set_paths_refused", text);
}

}  // namespace
}  // namespace stridelog
