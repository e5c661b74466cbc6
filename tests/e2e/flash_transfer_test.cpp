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

#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/simulated_watch_fixture.hpp"
#include "tests/support/task_window_access.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Codes = std::vector<UINT>;

constexpr std::uint32_t kSector = 4096;

// Distinct bytes in every sector, so a chunk in the wrong place shows.
std::vector<std::uint8_t> Pattern(std::size_t sector, std::size_t count = kSector) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + sector * 13 + i / 256) & 0xFF);
    return bytes;
}

// Payloads of the read requests the watch received: (address, count).
std::vector<std::pair<std::uint32_t, std::uint8_t>> ReadRequests(const sim::Watch& watch) {
    std::vector<std::pair<std::uint32_t, std::uint8_t>> out;
    for (const auto& p : watch.received())
        if (p.size() == 5 && p[0] == 0x12)
            out.emplace_back(p[1] | p[2] << 8 | static_cast<std::uint32_t>(p[3]) << 16, p[4]);
    return out;
}

class FlashTransferTest : public test::SimulatedWatchTest {
  protected:
    void SetUp() override {
        SimulatedWatchTest::SetUp();
        for (std::uint32_t s = 0; s < 8; ++s) store(s * kSector, Pattern(s));
        store(255 * kSector, Pattern(255));
    }
    std::uint64_t now() { return platform::clock().now_ms(); }
    void restart() {
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        task::ResetReadChunkProgress();
    }
    // Starts a task of the test's own on a task window of the host.
    template <class Op, class... Args>
    void start(Args&&... args) {
        auto* dlg = new CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
        dlg->Attach(host_.hwnd());
        TaskWindowTestAccess::start_with(*dlg, [&](task::TaskHost& task_host) {
            return std::make_unique<Op>(task_host, std::forward<Args>(args)...);
        });
    }
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
        EXPECT_FALSE(sdk::TaskActiveOnThisThread());
        test::DeliverPosted();
        ASSERT_EQ(host_.codes(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS, SDK_MSG_SECTOR}))
            << host_.describe();
        EXPECT_EQ(host_.notifications()[1].progress(), 100.0f);
        EXPECT_EQ(host_.notifications()[2].block, Pattern(c.sector));
        const auto requests = ReadRequests(watch_);
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
        test::DeliverPosted();
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
    const Codes timed_out{SDK_ERR_TRANSFER, SDK_MSG_PROGRESS}, at_once{SDK_ERR_TRANSFER},
        read{SDK_MSG_PROGRESS, SDK_MSG_SECTOR};
    Fault short_reply = Fault::on_frame(FaultKind::wrong_length, 5);
    short_reply.length_delta = -1;
    // Frames 1 and 2 are the version and status queries; reads start at 3.
    const Case cases[] = {
        {"first request unanswered: 3000 ms, error then full",
         Fault::on_command(FaultKind::silence, 0x12), timed_out, 3000, 3249},
        {"tenth request unanswered: 250 ms, error then full",
         Fault::on_frame(FaultKind::silence, 12), timed_out, 250, 2999},
        {"127 bytes for 128: error at once, no progress", short_reply, at_once, 0, 249},
        {"129 bytes for 128: error at once", Fault::on_frame(FaultKind::wrong_length, 5), at_once,
         0, 249},
        {"bad checksum: the reply is dropped, the timer ends it",
         Fault::on_frame(FaultKind::bad_checksum, 6), timed_out, 250, 2999},
        {"line gone mid-run: the timer ends it", Fault::on_frame(FaultKind::disconnect, 7),
         timed_out, 250, 2999},
        {"duplicated reply: counted once, the sector intact",
         Fault::on_command(FaultKind::duplicate, 0x12, -1), read, 0, 2999},
        {"every reply split in two", Fault::on_command(FaultKind::split, 0x12, -1), read, 0, 2999},
        {"garbage before every reply", Fault::on_command(FaultKind::garbage_before, 0x12, -1), read,
         0, 2999},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        line_.reconnect();
        watch_.add_fault(c.fault);
        const std::uint64_t start = now();
        ReadFlashSector(host_.hwnd(), 4);
        const std::uint64_t took = now() - start;
        test::DeliverPosted();
        Codes expected{SDK_MSG_WATCH_VERSION};
        expected.insert(expected.end(), c.codes.begin(), c.codes.end());
        EXPECT_EQ(host_.codes(), expected) << host_.describe();
        EXPECT_GE(took, c.min_ms);
        EXPECT_LE(took, c.max_ms);
        if (host_.codes().back() == static_cast<UINT>(SDK_MSG_SECTOR)) {
            EXPECT_EQ(host_.notifications().back().block, Pattern(4));
            EXPECT_EQ(ReadRequests(watch_).size(), 32u);
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
        const auto requests = ReadRequests(watch_);
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

TEST_F(FlashTransferTest, SectorWriteFaults) {
    struct Case {
        const char* legend;
        std::vector<Fault> faults;
        Codes codes;  // after the version text
    };
    const Codes written{SDK_MSG_SETTINGS_WRITTEN}, timed_out{SDK_MSG_PROGRESS, SDK_ERR_TRANSFER},
        at_once{SDK_ERR_TRANSFER};
    const auto on = [](FaultKind kind, std::uint8_t id, int repeat = 1) {
        return Fault::on_command(kind, id, repeat);
    };
    Fault split_late = on(FaultKind::split, 0x16, -1);
    split_late.delay_ms = 100;
    const Case cases[] = {
        {"every acknowledgement in order: written", {}, written},
        {"erase unanswered: full, then error after 3000 ms",
         {on(FaultKind::silence, 0x14)},
         timed_out},
        {"a chunk unanswered: full, then error",
         {Fault::on_frame(FaultKind::silence, 20)},
         timed_out},
        {"prepare reply of the wrong length: error at once",
         {on(FaultKind::wrong_length, 0x24)},
         at_once},
        {"write reply of the wrong length: error at once",
         {on(FaultKind::wrong_length, 0x16)},
         at_once},
        {"every write reply twice: the second changes nothing",
         {on(FaultKind::duplicate, 0x16, -1)},
         written},
        {"prepare and erase replies twice: no step skipped",
         {on(FaultKind::duplicate, 0x24), on(FaultKind::duplicate, 0x14)},
         written},
        {"every reply split and late", {split_late}, written},
    };
    const std::uint32_t address = 6 * kSector;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        for (const auto& f : c.faults) watch_.add_fault(f);
        const auto data = Pattern(99);
        start<WriteOneSector>(address, data);
        run_task();
        Codes expected{SDK_MSG_WATCH_VERSION};
        expected.insert(expected.end(), c.codes.begin(), c.codes.end());
        EXPECT_EQ(host_.codes(), expected) << host_.describe();
        const bool was_written = c.codes == written;
        EXPECT_EQ(watch_.read_flash(address, kSector) == data, was_written);
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
        if (was_written) {
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
    const auto sector = [](std::uint8_t s, std::uint32_t n) -> ReadRun::Starter {
        return [=](FlashTransfer& t) { return t.start_sector_read(s, 1005, n); };
    };
    const auto offset = [](std::uint8_t s, std::uint32_t at, std::uint32_t n) -> ReadRun::Starter {
        return [=](FlashTransfer& t) { return t.start_offset_read(s, 1005, at, n); };
    };
    const Case cases[] = {
        {"8192 bytes from sector 2: 64 requests", sector(2, 8192), 64, 2 * kSector, 0},
        {"8193 bytes: refused", sector(2, 8193), 0, 0, 0},
        {"offset run at 32 of sector 5", offset(5, 32, 4096), 32, 5 * kSector, 32},
        {"offset 4096 is still inside the buffer", offset(5, 4096, 4096), 32, 5 * kSector, 4096},
        {"offset run on sector 0: refused", offset(0, 32, 4096), 0, 0, 0},
        {"offset run on sector 255: refused", offset(255, 32, 4096), 0, 0, 0},
        {"offset 4097: refused", offset(5, 4097, 128), 0, 0, 0},
        {"offset run of 8193: refused", offset(5, 0, 8193), 0, 0, 0},
        {"128 bytes at 0xFF010", [](FlashTransfer& t) { return t.read_128(0xFF010, 1015); }, 1,
         0xFF010, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        bool accepted = false;
        start<ReadRun>(c.starter, accepted);
        run_task();
        const auto requests = ReadRequests(watch_);
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
