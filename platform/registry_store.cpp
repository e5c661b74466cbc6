#include "platform/registry_store.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace stridelog::platform::registry_detail {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kFileFormatVersion = 1;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

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

}  // namespace

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

std::unique_ptr<Node> load_user_tree(const std::string& file, Notes& notes) {
    auto root = std::make_unique<Node>();
    if (file.empty()) return root;
    std::ifstream in(file, std::ios::binary);
    if (!in) return root;  // no file yet: an empty tree
    std::stringstream content;
    content << in.rdbuf();
    try {
        Json j = Json::parse(content.str());
        if (j.at("version").get<int>() != kFileFormatVersion)
            throw std::runtime_error("unknown format version");
        node_from_json(j.at("root"), *root);
    } catch (const std::exception& e) {
        // Keep the unreadable file aside rather than overwrite it on the next change.
        root = std::make_unique<Node>();
        std::error_code ec;
        fs::rename(file, file + ".corrupt", ec);
        notes.push_back("registry: " + file + " is unreadable (" + e.what() + "); moved to " +
                        file + ".corrupt, starting empty");
    }
    return root;
}

void persist_user_tree(const std::string& file, const Node& root, Notes& notes) {
    if (file.empty()) return;
    const std::string text =
        Json{{"version", kFileFormatVersion}, {"root", node_to_json(root)}}.dump(
            1, ' ', false, Json::error_handler_t::replace) +
        "\n";
    std::error_code ec;
    fs::create_directories(fs::path(file).parent_path(), ec);
    const std::string temp = file + ".tmp." + std::to_string(::getpid());
    int error = 0;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
    } else {
        if (!write_all(fd, text) || ::fsync(fd) != 0) error = errno;
        if (::close(fd) != 0 && error == 0) error = errno;
        if (error == 0 && ::rename(temp.c_str(), file.c_str()) != 0) error = errno;
        if (error != 0) ::unlink(temp.c_str());
    }
    // The change stays in memory for this process.
    if (error != 0)
        notes.push_back("registry: cannot write " + file + " (" + std::strerror(error) +
                        "); changes are kept in memory only");
}

}  // namespace stridelog::platform::registry_detail
