// Registry stand-in. The current-user tree lives in memory and is written back
// as JSON (temp file + rename) whenever a call changes it; the local-machine tree
// is rebuilt from sysfs, the device map file and injected entries at every open,
// so a cable plugged in between two opens shows up in the second.
//
// Port names for ttys found in sysfs follow one fixed rule so that a cable keeps
// its COM number across plug cycles:
//   ttyUSB<k> -> COM<k+1>   (k = 0..31, COM1..COM32)
//   ttyACM<k> -> COM<k+33>  (k = 0..31, COM33..COM64)
// Any other tty of the cable is left out of the map with a note.
// STRIDELOG_SYSFS_ROOT replaces "/sys" as the root of the scan (tests build a
// small fake tree there).
#include "platform/registry.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_set>
#include <utility>

#include "cable/cable_identity.hpp"
#include "platform/text_encoding.hpp"

namespace stridelog::platform {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kFileFormatVersion = 1;
constexpr std::string_view kSerialCommPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr std::string_view kUsbEnumPath = "Enum\\USB\\SPCP825A";
constexpr int kTtyKindCount = 32;  // ttys per kind that get a COM number

char fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

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

struct Node {
    std::vector<std::pair<std::string, RegValue>> values;
    std::vector<std::pair<std::string, std::unique_ptr<Node>>> subkeys;

    Node* subkey(std::string_view name) const {
        for (const auto& [key_name, child] : subkeys)
            if (iequals(key_name, name)) return child.get();
        return nullptr;
    }
    Node& subkey_or_add(std::string_view name, bool& created) {
        if (Node* child = subkey(name)) return *child;
        subkeys.emplace_back(std::string(name), std::make_unique<Node>());
        created = true;
        return *subkeys.back().second;
    }
    RegValue* value(std::string_view name) {
        for (auto& [value_name, value] : values)
            if (iequals(value_name, name)) return &value;
        return nullptr;
    }
    // Returns true when the stored value changed.
    bool set_value(std::string_view name, const RegValue& v) {
        if (RegValue* existing = value(name)) {
            if (existing->type == v.type && existing->data == v.data) return false;
            *existing = v;
            return true;
        }
        values.emplace_back(std::string(name), v);
        return true;
    }
};

Node* resolve(Node* root, const std::vector<std::string>& path) {
    Node* node = root;
    for (const auto& part : path) {
        if (!node) return nullptr;
        node = node->subkey(part);
    }
    return node;
}

// One entry of the serial device map.
struct MapEntry {
    std::string value_name;
    RegValue value;
    std::string device_path;  // empty for entries injected without one
};

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

// --- Notes ----------------------------------------------------------------------

// Notes are gathered while the registry's lock is held and raised after it is
// released, so a sink that reads the registry cannot deadlock.
using Notes = std::vector<std::string>;

// Enough for every problem a person would read; a device map of garbage must
// not grow the wait without bound while no sink is installed.
constexpr std::size_t kMaxWaitingNotes = 100;

struct NoteBook {
    std::mutex mutex;
    std::unordered_set<std::string> raised;
    std::vector<std::string> waiting;  // raised while no sink was installed
    std::shared_ptr<const RegistryNoteSink> sink;
};

NoteBook& note_book() {
    static NoteBook book;
    return book;
}

// Notes bound for the sink from this thread; delivering is set while this
// thread runs the sink, so a note the sink itself raises waits its turn here.
thread_local std::deque<std::string> t_pending;
thread_local bool t_delivering = false;

void deliver_pending() {
    if (t_delivering) return;
    t_delivering = true;
    struct Done {
        ~Done() { t_delivering = false; }
    } done;
    NoteBook& book = note_book();
    while (!t_pending.empty()) {
        std::string note = std::move(t_pending.front());
        t_pending.pop_front();
        std::shared_ptr<const RegistryNoteSink> sink;
        {
            std::lock_guard lock(book.mutex);
            sink = book.sink;
            // Removed meanwhile: the note waits for the next sink.
            if (!sink && book.waiting.size() < kMaxWaitingNotes)
                book.waiting.push_back(std::move(note));
        }
        if (sink) (*sink)(note);
    }
}

void raise_notes(Notes& notes) {
    if (notes.empty()) return;
    NoteBook& book = note_book();
    {
        std::lock_guard lock(book.mutex);
        for (auto& note : notes) {
            if (!book.raised.insert(note).second) continue;
            if (book.sink)
                t_pending.push_back(std::move(note));
            else if (book.waiting.size() < kMaxWaitingNotes)
                book.waiting.push_back(std::move(note));
        }
    }
    notes.clear();
    deliver_pending();
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string current_user_file() {
    std::string config = env("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') {
        std::string home = env("HOME");
        if (home.empty()) {
            struct passwd pw;
            struct passwd* found = nullptr;
            std::vector<char> buffer(16384);
            if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
                found->pw_dir)
                home = found->pw_dir;
        }
        if (home.empty()) return {};
        config = home + "/.config";
    }
    return config + "/stridelog/registry";
}

// --- Persistence of the current-user tree --------------------------------------

std::string to_hex(const std::vector<std::uint8_t>& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : data) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::vector<std::uint8_t> from_hex(const std::string& text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2) throw std::invalid_argument("odd hex length");
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) throw std::invalid_argument("bad hex digit");
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return out;
}

Json node_to_json(const Node& node) {
    Json values = Json::array();
    for (const auto& [name, value] : node.values) {
        Json v = {{"name", name}, {"type", static_cast<std::uint32_t>(value.type)}};
        // Plain strings stay readable; anything that would not survive the
        // round trip through text is kept as hex.
        std::string text = value.as_text();
        if (value.type == RegType::sz && RegValue::text(text).data == value.data)
            v["text"] = text;
        else
            v["hex"] = to_hex(value.data);
        values.push_back(std::move(v));
    }
    Json keys = Json::array();
    for (const auto& [name, child] : node.subkeys) {
        Json k = node_to_json(*child);
        k["name"] = name;
        keys.push_back(std::move(k));
    }
    return Json{{"values", std::move(values)}, {"keys", std::move(keys)}};
}

void node_from_json(const Json& j, Node& node) {
    for (const auto& v : j.at("values")) {
        RegValue value;
        value.type = static_cast<RegType>(v.at("type").get<std::uint32_t>());
        if (v.contains("text"))
            value.data = RegValue::text(v.at("text").get<std::string>()).data;
        else
            value.data = from_hex(v.at("hex").get<std::string>());
        node.set_value(v.at("name").get<std::string>(), value);
    }
    for (const auto& k : j.at("keys")) {
        bool created = false;
        node_from_json(k, node.subkey_or_add(k.at("name").get<std::string>(), created));
    }
}

void load_current_user(State& s, Notes& notes) {
    if (s.loaded) return;
    s.loaded = true;
    s.user_root = std::make_unique<Node>();
    s.user_file = current_user_file();
    if (s.user_file.empty()) return;
    std::ifstream in(s.user_file, std::ios::binary);
    if (!in) return;  // no file yet: an empty tree
    std::stringstream content;
    content << in.rdbuf();
    try {
        Json j = Json::parse(content.str());
        if (j.at("version").get<int>() != kFileFormatVersion)
            throw std::runtime_error("unknown format version");
        node_from_json(j.at("root"), *s.user_root);
    } catch (const std::exception& e) {
        // Keep the unreadable file aside rather than overwrite it on the next change.
        s.user_root = std::make_unique<Node>();
        std::error_code ec;
        fs::rename(s.user_file, s.user_file + ".corrupt", ec);
        notes.push_back("registry: " + s.user_file + " is unreadable (" + e.what() +
                        "); moved to " + s.user_file + ".corrupt, starting empty");
    }
}

bool write_all(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void persist_current_user(State& s, Notes& notes) {
    if (s.user_file.empty()) return;
    const std::string text =
        Json{{"version", kFileFormatVersion}, {"root", node_to_json(*s.user_root)}}.dump(
            1, ' ', false, Json::error_handler_t::replace) +
        "\n";
    std::error_code ec;
    fs::create_directories(fs::path(s.user_file).parent_path(), ec);
    const std::string temp = s.user_file + ".tmp." + std::to_string(::getpid());
    int error = 0;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
    } else {
        if (!write_all(fd, text) || ::fsync(fd) != 0) error = errno;
        if (::close(fd) != 0 && error == 0) error = errno;
        if (error == 0 && ::rename(temp.c_str(), s.user_file.c_str()) != 0) error = errno;
        if (error != 0) ::unlink(temp.c_str());
    }
    // The change stays in memory for this process.
    if (error != 0)
        notes.push_back("registry: cannot write " + s.user_file + " (" + std::strerror(error) +
                        "); changes are kept in memory only");
}

// --- The serial device map -------------------------------------------------------

// Splits a tty name into its prefix and trailing number (-1 when there is none).
std::pair<std::string, long> split_tty_name(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == name.size() || name.size() - digits > 6) return {name, -1};
    return {name.substr(0, digits), std::stol(name.substr(digits))};
}

// ttyUSB10 after ttyUSB9, the order in which the kernel numbered them.
bool tty_name_less(const std::string& a, const std::string& b) {
    auto [pa, na] = split_tty_name(a);
    auto [pb, nb] = split_tty_name(b);
    if (pa != pb) return pa < pb;
    if (na != nb) return na < nb;
    return a < b;
}

int com_number_for_tty(const std::string& name) {
    auto [prefix, k] = split_tty_name(name);
    if (k < 0 || k >= kTtyKindCount) return 0;
    if (prefix == "ttyUSB") return static_cast<int>(k) + 1;
    if (prefix == "ttyACM") return static_cast<int>(k) + 1 + kTtyKindCount;
    return 0;
}

std::string read_first_line(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

void add_map_entry(std::vector<MapEntry>& map, MapEntry entry) {
    for (auto& existing : map) {
        if (iequals(existing.value_name, entry.value_name)) {
            existing = std::move(entry);
            return;
        }
    }
    map.push_back(std::move(entry));
}

void scan_sysfs(std::vector<MapEntry>& map, Notes& notes) {
    std::string root = env("STRIDELOG_SYSFS_ROOT");
    if (root.empty()) root = "/sys";
    const fs::path sysfs(root);
    std::error_code ec;
    std::vector<std::string> ttys;
    for (fs::directory_iterator it(sysfs / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec))
        ttys.push_back(it->path().filename().string());
    std::sort(ttys.begin(), ttys.end(), tty_name_less);

    const fs::path canonical_root = fs::weakly_canonical(sysfs, ec);
    int bridge_index = 0;
    for (const auto& tty : ttys) {
        const fs::path device = fs::canonical(sysfs / "class" / "tty" / tty / "device", ec);
        if (ec) continue;  // virtual terminals have no device
        bool is_cable = false;
        for (fs::path dir = device; !dir.empty() && dir != canonical_root && dir != dir.root_path();
             dir = dir.parent_path()) {
            if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
                is_cable = iequals(read_first_line(dir / "idVendor"), cable::kUsbVendorId) &&
                           iequals(read_first_line(dir / "idProduct"), cable::kUsbProductId);
                break;
            }
        }
        const fs::path driver = fs::canonical(device / "driver", ec);
        const bool is_bridge = !ec && driver.filename() == cable::kBridgeDriver;
        if (!is_cable && !is_bridge) continue;
        std::string value_name =
            is_cable ? cable::usb_identity(tty)
                     : std::string(cable::kBridgeIdentityPrefix) + std::to_string(bridge_index);
        if (is_bridge && !is_cable) ++bridge_index;
        const int com = com_number_for_tty(tty);
        if (com == 0) {
            notes.push_back("registry: serial device " + tty +
                            " has no COM number (only ttyUSB0..31 and ttyACM0..31 do); left out");
            continue;
        }
        add_map_entry(map, {std::move(value_name), RegValue::text("COM" + std::to_string(com)),
                            "/dev/" + tty});
    }
}

void read_device_map_file(std::vector<MapEntry>& map, Notes& notes) {
    const std::string path = env("STRIDELOG_DEVICE_MAP");
    if (path.empty()) return;
    std::ifstream in(path);
    if (!in) {
        notes.push_back("registry: device map " + path + " cannot be read");
        return;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const cable::DeviceMapLine parsed = cable::parse_device_map_line(line);
        if (parsed.kind == cable::DeviceMapLine::Kind::blank) continue;
        if (parsed.kind == cable::DeviceMapLine::Kind::malformed) {
            notes.push_back("registry: device map " + path + ":" + std::to_string(number) + ": " +
                            parsed.problem + "; line skipped");
            continue;
        }
        add_map_entry(map, {parsed.entry.value_name, RegValue::text(parsed.entry.port_name),
                            parsed.entry.device_path});
    }
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
    std::vector<MapEntry> map;
    if (scan) scan_sysfs(map, notes);
    read_device_map_file(map, notes);
    for (auto& entry : injected) add_map_entry(map, std::move(entry));
    return map;
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

RegistryNoteSink set_registry_note_sink(RegistryNoteSink sink) {
    NoteBook& book = note_book();
    std::shared_ptr<const RegistryNoteSink> previous;
    {
        std::lock_guard lock(book.mutex);
        previous = std::move(book.sink);
        if (sink) {
            book.sink = std::make_shared<const RegistryNoteSink>(std::move(sink));
            for (auto& note : book.waiting) t_pending.push_back(std::move(note));
            book.waiting.clear();
        }
    }
    deliver_pending();
    return previous ? *previous : RegistryNoteSink{};
}

void forget_registry_notes() {
    NoteBook& book = note_book();
    std::lock_guard lock(book.mutex);
    book.raised.clear();
    book.waiting.clear();
}

}  // namespace stridelog::platform
