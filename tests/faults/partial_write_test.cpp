// Sources that are not a whole number of 128-byte chunks (the two-byte program
// sum, a short block): the last write carries only what is left, so no byte
// from past the source's end reaches the watch.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sdk/task_window.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
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

// The golden file shows each run's 0x16 frames (addresses, counts, bytes) and
// the 16 bytes after the source, still erased.
TEST_F(PartialWrites, TheLastChunkCarriesOnlyWhatIsLeft) {
    const std::pair<std::size_t, bool> cases[] = {
        {2, false} /* the program sum */, {127, false}, {129, true}, {300, true}, {256, true}};
    std::uint32_t address = 40 * 4096;  // a sector of its own for each case
    std::string text;
    for (const auto& [size, erase_first] : cases) {
        address += 4096;
        host_.clear();
        watch_.clear_received();
        Bytes data(size);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 3 + 1);
        auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
        dlg->attach(host_.hwnd());
        TaskWindowTestAccess::start_with(*dlg, [&, erase = erase_first](task::TaskHost& h) {
            return std::make_unique<WriteSource>(h, address, data, erase);
        });
        run_task();
        EXPECT_EQ(watch_.read_flash(address, static_cast<std::uint32_t>(size)), data);
        text +=
            "== " + std::to_string(size) + (erase_first ? " bytes after an erase\n" : " bytes\n") +
            test::transcript(host_) + test::frames_transcript(watch_.received()) +
            "after the source: " +
            test::bytes_text(watch_.read_flash(address + static_cast<std::uint32_t>(size), 16)) +
            "\n";
    }
    test::expect_golden("faults/partial_writes", text);
}

}  // namespace
}  // namespace stridelog
