// GetPaths, SetPaths and SetPaths_Ex as a host sees them, against a simulated
// watch (in-process line, virtual clock): the notification sequence, the path
// blocks byte for byte, and the flash the watch is left with.
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
#include "tests/support/simulated_watch_fixture.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<UINT>;

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
    Bytes field = name;
    field.resize(10, 0);
    w.insert(w.end(), field.begin(), field.end());
    return w;
}

Bytes utf16(std::u16string_view text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
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
    void store_directory(const Bytes& directory) {
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory); });
    }
    void store_at(std::uint32_t address, const Bytes& bytes) {
        watch_.with_flash([&](sim::Flash& flash) { flash.store(address, bytes); });
    }
    void run_task() { EXPECT_TRUE(test::run_until_task_ends(600'000)) << "task did not end"; }
    // Command ids the watch received, without the connection's own.
    std::vector<std::uint8_t> command_ids() const {
        std::vector<std::uint8_t> ids;
        for (const auto& p : watch_.received())
            if (!p.empty() && p[0] != 0x10 && p[0] != 0x2C) ids.push_back(p[0]);
        return ids;
    }
    std::size_t count(std::uint8_t id) const {
        const auto ids = command_ids();
        return static_cast<std::size_t>(std::count(ids.begin(), ids.end(), id));
    }
    // Runs GetPaths and returns its ten blocks (empty on any other sequence).
    std::vector<Bytes> get_all() {
        host_.clear();
        GetPaths(host_.hwnd(), FALSE);
        run_task();
        Codes expected{SDK_MSG_WATCH_VERSION};
        expected.insert(expected.end(), 10, SDK_MSG_PATH);
        EXPECT_EQ(host_.codes_without_progress(), expected) << host_.describe();
        return host_.blocks(SDK_MSG_PATH);
    }

};

TEST_F(PathsTest, GetPathsPostsTenBlocksAsStored) {
    // Every firmware the library accepts has 32-byte names (10 is covered by the
    // format tests).
    {
        const int width = 32;
        watch_.with_flash([](sim::Flash& flash) {
            flash.store(0, Bytes(7 * kSector, 0xFF));  // sectors 0.. cleared below
            flash.store(kPathArea, Bytes(6 * kSector, 0xFF));
        });
        Bytes directory = base_directory();
        auto name = [&](int p, const Bytes& bytes) {
            std::copy(bytes.begin(), bytes.end(), directory.begin() + 1536 + p * width);
        };
        directory[1280] = 2;
        name(0, {0x43, 0x61, 0x66, 0xA5});                     // Café
        directory[1282] = 150;                                 // counts above 99 read as 99
        name(2, Bytes(static_cast<std::size_t>(width), 'W'));  // fills the field, no zero
        directory[1283] = 1;
        name(3, {'a', 0xC0, 'b'});  // 0xC0 is not in the set: a space
        name(5, {'E', 'm', 'p', 't', 'y'});
        store_directory(directory);
        store_at(slot_address(0, 0), stored_waypoint(1, {'S', 't', 'a', 'r', 't'}));
        store_at(slot_address(0, 1), stored_waypoint(2, {'P', 0xA0, 'z', 0xC0}));
        for (int k = 0; k < 100; ++k) store_at(slot_address(2, k), stored_waypoint(k, {'n'}));
        store_at(slot_address(3, 0),
                stored_waypoint(9, {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));

        const auto blocks = get_all();
        ASSERT_EQ(blocks.size(), 10u);
        Bytes b0{0, 8};
        for (auto x : utf16(u"Café")) b0.push_back(x);
        b0.push_back(2);
        for (auto x : host_waypoint(1, u"Start")) b0.push_back(x);
        for (auto x : host_waypoint(2, u"Pàz ")) b0.push_back(x);
        EXPECT_EQ(blocks[0], b0);
        EXPECT_EQ(blocks[1], (Bytes{1, 0, 0}));

        Bytes b2{2, static_cast<std::uint8_t>(2 * width)};
        for (auto x : utf16(std::u16string(static_cast<std::size_t>(width), u'W'))) b2.push_back(x);
        b2.push_back(99);
        for (int k = 0; k < 99; ++k)
            for (auto x : host_waypoint(k, u"n")) b2.push_back(x);
        EXPECT_EQ(blocks[2], b2);

        Bytes b3{3, 6};
        for (auto x : utf16(u"a b")) b3.push_back(x);
        b3.push_back(1);
        for (auto x : host_waypoint(9, u"0123456789")) b3.push_back(x);
        EXPECT_EQ(blocks[3], b3);
        Bytes b5{5, 10};
        for (auto x : utf16(u"Empty")) b5.push_back(x);
        b5.push_back(0);
        EXPECT_EQ(blocks[5], b5);
        for (std::uint8_t p = 0; p < 10; ++p) EXPECT_EQ(blocks[p][0], p);
        // The read covers the six sectors, then the bar rests before the final 100.
        EXPECT_EQ(host_.progress_values().back(), 100.0f);
        EXPECT_EQ(host_.notifications().back().code, SDK_MSG_PROGRESS);
        watch_.clear_received();
    }
}

TEST_F(PathsTest, GetPathsWithNoWaypointsPostsOnlyNoPaths) {
    Bytes directory = base_directory();
    std::copy_n("Named", 5, directory.begin() + 1536);
    store_directory(directory);
    const auto start = platform::clock().now_ms();
    GetPaths(host_.hwnd(), FALSE);
    run_task();
    EXPECT_EQ(host_.codes_without_progress(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_NO_PATHS}))
        << host_.describe();
    EXPECT_EQ(host_.progress_values().back(), 100.0f);
    EXPECT_GE(platform::clock().now_ms() - start, 1500u) << "the full bar rests 1500 ms";
    // Only the directory was read: nothing at or after sector 249.
    for (const auto& p : watch_.received())
        if (p.size() == 5 && p[0] == 0x12) {
            EXPECT_EQ(p[3], 0) << "read beyond sector 0";
        }
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

TEST_F(PathsTest, SetPathsWritesSevenSectorsAndReadsBack) {
    // Every firmware the library accepts has 32-byte names (10 is covered by the
    // format tests).
    {
        const int width = 32;
        Bytes directory = base_directory();
        store_directory(directory);
        // Old waypoints everywhere: a sector not erased would show them through.
        store_at(kPathArea, Bytes(6 * kSector, 0x5A));
        watch_.clear_received();
        host_.clear();

        HostArrays arrays(sample_waypoints(), sample_names());
        SetPaths(host_.hwnd(), &arrays.paths, &arrays.name_array, FALSE);
        run_task();
        EXPECT_EQ(host_.codes_without_progress(),
                  (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_PATHS_WRITTEN}))
            << host_.describe();
        const auto progress = host_.progress_values();
        const std::vector<float> steps{12, 24, 36, 48, 60, 72, 84};
        EXPECT_TRUE(std::includes(progress.begin(), progress.end(), steps.begin(), steps.end()));
        EXPECT_EQ(progress.back(), 100.0f);
        EXPECT_EQ(count(0x24), 7u);
        EXPECT_EQ(count(0x14), 7u);
        EXPECT_EQ(count(0x16), 7u * 32u);

        const Bytes stored = watch_.read_flash(0, kSector);
        EXPECT_TRUE(std::equal(directory.begin(), directory.begin() + 1280, stored.begin()))
            << "settings and workout directory kept";
        EXPECT_EQ(Bytes(stored.begin() + 1280, stored.begin() + 1290),
                  (Bytes{3, 0, 99, 0, 0, 0, 0, 0, 0, 1}));
        auto name_field = [&](int p) {
            return Bytes(stored.begin() + 1536 + p * width,
                         stored.begin() + 1536 + (p + 1) * width);
        };
        Bytes cafe{0x43, 0x61, 0x66, 0xA5};
        cafe.resize(static_cast<std::size_t>(width), 0);
        EXPECT_EQ(name_field(0), cafe);
        Bytes path2{'P', 'a', 't', 'h', '2'};
        path2.resize(static_cast<std::size_t>(width), 0);
        EXPECT_EQ(name_field(1), path2);
        const std::string grosse = "Gro|e Runde";
        Bytes g(grosse.begin(), grosse.end());
        g.resize(static_cast<std::size_t>(width), 0);
        EXPECT_EQ(name_field(2), g);

        EXPECT_EQ(watch_.read_flash(slot_address(0, 1), 24),
                  stored_waypoint(2, {'S', 't', 'r', 'a', '|', 'e'}));
        EXPECT_EQ(watch_.read_flash(slot_address(2, 0), 24),
                  stored_waypoint(0, {'l', 'o', 'n', 'g'}));
        EXPECT_EQ(slot_address(2, 0), 250 * kSector + 672);
        EXPECT_EQ(watch_.read_flash(slot_address(2, 98), 24),
                  stored_waypoint(98, {'l', 'o', 'n', 'g'}));
        EXPECT_EQ(watch_.read_flash(slot_address(3, 0), 24), Bytes(24, 0xFF)) << "no 100th waypoint";
        for (std::uint32_t s = 0; s < 6; ++s)
            EXPECT_EQ(watch_.read_flash(kPathArea + s * kSector + 4080, 16), Bytes(16, 0xFF));
        watch_.with_flash([](sim::Flash& flash) {
            EXPECT_EQ(flash.conflicting_programs(), 0u) << "a chunk written without its erase";
        });

        // Read back: what the host wrote, ß as '|', the empty path under its number.
        const auto blocks = get_all();
        ASSERT_EQ(blocks.size(), 10u);
        Bytes b0{0, 8};
        for (auto x : utf16(u"Café")) b0.push_back(x);
        b0.push_back(3);
        for (auto x : host_waypoint(1, u"Café")) b0.push_back(x);
        for (auto x : host_waypoint(2, u"Stra|e")) b0.push_back(x);
        for (auto x : host_waypoint(3, u"0123456789")) b0.push_back(x);
        EXPECT_EQ(blocks[0], b0);
        Bytes b1{1, 10};
        for (auto x : utf16(u"Path2")) b1.push_back(x);
        b1.push_back(0);
        EXPECT_EQ(blocks[1], b1);
        EXPECT_EQ(blocks[2].size(), 3u + 22u + 99u * 34u);
        Bytes b9{9, 8};
        for (auto x : utf16(u"Ende")) b9.push_back(x);
        b9.push_back(1);
        for (auto x : host_waypoint(77, u"ñ")) b9.push_back(x);
        EXPECT_EQ(blocks[9], b9);
    }
}

Bytes paths_block(std::size_t size) {
    Bytes block(size, 0);
    for (std::size_t p = 0; p < 10 && (p + 1) * 3431 <= size; ++p) {
        const Bytes name = utf16(p == 4 ? u"Cent" : u"");
        std::copy(name.begin(), name.end(), block.begin() + static_cast<std::ptrdiff_t>(p * 3431));
        block[p * 3431 + 64] = p == 4 ? 150 : 0;
        for (int k = 0; k < 99; ++k) {
            const Bytes w = host_waypoint(k, u"x");
            std::copy(w.begin(), w.end(),
                      block.begin() + static_cast<std::ptrdiff_t>(p * 3431 + 65 + 34 * k));
        }
    }
    return block;
}

TEST_F(PathsTest, SetPathsExTakesACopyAndCapsTheCount) {
    store_directory(base_directory());
    env_.set_switch("DebugView", "1");
    test::DebugCapture capture;
    auto block = std::make_unique<Bytes>(paths_block(34310));
    SetPaths_Ex(host_.hwnd(), block->data(), static_cast<DWORD>(block->size()), FALSE);
    // One line per path, as unpacked when the call was made.
    const std::string lines = capture.text();
    EXPECT_NE(lines.find("1 ,  (0 wp)\r\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("5 , Cent (99 wp)\r\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("10 ,  (0 wp)\r\n"), std::string::npos) << lines;
    std::fill(block->begin(), block->end(), 0xEE);  // the host frees its block on return
    block.reset();
    run_task();
    EXPECT_EQ(host_.codes_without_progress(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_PATHS_WRITTEN}))
        << host_.describe();
    const Bytes stored = watch_.read_flash(0, kSector);
    EXPECT_EQ(Bytes(stored.begin() + 1280, stored.begin() + 1290),
              (Bytes{0, 0, 0, 0, 99, 0, 0, 0, 0, 0}));
    Bytes cent{'C', 'e', 'n', 't'};
    cent.resize(32, 0);
    EXPECT_EQ(Bytes(stored.begin() + 1536 + 4 * 32, stored.begin() + 1536 + 5 * 32), cent);
    Bytes path1{'P', 'a', 't', 'h', '1'};
    path1.resize(32, 0);
    EXPECT_EQ(Bytes(stored.begin() + 1536, stored.begin() + 1568), path1);
    EXPECT_EQ(watch_.read_flash(slot_address(4, 98), 24), stored_waypoint(98, {'x'}));
    EXPECT_EQ(watch_.read_flash(slot_address(5, 0), 24), Bytes(24, 0xFF));
    watch_.with_flash([](sim::Flash& flash) { EXPECT_EQ(flash.conflicting_programs(), 0u); });
}

TEST_F(PathsTest, RefusedInputsWriteNothing) {
    HostArrays good(sample_waypoints(), sample_names());
    HostArrays nine(std::vector<std::vector<Bytes>>(9), std::vector<std::u16string>(9));
    HostArrays null_path(sample_waypoints(), sample_names());
    null_path.path_ptrs[3] = nullptr;
    HostArrays null_waypoint(sample_waypoints(), sample_names());
    null_waypoint.waypoint_ptrs[0][1] = nullptr;
    struct Case {
        const char* legend;
        std::function<void()> call;
        Codes codes;
        bool connects;
    } cases[] = {
        {"SetPaths_Ex with 34309 bytes",
         [&] {
             const Bytes b = paths_block(34309);
             SetPaths_Ex(host_.hwnd(), b.data(), static_cast<DWORD>(b.size()), FALSE);
         },
         {},
         false},
        {"SetPaths_Ex with 34311 bytes",
         [&] {
             const Bytes b = paths_block(34311);
             SetPaths_Ex(host_.hwnd(), b.data(), static_cast<DWORD>(b.size()), FALSE);
         },
         {},
         false},
        {"null paths",
         [&] { SetPaths(host_.hwnd(), nullptr, &good.name_array, FALSE); },
         {SDK_ERR_PATH_COUNT},
         false},
        {"null names",
         [&] { SetPaths(host_.hwnd(), &good.paths, nullptr, FALSE); },
         {SDK_ERR_PATH_COUNT},
         false},
        {"nine paths",
         [&] { SetPaths(host_.hwnd(), &nine.paths, &nine.name_array, FALSE); },
         {SDK_ERR_PATH_COUNT},
         false},
        {"a null path among ten",
         [&] { SetPaths(host_.hwnd(), &null_path.paths, &null_path.name_array, FALSE); },
         {SDK_MSG_WATCH_VERSION, SDK_ERR_PATH_COUNT},
         true},
        {"a null waypoint",
         [&] { SetPaths(host_.hwnd(), &null_waypoint.paths, &null_waypoint.name_array, FALSE); },
         {SDK_MSG_WATCH_VERSION, SDK_ERR_PATH_COUNT},
         true},
    };
    const Bytes directory = base_directory();
    store_directory(directory);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        host_.clear();
        watch_.clear_received();
        c.call();
        run_task();
        EXPECT_EQ(host_.codes_without_progress(), c.codes) << host_.describe();
        EXPECT_EQ(count(0x14) + count(0x16) + count(0x12), 0u) << "nothing read or written";
        if (!c.connects) {
            EXPECT_TRUE(watch_.received().empty());
        }
        EXPECT_EQ(watch_.read_flash(0, kSector), directory);
    }
}

TEST_F(PathsTest, SilentEraseEndsWithTransferError) {
    struct Case {
        const char* legend;
        Fault fault;
        std::size_t erases_before;  // erases acknowledged before the silent one
    } cases[] = {
        {"directory erase", Fault::on_command(FaultKind::silence, 0x14), 0},
        {"chunk of the directory", Fault::on_command(FaultKind::silence, 0x16), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        store_directory(base_directory());
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        watch_.add_fault(c.fault);
        HostArrays arrays(sample_waypoints(), sample_names());
        SetPaths(host_.hwnd(), &arrays.paths, &arrays.name_array, FALSE);
        run_task();
        const auto& notes = host_.notifications();
        ASSERT_GE(notes.size(), 2u);
        EXPECT_EQ(notes.back().code, static_cast<UINT>(SDK_ERR_TRANSFER)) << host_.describe();
        EXPECT_TRUE(notes.back().error);
        EXPECT_EQ(notes[notes.size() - 2].code, static_cast<UINT>(SDK_MSG_PROGRESS));
        EXPECT_EQ(notes[notes.size() - 2].progress(), 100.0f);
        const Codes codes = host_.codes_without_progress();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), static_cast<UINT>(SDK_MSG_PATHS_WRITTEN)),
                  0);
        EXPECT_EQ(count(0x14), c.erases_before + (c.fault.command == 0x14 ? 1u : 0u));
        EXPECT_LE(count(0x16), 1u) << "nothing sent after the silent command";
    }
}

}  // namespace
}  // namespace stridelog
