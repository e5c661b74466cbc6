#include "user_config.hpp"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

namespace stridelog_tool {
namespace {

// inih reads lines of at most 200 bytes; "password_file = " leaves this much.
constexpr std::size_t kMaxValueBytes = 160;
constexpr mode_t kOthersBits = S_IRWXG | S_IRWXO;

// The firmware section takes the fifth text too, which the A-GPS download has no use for.
const std::vector<std::string> kKeys = {"agps.server",
                                        "agps.user",
                                        "agps.password",
                                        "agps.password_file",
                                        "agps.folder",
                                        "agps.mode",
                                        "agps.limit",
                                        "firmware.server",
                                        "firmware.user",
                                        "firmware.password",
                                        "firmware.password_file",
                                        "firmware.folder",
                                        "firmware.fifth",
                                        "firmware.mode",
                                        "firmware.limit",
                                        "sync.folder",
                                        "sync.formats",
                                        "sync.agps_days"};

// "server" of "firmware.server".
std::string key_name(const std::string& key) {
    const std::size_t dot = key.find('.');
    return dot == std::string::npos ? key : key.substr(dot + 1);
}

std::string errno_message(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

struct ParseState {
    ConfigValues* values;
    std::string duplicate;
};

int on_value(void* user, const char* section, const char* name, const char* value) {
    auto* state = static_cast<ParseState*>(user);
    const std::string key = std::string(section) + "." + name;
    // A second value (or an indented continuation line) would silently replace
    // or extend the first.
    if (!state->values->emplace(key, value).second) {
        if (state->duplicate.empty()) state->duplicate = key;
        return 0;
    }
    return 1;
}

// Bytes that survive "key = value" read back by inih: no control character, no
// blank at either end (stripped), no ';' first or after a blank (an inline
// comment).
bool survives_file(const std::string& value, std::string& error) {
    if (value.size() > kMaxValueBytes) {
        error = "longer than " + std::to_string(kMaxValueBytes) + " bytes";
        return false;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7f) {
            error = "holds a control character (a line break or a tab)";
            return false;
        }
        // The reader looks for comments from just after the '=', blank included.
        if (c == ';' && (i == 0 || value[i - 1] == ' ')) {
            error =
                "holds a ';' first or after a blank, which the config reader takes for a "
                "comment";
            return false;
        }
    }
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) {
        error = "begins or ends with a blank, which the config reader drops";
        return false;
    }
    return true;
}

bool parse_limit(const std::string& text, std::uint32_t& seconds) {
    unsigned long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > kMaxDownloadLimitS)
        return false;
    seconds = static_cast<std::uint32_t>(value);
    return true;
}

std::string limit_rule() {
    return "a whole number of seconds, 1 to " + std::to_string(kMaxDownloadLimitS);
}

const std::string* lookup(const ConfigFile& config, const std::string& key) {
    const auto it = config.values.find(key);
    return it == config.values.end() ? nullptr : &it->second;
}

}  // namespace

std::string config_path(const char* xdg_config_home, const char* home) {
    std::string base;
    if (xdg_config_home != nullptr && xdg_config_home[0] == '/') {
        base = xdg_config_home;
    } else {
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/stridelog/config.ini";
}

bool load_config(const std::string& path, ConfigFile& config, std::string& error) {
    config = ConfigFile{};
    config.path = path;
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        if (errno == ENOENT) return true;
        error = errno_message(path);
        return false;
    }
    // The mode of the file actually read, not of whatever the path names later.
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        std::fclose(file);
        return false;
    }
    config.exists = true;
    config.mode = st.st_mode & 07777;
    config.owner = st.st_uid;
    ParseState state{&config.values, {}};
    const int line = ini_parse_file(file, &on_value, &state);
    std::fclose(file);
    if (!state.duplicate.empty()) {
        error =
            path + ": " + state.duplicate + " is given twice (or continued on an indented line)";
        return false;
    }
    if (line != 0) {
        error =
            path + ": line " + std::to_string(line) + " is not \"key = value\" nor \"[section]\"";
        return false;
    }
    return true;
}

std::string config_text(const ConfigValues& values) {
    std::string text =
        "# stridelog settings, written by `stridelog config set`; keep this file private "
        "(mode 600).\n";
    std::string section;
    bool first = true;
    for (const auto& [key, value] : values) {
        const std::size_t dot = key.find('.');
        const std::string this_section = key.substr(0, dot);
        if (first || this_section != section) text += "\n[" + this_section + "]\n";
        first = false;
        section = this_section;
        text += key.substr(dot + 1) + " = " + value + "\n";
    }
    return text;
}

bool save_config(const ConfigFile& config, std::string& error) {
    const std::filesystem::path path(config.path);
    const std::filesystem::path folder = path.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = errno_message(folder.string());
        return false;
    }
    // The folder may have been made by someone less careful (the SDK keeps its
    // registry file there too); ours, so we close it to others.
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && st.st_uid == ::geteuid() &&
        (st.st_mode & kOthersBits) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        error = errno_message(folder.string());
        return false;
    }
    std::string temporary = config.path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // created 0600
    if (fd < 0) {
        error = errno_message(folder.string());
        return false;
    }
    const std::string text = config_text(config.values);
    std::size_t done = 0;
    bool ok = ::fchmod(fd, 0600) == 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), config.path.c_str()) != 0) ok = false;
    if (!ok) {
        errno = errno != 0 ? errno : saved;
        error = errno_message(config.path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool is_format_list(const std::string& text) {
    static const std::set<std::string> kFormats = {"gpx", "tcx", "json", "fit"};
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        if (kFormats.count(text.substr(at, end - at)) == 0) return false;
        at = end + 1;
    }
    return true;
}

bool parse_days(const std::string& text, std::uint32_t& days) {
    if (text.empty() || text.size() > 3) return false;
    days = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        days = days * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return days <= kMaxAgpsDays;
}

const std::vector<std::string>& known_config_keys() {
    return kKeys;
}

bool is_secret_key(const std::string& key) {
    return key == "agps.password" || key == "firmware.password";
}

bool check_config_value(const std::string& key, const std::string& value, const std::string& cwd,
                        std::string& stored, std::string& error) {
    bool known = false;
    for (const auto& k : kKeys) known = known || k == key;
    if (!known) {
        error = "unknown key " + key + " (known: ";
        for (std::size_t i = 0; i < kKeys.size(); ++i) error += (i ? ", " : "") + kKeys[i];
        error += ")";
        return false;
    }
    stored = value;
    // Never echo a password back, not even in a complaint about it.
    const std::string shown = is_secret_key(key) ? "the password" : "\"" + value + "\"";
    std::uint32_t limit = 0;
    const std::string name = key_name(key);
    if (name == "server" && !is_server_address(value)) {
        error = key + ": " + shown + " is not HOST or HOST:PORT (port 1 to 65535)";
        return false;
    }
    if (name == "mode" && value != "passive" && value != "active") {
        error = key + ": passive or active, not " + shown;
        return false;
    }
    if (name == "limit" && !parse_limit(value, limit)) {
        error = key + ": " + limit_rule() + ", not " + shown;
        return false;
    }
    if (key == "sync.formats" && !is_format_list(value)) {
        error = key + ": gpx, tcx, json or fit, or several separated by commas, not " + shown;
        return false;
    }
    if (key == "sync.agps_days" && !parse_days(value, limit)) {
        error = key + ": a whole number of days from 0 to " + std::to_string(kMaxAgpsDays) +
                ", not " + shown;
        return false;
    }
    if (name == "password_file" || key == "sync.folder") {
        if (value.empty()) {
            error = key + ": a file name expected";
            return false;
        }
        stored = std::filesystem::path(value).is_absolute()
                     ? value
                     : (std::filesystem::path(cwd) / value).lexically_normal().string();
    }
    std::string why;
    if (!survives_file(stored, why)) {
        error = key + ": " + shown + " " + why;
        return false;
    }
    return true;
}

bool is_private(mode_t mode, uid_t owner, uid_t user, const std::string& path, std::string& error) {
    if (owner != user) {
        error = path + " belongs to another user; a password is read only from your own file";
        return false;
    }
    if ((mode & kOthersBits) != 0) {
        error = path + " has mode " + octal(mode) +
                ", so others can read it; a password is read only from a private file "
                "(chmod 600 " +
                path + ")";
        return false;
    }
    return true;
}

bool read_password_file(const std::string& path, std::string& password, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = errno_message(path);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        ok = false;
    }
    ok = ok && is_private(st.st_mode, st.st_uid, ::geteuid(), path, error);
    std::string text;
    char chunk[256];
    while (ok && text.size() <= 4096) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno_message(path);
            ok = false;
        }
        if (n <= 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) return false;
    password = text.substr(0, text.find('\n'));
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

bool is_server_address(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '@') return false;
    std::string host = text;
    std::string port;
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close == 1) return false;
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
        if (!rest.empty()) port = rest.substr(1);
        if (rest == ":") return false;
        host = text.substr(1, close - 1);
    } else if (text.find(':') != std::string::npos && text.find(':') == text.rfind(':')) {
        host = text.substr(0, text.find(':'));
        port = text.substr(text.find(':') + 1);
        if (port.empty()) return false;
    }
    if (host.empty()) return false;
    if (port.empty()) return true;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    return ec == std::errc() && end == port.data() + port.size() && value >= 1 && value <= 65535;
}

bool resolve_ftp_account(const FtpCommandLine& given, const ConfigFile& config,
                         const std::string& section, uid_t user, FtpAccount& account,
                         std::string& error) {
    const std::string prefix = section + ".";
    for (const auto& [key, value] : config.values) {
        if (key.rfind(prefix, 0) != 0) continue;
        bool known = false;
        for (const auto& k : kKeys) known = known || k == key;
        if (!known) {
            error = config.path + ": unknown key " + key.substr(prefix.size()) + " in [" + section +
                    "]";
            return false;
        }
    }
    auto pick = [&](const std::optional<std::string>& line, const char* name,
                    const std::string& fallback) {
        if (line) return *line;
        const std::string* stored = lookup(config, prefix + name);
        return stored ? *stored : fallback;
    };
    FtpAccount out;
    out.server = pick(given.server, "server", "");
    out.user = pick(given.user, "user", kDefaultFtpUser);
    out.folder = pick(given.folder, "folder", "");
    out.fifth = pick(given.fifth, "fifth", "");
    if (out.server.empty()) {
        error = "no FTP server: pass --server HOST[:PORT] or run `stridelog config set " + prefix +
                "server HOST[:PORT]`";
        return false;
    }
    if (!is_server_address(out.server)) {
        error = "the server is HOST or HOST:PORT (port 1 to 65535), not \"" + out.server + "\"";
        return false;
    }
    if (given.passive) {
        out.passive = *given.passive;
    } else if (const std::string* mode = lookup(config, prefix + "mode")) {
        if (*mode != "passive" && *mode != "active") {
            error = config.path + ": mode is passive or active, not \"" + *mode + "\"";
            return false;
        }
        out.passive = *mode == "passive";
    }
    out.limit_s = kDefaultDownloadLimitS;
    if (given.limit_s) {
        out.limit_s = *given.limit_s;
        if (out.limit_s == 0 || out.limit_s > kMaxDownloadLimitS) {
            error = "--limit is " + limit_rule();
            return false;
        }
    } else if (const std::string* limit = lookup(config, prefix + "limit")) {
        if (!parse_limit(*limit, out.limit_s)) {
            error = config.path + ": limit is " + limit_rule() + ", not \"" + *limit + "\"";
            return false;
        }
    }
    const std::string* password_file = lookup(config, prefix + "password_file");
    const std::string* password = lookup(config, prefix + "password");
    if (given.password_file) {
        if (!read_password_file(*given.password_file, out.password, error)) return false;
    } else if (password_file != nullptr) {
        if (!read_password_file(*password_file, out.password, error)) return false;
    } else if (password != nullptr) {
        if (!is_private(config.mode, config.owner, user, config.path, error)) return false;
        out.password = *password;
    }
    account = std::move(out);
    return true;
}

}  // namespace stridelog_tool
