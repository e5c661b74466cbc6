// Flash reads and writes as a host sees them, against a simulated watch on an
// in-process line under the virtual clock: ReadFlashSector, GetWatch_LongVer,
// and a sector write run by a task of the test's own through the real task
// window. The notification sequence, the block bytes and the frames on the
// wire are what is checked.
#include "task/flash_transfer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/host_recorder.hpp"
#include "tests/support/task_window_access.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Codes = std::vector<UINT>;

constexpr std::uint32_t kSector = 4096;

// Distinct bytes in every sector, so a chunk in the wrong place shows.
std::vector<std::uint8_t> pattern(std::size_t sector, std::size_t count = kSector) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + sector * 13 + i / 256) & 0xFF);
    return bytes;
}

// Payloads of the read requests the watch received: (address, count).
std::vector<std::pair<std::uint32_t, std::uint8_t>> read_requests(const sim::Watch& watch) {
    std::vector<std::pair<std::uint32_t, std::uint8_t>> out;
    for (const auto& p : watch.received())
        if (p.size() == 5 && p[0] == 0x12)
            out.emplace_back(p[1] | p[2] << 8 | static_cast<std::uint32_t>(p[3]) << 16, p[4]);
    return out;
}

class FlashTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        task::reset_read_chunk_progress();
        sim::register_as_cable(line_, "COM7");
        watch_.with_flash([](sim::Flash& flash) {
            for (std::size_t s = 0; s < 8; ++s) flash.store(s * kSector, pattern(s));
            flash.store(255 * kSector, pattern(255));
        });
    }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }
    std::uint64_t now() { return platform::clock().now_ms(); }
    // Runs until the task ends; the virtual time it took.
    std::uint64_t run_task() {
        const std::uint64_t start = now();
        EXPECT_TRUE(test::run_until_task_ends(600'000)) << "task did not end";
        return now() - start;
    }
    void restart() {
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        task::reset_read_chunk_progress();
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::HostRecorder host_;
    sim::Watch watch_;
    sim::InProcessLine line_{watch_, "flash"};
    std::size_t blocks_before_ = 0;
};

TEST_F(FlashTransferTest, ReadFlashSectorPostsTheSectorInFlashOrder) {
    struct Case {
        const char* legend;
        WORD argument;
        std::size_t sector;
    };
    const Case cases[] = {
        {"sector 3", 3, 3},
        {"sector 0, the directory", 0, 0},
        {"sector 255, the identity block", 255, 255},
        {"256: only the low 8 bits count, so sector 0", 256, 0},
        {"0x1FF: sector 255", 0x1FF, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        ReadFlashSector(host_.hwnd(), c.argument);
        // Modal: the call returns once the task has ended.
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        test::deliver_posted();
        ASSERT_EQ(host_.codes(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS, SDK_MSG_SECTOR}))
            << host_.describe();
        EXPECT_EQ(host_.notifications()[1].progress(), 100.0f);
        EXPECT_EQ(host_.notifications()[2].block, pattern(c.sector));
        const auto requests = read_requests(watch_);
        ASSERT_EQ(requests.size(), 32u);
        for (std::size_t i = 0; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].first, c.sector * kSector + i * 128) << "request " << i;
            EXPECT_EQ(requests[i].second, 128) << "request " << i;
        }
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    }
}

TEST_F(FlashTransferTest, ReadProgressIsPacedForTheWholeProcess) {
    // One step per 32 chunks of a first read, then one every 33 chunks, carried
    // from one task to the next: the second sector read of a process steps
    // nowhere, the third at its first chunk.
    std::vector<bool> progressed;
    for (int i = 0; i < 3; ++i) {
        host_.clear();
        ReadFlashSector(host_.hwnd(), 2);
        test::deliver_posted();
        ASSERT_EQ(host_.codes().back(), static_cast<UINT>(SDK_MSG_SECTOR)) << host_.describe();
        progressed.push_back(host_.codes().size() == 3);
    }
    EXPECT_EQ(progressed, (std::vector<bool>{true, false, true}));
}

TEST_F(FlashTransferTest, ReadFaults) {
    struct Case {
        const char* legend;
        Fault fault;
        Codes codes;                   // after the version text
        std::uint64_t min_ms, max_ms;  // virtual time of the task
    };
    // Frames 1 and 2 are the version and status queries; reads start at 3.
    const Case cases[] = {
        {"first request unanswered: 3000 ms, error then full",
         Fault::on_command(FaultKind::silence, 0x12),
         {SDK_ERR_TRANSFER, SDK_MSG_PROGRESS},
         3000,
         3249},
        {"tenth request unanswered: 250 ms, error then full",
         Fault::on_frame(FaultKind::silence, 12),
         {SDK_ERR_TRANSFER, SDK_MSG_PROGRESS},
         250,
         2999},
        {"127 bytes for 128: error at once, no progress",
         [] {
             auto f = Fault::on_frame(FaultKind::wrong_length, 5);
             f.length_delta = -1;
             return f;
         }(),
         {SDK_ERR_TRANSFER},
         0,
         249},
        {"129 bytes for 128: error at once",
         Fault::on_frame(FaultKind::wrong_length, 5),
         {SDK_ERR_TRANSFER},
         0,
         249},
        {"bad checksum: the reply is dropped, the timer ends it",
         Fault::on_frame(FaultKind::bad_checksum, 6),
         {SDK_ERR_TRANSFER, SDK_MSG_PROGRESS},
         250,
         2999},
        {"line gone mid-run: the timer ends it",
         Fault::on_frame(FaultKind::disconnect, 7),
         {SDK_ERR_TRANSFER, SDK_MSG_PROGRESS},
         250,
         2999},
        {"duplicated reply: counted once, the sector intact",
         Fault::on_command(FaultKind::duplicate, 0x12, -1),
         {SDK_MSG_PROGRESS, SDK_MSG_SECTOR},
         0,
         2999},
        {"every reply split in two",
         Fault::on_command(FaultKind::split, 0x12, -1),
         {SDK_MSG_PROGRESS, SDK_MSG_SECTOR},
         0,
         2999},
        {"garbage before every reply",
         Fault::on_command(FaultKind::garbage_before, 0x12, -1),
         {SDK_MSG_PROGRESS, SDK_MSG_SECTOR},
         0,
         2999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        line_.reconnect();
        watch_.add_fault(c.fault);
        const std::uint64_t start = now();
        ReadFlashSector(host_.hwnd(), 4);
        const std::uint64_t took = now() - start;
        test::deliver_posted();
        Codes expected{SDK_MSG_WATCH_VERSION};
        expected.insert(expected.end(), c.codes.begin(), c.codes.end());
        EXPECT_EQ(host_.codes(), expected) << host_.describe();
        EXPECT_GE(took, c.min_ms);
        EXPECT_LE(took, c.max_ms);
        if (host_.codes().back() == static_cast<UINT>(SDK_MSG_SECTOR)) {
            EXPECT_EQ(host_.notifications().back().block, pattern(4));
            EXPECT_EQ(read_requests(watch_).size(), 32u);
        }
        for (const auto& n : host_.notifications()) {
            if (n.code == SDK_MSG_PROGRESS) {
                EXPECT_EQ(n.progress(), 100.0f);
            }
        }
    }
}

TEST_F(FlashTransferTest, LongVersionFromTheDirectorySector) {
    struct Case {
        const char* legend;
        std::vector<std::uint8_t> field;  // stored at 96 of sector 0
        std::string text;
    };
    auto bytes = [](std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    const Case cases[] = {
        {"text ending in a zero", bytes(std::string("1.30.07_A7\0\xFF\xFF", 13)), "1.30.07_A7"},
        {"sixteen characters, no zero", bytes("1.30.2007_ABCDEF"), "1.30.2007_ABCDEF"},
        {"erased field", std::vector<std::uint8_t>(16, 0xFF), "<FF>"},
        {"erased first byte only",
         bytes("\xFF"
               "1.30"),
         "<FF>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        watch_.with_flash([&](sim::Flash& flash) {
            flash.store(96, std::vector<std::uint8_t>(16, 0));
            flash.store(96, c.field);
        });
        GetWatch_LongVer(host_.hwnd(), FALSE);
        run_task();
        const Codes codes = host_.codes();
        ASSERT_GE(codes.size(), 3u) << host_.describe();
        EXPECT_EQ(codes.front(), static_cast<UINT>(SDK_MSG_WATCH_VERSION));
        EXPECT_EQ(codes[codes.size() - 2], static_cast<UINT>(SDK_MSG_LONG_VERSION));
        EXPECT_EQ(codes.back(), static_cast<UINT>(SDK_MSG_PROGRESS));
        EXPECT_EQ(host_.notifications().back().progress(), 100.0f);
        EXPECT_EQ(host_.notifications()[codes.size() - 2].text(), c.text);
        const auto requests = read_requests(watch_);
        ASSERT_EQ(requests.size(), 32u);
        EXPECT_EQ(requests.front().first, 0u);
    }
}

// A task of the test's own: writes one sector, then posts 0x2005 and ends.
class WriteOneSector final : public task::Operation {
  public:
    WriteOneSector(task::TaskHost& host, std::uint32_t address, std::vector<std::uint8_t> data)
        : Operation(host), address_(address), data_(std::move(data)) {}
    task::OperationCode code() const override { return task::OperationCode::set_setting; }
    void start() override { host().transfer().write_sector(address_, data_, kStep); }
    void on_write_complete(int step_code) override {
        EXPECT_EQ(step_code, kStep);
        host().post_result(SDK_MSG_SETTINGS_WRITTEN);
        host().end_task();
    }

  private:
    static constexpr int kStep = 1008;
    std::uint32_t address_;
    std::vector<std::uint8_t> data_;
};

void StartWrite(HWND host, std::uint32_t address, std::vector<std::uint8_t> data) {
    auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
    dlg->attach(host);
    TaskWindowTestAccess::start_with(*dlg, [&](task::TaskHost& task_host) {
        return std::make_unique<WriteOneSector>(task_host, address, std::move(data));
    });
}

TEST_F(FlashTransferTest, SectorWriteFaults) {
    struct Case {
        const char* legend;
        std::vector<Fault> faults;
        Codes codes;  // after the version text
        bool written;
    };
    auto wrong_length = [](std::uint8_t id) {
        auto f = Fault::on_command(FaultKind::wrong_length, id);
        return f;
    };
    const Case cases[] = {
        {"every acknowledgement in order: written", {}, {SDK_MSG_SETTINGS_WRITTEN}, true},
        {"erase unanswered: full, then error after 3000 ms",
         {Fault::on_command(FaultKind::silence, 0x14)},
         {SDK_MSG_PROGRESS, SDK_ERR_TRANSFER},
         false},
        {"a chunk unanswered: full, then error",
         {Fault::on_frame(FaultKind::silence, 20)},
         {SDK_MSG_PROGRESS, SDK_ERR_TRANSFER},
         false},
        {"prepare reply of the wrong length: error at once",
         {wrong_length(0x24)},
         {SDK_ERR_TRANSFER},
         false},
        {"write reply of the wrong length: error at once",
         {wrong_length(0x16)},
         {SDK_ERR_TRANSFER},
         false},
        {"every write reply twice: the second changes nothing",
         {Fault::on_command(FaultKind::duplicate, 0x16, -1)},
         {SDK_MSG_SETTINGS_WRITTEN},
         true},
        {"prepare and erase replies twice: no step skipped",
         {Fault::on_command(FaultKind::duplicate, 0x24),
          Fault::on_command(FaultKind::duplicate, 0x14)},
         {SDK_MSG_SETTINGS_WRITTEN},
         true},
        {"every reply split and late",
         {[] {
             auto f = Fault::on_command(FaultKind::split, 0x16, -1);
             f.delay_ms = 100;
             return f;
         }()},
         {SDK_MSG_SETTINGS_WRITTEN},
         true},
    };
    const std::uint32_t address = 6 * kSector;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        for (const auto& f : c.faults) watch_.add_fault(f);
        const auto data = pattern(99);
        StartWrite(host_.hwnd(), address, data);
        run_task();
        Codes expected{SDK_MSG_WATCH_VERSION};
        expected.insert(expected.end(), c.codes.begin(), c.codes.end());
        EXPECT_EQ(host_.codes(), expected) << host_.describe();
        EXPECT_EQ(watch_.read_flash(address, kSector) == data, c.written);
        // Prepare, erase, then 32 chunks of 128 bytes in address order; nothing after a failure.
        std::vector<std::uint8_t> ids;
        std::vector<std::uint32_t> chunk_addresses;
        for (const auto& p : watch_.received()) {
            if (p[0] == 0x10 || p[0] == 0x2C) continue;
            ids.push_back(p[0]);
            if (p[0] == 0x16) {
                chunk_addresses.push_back(p[1] | p[2] << 8 |
                                          static_cast<std::uint32_t>(p[3]) << 16);
                EXPECT_EQ(p[4], 128);
                EXPECT_EQ(p.size(), 5u + 128u);
            }
        }
        ASSERT_GE(ids.size(), 1u);
        EXPECT_EQ(ids[0], 0x24);
        if (c.written) {
            EXPECT_EQ(ids[1], 0x14);
            ASSERT_EQ(chunk_addresses.size(), 32u);
            for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(chunk_addresses[i], address + i * 128);
        }
        watch_.with_flash([&](sim::Flash& flash) {
            EXPECT_EQ(flash.conflicting_programs(), 0u) << "a chunk written without its erase";
            flash.store(address, std::vector<std::uint8_t>(kSector, 0xFF));
        });
    }
}

// A task of the test's own that asks for one read run and reports what came back.
class ReadRun final : public task::Operation {
  public:
    using Starter = std::function<bool(task::FlashTransfer&)>;
    ReadRun(task::TaskHost& host, Starter starter, bool& accepted)
        : Operation(host), starter_(std::move(starter)), accepted_(accepted) {}
    task::OperationCode code() const override { return task::OperationCode::get_views; }
    void start() override {
        accepted_ = starter_(host().transfer());
        if (!accepted_) host().end_task();
    }
    void on_read_complete(int step_code) override {
        const auto data = host().transfer().data();
        host().post_result_block(SDK_MSG_SECTOR,
                                 data.first(std::min<std::size_t>(data.size(), 12288)));
        (void)step_code;
        host().end_task();
    }

  private:
    Starter starter_;
    bool& accepted_;
};

TEST_F(FlashTransferTest, ReadRunLimits) {
    using task::FlashTransfer;
    struct Case {
        const char* legend;
        ReadRun::Starter starter;
        std::size_t requests;  // 0: refused, nothing sent
        std::uint32_t first_address;
        std::size_t offset;  // where the bytes land in the data buffer
    };
    const Case cases[] = {
        {"8192 bytes from sector 2: 64 requests",
         [](FlashTransfer& t) { return t.start_sector_read(2, 1005, 8192); }, 64, 2 * kSector, 0},
        {"8193 bytes: refused", [](FlashTransfer& t) { return t.start_sector_read(2, 1005, 8193); },
         0, 0, 0},
        {"offset run at 32 of sector 5",
         [](FlashTransfer& t) { return t.start_offset_read(5, 1005, 32, 4096); }, 32, 5 * kSector,
         32},
        {"offset 4096 is still inside the buffer",
         [](FlashTransfer& t) { return t.start_offset_read(5, 1005, 4096, 4096); }, 32, 5 * kSector,
         4096},
        {"offset run on sector 0: refused",
         [](FlashTransfer& t) { return t.start_offset_read(0, 1005, 32, 4096); }, 0, 0, 0},
        {"offset run on sector 255: refused",
         [](FlashTransfer& t) { return t.start_offset_read(255, 1005, 32, 4096); }, 0, 0, 0},
        {"offset 4097: refused",
         [](FlashTransfer& t) { return t.start_offset_read(5, 1005, 4097, 128); }, 0, 0, 0},
        {"offset run of 8193: refused",
         [](FlashTransfer& t) { return t.start_offset_read(5, 1005, 0, 8193); }, 0, 0, 0},
        {"128 bytes at 0xFF010", [](FlashTransfer& t) { return t.read_128(0xFF010, 1015); }, 1,
         0xFF010, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        bool accepted = false;
        auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
        dlg->attach(host_.hwnd());
        TaskWindowTestAccess::start_with(*dlg, [&](task::TaskHost& task_host) {
            return std::make_unique<ReadRun>(task_host, c.starter, accepted);
        });
        run_task();
        const auto requests = read_requests(watch_);
        EXPECT_EQ(accepted, c.requests != 0);
        ASSERT_EQ(requests.size(), c.requests);
        if (c.requests == 0) continue;
        EXPECT_EQ(requests.front().first, c.first_address);
        for (std::size_t i = 1; i < requests.size(); ++i)
            EXPECT_EQ(requests[i].first, requests[i - 1].first + 128);
        ASSERT_EQ(host_.codes().back(), static_cast<UINT>(SDK_MSG_SECTOR)) << host_.describe();
        const auto& block = host_.notifications().back().block;
        const auto expected = watch_.read_flash(c.first_address, c.requests * 128);
        ASSERT_GE(block.size(), c.offset + expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.begin() + c.offset));
    }
}

}  // namespace
}  // namespace stridelog
