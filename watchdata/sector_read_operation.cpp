#include "watchdata/sector_read_operation.hpp"

#include <cstdio>

#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"

namespace stridelog::watchdata {

SectorReadOperation::SectorReadOperation(task::TaskHost& host, std::uint8_t sector)
    : Operation(host), sector_(sector) {}

void SectorReadOperation::prepare() {
    host().set_caption("Reading");
}

void SectorReadOperation::start() {
    host().set_status_text("Reading data ... ");
    host().set_progress_range(0, 1);
    char line[32];
    std::snprintf(line, sizeof line, "Read sector %u", static_cast<unsigned>(sector_));
    host().append_log(line);
    host().transfer().start_sector_read(sector_, task::kSectorDataStep, task::kFlashSectorSize);
}

void SectorReadOperation::on_read_complete(int step_code) {
    if (step_code != task::kSectorDataStep) return;
    host().post_result_block(SDK_MSG_SECTOR,
                             host().transfer().data().first(task::kFlashSectorSize));
    host().end_task();
}

}  // namespace stridelog::watchdata
