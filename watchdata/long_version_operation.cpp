#include "watchdata/long_version_operation.hpp"

#include <span>
#include <string>

#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "watchdata/directory_image.hpp"

namespace stridelog::watchdata {
namespace {

// The bar counts one step per sector read; it starts one step in.
constexpr int kProgressSteps = 256;

}  // namespace

void LongVersionOperation::start() {
    host().set_progress_range(0, kProgressSteps);
    host().set_progress_pos(1);
    host().transfer().read_directory();
}

void LongVersionOperation::on_read_complete(int step_code) {
    if (step_code != task::kDirectoryStep) return;
    const std::string text = long_version_text(host().transfer().directory());
    host().post_result_block(
        SDK_MSG_LONG_VERSION,
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    host().post_progress(100.0f);
    host().end_task();
}

}  // namespace stridelog::watchdata
