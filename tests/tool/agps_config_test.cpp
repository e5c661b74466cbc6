// The agps command's config file (what survives the file, who may read a
// password, which source wins) and its report (expiry date, progress lines,
// exit statuses), on real files in a private temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "agps_report.hpp"
#include "tool_golden.hpp"
#include "user_config.hpp"

namespace stridelog_tool {
namespace {

namespace fs = std::filesystem;

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "agps-config-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

mode_t mode_of(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

void WriteFile(const fs::path& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

TEST(ConfigFile, PathFollowsTheEnvironment) {
    EXPECT_EQ(config_path("/x/cfg", "/home/u"), "/x/cfg/stridelog/config.ini");
    EXPECT_EQ(config_path("relative/cfg", "/home/u"), "/home/u/.config/stridelog/config.ini");
    EXPECT_EQ(config_path("", "/home/u"), "/home/u/.config/stridelog/config.ini");
    EXPECT_EQ(config_path(nullptr, "/home/u"), "/home/u/.config/stridelog/config.ini");
}

// Every value `config set` accepts reads back unchanged; every value it
// refuses would not have.
TEST(ConfigFile, AcceptedValuesSurviveTheFileAndRefusedOnesWouldNot) {
    struct Case {
        const char* legend;
        std::string key;
        std::string value;
        bool accepted;
    };
    const Case cases[] = {
        {"server with port", "agps.server", "127.0.0.1:2121", true},
        {"semicolon inside a word", "agps.password", "p;ss", true},
        {"semicolon first: a comment", "agps.password", ";pass", false},
        {"hash, equals, colon", "agps.password", "#a=b:c", true},
        {"blank inside", "agps.folder", "orbit data/7 days", true},
        {"empty", "agps.user", "", true},
        {"longest", "agps.password", std::string(160, 'x'), true},
        {"blank then semicolon: a comment", "agps.password", "ab ;cd", false},
        {"leading blank", "agps.password", " pass", false},
        {"trailing blank", "agps.password", "pass ", false},
        {"line break", "agps.password", "pa\nss", false},
        {"tab then semicolon: a comment", "agps.folder", "a\t;b", false},
        {"too long for a line", "agps.password", std::string(190, 'x'), false},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        ConfigFile config;
        config.path = (temp.path() / "stridelog" / "config.ini").string();
        std::string stored, error;
        EXPECT_EQ(check_config_value(c.key, c.value, "/", stored, error), c.accepted)
            << c.legend << ": " << error;
        config.values[c.key] = c.value;
        config.values["agps.user"] = c.key == "agps.user" ? c.value : "after";
        ASSERT_TRUE(save_config(config, error)) << c.legend << ": " << error;
        ConfigFile back;
        const bool loaded = load_config(config.path, back, error);
        const bool same = loaded && back.values == config.values;
        EXPECT_EQ(same, c.accepted) << c.legend;
    }
}

TEST(ConfigFile, SavedOwnerOnlyThroughARename) {
    TempFolder temp;
    const fs::path folder = temp.path() / "cfg" / "stridelog";
    ConfigFile config;
    config.path = (folder / "config.ini").string();
    config.values = {{"agps.server", "ftp.example.org"}, {"agps.password", "s3cret"}};
    std::string error;
    ASSERT_TRUE(save_config(config, error)) << error;
    EXPECT_EQ(mode_of(folder), 0700u);
    EXPECT_EQ(mode_of(config.path), 0600u);

    // A folder someone else made open (the SDK keeps its registry there), and
    // a file loosened by hand: both closed again by the next save.
    ::chmod(folder.c_str(), 0755);
    ::chmod(config.path.c_str(), 0644);
    config.values["agps.user"] = "me";
    ASSERT_TRUE(save_config(config, error)) << error;
    EXPECT_EQ(mode_of(folder), 0700u);
    EXPECT_EQ(mode_of(config.path), 0600u);
    ASSERT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "a temporary file was left";
    ConfigFile back;
    ASSERT_TRUE(load_config(config.path, back, error)) << error;
    EXPECT_TRUE(back.exists);
    EXPECT_EQ(back.mode, 0600u);
    EXPECT_EQ(back.values, config.values);
}

TEST(ConfigFile, MalformedFilesAreRefusedNamingTheLine) {
    struct Case {
        const char* legend;
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"key given twice", "[agps]\nuser = a\nuser = b\n", "agps.user is given twice"},
        {"indented continuation", "[agps]\nuser = a\n  more\n", "agps.user is given twice"},
        {"line without '='", "[agps]\nserver = x\njunk\n", "line 3 is not"},
        {"unclosed section", "[agps\nserver = x\n", "line 1 is not"},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        const fs::path path = temp.path() / "config.ini";
        WriteFile(path, c.text, 0600);
        ConfigFile config;
        std::string error;
        EXPECT_FALSE(load_config(path.string(), config, error)) << c.legend;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.legend << ": " << error;
    }
    TempFolder temp;
    ConfigFile missing;
    std::string error;
    EXPECT_TRUE(load_config((temp.path() / "none.ini").string(), missing, error));
    EXPECT_FALSE(missing.exists);
    EXPECT_TRUE(missing.values.empty());
}

TEST(ConfigFile, ServerAddresses) {
    // clang-format off
    const std::pair<const char*, bool> cases[] = {
        {"ftp.example.org", true}, {"127.0.0.1:2121", true}, {"[::1]:21", true}, {"[::1]", true},
        {"h:65535", true}, {"", false}, {":21", false}, {"h:", false}, {"h:0", false},
        {"h:65536", false}, {"h:21x", false}, {"ftp://h", false}, {"u@h", false}, {"h h", false},
        {"[]:21", false},
    };
    // clang-format on
    for (const auto& [text, valid] : cases) EXPECT_EQ(is_server_address(text), valid) << text;
}

// An account on one line: server|user|password|folder|mode|limit|fifth.
std::string describe(const FtpAccount& a) {
    return a.server + "|" + a.user + "|" + a.password + "|" + a.folder + "|" +
           (a.passive ? "passive|" : "active|") + std::to_string(a.limit_s) + "|" + a.fifth;
}

// The command line over the config over the defaults, each section with its
// own values, and a password only from a file nobody else can read; no error
// text holds the password.
TEST(FtpAccount, SourcesAndTheirOrder) {
    TempFolder temp;
    const std::string secret = "hunter2-secret";
    const std::string private_file = (temp.path() / "private.pw").string();
    const std::string open_file = (temp.path() / "open.pw").string();
    const std::string crlf_file = (temp.path() / "crlf.pw").string();
    WriteFile(private_file, "from-file\nsecond line\n", 0600);
    WriteFile(open_file, secret + "\n", 0644);
    WriteFile(crlf_file, "windows\r\n", 0600);
    const uid_t me = ::geteuid();
    const ConfigValues agps = {{"agps.server", "h"},
                               {"agps.user", "u"},
                               {"agps.folder", "f"},
                               {"agps.mode", "active"},
                               {"agps.limit", "42"}};
    const ConfigValues both = {{"agps.server", "agps.example.org"},
                               {"agps.folder", "epo"},
                               {"firmware.server", "fw.example.org:21"},
                               {"firmware.folder", "fw"},
                               {"firmware.fifth", "WEX0"},
                               {"firmware.mode", "active"},
                               {"firmware.limit", "600"},
                               {"firmware.password", "s3cret"}};

    struct Case {
        const char* legend;
        const char* section;
        FtpCommandLine given;
        ConfigValues values;
        mode_t config_mode = 0600;
    };
    ConfigValues with_password = agps;
    with_password["agps.password"] = secret;
    const std::string pf = private_file, of = open_file;
    // clang-format off
    const Case cases[] = {
        {"defaults", "agps", {.server = "h"}, {}},
        {"config values", "agps", {}, with_password},
        {"command line wins", "agps", {.server = "c:21", .user = "cu", .folder = "cf", .passive = true, .limit_s = 7}, agps},
        {"password file: first line", "agps", {.server = "h", .password_file = pf}, {}},
        {"password file: CR LF", "agps", {.server = "h", .password_file = crlf_file}, {}},
        {"password file over the config's password", "agps", {.server = "h"}, {{"agps.password", secret}, {"agps.password_file", pf}}, 0644},
        {"a config others can read holds no usable password", "agps", {.server = "h"}, {{"agps.password", secret}}, 0640},
        {"also when only the world can read it", "agps", {.server = "h"}, {{"agps.password", secret}}, 0604},
        {"an open config without a password", "agps", {.server = "h"}, {{"agps.user", "u"}}, 0644},
        {"an open password file", "agps", {.server = "h", .password_file = of}, {}},
        {"the config's password file, open", "agps", {.server = "h"}, {{"agps.password_file", of}}},
        {"a missing password file", "agps", {.server = "h", .password_file = "/nonexistent/pw"}, {}},
        {"no server", "agps", {}, {{"agps.password", secret}}},
        {"a bad server", "agps", {.server = "h:99999"}, {}},
        {"a bad mode", "agps", {.server = "h"}, {{"agps.mode", "fast"}}},
        {"a bad limit in the config", "agps", {.server = "h"}, {{"agps.limit", "0"}}},
        {"a limit of 0", "agps", {.server = "h", .limit_s = 0}, {}},
        {"a limit over a day", "agps", {.server = "h", .limit_s = 86401}, {}},
        {"a misspelt key", "agps", {.server = "h"}, {{"agps.sever", "x"}}},
        {"firmware from its section", "firmware", {}, both},
        {"the command line over it", "firmware", {.folder = "other", .fifth = "", .passive = true}, both},
        {"agps keeps its own values and no fifth text", "agps", {}, both},
        {"a fifth text in [agps]", "agps", {.server = "h"}, {{"agps.fifth", "WEX0"}}},
    };
    // clang-format on
    std::string seen;
    for (const Case& c : cases) {
        ConfigFile config;
        config.path = (temp.path() / "config.ini").string();
        config.exists = true;
        config.mode = c.config_mode;
        config.owner = me;
        config.values = c.values;
        FtpAccount account;
        std::string error;
        const bool ok = resolve_ftp_account(c.given, config, c.section, me, account, error);
        EXPECT_EQ(error.find(secret), std::string::npos) << c.legend << ": " << error;
        seen += std::string(c.legend) + ": " + (ok ? describe(account) : error) + "\n";
    }
    // The temporary folder's name changes from run to run.
    for (std::size_t at; (at = seen.find(temp.path().string())) != std::string::npos;)
        seen.replace(at, temp.path().string().size(), "TEMP");
    expect_golden("tool/ftp-accounts", seen);
    // Someone else's config file: its password is not trusted, whatever its mode.
    ConfigFile foreign;
    foreign.path = "/elsewhere/config.ini";
    foreign.mode = 0600;
    foreign.owner = me + 1;
    foreign.values = {{"agps.server", "h"}, {"agps.password", secret}};
    FtpAccount account;
    std::string error;
    EXPECT_FALSE(resolve_ftp_account({}, foreign, "agps", me, account, error));
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
}

TEST(ConfigValues, CheckedPerKeyWithoutEchoingAPassword) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"agps.server", "ftp.example.org:2121"}, {"agps.server", "ftp.example.org:0"},
        {"agps.mode", "active"}, {"agps.mode", "Active"}, {"agps.limit", "600"},
        {"agps.limit", "10m"}, {"agps.password_file", "pw/ftp"}, {"agps.password_file", "/etc/../pw"},
        {"agps.password_file", ""}, {"agps.password", "bad ;secret"}, {"agps.colour", "red"},
        {"firmware.server", "ftp.example.org:0"}, {"firmware.mode", "passive"},
        {"firmware.limit", "0"}, {"firmware.fifth", "WEX0"}, {"firmware.fifth", "a ;b"},
        {"firmware.password_file", ""}, {"firmware.colour", "red"}, {"firmware.password", "pw"},
    };
    // clang-format on
    std::string seen;
    for (const auto& [key, value] : cases) {
        std::string stored, error;
        const bool ok = check_config_value(key, value, "/home/me", stored, error);
        seen += std::string(key) + (is_secret_key(key) ? " (secret)" : "") + " \"" + value +
                "\": " + (ok ? "stored " + stored : error) + "\n";
        if (std::string(key) == "agps.password") {
            EXPECT_EQ(error.find("secret"), std::string::npos);
        }
    }
    expect_golden("tool/config-values", seen);
}

// ---- What the agps command reports.

TEST(AgpsReport, ProgressLines) {
    struct Case {
        PhaseProgress progress;
        double phase_s, total_s;
    };
    // Starting, half the orbit file in 2 s, done, writing, an hour left, below 0.
    const Case cases[] = {{{1, 0}, 0, 0.4}, {{1, 50}, 2, 2.5}, {{1, 100}, 4, 4.5},
                          {{2, 25}, 1, 6},  {{2, 1}, 40, 41},  {{2, -3}, 1, 1}};
    std::string lines;
    for (const Case& c : cases) lines += progress_line(c.progress, c.phase_s, c.total_s) + "\n";
    expect_golden("tool/agps-progress", lines);
}

TEST(AgpsReport, MilestonesWithoutATerminal) {
    const PhaseProgress sequence[] = {{1, 0},  {1, 10},  {1, 24.9f}, {1, 25},    {1, 26}, {1, 74},
                                      {1, 75}, {1, 100}, {2, 6.25f}, {2, 12.5f}, {2, 100}};
    std::string printed;
    std::optional<PhaseProgress> last;
    for (const PhaseProgress& p : sequence) {
        if (is_milestone(last, p))
            printed +=
                std::to_string(p.phase) + ":" + std::to_string(static_cast<int>(p.percent)) + " ";
        last = p;
    }
    EXPECT_EQ(printed, "1:0 1:25 1:74 1:75 1:100 2:6 2:100 ");
}

}  // namespace
}  // namespace stridelog_tool
