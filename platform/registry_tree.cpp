#include "platform/registry_tree.hpp"

#include <algorithm>

namespace stridelog::platform::registry_detail {
namespace {

char fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return fold(x) == fold(y); });
}

std::vector<std::string> split_path(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

Node* Node::subkey(std::string_view name) const {
    for (const auto& [key_name, child] : subkeys)
        if (iequals(key_name, name)) return child.get();
    return nullptr;
}

Node& Node::subkey_or_add(std::string_view name, bool& created) {
    if (Node* child = subkey(name)) return *child;
    subkeys.emplace_back(std::string(name), std::make_unique<Node>());
    created = true;
    return *subkeys.back().second;
}

RegValue* Node::value(std::string_view name) {
    for (auto& [value_name, value] : values)
        if (iequals(value_name, name)) return &value;
    return nullptr;
}

bool Node::set_value(std::string_view name, const RegValue& v) {
    if (RegValue* existing = value(name)) {
        if (existing->type == v.type && existing->data == v.data) return false;
        *existing = v;
        return true;
    }
    values.emplace_back(std::string(name), v);
    return true;
}

Node* resolve(Node* root, const std::vector<std::string>& path) {
    Node* node = root;
    for (const auto& part : path) {
        if (!node) return nullptr;
        node = node->subkey(part);
    }
    return node;
}

}  // namespace stridelog::platform::registry_detail
