// The key tree both registry roots are made of: keys with values and subkeys,
// names compared without regard to ASCII case, kept in the order first set.
// Internal to the registry stand-in.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.hpp"

namespace stridelog::platform::registry_detail {

bool iequals(std::string_view a, std::string_view b);
// "A\\B\\C" -> {"A", "B", "C"}; empty parts are dropped.
std::vector<std::string> split_path(std::string_view path);

struct Node {
    std::vector<std::pair<std::string, RegValue>> values;
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> subkeys;

    Node* subkey(std::string_view name) const;
    Node& subkey_or_add(std::string_view name, bool& created);
    RegValue* value(std::string_view name);
    // Returns true when the stored value changed.
    bool set_value(std::string_view name, const RegValue& v);
};

// The node at `path` below `root`, or null.
Node* resolve(Node* root, const std::vector<std::string>& path);

}  // namespace stridelog::platform::registry_detail
