#include "watchdata/settings_operations.hpp"

#include <algorithm>

#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "watchdata/workout_directory.hpp"

namespace stridelog::watchdata {
namespace {

constexpr float kHalfway = 50.0f;
constexpr float kFull = 100.0f;
constexpr std::uint32_t kFullBarPauseMs = 500;
constexpr int kReadBarSteps = 256;
constexpr int kWriteBarSteps = 2;

// The host's bytes, or nothing when the size is not the record's.
template <std::size_t N>
bool copy_record(std::span<const std::uint8_t> from, std::array<std::uint8_t, N>& to) {
    if (from.size() != N) return false;
    std::copy(from.begin(), from.end(), to.begin());
    return true;
}

// The last step of a write: full bar, the pause the user sees, the result.
void finish_write(task::TaskHost& host, UINT result) {
    host.fill_progress();
    host.post_progress(kFull);
    platform::clock().sleep_ms(kFullBarPauseMs);
    host.post_result(result);
    host.end_task();
}

// A record that could not be taken ends the task without a word, as a
// call without one would have.
void refuse(task::TaskHost& host) {
    host.end_task();
}

}  // namespace

// ---- GetSetting ----

void GetSettingOperation::start() {
    host().set_progress_range(0, 1);
    host().set_progress_pos(0);
    host().set_progress_step(1);
    host().transfer().read_directory();
}

void GetSettingOperation::on_read_complete(int step_code) {
    task::FlashTransfer& transfer = host().transfer();
    if (step_code == task::kDirectoryStep) {
        transfer.read_128(kIdentityAddress, task::kIdentityStep);
        return;
    }
    if (step_code != task::kIdentityStep) return;
    const auto image = transfer.directory();
    const float version = host().watch().firmware_version;
    const SettingsRecord record =
        build_settings_record(image, transfer.data().first(task::kTransferChunkSize),
                              used_space_percent(image, host().watch().status_flag),
                              uses_extended_settings(version, image));
    host().fill_progress();
    platform::clock().sleep_ms(kFullBarPauseMs);
    host().post_result_block(SDK_MSG_SETTINGS, record);
    host().end_task();
}

// ---- SetSetting ----

SetSettingOperation::SetSettingOperation(task::TaskHost& host, std::span<const std::uint8_t> record)
    : Operation(host), valid_(copy_record(record, record_)) {}

void SetSettingOperation::start() {
    if (!valid_) return refuse(host());
    host().set_progress_range(0, kWriteBarSteps);
    host().set_progress_pos(0);
    host().set_progress_step(1);  // the default of 10 would wrap the two-step bar
    host().transfer().read_directory();
}

void SetSettingOperation::on_read_complete(int step_code) {
    if (step_code != task::kDirectoryStep) return;
    host().set_progress_pos(1);
    host().post_progress(kHalfway);
    task::FlashTransfer& transfer = host().transfer();
    const float version = host().watch().firmware_version;
    const auto image = transfer.directory();
    apply_settings_record(image, record_, uses_extended_settings(version, image),
                          settings_checksum_length(version));
    transfer.write_sector(0, image, task::kSettingsWriteStep);
}

void SetSettingOperation::on_write_complete(int step_code) {
    if (step_code == task::kSettingsWriteStep) finish_write(host(), SDK_MSG_SETTINGS_WRITTEN);
}

// ---- GetViews ----

void GetViewsOperation::start() {
    host().set_progress_range(0, kReadBarSteps);
    host().set_progress_pos(0);
    host().transfer().read_directory();
}

void GetViewsOperation::on_read_complete(int step_code) {
    if (step_code != task::kDirectoryStep) return;
    host().fill_progress();
    host().post_progress(kFull);
    platform::clock().sleep_ms(kFullBarPauseMs);
    host().post_result_block(SDK_MSG_VIEWS, build_views_record(host().transfer().directory()));
    host().end_task();
}

// ---- SetViews ----

SetViewsOperation::SetViewsOperation(task::TaskHost& host, std::span<const std::uint8_t> record)
    : Operation(host), valid_(copy_record(record, record_)) {}

void SetViewsOperation::start() {
    if (!valid_) return refuse(host());
    host().set_progress_range(0, kWriteBarSteps);
    host().set_progress_pos(0);
    host().set_progress_step(1);  // the default of 10 would wrap the two-step bar
    host().transfer().read_directory();
}

void SetViewsOperation::on_read_complete(int step_code) {
    if (step_code != task::kDirectoryStep) return;
    host().set_progress_pos(1);
    host().post_progress(kHalfway);
    task::FlashTransfer& transfer = host().transfer();
    const auto image = transfer.directory();
    apply_views_record(image, record_);
    write_settings_checksum(image, settings_checksum_length(host().watch().firmware_version));
    transfer.write_sector(0, image, task::kViewsWriteStep);
}

void SetViewsOperation::on_write_complete(int step_code) {
    if (step_code == task::kViewsWriteStep) finish_write(host(), SDK_MSG_VIEWS_WRITTEN);
}

}  // namespace stridelog::watchdata
