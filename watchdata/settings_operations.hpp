// GetSetting, SetSetting, GetViews and SetViews: each reads the directory
// sector; the set operations edit the settings block (and the view names) in
// the image and write sector 0 back whole.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "task/operation.hpp"
#include "watchdata/settings_format.hpp"
#include "watchdata/views_format.hpp"

namespace stridelog::watchdata {

class GetSettingOperation final : public task::Operation {
  public:
    explicit GetSettingOperation(task::TaskHost& host) : Operation(host) {}
    task::OperationCode code() const override { return task::OperationCode::get_setting; }
    void start() override;
    void on_read_complete(int step_code) override;
};

class SetSettingOperation final : public task::Operation {
  public:
    // `record`: the host's record as copied at call time; one of another size starts nothing.
    SetSettingOperation(task::TaskHost& host, std::span<const std::uint8_t> record);
    task::OperationCode code() const override { return task::OperationCode::set_setting; }
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;

  private:
    SettingsRecord record_{};
    bool valid_ = false;
};

class GetViewsOperation final : public task::Operation {
  public:
    explicit GetViewsOperation(task::TaskHost& host) : Operation(host) {}
    task::OperationCode code() const override { return task::OperationCode::get_views; }
    void start() override;
    void on_read_complete(int step_code) override;
};

class SetViewsOperation final : public task::Operation {
  public:
    SetViewsOperation(task::TaskHost& host, std::span<const std::uint8_t> record);
    task::OperationCode code() const override { return task::OperationCode::set_views; }
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;

  private:
    ViewsRecord record_{};
    bool valid_ = false;
};

}  // namespace stridelog::watchdata
