// The set-up blocks the SDK posts and takes (paths, the 96-byte settings
// record, the 145-byte views record) as JSON documents and back. Pure
// functions: a document is checked field by field before anything is built
// from it, the error naming the field; the blocks are read by the host kit.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "stridelog/hostkit/records.hpp"

namespace stridelog_tool {

// The path records and the text helpers are the host kit's.
using stridelog::hostkit::kHostWaypointSize;
using stridelog::hostkit::kMaxPathName;
using stridelog::hostkit::kMaxWaypointName;
using stridelog::hostkit::kMaxWaypoints;
using stridelog::hostkit::kPathCount;
using stridelog::hostkit::PathWaypoint;
using stridelog::hostkit::WatchPath;

using stridelog::hostkit::kMaxViewName;
using stridelog::hostkit::kSettingsRecordSize;
using stridelog::hostkit::kViewCount;
using stridelog::hostkit::kViewsRecordSize;
using stridelog::hostkit::SettingsBlock;
using stridelog::hostkit::ViewsBlock;

nlohmann::json paths_to_json(const std::vector<WatchPath>& paths);
// Ten paths, indices 0..9 once each, returned in index order.
bool paths_from_json(const nlohmann::json& document, std::vector<WatchPath>& paths,
                     std::string& error);
// What the watch holds after the paths are written: a path without waypoints
// is named Path1 .. Path10 by its position.
std::vector<WatchPath> paths_as_stored(std::vector<WatchPath> paths);
// One line per difference between what was written and what was read back.
std::vector<std::string> path_differences(const std::vector<WatchPath>& written,
                                          const std::vector<WatchPath>& read);

bool settings_to_json(std::span<const std::uint8_t> block, nlohmann::json& document,
                      std::string& error);
bool settings_from_json(const nlohmann::json& document, SettingsBlock& record, std::string& error);
// Fields the watch takes from a record, by name, where the two records differ.
std::vector<std::string> settings_differences(const SettingsBlock& written,
                                              const SettingsBlock& read);

bool views_to_json(std::span<const std::uint8_t> block, nlohmann::json& document,
                   std::string& error);
bool views_from_json(const nlohmann::json& document, ViewsBlock& record, std::string& error);
std::vector<std::string> views_differences(const ViewsBlock& written, const ViewsBlock& read);

}  // namespace stridelog_tool
