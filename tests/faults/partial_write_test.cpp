// Sources that are not a whole number of 128-byte chunks (the two-byte program
// sum, a short block): the last write carries only what is left, so no byte
// from past the source's end reaches the watch.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sdk/task_window.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/simulated_watch_fixture.hpp"
#include "tests/support/task_window_access.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes `data` at `address`, the whole sector way (prepare, erase, chunks) or
// in chunks alone, and ends with success.
class WriteSource final : public task::Operation {
  public:
    WriteSource(task::TaskHost& host, std::uint32_t address, const Bytes& data, bool erase_first)
        : Operation(host), address_(address), data_(data), erase_first_(erase_first) {}
    task::OperationCode code() const override { return task::OperationCode::set_views; }
    void start() override {
        if (erase_first_) {
            host().transfer().write_sector(address_, data_, 1);
        } else {
            host().transfer().write_sector_with_steps(address_, data_, 1, task::WriteStep::write,
                                                      task::WriteStep::halt);
        }
    }
    void on_write_complete(int) override {
        host().post_result(SDK_MSG_VIEWS_WRITTEN);
        host().end_task();
    }

  private:
    std::uint32_t address_;
    Bytes data_;  // copied into a buffer of exactly its size
    bool erase_first_;
};

using PartialWrites = test::SimulatedWatchTest;

TEST_F(PartialWrites, TheLastChunkCarriesOnlyWhatIsLeft) {
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
    std::uint32_t address = 40 * 4096;  // a sector of its own for each case
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        address += 4096;
        host_.clear();
        Bytes data(c.size);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 3 + 1);
        watch_.clear_received();
        auto* dlg = new CSdkTaskDlg(CSdkTaskDlg::Storage::heap);
        dlg->Attach(host_.hwnd());
        TaskWindowTestAccess::start_with(*dlg, [&](task::TaskHost& h) {
            return std::make_unique<WriteSource>(h, address, data, c.erase_first);
        });
        run_task();
        EXPECT_EQ(host_.codes_without_progress(),
                  (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_MSG_VIEWS_WRITTEN}))
            << host_.describe();

        std::vector<std::size_t> counts;
        std::size_t next = address;
        for (const Bytes& f : watch_.received()) {
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
        const Bytes flash = watch_.read_flash(address, c.size + 16);
        EXPECT_EQ(Bytes(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(c.size)), data);
        EXPECT_EQ(Bytes(flash.begin() + static_cast<std::ptrdiff_t>(c.size), flash.end()),
                  Bytes(16, 0xFF))
            << "nothing written past the source";
    }
}

}  // namespace
}  // namespace stridelog
