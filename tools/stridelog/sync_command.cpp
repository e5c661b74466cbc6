// sync: what a user wants each time the watch is plugged in. The watch's clock
// from the host's, the sessions not yet downloaded written in the configured
// formats, the A-GPS data refreshed before it runs out, and word of a newer
// firmware (never installed from here). One line per action, a summary last.
//
// Safe to run twice: the download index makes the second run write nothing,
// and fresh A-GPS data is left alone. Safe to interrupt: a file is written
// whole or not at all, and the index is saved after each one.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.hpp"
#include "host_session.hpp"
#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"
#include "user_config.hpp"

namespace stridelog_tool {
namespace {

namespace hostkit = stridelog::hostkit;

constexpr std::uint32_t kCancelWaitMs = 5000;  // a cancelled task ends on its next message

struct Plan {
    std::string folder;
    std::string formats;
    std::uint32_t agps_days = kDefaultAgpsDays;
    bool agps_account = false;
    bool firmware_account = false;
};

// Each action's line, kept for the summary and the desktop notification.
class Report {
  public:
    void line(const std::string& action, const std::string& text) {
        std::printf("%-9s %s\n", (action + ":").c_str(), text.c_str());
        std::fflush(stdout);
    }
    void summary(const std::string& text) { summary_.push_back(text); }
    std::string summary_text() const {
        std::string text;
        for (const auto& part : summary_) text += (text.empty() ? "" : ", ") + part;
        return text;
    }

  private:
    std::vector<std::string> summary_;
};

std::string config_value(const ConfigFile& config, const std::string& key) {
    const auto it = config.values.find(key);
    return it == config.values.end() ? std::string() : it->second;
}

bool make_plan(const SyncOptions& given, Plan& plan) {
    ConfigFile config;
    std::string error;
    if (!load_config(user_config_path(), config, error)) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return false;
    }
    plan.folder = given.folder.value_or(config_value(config, "sync.folder"));
    if (plan.folder.empty()) {
        char buffer[4096];
        const std::size_t n = Stridelog_DownloadFolder(buffer, sizeof buffer);
        if (n == 0 || n >= sizeof buffer) {
            std::fprintf(stderr,
                         "error: no documents folder to download into; give --folder or set "
                         "sync.folder\n");
            return false;
        }
        plan.folder.assign(buffer, n);
    }
    plan.formats = given.formats.value_or(config_value(config, "sync.formats"));
    if (plan.formats.empty()) plan.formats = kDefaultSyncFormats;
    if (!is_format_list(plan.formats)) {
        std::fprintf(stderr,
                     "error: --formats is gpx, tcx, json or fit, or several separated by commas, "
                     "not \"%s\"\n",
                     plan.formats.c_str());
        return false;
    }
    if (given.agps_days) {
        plan.agps_days = *given.agps_days;
    } else if (const std::string days = config_value(config, "sync.agps_days"); !days.empty()) {
        if (!parse_days(days, plan.agps_days)) {
            std::fprintf(stderr, "error: sync.agps_days in %s is not a number of days\n",
                         config.path.c_str());
            return false;
        }
    }
    if (plan.agps_days > kMaxAgpsDays) {
        std::fprintf(stderr, "error: --agps-days is 0 to %u\n", kMaxAgpsDays);
        return false;
    }
    plan.agps_account = !config_value(config, "agps.server").empty();
    plan.firmware_account = !config_value(config, "firmware.server").empty();
    return true;
}

// Runs the task an entry point started; false when it did not end in time.
bool finish(const Context& context, HostSession& session) {
    if (session.wait_for_task(context.options.timeout_s * 1000)) return true;
    Stridelog_CancelTasks();  // through the task end, so the port is released
    session.wait_for_task(kCancelWaitMs);
    return false;
}

hostkit::DateTime local_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

// Days from `from` to `to` (negative when `to` is earlier).
long days_between(const hostkit::CalendarDate& from, const hostkit::CalendarDate& to) {
    using namespace std::chrono;
    const sys_days a = year_month_day{year{from.year}, month{static_cast<unsigned>(from.month)},
                                      day{static_cast<unsigned>(from.day)}};
    const sys_days b = year_month_day{year{to.year}, month{static_cast<unsigned>(to.month)},
                                      day{static_cast<unsigned>(to.day)}};
    return (b - a).count();
}

enum class Reached { yes, no_cable, no_answer };

// The clock, which also finds out whether a watch is there at all.
Reached SetClock(const Context& context, Report& report, bool& failed) {
    const hostkit::DateTime now = local_now();
    HostSession session(false, context.raw);
    SetDateTime(session.window(), static_cast<BYTE>(now.year - 2000), static_cast<BYTE>(now.month),
                static_cast<DWORD>(now.day), static_cast<BYTE>(now.hour),
                static_cast<BYTE>(now.minute), static_cast<DWORD>(now.second),
                context.options.show_window());
    if (!finish(context, session)) {
        report.line("clock", "failed: the watch did not finish in time");
        failed = true;
        return Reached::no_answer;
    }
    if (const Note* e = session.first_error()) {
        if (e->code == SDK_ERR_NO_PORT) return Reached::no_cable;
        report.line("clock", "failed: " + error_line(session, ""));
        failed = true;
        const bool unreachable = e->code == SDK_ERR_PORT_OPEN || e->code == SDK_ERR_NO_ANSWER ||
                                 e->code == SDK_ERR_OLD_FIRMWARE;
        return unreachable ? Reached::no_answer : Reached::yes;
    }
    if (session.find(SDK_MSG_CLOCK_SET) == nullptr) {
        if (context.interrupted()) return Reached::yes;
        report.line("clock", "failed: " + error_line(session, "the task ended without its result"));
        failed = true;
        return Reached::yes;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    report.line("clock", std::string("set to ") + text);
    report.summary("clock set");
    return Reached::yes;
}

void download(const Context& context, const Plan& plan, Report& report, bool& failed) {
    DownloadOptions download;
    download.only_new = true;
    download.format = plan.formats;
    download.out_folder = plan.folder;
    DownloadCounts counts;
    const int status = download_workouts(context, download, &counts);
    if (context.interrupted()) {
        if (counts.files > 0)
            report.line("workouts", std::to_string(counts.files) + " files written to " +
                                        plan.folder + " before the interruption");
        return;
    }
    const std::size_t fresh = counts.sessions - counts.skipped;
    if (status != kExitOk) {
        report.line("workouts", "failed after " + std::to_string(counts.files) +
                                    " files; run sync again to fetch the rest");
        failed = true;
        return;
    }
    if (counts.sessions == 0) {
        report.line("workouts", "none on the watch");
        report.summary("no workouts");
    } else if (fresh == 0) {
        report.line("workouts",
                    "nothing new (" + std::to_string(counts.sessions) + " already downloaded)");
        report.summary("no new workouts");
    } else {
        report.line("workouts", std::to_string(fresh) + " new of " +
                                    std::to_string(counts.sessions) + ", " +
                                    std::to_string(counts.files) + " files (" + plan.formats +
                                    ") in " + plan.folder);
        report.summary(std::to_string(fresh) + " new workouts");
    }
}

// The expiry date of the watch's A-GPS data, from its settings record. When
// the record cannot be read, `why` says what the SDK reported.
std::optional<hostkit::CalendarDate> agps_expiry(const Context& context, bool& read,
                                                 std::string& why) {
    HostSession session(false, context.raw);
    GetSetting(session.window(), context.options.show_window());
    read = false;
    if (!finish(context, session)) {
        why = "the watch did not finish in time";
        return std::nullopt;
    }
    why = error_line(session, "no settings record");
    if (session.first_error()) return std::nullopt;
    const Note* block = session.find(SDK_MSG_SETTINGS);
    if (block == nullptr) return std::nullopt;
    const auto settings = hostkit::parse_settings_block(block->block);
    if (!settings) return std::nullopt;
    read = true;
    return settings->agps_expiry.date();
}

void refresh_agps(const Context& context, const Plan& plan, Report& report, bool& failed) {
    if (!plan.agps_account) {
        report.line("a-gps", "skipped: no FTP account (stridelog config set agps.server HOST)");
        return;
    }
    bool read = false;
    std::string why;
    const auto expiry = agps_expiry(context, read, why);
    if (context.interrupted()) return;
    if (!read) {
        report.line("a-gps", "failed: the watch's settings could not be read (" + why + ")");
        failed = true;
        return;
    }
    const hostkit::DateTime now = local_now();
    const hostkit::CalendarDate today{now.year, now.month, now.day};
    if (expiry) {
        const long left = days_between(today, *expiry);
        if (left > static_cast<long>(plan.agps_days)) {
            report.line("a-gps", "current until " + hostkit::format_date(*expiry));
            report.summary("A-GPS current");
            return;
        }
    }
    FtpAccount account;
    if (!prepare_ftp_account({}, "agps", account)) {
        report.line("a-gps", "failed: the [agps] account in the config file is not usable");
        failed = true;
        return;
    }
    const AgpsOutcome outcome = run_agps_task(context, account, false);
    if (context.interrupted()) return;
    switch (outcome.result) {
        case AgpsOutcome::Result::loaded:
            report.line("a-gps", "refreshed" + (outcome.expiry ? ", valid until " + *outcome.expiry
                                                               : std::string()));
            report.summary("A-GPS refreshed");
            return;
        case AgpsOutcome::Result::current:
            // The watch decides: it takes new data only once the old has run out.
            report.line("a-gps", (expiry ? "current until " + hostkit::format_date(*expiry)
                                         : std::string("current")) +
                                     "; the watch takes new data once this runs out");
            report.summary("A-GPS current");
            return;
        case AgpsOutcome::Result::failed:
            report.line("a-gps", "failed: " + outcome.error);
            failed = true;
            return;
    }
}

void check_firmware(const Context& context, const Plan& plan, Report& report, bool& failed) {
    if (!plan.firmware_account) {
        report.line("firmware",
                    "skipped: no FTP account (stridelog config set firmware.server HOST)");
        return;
    }
    FtpAccount account;
    if (!prepare_ftp_account({}, "firmware", account)) {
        report.line("firmware", "failed: the [firmware] account in the config file is not usable");
        failed = true;
        return;
    }
    const FirmwareCheckOutcome outcome = run_firmware_check_task(context, account);
    if (context.interrupted()) return;
    switch (outcome.result) {
        case FirmwareCheckOutcome::Result::current:
            report.line("firmware", "up to date (" + outcome.watch + ")");
            report.summary("firmware up to date");
            return;
        case FirmwareCheckOutcome::Result::available:
            report.line("firmware", outcome.offered.value_or("a new version") +
                                        " is available (the watch runs " + outcome.watch +
                                        "); `stridelog firmware update` installs it");
            report.summary("new firmware available");
            return;
        case FirmwareCheckOutcome::Result::failed:
            report.line("firmware", "failed: " + (outcome.error.empty() ? std::string("no answer")
                                                                        : outcome.error));
            failed = true;
            return;
    }
}

// A desktop notification where notify-send exists; nothing otherwise. Spawned,
// not forked: the tool has threads, and only exec is safe in a forked child.
void notify(const std::string& text, bool urgent) {
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    if (::posix_spawn_file_actions_init(&files) != 0) return;
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&files);
        return;
    }
    ::posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The tool blocks its signals for its own watcher; the child starts with none blocked.
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::string urgency = urgent ? "--urgency=critical" : "--urgency=normal";
    std::string app = "--app-name=stridelog", title = "Watch synced", body = text;
    char* argv[] = {const_cast<char*>("notify-send"),
                    app.data(),
                    urgency.data(),
                    title.data(),
                    body.data(),
                    nullptr};
    pid_t child = 0;
    if (::posix_spawnp(&child, "notify-send", &files, &attributes, argv, environ) == 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&files);
}

}  // namespace

int run_sync(const Context& context, const SyncOptions& given) {
    Plan plan;
    if (!make_plan(given, plan)) return kExitUsage;
    Report report;
    bool failed = false;

    const Reached reached = SetClock(context, report, failed);
    if (reached == Reached::no_cable) {
        report.line("sync", "no watch: the cable is not plugged in");
        if (given.notify) notify("No watch found", false);
        return kExitNoWatch;
    }
    if (reached == Reached::no_answer) {
        report.line("sync", "stopped: the watch cannot be reached");
        if (given.notify) notify("The watch could not be reached", true);
        return kExitError;
    }
    const std::vector<void (*)(const Context&, const Plan&, Report&, bool&)> steps = {
        &download, &refresh_agps, &check_firmware};
    for (const auto step : steps) {
        if (context.interrupted()) break;
        step(context, plan, report, failed);
    }
    if (context.interrupted()) {
        report.line("sync", "interrupted; run it again to finish");
        return kExitError;  // the caller reports the interruption
    }
    const std::string summary = report.summary_text();
    report.line("sync", (failed ? "finished with failures: " : "done: ") + summary);
    if (given.notify) notify(summary.empty() ? "Nothing to do" : summary, failed);
    return failed ? kExitError : kExitOk;
}

}  // namespace stridelog_tool
