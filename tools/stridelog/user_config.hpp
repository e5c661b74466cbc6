// The user's config file, $XDG_CONFIG_HOME/stridelog/config.ini (else
// ~/.config/stridelog/config.ini): defaults for the commands that need an FTP
// account. Read with inih; written whole by `stridelog config set`, owner-only
// (file 0600, folder 0700), through a temporary file renamed into place.
//
// A password is only ever taken from a file that nobody else can read: the
// config file itself or the password file it names. A value is stored only if
// it reads back from the file exactly as given (no line breaks, no blank
// around it, no ';' first or after a blank, which the reader would take for a
// comment).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace stridelog_tool {

// "agps.server" and the like: section, a dot, key.
using ConfigValues = std::map<std::string, std::string>;

struct ConfigFile {
    std::string path;
    bool exists = false;
    mode_t mode = 0;  // permission bits of the file as read
    uid_t owner = 0;
    ConfigValues values;
};

// The file's path from the environment's values (either may be null).
// XDG_CONFIG_HOME counts only when it is an absolute path.
std::string config_path(const char* xdg_config_home, const char* home);

// A missing file is an empty config, not an error. Malformed lines and keys
// given twice are errors, naming the line.
bool load_config(const std::string& path, ConfigFile& config, std::string& error);
// The text save_config writes: sections in name order, a header comment.
std::string config_text(const ConfigValues& values);
// Writes the values to config.path, mode 0600, its folder 0700.
bool save_config(const ConfigFile& config, std::string& error);

// sync's defaults: the formats written, and how many days before the A-GPS
// data runs out it is refreshed.
constexpr const char* kDefaultSyncFormats = "gpx";
constexpr std::uint32_t kDefaultAgpsDays = 2;
constexpr std::uint32_t kMaxAgpsDays = 365;
// "gpx", "fit,gpx": file formats separated by commas.
bool is_format_list(const std::string& text);
// 0 .. kMaxAgpsDays written as decimal digits.
bool parse_days(const std::string& text, std::uint32_t& days);

// The keys `config set` knows, in the order `config show` lists them.
const std::vector<std::string>& known_config_keys();
bool is_secret_key(const std::string& key);
// Checks a value for its key and for surviving the file; `stored` gets what
// is kept (a password file path made absolute against `cwd`).
bool check_config_value(const std::string& key, const std::string& value, const std::string& cwd,
                        std::string& stored, std::string& error);

// Whether a file with this mode and owner is private to `user`; error says
// why not, naming `path`.
bool is_private(mode_t mode, uid_t owner, uid_t user, const std::string& path, std::string& error);
// The first line of a private password file, without its line end.
bool read_password_file(const std::string& path, std::string& password, std::string& error);

// "host", "host:port" or "[v6]:port"; false for an empty host or a port
// outside 1..65535.
bool is_server_address(const std::string& text);

// What the agps or firmware command was given on its command line; unset: not given.
struct FtpCommandLine {
    std::optional<std::string> server{};
    std::optional<std::string> user{};
    std::optional<std::string> password_file{};
    std::optional<std::string> folder{};
    std::optional<std::string> fifth{};  // firmware only
    std::optional<bool> passive{};
    std::optional<std::uint32_t> limit_s{};
};

struct FtpAccount {
    std::string server;
    std::string user;
    std::string password;
    std::string folder;
    bool passive = true;
    std::uint32_t limit_s = 0;
    std::string fifth;  // firmware only: "WEX0" looks in a subfolder named by the firmware code
};

constexpr std::uint32_t kDefaultDownloadLimitS = 300;
constexpr std::uint32_t kMaxDownloadLimitS = 24 * 3600;
constexpr const char* kDefaultFtpUser = "anonymous";

// The command line over the config's [section] over the defaults. The password
// comes from --password-file, else the config's password_file, else its
// password; each source must be private. Error texts never hold the password.
bool resolve_ftp_account(const FtpCommandLine& given, const ConfigFile& config,
                         const std::string& section, uid_t user, FtpAccount& account,
                         std::string& error);

}  // namespace stridelog_tool
