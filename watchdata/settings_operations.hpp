// GetSetting, SetSetting, GetViews and SetViews: each reads the directory
// sector; the set operations edit the settings block (and the view names) in
// the image and write sector 0 back whole.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "watchdata/operation.hpp"
#include "watchdata/settings_format.hpp"
#include "watchdata/views_format.hpp"

namespace stridelog::watchdata {

class GetSettingOperation final : public Operation {
  public:
    explicit GetSettingOperation(TaskHost& host) : Operation(host) {}
    OperationCode code() const override { return OperationCode::get_setting; }
    void start() override;
    void on_read_complete(int step_code) override;

  private:
    enum Step : int { kIdentityStep = 1015 };
};

class SetSettingOperation final : public Operation {
  public:
    // `record`: the host's record as copied at call time; one of another size starts nothing.
    SetSettingOperation(TaskHost& host, std::span<const std::uint8_t> record);
    OperationCode code() const override { return OperationCode::set_setting; }
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;

  private:
    enum Step : int { kSettingsWriteStep = 1008 };
    SettingsRecord record_{};
    bool valid_ = false;
};

class GetViewsOperation final : public Operation {
  public:
    explicit GetViewsOperation(TaskHost& host) : Operation(host) {}
    OperationCode code() const override { return OperationCode::get_views; }
    void start() override;
    void on_read_complete(int step_code) override;
};

class SetViewsOperation final : public Operation {
  public:
    SetViewsOperation(TaskHost& host, std::span<const std::uint8_t> record);
    OperationCode code() const override { return OperationCode::set_views; }
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;

  private:
    enum Step : int { kViewsWriteStep = 1009 };
    ViewsRecord record_{};
    bool valid_ = false;
};

}  // namespace stridelog::watchdata
