// ReadFlashSector: one whole sector, in flash order, as a 4096-byte block (0x2021).
#pragma once

#include <cstdint>

#include "task/operation.hpp"

namespace stridelog::watchdata {

class SectorReadOperation final : public task::Operation {
  public:
    SectorReadOperation(task::TaskHost& host, std::uint8_t sector);

    task::OperationCode code() const override { return task::OperationCode::read_sector; }
    void prepare() override;
    void start() override;
    void on_read_complete(int step_code) override;

  private:
    std::uint8_t sector_;
};

}  // namespace stridelog::watchdata
