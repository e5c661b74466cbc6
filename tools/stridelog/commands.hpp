// The subcommands. Each returns the tool's exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "stridelog/hostkit/records.hpp"
#include "stridelog/stridelog.h"
#include "user_config.hpp"

namespace stridelog_tool {

class HostSession;
class RawRecorder;

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoWatch = 3;  // sync: no cable plugged in

struct Options {
    bool show = false;
    bool json = false;
    bool simulate = false;
    bool yes = false;
    std::string window_png;
    std::string sim_image;
    std::string raw_folder;
    std::uint32_t timeout_s = 120;

    // A window is shown when someone presents it: on the terminal or as a picture.
    BOOL show_window() const { return show || !window_png.empty() ? TRUE : FALSE; }
};

struct Context {
    const Options& options;
    RawRecorder* raw = nullptr;         // null without --raw
    std::function<bool()> interrupted;  // Ctrl-C: stop starting calls
    // true: a first Ctrl-C only warns, while the task must not stop half done.
    std::function<void(bool)> hold_interrupt{};
};

// The line that tells the first error notification (or `what` without one).
std::string error_line(const HostSession& session, const char* what);
// Prints that line; returns the exit status of a failed call.
int report_error(const HostSession& session, const char* what);

// A line typed at the terminal after a question; nothing when Ctrl-C came first.
std::optional<std::string> read_answer(const Context& context);
// y, Y, yes or Yes.
bool is_yes(const std::string& answer);

int run_sdk_version(const Context& context);
int run_ports(const Context& context);
int run_version(const Context& context);
int run_long_version(const Context& context);
int run_read_sector(const Context& context, unsigned sector, const std::string& out_file);
int run_backup(const Context& context, const std::string& image_file);

// Also what `workouts convert` takes, but for the selection and the clear.
struct DownloadOptions {
    bool selected = false;  // --select given: the sessions in `select`, else every session
    std::string select;     // "3,0": session indices in delivery order
    bool clear = false;
    bool only_new = false;
    std::string format = "gpx";  // one or more, separated by commas
    std::string out_folder = ".";
    std::string utc_offset;  // "+HH:MM"; empty: the host's time zone
};

// Usage errors of the download options, found before anything starts.
bool check_download_options(const DownloadOptions& download, std::string& why);
int run_workouts_list(const Context& context);
int run_workouts_download(const Context& context, const DownloadOptions& download);
// The same without printing the files: what was found and written is counted instead.
struct DownloadCounts {
    std::size_t sessions = 0;  // sessions on the watch
    std::size_t files = 0;     // files written
    std::size_t skipped = 0;   // sessions already downloaded in every format asked for
};
int download_workouts(const Context& context, const DownloadOptions& download,
                      DownloadCounts* counts);
int run_workouts_clear(const Context& context);
// Session blocks saved by --raw (or any 0x2007/0x2008 block files) as files,
// without a watch.
int run_workouts_convert(const DownloadOptions& convert, const std::vector<std::string>& blocks,
                         bool json);

// The set-up documents: JSON to standard output or out_file; the set commands
// refuse a malformed file (kExitUsage) before the watch is touched, and read
// back what they wrote unless verify is false.
int run_paths_get(const Context& context, const std::string& out_file);
int run_paths_set(const Context& context, const std::string& file, bool verify);
int run_settings_get(const Context& context, const std::string& out_file);
int run_settings_set(const Context& context, const std::string& file, bool verify);
int run_views_get(const Context& context, const std::string& out_file);
int run_views_set(const Context& context, const std::string& file, bool verify);
// "now" (or empty) or YYYY-MM-DDTHH:MM:SS, local time; false for anything else.
bool parse_set_time(const std::string& text, stridelog::hostkit::DateTime& time);
int run_set_time(const Context& context, const stridelog::hostkit::DateTime& time);

// The FTP account of agps or firmware, from the command line over the config
// file's [section]; resolved before anything starts (false: the reason is
// printed; a usage error).
bool prepare_ftp_account(const FtpCommandLine& given, const char* section, FtpAccount& account);
// agps: the update. An error notification exits with agps_exit_status of its code.
int run_agps(const Context& context, const FtpAccount& account);
// The same task without printing its result (nor its progress, unless asked).
struct AgpsOutcome {
    enum class Result { failed, current, loaded };
    Result result = Result::failed;
    int status = kExitError;            // the exit status agps would leave with
    std::string error;                  // failed: what to print (empty when interrupted)
    std::optional<std::string> expiry;  // loaded: YYYY-MM-DD, when the server said
};
AgpsOutcome run_agps_task(const Context& context, const FtpAccount& account, bool progress);
// firmware check: what the server offers the watch, answering No to the
// question, so nothing is written. firmware update: asks the user (unless
// yes), then writes the firmware. Error notifications exit with
// firmware_exit_status of their code.
int run_firmware_check(const Context& context, const FtpAccount& account);
// The check without printing its result.
struct FirmwareCheckOutcome {
    enum class Result { failed, current, available };
    Result result = Result::failed;
    int status = kExitError;             // the exit status firmware check would leave with
    std::string error;                   // failed: what to print (empty when interrupted
                                         // or already printed)
    std::string watch;                   // the watch's version text
    std::optional<std::string> offered;  // available: the version offered, when named
    std::vector<std::string> notes;      // available: the release notes
};
FirmwareCheckOutcome run_firmware_check_task(const Context& context, const FtpAccount& account);
int run_firmware_update(const Context& context, const FtpAccount& account, bool yes);
// sync: the clock, new workouts, A-GPS data before it runs out, word of new
// firmware. Unset options come from the config file's [sync] section.
struct SyncOptions {
    std::optional<std::string> folder;
    std::optional<std::string> formats;
    std::optional<std::uint32_t> agps_days;
    bool notify = false;
};
int run_sync(const Context& context, const SyncOptions& given);

// The user's config file and the config subcommands.
std::string user_config_path();
int run_config_set(const std::string& key, const std::optional<std::string>& value);
int run_config_unset(const std::string& key);
int run_config_show(bool json);

// "3,0" as session indices 0 .. 255; false for anything else.
bool parse_selection(const std::string& text, std::vector<std::uint8_t>& indices);

// The sector number argument, 0 .. 255; false for anything else.
bool parse_sector_number(const std::string& text, unsigned& sector);

}  // namespace stridelog_tool
