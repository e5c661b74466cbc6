#include "watchdata/sector_read_operation.hpp"

#include <cstdio>

#include "stridelog/stridelog.h"
#include "ui/task_display.hpp"
#include "watchdata/flash_transfer.hpp"

namespace stridelog::watchdata {

SectorReadOperation::SectorReadOperation(TaskHost& host, std::uint8_t sector)
    : Operation(host), sector_(sector) {}

void SectorReadOperation::prepare() {
    host().display().SetCaption("Reading");
}

void SectorReadOperation::start() {
    TaskDisplay& display = host().display();
    display.SetStatusText("Reading data ... ");
    display.SetRange(0, 1);
    char line[32];
    std::snprintf(line, sizeof line, "Read sector %u", static_cast<unsigned>(sector_));
    host().append_log(line);
    host().transfer().start_sector_read(sector_, kSectorDataStep, kFlashSectorSize);
}

void SectorReadOperation::on_read_complete(int step_code) {
    if (step_code != kSectorDataStep) return;
    host().post_result_block(SDK_MSG_SECTOR, host().transfer().data().first(kFlashSectorSize));
    host().end_task();
}

}  // namespace stridelog::watchdata
