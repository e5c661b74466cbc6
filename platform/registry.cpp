// Registry stand-in: the two roots and their keys. The current-user tree lives
// in memory and is written back (registry_store) whenever a call changes it; the
// local-machine tree is rebuilt from the serial device map (serial_device_map)
// and injected entries at every open, so a cable plugged in between two opens
// shows up in the second.
#include "platform/registry.hpp"

#include <memory>
#include <mutex>
#include <utility>

#include "platform/registry_notes.hpp"
#include "platform/registry_store.hpp"
#include "platform/registry_tree.hpp"
#include "platform/serial_device_map.hpp"
#include "platform/text_encoding.hpp"

namespace stridelog::platform {

using registry_detail::add_map_entry;
using registry_detail::iequals;
using registry_detail::MapEntry;
using registry_detail::Node;
using registry_detail::Notes;
using registry_detail::raise_notes;
using registry_detail::resolve;
using registry_detail::split_path;

namespace {

constexpr std::string_view kSerialCommPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr std::string_view kUsbEnumPath = "Enum\\USB\\SPCP825A";

struct State {
    std::mutex mutex;
    bool loaded = false;
    std::unique_ptr<Node> user_root;
    std::string user_file;  // empty: nowhere to persist
    std::vector<MapEntry> injected_map;
    std::vector<std::pair<std::string, std::string>> injected_usb;  // subkey, port name
    bool sysfs_scan = true;
    int major_version = 6;
};

State& state() {
    static State s;
    return s;
}

void load_current_user(State& s, Notes& notes) {
    if (s.loaded) return;
    s.loaded = true;
    s.user_file = registry_detail::current_user_file();
    s.user_root = registry_detail::load_user_tree(s.user_file, notes);
}

void persist_current_user(State& s, Notes& notes) {
    registry_detail::persist_user_tree(s.user_file, *s.user_root, notes);
}

std::vector<MapEntry> synthesise_device_map(Notes& notes) {
    State& s = state();
    bool scan = false;
    std::vector<MapEntry> injected;
    {
        std::lock_guard lock(s.mutex);
        scan = s.sysfs_scan;
        injected = s.injected_map;
    }
    return registry_detail::build_device_map(scan, std::move(injected), notes);
}

std::shared_ptr<Node> synthesise_local_machine(Notes& notes) {
    auto root = std::make_shared<Node>();
    bool created = false;
    Node* serial_comm = root.get();
    for (const auto& part : split_path(kSerialCommPath))
        serial_comm = &serial_comm->subkey_or_add(part, created);
    for (auto& entry : synthesise_device_map(notes))
        serial_comm->set_value(entry.value_name, entry.value);

    std::vector<std::pair<std::string, std::string>> usb;
    {
        std::lock_guard lock(state().mutex);
        usb = state().injected_usb;
    }
    if (!usb.empty()) {
        Node* usb_enum = root.get();
        for (const auto& part : split_path(kUsbEnumPath))
            usb_enum = &usb_enum->subkey_or_add(part, created);
        for (const auto& [subkey, port] : usb)
            usb_enum->subkey_or_add(subkey, created).set_value("PORTNAME", RegValue::text(port));
    }
    return root;
}

}  // namespace

// --- RegValue --------------------------------------------------------------------

RegValue RegValue::text(std::string_view utf8) {
    RegValue v;
    v.type = RegType::sz;
    for (char16_t c : utf8_to_utf16(utf8)) {
        v.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        v.data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    v.data.push_back(0);
    v.data.push_back(0);
    return v;
}

RegValue RegValue::dword(std::uint32_t value) {
    RegValue v;
    v.type = RegType::dword;
    for (int i = 0; i < 4; ++i) v.data.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return v;
}

std::string RegValue::as_text() const {
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) break;
        wide.push_back(c);
    }
    return utf16_to_utf8(wide);
}

// --- RegKey ------------------------------------------------------------------------

struct RegKey::Impl {
    RegRoot root = RegRoot::current_user;
    std::vector<std::string> path;       // current user: resolved at every call
    std::shared_ptr<Node> machine_tree;  // local machine: the snapshot taken at open
    const Node* machine_node = nullptr;
};

RegKey::RegKey(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&&) noexcept = default;
RegKey& RegKey::operator=(RegKey&&) noexcept = default;

namespace {

// Runs fn(node) on the key's node under the lock; false when the key is gone.
template <class Fn>
bool with_node(const RegKey::Impl* impl, Fn&& fn) {
    if (!impl) return false;
    if (impl->root == RegRoot::local_machine)
        return impl->machine_node && fn(const_cast<Node&>(*impl->machine_node));
    State& s = state();
    Notes notes;
    bool result = false;
    {
        std::lock_guard lock(s.mutex);
        load_current_user(s, notes);
        if (Node* node = resolve(s.user_root.get(), impl->path)) result = fn(*node);
    }
    raise_notes(notes);
    return result;
}

}  // namespace

bool RegKey::enum_value(std::size_t index, std::string& name, RegValue& value) const {
    return with_node(impl_.get(), [&](Node& node) {
        if (index >= node.values.size()) return false;
        name = node.values[index].first;
        value = node.values[index].second;
        return true;
    });
}

bool RegKey::enum_subkey(std::size_t index, std::string& name) const {
    return with_node(impl_.get(), [&](Node& node) {
        if (index >= node.subkeys.size()) return false;
        name = node.subkeys[index].first;
        return true;
    });
}

bool RegKey::query(std::string_view name, RegValue& value) const {
    return with_node(impl_.get(), [&](Node& node) {
        const RegValue* found = node.value(name);
        if (!found) return false;
        value = *found;
        return true;
    });
}

bool RegKey::set(std::string_view name, const RegValue& value) {
    // The machine tree is read-only: it is rebuilt from the system at every open.
    if (!impl_ || impl_->root != RegRoot::current_user) return false;
    State& s = state();
    Notes notes;
    bool result = false;
    {
        std::lock_guard lock(s.mutex);
        load_current_user(s, notes);
        if (Node* node = resolve(s.user_root.get(), impl_->path)) {
            if (node->set_value(name, value)) persist_current_user(s, notes);
            result = true;
        }
    }
    raise_notes(notes);
    return result;
}

// --- Free functions -----------------------------------------------------------------

std::optional<RegKey> reg_open(RegRoot root, std::string_view path) {
    auto impl = std::make_shared<RegKey::Impl>();
    impl->root = root;
    impl->path = split_path(path);
    Notes notes;
    bool exists = false;
    if (root == RegRoot::local_machine) {
        impl->machine_tree = synthesise_local_machine(notes);
        impl->machine_node = resolve(impl->machine_tree.get(), impl->path);
        exists = impl->machine_node != nullptr;
    } else {
        State& s = state();
        std::lock_guard lock(s.mutex);
        load_current_user(s, notes);
        exists = resolve(s.user_root.get(), impl->path) != nullptr;
    }
    raise_notes(notes);
    if (!exists) return std::nullopt;
    return RegKey(std::move(impl));
}

std::optional<RegKey> reg_create(RegRoot root, std::string_view path) {
    if (root == RegRoot::local_machine) return reg_open(root, path);
    auto impl = std::make_shared<RegKey::Impl>();
    impl->root = root;
    impl->path = split_path(path);
    State& s = state();
    Notes notes;
    {
        std::lock_guard lock(s.mutex);
        load_current_user(s, notes);
        bool created = false;
        Node* node = s.user_root.get();
        for (const auto& part : impl->path) node = &node->subkey_or_add(part, created);
        if (created) persist_current_user(s, notes);
    }
    raise_notes(notes);
    return RegKey(std::move(impl));
}

bool reg_key_exists(RegRoot root, std::string_view path) {
    return reg_open(root, path).has_value();
}

std::optional<std::string> serial_port_device_path(std::string_view port_name) {
    Notes notes;
    std::vector<MapEntry> map = synthesise_device_map(notes);
    raise_notes(notes);
    for (const auto& entry : map) {
        if (entry.value.type == RegType::sz && !entry.device_path.empty() &&
            iequals(entry.value.as_text(), port_name))
            return entry.device_path;
    }
    return std::nullopt;
}

int system_major_version() {
    std::lock_guard lock(state().mutex);
    return state().major_version;
}

void set_system_major_version(int major) {
    std::lock_guard lock(state().mutex);
    state().major_version = major;
}

void inject_serial_comm(std::string_view value_name, std::string_view port_name,
                        std::string_view device_path) {
    std::lock_guard lock(state().mutex);
    add_map_entry(state().injected_map,
                  {std::string(value_name), RegValue::text(port_name), std::string(device_path)});
}

void inject_serial_comm_value(std::string_view value_name, const RegValue& value) {
    std::lock_guard lock(state().mutex);
    add_map_entry(state().injected_map, {std::string(value_name), value, {}});
}

void inject_usb_enum(std::string_view subkey, std::string_view port_name) {
    std::lock_guard lock(state().mutex);
    auto& usb = state().injected_usb;
    for (auto& [name, port] : usb) {
        if (iequals(name, subkey)) {
            port = std::string(port_name);
            return;
        }
    }
    usb.emplace_back(std::string(subkey), std::string(port_name));
}

void clear_injected() {
    std::lock_guard lock(state().mutex);
    state().injected_map.clear();
    state().injected_usb.clear();
}

void set_sysfs_scan(bool enabled) {
    std::lock_guard lock(state().mutex);
    state().sysfs_scan = enabled;
}

void reload_current_user() {
    std::lock_guard lock(state().mutex);
    state().loaded = false;
    state().user_root.reset();
}

}  // namespace stridelog::platform
