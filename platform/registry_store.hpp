// The current user's registry tree on disk: JSON, written whole to a
// temporary file and renamed over the old one. Internal to the registry
// stand-in.
#pragma once

#include <memory>
#include <string>

#include "platform/registry_notes.hpp"
#include "platform/registry_tree.hpp"

namespace stridelog::platform::registry_detail {

// $XDG_CONFIG_HOME/stridelog/registry, else ~/.config/stridelog/registry;
// empty when there is no home to put it in.
std::string current_user_file();

// The tree stored in `file`: empty when there is none yet, and empty with a
// note when it is unreadable (the file is then moved aside, never overwritten).
std::unique_ptr<Node> load_user_tree(const std::string& file, Notes& notes);

// Writes the tree to `file`; a failure is a note and the change stays in memory.
void persist_user_tree(const std::string& file, const Node& root, Notes& notes);

}  // namespace stridelog::platform::registry_detail
