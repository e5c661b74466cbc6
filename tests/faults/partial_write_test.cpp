// Sources that are not a whole number of 128-byte chunks (the two-byte program
// sum, a short block): the last write carries only what is left, so no byte
// from past the source's end reaches the watch.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "sdk/task_window.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/task_window_access.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kAddress = 40 * 4096;

// Writes `data` at kAddress, the whole sector way (prepare, erase, chunks) or
// in chunks alone, and ends with success.
class WriteSource final : public task::Operation {
  public:
    WriteSource(task::TaskHost& host, const Bytes& data, bool erase_first)
        : Operation(host), data_(data), erase_first_(erase_first) {}
    task::OperationCode code() const override { return task::OperationCode::set_views; }
    void start() override {
        if (erase_first_) {
            host().transfer().write_sector(kAddress, data_, 1);
        } else {
            host().transfer().write_sector_with_steps(kAddress, data_, 1, task::WriteStep::write,
                                                      task::WriteStep::halt);
        }
    }
    void on_write_complete(int) override {
        host().post_result(SDK_MSG_VIEWS_WRITTEN);
        host().end_task();
    }

  private:
    Bytes data_;  // copied into a buffer of exactly its size
    bool erase_first_;
};

TEST(PartialWrites, TheLastChunkCarriesOnlyWhatIsLeft) {
    struct Case {
        const char* legend;
        std::size_t size;
        bool erase_first;
        std::vector<std::size_t> counts;  // of the 0x16 frames, in order
    };
    const Case cases[] = {
        {"two bytes, chunks only (the program sum)", 2, false, {2}},
        {"one byte short of a chunk", 127, false, {127}},
        {"one byte past a chunk", 129, true, {128, 1}},
        {"300 bytes after an erase", 300, true, {128, 128, 44}},
        {"a whole number of chunks", 256, true, {128, 128}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        test::TestEnvironment env;
        platform::ScopedVirtualClock clock;
        const std::size_t blocks_before = platform::live_global_blocks();
        sim::Watch watch;
        sim::InProcessLine line(watch, "partial");
        sim::register_as_cable(line, "COM7");
        test::HostRecorder host;
        Bytes data(c.size);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 3 + 1);
        watch.clear_received();

        auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
        dlg->attach(host.hwnd());
        TaskWindowTestAccess::start_with(*dlg, [&](task::TaskHost& h) {
            return std::make_unique<WriteSource>(h, data, c.erase_first);
        });
        ASSERT_TRUE(test::run_until_task_ends(60'000));
        EXPECT_EQ(host.codes_without_progress(),
                  (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_VIEWS_WRITTEN}))
            << host.describe();

        std::vector<std::size_t> counts;
        std::size_t next = kAddress;
        for (const Bytes& f : watch.received()) {
            if (f.empty() || f[0] != 0x16) continue;
            ASSERT_GE(f.size(), 5u);
            const std::size_t at = f[1] | f[2] << 8 | f[3] << 16;
            EXPECT_EQ(at, next) << "chunks follow each other";
            counts.push_back(f[4]);
            EXPECT_EQ(f.size(), 5u + f[4]);
            next = at + f[4];
        }
        EXPECT_EQ(counts, c.counts);
        // The source, then the erased rest of the sector untouched.
        const Bytes flash = watch.read_flash(kAddress, c.size + 16);
        EXPECT_EQ(Bytes(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(c.size)), data);
        EXPECT_EQ(Bytes(flash.begin() + static_cast<std::ptrdiff_t>(c.size), flash.end()),
                  Bytes(16, 0xFF))
            << "nothing written past the source";
        EXPECT_EQ(platform::live_global_blocks(), blocks_before);
    }
}

}  // namespace
}  // namespace stridelog
