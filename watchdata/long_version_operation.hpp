// GetWatch_LongVer: the long version text kept in the directory sector (0x2016).
#pragma once

#include "watchdata/operation.hpp"

namespace stridelog::watchdata {

class LongVersionOperation final : public Operation {
  public:
    explicit LongVersionOperation(TaskHost& host) : Operation(host) {}

    OperationCode code() const override { return OperationCode::long_version; }
    void start() override;
    void on_read_complete(int step_code) override;
};

}  // namespace stridelog::watchdata
