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
#include "tests/support/golden.hpp"
#include "tests/support/simulated_watch_fixture.hpp"
#include "tests/support/task_window_access.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;

constexpr std::uint32_t kSector = 4096;

// Distinct bytes in every sector, so a chunk in the wrong place shows.
std::vector<std::uint8_t> pattern(std::size_t sector, std::size_t count = kSector) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + sector * 13 + i / 256) & 0xFF);
    return bytes;
}

class FlashTransferTest : public test::SimulatedWatchTest {
  protected:
    void SetUp() override {
        SimulatedWatchTest::SetUp();
        for (std::uint32_t s = 0; s < 8; ++s) store(s * kSector, pattern(s));
        store(255 * kSector, pattern(255));
    }
    std::uint64_t now() { return platform::clock().now_ms(); }
    void restart() {
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        task::reset_read_chunk_progress();
    }
    // Starts a task of the test's own on a task window of the host.
    template <class Op, class... Args>
    void start(Args&&... args) {
        auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
        dlg->attach(host_.hwnd());
        TaskWindowTestAccess::start_with(*dlg, [&](task::TaskHost& task_host) {
            return std::make_unique<Op>(task_host, std::forward<Args>(args)...);
        });
    }
};

// The notifications, the block and the read requests are in the golden file.
TEST_F(FlashTransferTest, ReadFlashSectorPostsTheSectorInFlashOrder) {
    const std::pair<WORD, std::size_t> cases[] = {
        {3, 3}, {0, 0}, {255, 255}, {256, 0} /* only the low 8 bits count */, {0x1FF, 255}};
    std::string text;
    for (const auto& [argument, sector] : cases) {
        SCOPED_TRACE(argument);
        restart();
        ReadFlashSector(host_.hwnd(), argument);
        // Modal: the call returns once the task has ended.
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
        test::deliver_posted();
        EXPECT_EQ(host_.blocks(SDK_MSG_SECTOR).at(0), pattern(sector));
        text += "== ReadFlashSector(" + std::to_string(argument) + ")\n" + test::transcript(host_) +
                test::frames_transcript(watch_.received());
    }
    test::expect_golden("e2e/read_flash_sector", text);
}

TEST_F(FlashTransferTest, ReadProgressIsPacedForTheWholeProcess) {
    // One step per 32 chunks of a first read, then one every 33 chunks, carried
    // from one task to the next: the second sector read of a process steps
    // nowhere, the third at its first chunk.
    std::string text;
    for (int i = 0; i < 3; ++i) {
        host_.clear();
        ReadFlashSector(host_.hwnd(), 2);
        test::deliver_posted();
        text += "== read " + std::to_string(i + 1) + "\n" + test::transcript(host_);
    }
    test::expect_golden("e2e/read_progress_pacing", text);
}

TEST_F(FlashTransferTest, ReadFaults) {
    Fault short_reply = Fault::on_frame(FaultKind::wrong_length, 5);
    short_reply.length_delta = -1;
    // Frames 1 and 2 are the version and status queries; reads start at 3.
    const std::pair<const char*, Fault> cases[] = {
        {"first request unanswered", Fault::on_command(FaultKind::silence, 0x12)},
        {"tenth request unanswered", Fault::on_frame(FaultKind::silence, 12)},
        {"127 bytes for 128", short_reply},
        {"129 bytes for 128", Fault::on_frame(FaultKind::wrong_length, 5)},
        {"bad checksum: the reply is dropped", Fault::on_frame(FaultKind::bad_checksum, 6)},
        {"line gone mid-run", Fault::on_frame(FaultKind::disconnect, 7)},
        {"duplicated reply: counted once", Fault::on_command(FaultKind::duplicate, 0x12, -1)},
        {"every reply split in two", Fault::on_command(FaultKind::split, 0x12, -1)},
        {"garbage before every reply", Fault::on_command(FaultKind::garbage_before, 0x12, -1)},
    };
    std::string text;
    for (const auto& [legend, fault] : cases) {
        SCOPED_TRACE(legend);
        restart();
        line_.reconnect();
        watch_.add_fault(fault);
        const std::uint64_t start = now();
        ReadFlashSector(host_.hwnd(), 4);
        const std::uint64_t took = now() - start;
        test::deliver_posted();
        text += std::string("== ") + legend + ": " + std::to_string(took) + " ms\n" +
                test::transcript(host_) + test::frames_transcript(watch_.received());
    }
    test::expect_golden("e2e/read_faults", text);
}

TEST_F(FlashTransferTest, LongVersionFromTheDirectorySector) {
    auto bytes = [](std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"text ending in a zero", bytes(std::string("1.30.07_A7\0\xFF\xFF", 13))},
        {"sixteen characters, no zero", bytes("1.30.2007_ABCDEF")},
        {"erased field", std::vector<std::uint8_t>(16, 0xFF)},
        {"erased first byte only", bytes("\xFF"
                                         "1.30")},
    };
    std::string text;
    for (const auto& [legend, field] : cases) {
        restart();
        store(96, std::vector<std::uint8_t>(16, 0));
        store(96, field);
        GetWatch_LongVer(host_.hwnd(), FALSE);
        run_task();
        text += std::string("== ") + legend + "\n" + test::transcript(host_) +
                test::frames_transcript(watch_.received());
    }
    test::expect_golden("e2e/long_version", text);
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
    const auto on = [](FaultKind kind, std::uint8_t id, int repeat = 1) {
        return Fault::on_command(kind, id, repeat);
    };
    Fault split_late = on(FaultKind::split, 0x16, -1);
    split_late.delay_ms = 100;
    const std::pair<const char*, std::vector<Fault>> cases[] = {
        {"every acknowledgement in order", {}},
        {"erase unanswered", {on(FaultKind::silence, 0x14)}},
        {"a chunk unanswered", {Fault::on_frame(FaultKind::silence, 20)}},
        {"prepare reply of the wrong length", {on(FaultKind::wrong_length, 0x24)}},
        {"write reply of the wrong length", {on(FaultKind::wrong_length, 0x16)}},
        {"every write reply twice", {on(FaultKind::duplicate, 0x16, -1)}},
        {"prepare and erase replies twice",
         {on(FaultKind::duplicate, 0x24), on(FaultKind::duplicate, 0x14)}},
        {"every reply split and late", {split_late}},
    };
    const std::uint32_t address = 6 * kSector;
    const auto data = pattern(99);
    std::string text;
    for (const auto& [legend, faults] : cases) {
        SCOPED_TRACE(legend);
        restart();
        for (const auto& f : faults) watch_.add_fault(f);
        start<WriteOneSector>(address, data);
        run_task();
        const bool written = watch_.read_flash(address, kSector) == data;
        EXPECT_EQ(written, host_.codes().back() == SDK_MSG_SETTINGS_WRITTEN);
        text += std::string("== ") + legend + (written ? ": written\n" : ": not written\n") +
                test::transcript(host_) + test::frames_transcript(watch_.received());
        watch_.with_flash([&](sim::Flash& flash) {
            EXPECT_EQ(flash.conflicting_programs(), 0u) << "a chunk written without its erase";
            flash.store(address, std::vector<std::uint8_t>(kSector, 0xFF));
        });
    }
    test::expect_golden("e2e/sector_write_faults", text);
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

// Accepted runs read in address order and land at their offset in the data.
TEST_F(FlashTransferTest, ReadRunLimits) {
    using task::FlashTransfer;
    const auto sector = [](std::uint8_t s, std::uint32_t n) -> ReadRun::Starter {
        return [=](FlashTransfer& t) { return t.start_sector_read(s, 1005, n); };
    };
    const auto offset = [](std::uint8_t s, std::uint32_t at, std::uint32_t n) -> ReadRun::Starter {
        return [=](FlashTransfer& t) { return t.start_offset_read(s, 1005, at, n); };
    };
    const std::pair<const char*, ReadRun::Starter> cases[] = {
        {"8192 bytes from sector 2", sector(2, 8192)},
        {"8193 bytes", sector(2, 8193)},
        {"offset run at 32 of sector 5", offset(5, 32, 4096)},
        {"offset 4096 is still inside the buffer", offset(5, 4096, 4096)},
        {"offset run on sector 0", offset(0, 32, 4096)},
        {"offset run on sector 255", offset(255, 32, 4096)},
        {"offset 4097", offset(5, 4097, 128)},
        {"offset run of 8193", offset(5, 0, 8193)},
        {"128 bytes at 0xFF010", [](FlashTransfer& t) { return t.read_128(0xFF010, 1015); }},
    };
    std::string text;
    for (const auto& [legend, starter] : cases) {
        SCOPED_TRACE(legend);
        restart();
        bool accepted = false;
        start<ReadRun>(starter, accepted);
        run_task();
        text += std::string("== ") + legend + (accepted ? ": accepted\n" : ": refused\n") +
                test::transcript(host_) + test::frames_transcript(watch_.received());
    }
    test::expect_golden("e2e/read_run_limits", text);
    // The run at 32 of sector 5: its bytes land 32 into the data.
    restart();
    bool accepted = false;
    start<ReadRun>(cases[2].second, accepted);
    run_task();
    const auto block = host_.blocks(SDK_MSG_SECTOR).at(0);
    EXPECT_EQ(std::vector(block.begin() + 32, block.begin() + 32 + kSector), pattern(5));
}

}  // namespace
}  // namespace stridelog
