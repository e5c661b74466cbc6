// agps: the watch's A-GPS data brought up to date from an FTP server, with the
// account from the command line or the config file; and config: that file.
#include <pwd.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "agps_report.hpp"
#include "commands.hpp"
#include "host_session.hpp"
#include "progress_printer.hpp"
#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog_tool {
namespace {

constexpr std::uint32_t kCancelWaitMs = 5000;  // a cancelled task ends on its next message

std::string home_folder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir)
        return entry->pw_dir;
    return {};
}

std::string current_folder() {
    std::error_code ec;
    return std::filesystem::current_path(ec).string();
}

bool load(ConfigFile& config) {
    std::string error;
    if (load_config(user_config_path(), config, error)) return true;
    std::fprintf(stderr, "error: %s\n", error.c_str());
    return false;
}

// A password typed on a terminal is not echoed; from a pipe, the first line.
bool read_secret_line(std::string& line) {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "FTP password: ");
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return got;
}

}  // namespace

std::string user_config_path() {
    return config_path(std::getenv("XDG_CONFIG_HOME"), home_folder().c_str());
}

bool prepare_ftp_account(const FtpCommandLine& given, const char* section, FtpAccount& account) {
    ConfigFile config;
    if (!load(config)) return false;
    std::string error;
    if (!resolve_ftp_account(given, config, section, ::geteuid(), account, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return false;
    }
    return true;
}

AgpsOutcome run_agps_task(const Context& context, const FtpAccount& account, bool progress) {
    const Options& opt = context.options;
    AgpsOutcome outcome;
    HostSession session(false, context.raw);
    // With --show the task window's own lines tell the progress, rate and time left.
    ProgressPrinter printer(::isatty(STDERR_FILENO) == 1);
    if (!opt.show && progress)
        session.set_observer([&printer](const Note& note) { printer.take(note); });
    const std::u16string server = stridelog::hostkit::utf8_to_utf16(account.server);
    const std::u16string user = stridelog::hostkit::utf8_to_utf16(account.user);
    const std::u16string password = stridelog::hostkit::utf8_to_utf16(account.password);
    const std::u16string folder = stridelog::hostkit::utf8_to_utf16(account.folder);
    AGPSDataUpdate(session.window(), server.c_str(), user.c_str(), password.c_str(), folder.c_str(),
                   opt.show_window(), account.limit_s * 1000U, account.passive ? TRUE : FALSE);
    // The download has its own limit; the writing after it gets the usual wait.
    const std::uint32_t wait_s = account.limit_s + opt.timeout_s;
    const bool ended = session.wait_for_task(wait_s * 1000U);
    printer.finish();
    if (!ended) {
        outcome.error = "error: the watch did not finish in " + std::to_string(wait_s) + " s";
        Stridelog_CancelTasks();  // through the task end, so the port is released
        session.wait_for_task(kCancelWaitMs);
        return outcome;
    }
    if (context.interrupted()) return outcome;  // the caller reports the interruption
    if (const Note* e = session.first_error()) {
        outcome.status = agps_exit_status(e->code);
        outcome.error = agps_error_text(e->code, account.limit_s);
        // The SDK refuses a relative download folder; the error alone does not say so.
        const char* documents = std::getenv("XDG_DOCUMENTS_DIR");
        if (documents != nullptr && *documents != '\0' && *documents != '/' &&
            (e->code == SDK_ERR_DOWNLOAD || e->code == SDK_ERR_AGPS_FILE ||
             e->code == SDK_ERR_AGPS_PACKET_FILE))
            outcome.error += std::string("\nnote: XDG_DOCUMENTS_DIR is \"") + documents +
                             "\", not an absolute path; the download folder must be one";
        return outcome;
    }
    if (session.find(SDK_MSG_AGPS_CURRENT) != nullptr) {
        outcome.status = kExitOk;
        outcome.result = AgpsOutcome::Result::current;
        return outcome;
    }
    const Note* loaded = session.find(SDK_MSG_AGPS_LOADED);
    if (loaded == nullptr) {
        outcome.error = error_line(session, "the task ended without its result");
        return outcome;
    }
    const auto read = stridelog::hostkit::parse_agps_loaded_block(loaded->block);
    if (!read) {
        outcome.error = "error: " + read.error();
        return outcome;
    }
    if (const auto date = read->date()) outcome.expiry = stridelog::hostkit::format_date(*date);
    outcome.status = kExitOk;
    outcome.result = AgpsOutcome::Result::loaded;
    return outcome;
}

int run_agps(const Context& context, const FtpAccount& account) {
    const AgpsOutcome outcome = run_agps_task(context, account, true);
    if (outcome.result == AgpsOutcome::Result::failed) {
        if (!outcome.error.empty()) std::fprintf(stderr, "%s\n", outcome.error.c_str());
        return outcome.status;
    }
    const bool json = context.options.json;
    if (outcome.result == AgpsOutcome::Result::current) {
        if (json) {
            std::cout << nlohmann::json{{"agps", "up_to_date"}}.dump() << "\n";
        } else {
            std::cout << "A-GPS data is up to date\n";
        }
        return kExitOk;
    }
    if (json) {
        nlohmann::json out{{"agps", "loaded"}, {"expiry", nullptr}};
        if (outcome.expiry) out["expiry"] = *outcome.expiry;
        std::cout << out.dump() << "\n";
    } else if (outcome.expiry) {
        std::cout << "A-GPS data loaded; it expires on " << *outcome.expiry << "\n";
    } else {
        std::cout << "A-GPS data loaded; its expiry date is unknown (no readable datetime.txt "
                     "came with it)\n";
    }
    return kExitOk;
}

int run_config_set(const std::string& key, const std::optional<std::string>& value) {
    std::string text;
    if (is_secret_key(key)) {
        // On a command line it would land in the shell's history and in ps.
        if (value) {
            std::fprintf(stderr,
                         "error: give %s on standard input, not on the command line "
                         "(or use %s_file)\n",
                         key.c_str(), key.c_str());
            return kExitUsage;
        }
        if (!read_secret_line(text)) {
            std::fprintf(stderr, "error: no password on standard input\n");
            return kExitUsage;
        }
    } else if (!value) {
        std::fprintf(stderr, "error: config set %s needs a VALUE\n", key.c_str());
        return kExitUsage;
    } else {
        text = *value;
    }
    std::string stored, error;
    if (!check_config_value(key, text, current_folder(), stored, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return kExitUsage;
    }
    ConfigFile config;
    if (!load(config)) return kExitError;
    config.values[key] = stored;
    if (!save_config(config, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return kExitError;
    }
    return kExitOk;
}

int run_config_unset(const std::string& key) {
    ConfigFile config;
    if (!load(config)) return kExitError;
    if (config.values.erase(key) == 0) return kExitOk;
    std::string error;
    if (!save_config(config, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return kExitError;
    }
    return kExitOk;
}

int run_config_show(bool json) {
    ConfigFile config;
    if (!load(config)) return kExitError;
    nlohmann::json values = nlohmann::json::object();
    for (const auto& [key, value] : config.values)
        values[key] = is_secret_key(key) ? std::string("(hidden)") : value;
    if (json) {
        std::cout << nlohmann::json{{"path", config.path}, {"values", values}}.dump() << "\n";
    } else {
        std::cout << "# " << config.path << (config.exists ? "" : " (not written yet)") << "\n";
        for (const auto& [key, value] : values.items())
            std::cout << key << " = " << value.get<std::string>() << "\n";
    }
    std::string why;
    for (const auto& [key, value] : config.values)
        if (is_secret_key(key) &&
            !is_private(config.mode, config.owner, ::geteuid(), config.path, why))
            std::fprintf(stderr, "warning: %s\n", why.c_str());
    return kExitOk;
}

}  // namespace stridelog_tool
