#include "watchdata/path_operations.hpp"

#include <algorithm>

#include "platform/clock.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"

namespace stridelog::watchdata {
namespace {

constexpr std::uint32_t kFullBarPauseMs = 1500;
constexpr int kGetProgressSteps = 7;
constexpr float kFull = 100.0f;
constexpr int kWriteFirstPos = 1;
constexpr int kDirectoryWritePos = 12;
constexpr int kWaypointWritePos = 24;
constexpr int kPosPerSector = 12;
constexpr auto kExpectedEntries = static_cast<intptr_t>(kPathCount);

std::u16string host_text(const CString& text) {
    return text.m_pszData == nullptr ? std::u16string() : std::u16string(text.m_pszData);
}

}  // namespace

// ---- GetPaths ----

void GetPathsOperation::start() {
    host().set_progress_range(0, kGetProgressSteps);
    host().transfer().read_directory();
}

void GetPathsOperation::on_read_complete(int step_code) {
    if (step_code == task::kDirectoryStep) return on_directory();
    if (step_code == task::kWaypointSectorsStep) return on_waypoint_sectors();
}

void GetPathsOperation::on_directory() {
    const auto directory = host().transfer().directory();
    bool any = false;
    for (std::size_t i = 0; i < kPathCount; ++i) any |= stored_waypoint_count(directory, i) > 0;
    if (!any) {
        host().fill_progress();
        host().set_timer(task::kNoPathsTimer, kFullBarPauseMs);
        return;
    }
    host().transfer().read_path_sectors(task::kWaypointSectorsStep);
}

void GetPathsOperation::on_waypoint_sectors() {
    task::FlashTransfer& transfer = host().transfer();
    const auto paths = read_stored_paths(
        transfer.directory(), transfer.data().first(kWaypointAreaSize), host().watch().name_width);
    for (std::size_t i = 0; i < paths.size(); ++i)
        host().post_result_block(SDK_MSG_PATH, path_block(static_cast<std::uint8_t>(i), paths[i]));
    host().fill_progress();
    host().set_timer(task::kPathsPostedTimer, kFullBarPauseMs);
}

bool GetPathsOperation::on_timer(UINT_PTR id) {
    if (id != task::kNoPathsTimer && id != task::kPathsPostedTimer) return false;
    host().kill_timer(id);
    host().post_progress(kFull);
    if (id == task::kNoPathsTimer) host().post_result(SDK_MSG_NO_PATHS);
    host().end_task();
    return true;
}

// ---- SetPaths ----

std::optional<std::vector<HostPath>> paths_from_host_arrays(const CPtrArray* paths,
                                                            const CStringArray* names) {
    if (paths == nullptr || names == nullptr || paths->m_nSize != kExpectedEntries ||
        names->m_nSize != kExpectedEntries || paths->m_pData == nullptr ||
        names->m_pData == nullptr)
        return std::nullopt;
    std::vector<HostPath> out(kPathCount);
    for (std::size_t i = 0; i < kPathCount; ++i) {
        const auto* path = static_cast<const CPtrArray*>(paths->m_pData[i]);
        if (path == nullptr || path->m_nSize < 0 || (path->m_nSize > 0 && path->m_pData == nullptr))
            return std::nullopt;
        out[i].name = host_text(names->m_pData[i]);
        // Only the first 99 are stored; the rest are never read.
        const auto count =
            std::min<std::size_t>(static_cast<std::size_t>(path->m_nSize), kMaxWaypoints);
        for (std::size_t k = 0; k < count; ++k) {
            const auto* waypoint = static_cast<const std::uint8_t*>(path->m_pData[k]);
            if (waypoint == nullptr) return std::nullopt;
            HostWaypoint copy;
            std::copy_n(waypoint, kHostWaypointSize, copy.begin());
            out[i].waypoints.push_back(copy);
        }
    }
    return out;
}

SetPathsOperation::SetPathsOperation(task::TaskHost& host, const CPtrArray* paths,
                                     const CStringArray* names)
    : Operation(host), path_array_(paths), name_array_(names) {}

SetPathsOperation::SetPathsOperation(task::TaskHost& host, std::vector<std::uint8_t> block)
    : Operation(host), block_(std::move(block)), from_block_(true) {}

void SetPathsOperation::start() {
    host().set_progress_range(0, 100);
    host().set_progress_pos(kWriteFirstPos);
    auto paths =
        from_block_ ? unpack_paths_block(block_) : paths_from_host_arrays(path_array_, name_array_);
    if (!paths) {
        // Nothing has been read or written yet, and nothing will be.
        host().post_error(SDK_ERR_PATH_COUNT);
        host().end_task();
        return;
    }
    paths_ = std::move(*paths);
    host().transfer().read_directory();
}

void SetPathsOperation::on_read_complete(int step_code) {
    if (step_code != task::kDirectoryStep) return;
    host().set_progress_pos(kDirectoryWritePos);
    host().post_progress(static_cast<float>(kDirectoryWritePos));
    task::FlashTransfer& transfer = host().transfer();
    store_path_directory(transfer.directory(), paths_, host().watch().name_width);
    transfer.write_sector(0, transfer.directory(), task::kDirectoryWriteStep);
}

void SetPathsOperation::write_waypoint_sector(int step_code) {
    const int index = step_code - task::kFirstWaypointWriteStep;
    const int pos = kWaypointWritePos + kPosPerSector * index;
    host().set_progress_pos(pos);
    host().post_progress(static_cast<float>(pos));
    const std::uint32_t sector = task::kFirstPathSector + static_cast<std::uint32_t>(index);
    host().transfer().write_sector(sector * task::kFlashSectorSize,
                                   std::span<const std::uint8_t>(area_).subspan(
                                       index * task::kFlashSectorSize, task::kFlashSectorSize),
                                   step_code);
}

void SetPathsOperation::on_write_complete(int step_code) {
    if (step_code == task::kDirectoryWriteStep) {
        area_ = waypoint_area(paths_);
        return write_waypoint_sector(task::kFirstWaypointWriteStep);
    }
    if (step_code >= task::kFirstWaypointWriteStep && step_code < task::kLastWaypointWriteStep)
        return write_waypoint_sector(step_code + 1);
    if (step_code == task::kLastWaypointWriteStep) {
        host().fill_progress();
        host().set_timer(task::kPathsWrittenTimer, kFullBarPauseMs);
    }
}

bool SetPathsOperation::on_timer(UINT_PTR id) {
    if (id != task::kPathsWrittenTimer) return false;
    host().kill_timer(id);
    host().post_progress(kFull);
    host().post_result(SDK_MSG_PATHS_WRITTEN);
    host().end_task();
    return true;
}

}  // namespace stridelog::watchdata
