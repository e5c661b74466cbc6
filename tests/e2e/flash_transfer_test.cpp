// Flash reads and writes as a host sees them, against a simulated watch on an
// in-process line under the virtual clock: ReadFlashSector, GetWatch_LongVer,
// and sector reads and writes run by tasks of the test's own through the real
// task window. The golden files hold the notifications (blocks by digest), the
// frames on the wire and the virtual time each run took.
#include "task/flash_transfer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
#include "tests/support/simulated_watch_fixture.hpp"
#include "tests/support/task_window_access.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSector = 4096;

// Distinct bytes in every sector, so a chunk in the wrong place shows.
Bytes pattern(std::size_t sector) {
    Bytes bytes(kSector);
    for (std::size_t i = 0; i < kSector; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + sector * 13 + i / 256) & 0xFF);
    return bytes;
}

// Writes `data` at `address` (the whole sector way, prepare, erase, chunks, or
// in chunks alone), then posts 0x2005 and ends.
class WriteOneSector final : public task::Operation {
  public:
    WriteOneSector(task::TaskHost& host, std::uint32_t address, Bytes data, bool erase = true)
        : Operation(host), address_(address), data_(std::move(data)), erase_(erase) {}
    task::OperationCode code() const override { return task::OperationCode::set_setting; }
    void start() override {
        if (erase_)
            host().transfer().write_sector(address_, data_, 1008);
        else
            host().transfer().write_sector_with_steps(address_, data_, 1008, task::WriteStep::write,
                                                      task::WriteStep::halt);
    }
    void on_write_complete(int step_code) override {
        EXPECT_EQ(step_code, 1008);
        host().post_result(SDK_MSG_SETTINGS_WRITTEN);
        host().end_task();
    }

  private:
    std::uint32_t address_;
    Bytes data_;  // copied into a buffer of exactly its size
    bool erase_;
};

// Asks for one read run and posts what came back; a refused run ends the task.
class ReadRun final : public task::Operation {
  public:
    using Starter = std::function<bool(task::FlashTransfer&)>;
    ReadRun(task::TaskHost& host, Starter starter)
        : Operation(host), starter_(std::move(starter)) {}
    task::OperationCode code() const override { return task::OperationCode::get_views; }
    void start() override {
        if (!starter_(host().transfer())) host().end_task();
    }
    void on_read_complete(int) override {
        const auto data = host().transfer().data();
        host().post_result_block(SDK_MSG_SECTOR,
                                 data.first(std::min<std::size_t>(data.size(), 12288)));
        host().end_task();
    }

  private:
    Starter starter_;
};

class FlashTransferTest : public test::SimulatedWatchTest {
  protected:
    void SetUp() override {
        SimulatedWatchTest::SetUp();
        for (std::uint32_t s = 0; s < 8; ++s) store(s * kSector, pattern(s));
        store(255 * kSector, pattern(255));
    }
    // Runs `call` on a clean line (the read pacing kept unless `fresh`): the
    // legend, the time it took, the notifications and the frames.
    std::string run(const std::string& legend, const std::function<void()>& call,
                    const std::vector<Fault>& faults = {}, bool fresh = true) {
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
        line_.reconnect();
        if (fresh) task::reset_read_chunk_progress();
        for (const auto& f : faults) watch_.add_fault(f);
        const std::uint64_t start = platform::clock().now_ms();
        call();
        run_task();
        return "== " + legend + ": " + std::to_string(platform::clock().now_ms() - start) +
               " ms\n" + test::transcript(host_) + test::frames_transcript(watch_.received());
    }
    template <class Op, class... Args>
    void start(Args... args) {
        auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
        dlg->attach(host_.hwnd());
        TaskWindowTestAccess::start_with(*dlg, [&](task::TaskHost& task_host) {
            return std::make_unique<Op>(task_host, args...);
        });
    }
};

// Only the low 8 bits of the sector number count; the read progress steps once
// per 32 chunks of a process's first read, then once per 33, carried from one
// task to the next; later chunks wait 250 ms, the first 3 s. Then
// GetWatch_LongVer's text from the directory sector.
TEST_F(FlashTransferTest, ReadFlashSectorAndLongVersion) {
    const auto read = [this](WORD sector) {
        return [=, this] { ReadFlashSector(host_.hwnd(), sector); };
    };
    Fault short_reply = Fault::on_frame(FaultKind::wrong_length, 5);
    short_reply.length_delta = -1;
    std::string text;
    for (const auto& [argument, sector] : std::vector<std::pair<WORD, std::size_t>>{
             {3, 3}, {0, 0}, {255, 255}, {256, 0}, {0x1FF, 255}}) {
        text += run("ReadFlashSector(" + std::to_string(argument) + ")", read(argument));
        EXPECT_EQ(host_.blocks(SDK_MSG_SECTOR).at(0), pattern(sector));
    }
    for (int i = 1; i <= 3; ++i)
        text += run("pacing, read " + std::to_string(i), read(2), {}, i == 1);
    // Frames 1 and 2 are the version and status queries; reads start at 3.
    const std::pair<const char*, Fault> faults[] = {
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
    for (const auto& [legend, fault] : faults) text += run(legend, read(4), {fault});
    test::expect_golden("e2e/read_flash_sector", text);

    text.clear();
    const std::pair<const char*, std::string> long_versions[] = {
        {"text ending in a zero", std::string("1.30.07_A7\0\xFF\xFF", 13)},
        {"sixteen characters, no zero", "1.30.2007_ABCDEF"},
        {"erased field", std::string(16, '\xFF')},
        {"erased first byte only",
         "\xFF"
         "1.30"},
    };
    for (const auto& [legend, field] : long_versions) {
        store(96, Bytes(16, 0));
        store(96, Bytes(field.begin(), field.end()));
        text += run(legend, [this] { GetWatch_LongVer(host_.hwnd(), FALSE); });
    }
    test::expect_golden("e2e/long_version", text);
}

// Accepted runs read in address order and land at their offset in the data;
// a sector write survives every reply fault that still answers it.
TEST_F(FlashTransferTest, TasksOfTheirOwnReadAndWrite) {
    using task::FlashTransfer;
    const auto sector = [](std::uint8_t s, std::uint32_t n) -> ReadRun::Starter {
        return [=](FlashTransfer& t) { return t.start_sector_read(s, 1005, n); };
    };
    const auto offset = [](std::uint8_t s, std::uint32_t at, std::uint32_t n) -> ReadRun::Starter {
        return [=](FlashTransfer& t) { return t.start_offset_read(s, 1005, at, n); };
    };
    const std::pair<const char*, ReadRun::Starter> reads[] = {
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
    for (const auto& [legend, starter] : reads) {
        text += run(legend, [&, starter = starter] { start<ReadRun>(starter); });
        if (legend == reads[2].first) {
            const auto block = host_.blocks(SDK_MSG_SECTOR).at(0);
            EXPECT_EQ(Bytes(block.begin() + 32, block.begin() + 32 + kSector), pattern(5));
        }
    }
    const auto on = [](FaultKind kind, std::uint8_t id, int repeat = 1) {
        return Fault::on_command(kind, id, repeat);
    };
    Fault split_late = on(FaultKind::split, 0x16, -1);
    split_late.delay_ms = 100;
    const std::pair<const char*, std::vector<Fault>> writes[] = {
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
    for (const auto& [legend, faults] : writes) {
        text += run(
            legend, [&] { start<WriteOneSector>(address, pattern(99)); }, faults);
        const bool written = watch_.read_flash(address, kSector) == pattern(99);
        EXPECT_EQ(written, host_.codes().back() == SDK_MSG_SETTINGS_WRITTEN) << legend;
        text += written ? "written\n" : "not written\n";
        watch_.with_flash([&](sim::Flash& flash) {
            EXPECT_EQ(flash.conflicting_programs(), 0u) << "a chunk written without its erase";
            flash.store(address, Bytes(kSector, 0xFF));
        });
    }
    // Sources that are not whole 128-byte chunks (the two-byte program sum, a
    // short block): the last write carries only what is left, nothing past the end.
    std::uint32_t at = 40 * kSector;  // erased sectors of their own
    for (const auto& [size, erase] : {std::pair<std::uint32_t, bool>{2, false},
                                      {127, false},
                                      {129, true},
                                      {300, true},
                                      {256, true}}) {
        Bytes data = pattern(9);
        data.resize(size);
        at += kSector;
        text += run(std::to_string(size) + (erase ? " bytes after an erase" : " bytes"),
                    [&, erase = erase] { start<WriteOneSector>(at, data, erase); });
        EXPECT_EQ(watch_.read_flash(at, size), data);
        text += "after the source: " + test::bytes_text(watch_.read_flash(at + size, 16)) + "\n";
    }
    test::expect_golden("e2e/flash_tasks", text);
}

}  // namespace
}  // namespace stridelog
