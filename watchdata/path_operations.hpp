// GetPaths, SetPaths and SetPaths_Ex. GetPaths reads the directory and, when
// any path has waypoints, the six waypoint sectors, then posts one 0x2002 block
// per path (or 0x2003 alone). SetPaths writes the names and counts into sector
// 0, then rewrites the six waypoint sectors, each erased first; SetPaths_Ex
// does the same from its block, copied when the call was made.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "stridelog/framework_arrays.h"
#include "task/operation.hpp"
#include "watchdata/path_formats.hpp"

namespace stridelog::watchdata {

class GetPathsOperation final : public task::Operation {
  public:
    explicit GetPathsOperation(task::TaskHost& host) : Operation(host) {}

    task::OperationCode code() const override { return task::OperationCode::get_paths; }
    void start() override;
    void on_read_complete(int step_code) override;
    bool on_timer(UINT_PTR id) override;

  private:
    void on_directory();
    void on_waypoint_sectors();
};

// The host's arrays as SetPaths takes them, or nothing when they are not ten
// paths and ten names, or a path or waypoint pointer is missing.
std::optional<std::vector<HostPath>> paths_from_host_arrays(const CPtrArray* paths,
                                                            const CStringArray* names);

class SetPathsOperation final : public task::Operation {
  public:
    // From the host's arrays, read when the write starts.
    SetPathsOperation(task::TaskHost& host, const CPtrArray* paths, const CStringArray* names);
    // From a SetPaths_Ex block already copied.
    SetPathsOperation(task::TaskHost& host, std::vector<std::uint8_t> block);

    task::OperationCode code() const override { return task::OperationCode::set_paths; }
    void start() override;
    void on_read_complete(int step_code) override;
    void on_write_complete(int step_code) override;
    bool on_timer(UINT_PTR id) override;

  private:
    void write_waypoint_sector(int step_code);

    const CPtrArray* path_array_ = nullptr;
    const CStringArray* name_array_ = nullptr;
    std::vector<std::uint8_t> block_;
    bool from_block_ = false;
    std::vector<HostPath> paths_;
    std::vector<std::uint8_t> area_;
};

}  // namespace stridelog::watchdata
