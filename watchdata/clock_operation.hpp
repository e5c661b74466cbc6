// SetDateTime: one clock command, answered within 250 ms or not at all.
#pragma once

#include "task/operation.hpp"
#include "watchdata/watch_time.hpp"

namespace stridelog::watchdata {

inline constexpr std::uint32_t kClockReplyTimeoutMs = 250;

class SetClockOperation final : public task::Operation {
  public:
    SetClockOperation(task::TaskHost& host, const WatchTime& time) : Operation(host), time_(time) {}
    task::OperationCode code() const override { return task::OperationCode::set_clock; }
    void start() override;
    void on_acknowledgement(std::uint8_t reply_id, std::uint8_t status) override;
    bool on_timer(UINT_PTR id) override;

  private:
    WatchTime time_;
    bool awaiting_ = false;
};

}  // namespace stridelog::watchdata
