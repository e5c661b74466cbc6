// GetWatch_LongVer: the long version text kept in the directory sector (0x2016).
#pragma once

#include "task/operation.hpp"

namespace stridelog::watchdata {

class LongVersionOperation final : public task::Operation {
  public:
    explicit LongVersionOperation(task::TaskHost& host) : Operation(host) {}

    task::OperationCode code() const override { return task::OperationCode::long_version; }
    void start() override;
    void on_read_complete(int step_code) override;
};

}  // namespace stridelog::watchdata
