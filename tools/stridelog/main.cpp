// stridelog: a command-line host of the Stridelog SDK, built on its public
// interface only. One subcommand per entry point; exit status 0 when the call
// ends with its success notification, 1 with an error notification (agps and
// firmware: 10 + the error code's last two digits, 0x1008 -> 18), 2 for usage,
// 128 + the signal when interrupted (130 for Ctrl-C); sync: 3 when no watch is
// plugged in.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>

#include "commands.hpp"
#include "doctor.hpp"
#include "interrupt.hpp"
#include "raw_recorder.hpp"
#include "simulate.hpp"
#include "stridelog/stridelog.h"

using namespace stridelog_tool;

namespace {

// The FTP options of agps and the firmware commands; a later option wins, so
// a saved set of options can be overridden.
class FtpOptions {
  public:
    FtpOptions(CLI::App* command, const std::string& section, bool fifth) {
        server_ = command->add_option("--server", server_text_, "FTP server")
                      ->type_name("HOST[:PORT]")
                      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        user_ = command
                    ->add_option("--user", user_text_,
                                 "FTP user (default: " + section + ".user, else anonymous)")
                    ->type_name("USER")
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        password_file_ =
            command
                ->add_option("--password-file", password_file_text_,
                             "read the FTP password from the first line of this private file")
                ->type_name("FILE")
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        folder_ =
            command->add_option("--folder", folder_text_, "folder on the server holding the files")
                ->type_name("DIR")
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        if (fifth)
            fifth_ = command
                         ->add_option("--fifth", fifth_text_,
                                      "WEX0: look in the subfolder named by the watch's firmware "
                                      "code")
                         ->type_name("TEXT")
                         ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        passive_ = command->add_flag(
            "--passive", passive_flag_,
            "passive FTP (the default, unless " + section + ".mode says otherwise)");
        active_ = command->add_flag("--active", active_flag_, "active FTP")->excludes(passive_);
        limit_ = command
                     ->add_option(
                         "--limit", limit_s_,
                         "time limit of each download (default: " + section + ".limit, else 300)")
                     ->type_name("SECONDS")
                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }

    FtpCommandLine given() const {
        FtpCommandLine given;
        if (server_->count() > 0) given.server = server_text_;
        if (user_->count() > 0) given.user = user_text_;
        if (password_file_->count() > 0) given.password_file = password_file_text_;
        if (folder_->count() > 0) given.folder = folder_text_;
        if (fifth_ != nullptr && fifth_->count() > 0) given.fifth = fifth_text_;
        if (passive_->count() > 0) given.passive = true;
        if (active_->count() > 0) given.passive = false;
        if (limit_->count() > 0) given.limit_s = limit_s_;
        return given;
    }

  private:
    std::string server_text_, user_text_, password_file_text_, folder_text_, fifth_text_;
    bool passive_flag_ = false;
    bool active_flag_ = false;
    std::uint32_t limit_s_ = 0;
    CLI::Option* server_ = nullptr;
    CLI::Option* user_ = nullptr;
    CLI::Option* password_file_ = nullptr;
    CLI::Option* folder_ = nullptr;
    CLI::Option* fifth_ = nullptr;
    CLI::Option* passive_ = nullptr;
    CLI::Option* active_ = nullptr;
    CLI::Option* limit_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so only the watcher ever takes these.
    InterruptWatcher::block_signals();

    CLI::App app{"stridelog: talk to a GPS sports watch on its USB-serial cable"};
    app.require_subcommand(1);
    Options opt;
    app.add_flag("--show", opt.show, "show the task window's progress on the terminal");
    app.add_flag("--json", opt.json, "print results as JSON");
    auto* simulate = app.add_flag(
        "--simulate", opt.simulate,
        "run against a simulated watch (stridelog-sim) with workouts, instead of a cable");
    app.add_option("--sim-image", opt.sim_image,
                   "flash image the simulated watch starts from (erased when new) and saves to")
        ->needs(simulate);
    app.add_flag("--yes", opt.yes, "answer Yes to the confirmation question");
    app.add_option("--window-png", opt.window_png,
                   "write the task window's last look to this PNG file");
    app.add_option("--timeout", opt.timeout_s, "seconds to wait for a task (default 120)");
    app.add_option("--raw", opt.raw_folder,
                   "write every notification's data block, as received, to a file in DIR")
        ->type_name("DIR");

    auto* sdk_version = app.add_subcommand("sdk-version", "print the SDK version text");
    auto* ports = app.add_subcommand("ports", "list the cable's serial ports");
    auto* version = app.add_subcommand("version", "read the watch's version text");
    auto* long_version =
        app.add_subcommand("long-version", "read the watch's long version text from its flash");
    auto* read_sector = app.add_subcommand(
        "read-sector", "read one 4096-byte flash sector; a hex dump, or the bytes with --out");
    std::string sector_text;
    std::string sector_out;
    read_sector->add_option("N", sector_text, "sector number, 0 to 255")->required();
    read_sector->add_option("--out", sector_out, "write the sector's raw bytes to FILE")
        ->type_name("FILE");
    auto* backup = app.add_subcommand("backup", "read the whole flash (256 sectors) to a file");
    std::string backup_out;
    backup->add_option("--out", backup_out, "the image file (1 MiB)")
        ->type_name("IMAGE")
        ->required();

    auto* workouts = app.add_subcommand("workouts", "the workouts recorded on the watch");
    workouts->require_subcommand(1);
    workouts->fallthrough();
    auto* workouts_list = workouts->add_subcommand(
        "list", "list the sessions: index, start time, recorded points, laps");
    workouts_list->fallthrough();
    auto* workouts_download =
        workouts->add_subcommand("download", "write one file per session, named by its start time");
    workouts_download->fallthrough();
    DownloadOptions download;
    auto* select =
        workouts_download
            ->add_option("--select", download.select,
                         "session indices (see `workouts list`) in the order to download, e.g. 3,0")
            ->type_name("LIST");
    workouts_download->add_flag(
        "--clear", download.clear,
        "erase every workout on the watch after the download (asks first, unless --yes)");
    workouts_download->add_flag("--new", download.only_new,
                                "skip sessions already downloaded into the folder");
    workouts_download->add_option("--format", download.format, "gpx (default), tcx, json or fit")
        ->type_name("FORMAT");
    workouts_download->add_option("--out", download.out_folder, "folder (default: current)")
        ->type_name("DIR");
    workouts_download
        ->add_option("--utc-offset", download.utc_offset,
                     "the watch's time zone as +HH:MM east of UTC (default: this computer's)")
        ->type_name("+HH:MM");
    auto* workouts_clear = workouts->add_subcommand(
        "clear", "erase every workout on the watch (asks first, unless --yes)");
    workouts_clear->fallthrough();
    auto* workouts_convert = workouts->add_subcommand(
        "convert", "write files from session blocks saved with --raw (2007-*.bin, 2008-*.bin)");
    workouts_convert->fallthrough();
    DownloadOptions convert;
    std::vector<std::string> convert_blocks;
    workouts_convert->add_option("BLOCK", convert_blocks, "session block files")->required();
    workouts_convert->add_option("--format", convert.format, "gpx (default), tcx, json or fit")
        ->type_name("FORMAT");
    workouts_convert->add_option("--out", convert.out_folder, "folder (default: current)")
        ->type_name("DIR");
    workouts_convert
        ->add_option("--utc-offset", convert.utc_offset,
                     "the watch's time zone as +HH:MM east of UTC (default: this computer's)")
        ->type_name("+HH:MM");
    workouts_convert->add_flag("--new", convert.only_new,
                               "skip sessions already written into the folder");

    // sync: what a user wants at every plug-in; the unit the udev rule starts runs it.
    auto* sync = app.add_subcommand(
        "sync",
        "set the watch's clock, download new workouts, refresh A-GPS data that runs out "
        "soon, report newer firmware");
    sync->fallthrough();
    SyncOptions sync_options;
    std::string sync_folder, sync_formats;
    std::uint32_t sync_days = 0;
    auto* sync_folder_opt =
        sync->add_option("--folder", sync_folder,
                         "where workouts go (default: sync.folder, else the SDK's download "
                         "folder in your documents)")
            ->type_name("DIR");
    auto* sync_formats_opt =
        sync->add_option("--formats", sync_formats,
                         "file formats, e.g. gpx,fit (default: sync.formats, else gpx)")
            ->type_name("LIST");
    auto* sync_days_opt =
        sync->add_option("--agps-days", sync_days,
                         "refresh A-GPS data that runs out within this many days (default: "
                         "sync.agps_days, else 2)")
            ->type_name("DAYS");
    sync->add_flag("--notify", sync_options.notify,
                   "a desktop notification with the summary, where notify-send exists");

    // The set-up: one JSON document each, read back after every write.
    std::string setup_out, setup_file;
    bool no_verify = false;
    auto add_pair = [&](const char* name, const char* what) {
        auto* group = app.add_subcommand(name, what);
        group->require_subcommand(1);
        group->fallthrough();
        auto* get =
            group->add_subcommand("get", "write the JSON document (standard output without --out)");
        get->add_option("--out", setup_out, "write it to FILE")->type_name("FILE");
        get->fallthrough();
        auto* set =
            group->add_subcommand("set", "write a JSON document (as get gives it) to the watch");
        set->add_option("FILE", setup_file, "the JSON document")->required();
        set->add_flag("--no-verify", no_verify, "do not read back what was written");
        set->fallthrough();
        return std::pair{get, set};
    };
    const auto [paths_get, paths_set] = add_pair("paths", "the ten paths: names and waypoints");
    const auto [settings_get, settings_set] = add_pair("settings", "the watch's settings");
    const auto [views_get, views_set] = add_pair("views", "the five data views and their names");
    auto* set_time = app.add_subcommand("set-time", "set the watch's clock (local time)");
    std::string time_text = "now";
    set_time->add_option("TIME", time_text, "now (default) or YYYY-MM-DDTHH:MM:SS");

    auto* agps = app.add_subcommand(
        "agps", "bring the watch's A-GPS data up to date from an FTP server (defaults: config)");
    FtpOptions agps_ftp(agps, "agps", false);
    auto* firmware = app.add_subcommand(
        "firmware", "the watch's firmware from an FTP server (defaults: config [firmware])");
    firmware->require_subcommand(1);
    firmware->fallthrough();
    auto* firmware_check = firmware->add_subcommand(
        "check", "show what firmware the server offers the watch; writes nothing");
    firmware_check->fallthrough();
    FtpOptions check_ftp(firmware_check, "firmware", true);
    auto* firmware_update = firmware->add_subcommand(
        "update",
        "write the offered firmware to the watch (asks first, unless --yes); erases its workouts");
    firmware_update->fallthrough();
    FtpOptions update_ftp(firmware_update, "firmware", true);
    bool firmware_yes = false;
    firmware_update->add_flag("--yes", firmware_yes, "install without asking");
    auto* config =
        app.add_subcommand("config", "the defaults in " + user_config_path() +
                                         " (agps.server, firmware.server, agps.user, ...)");
    config->require_subcommand(1);
    config->fallthrough();
    auto* config_set =
        config->add_subcommand("set", "set KEY to VALUE; a password is read from standard input");
    std::string config_key;
    std::string config_value;
    config_set
        ->add_option("KEY", config_key,
                     "agps.server, agps.user, agps.password, "
                     "agps.password_file, agps.folder, agps.mode "
                     "(passive or active), agps.limit (seconds); the same under firmware., "
                     "and firmware.fifth")
        ->required();
    auto* config_value_opt = config_set->add_option("VALUE", config_value, "the value");
    config_set->fallthrough();
    auto* config_unset = config->add_subcommand("unset", "remove KEY");
    config_unset->add_option("KEY", config_key, "the key")->required();
    config_unset->fallthrough();
    auto* config_show =
        config->add_subcommand("show", "list what is set (the password stays hidden)");
    config_show->fallthrough();
    auto* doctor = add_doctor_command(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }

    if (opt.show && !opt.window_png.empty()) {
        std::fprintf(stderr,
                     "error: --show and --window-png present the window two ways; pick one\n");
        return kExitUsage;
    }
    unsigned sector = 0;
    if (*read_sector && !parse_sector_number(sector_text, sector)) {
        std::fprintf(stderr, "error: the sector number is 0 to 255, not \"%s\"\n",
                     sector_text.c_str());
        return kExitUsage;
    }
    download.selected = select->count() > 0;
    if (*workouts_download || *workouts_convert) {
        std::string why;
        if (!check_download_options(*workouts_convert ? convert : download, why)) {
            std::fprintf(stderr, "error: %s\n", why.c_str());
            return kExitUsage;
        }
    }
    stridelog::hostkit::DateTime clock_time;
    if (*set_time && !parse_set_time(time_text, clock_time)) {
        std::fprintf(stderr,
                     "error: the time is now or YYYY-MM-DDTHH:MM:SS (a date-time of 2000 to 2255), "
                     "not \"%s\"\n",
                     time_text.c_str());
        return kExitUsage;
    }
    // Needs no watch: done before anything of the SDK starts.
    if (*workouts_convert) {
        if (opt.simulate) {
            std::fprintf(stderr, "error: workouts convert reads files; it needs no watch\n");
            return kExitUsage;
        }
        return run_workouts_convert(convert, convert_blocks, opt.json);
    }
    // Needs neither the watch nor the SDK.
    if (*config) {
        if (opt.simulate) {
            std::fprintf(stderr, "error: config edits a file; it needs no watch\n");
            return kExitUsage;
        }
        if (*config_set)
            return run_config_set(config_key, config_value_opt->count() > 0
                                                  ? std::optional<std::string>(config_value)
                                                  : std::nullopt);
        if (*config_unset) return run_config_unset(config_key);
        return run_config_show(opt.json);
    }
    if (opt.timeout_s > 24 * 3600) opt.timeout_s = 24 * 3600;
    FtpAccount account;
    // Before the simulator starts: a missing server or an unsafe password file
    // is found at once.
    if (*agps && !prepare_ftp_account(agps_ftp.given(), "agps", account)) return kExitUsage;
    if (*firmware_check && !prepare_ftp_account(check_ftp.given(), "firmware", account))
        return kExitUsage;
    if (*firmware_update && !prepare_ftp_account(update_ftp.given(), "firmware", account))
        return kExitUsage;

    RawRecorder raw;
    if (!opt.raw_folder.empty()) {
        std::string why;
        if (!raw.Open(opt.raw_folder, why)) {
            std::fprintf(stderr, "error: --raw: %s\n", why.c_str());
            return kExitError;
        }
    }

    // Declared before the simulator, so it outlives it: a Ctrl-C while the
    // simulator stops is still taken.
    InterruptWatcher interrupt;
    const auto interrupted = [&interrupt] { return interrupt.interrupted(); };

    std::unique_ptr<SimulatedWatch> sim;
    if (opt.simulate) {
        std::string why;
        // Without an image of the user's, a watch with workouts on it.
        sim = start_simulated_watch({opt.sim_image, opt.sim_image.empty()}, interrupted, why);
        if (!sim) {
            if (interrupt.interrupted()) return interrupt.exit_status();
            std::fprintf(stderr, "error: cannot start the simulated watch: %s\n", why.c_str());
            return kExitError;
        }
    }

    if (opt.show) Stridelog_UsePresenter(STRIDELOG_PRESENTER_TERMINAL, nullptr);
    if (!opt.window_png.empty())
        Stridelog_UsePresenter(STRIDELOG_PRESENTER_IMAGE, opt.window_png.c_str());
    // The firmware commands answer the question themselves: check always No.
    if (opt.yes && !*firmware) Stridelog_SetConfirmAnswer(6);

    const Context context{opt, opt.raw_folder.empty() ? nullptr : &raw, interrupted,
                          [&interrupt](bool held) { interrupt.hold(held); }};
    int status = kExitUsage;
    if (*sdk_version) status = run_sdk_version(context);
    if (*ports) status = run_ports(context);
    if (*version) status = run_version(context);
    if (*long_version) status = run_long_version(context);
    if (*read_sector) status = run_read_sector(context, sector, sector_out);
    if (*backup) status = run_backup(context, backup_out);
    if (*workouts_list) status = run_workouts_list(context);
    if (*workouts_download) status = run_workouts_download(context, download);
    if (*workouts_clear) status = run_workouts_clear(context);
    if (*paths_get) status = run_paths_get(context, setup_out);
    if (*paths_set) status = run_paths_set(context, setup_file, !no_verify);
    if (*settings_get) status = run_settings_get(context, setup_out);
    if (*settings_set) status = run_settings_set(context, setup_file, !no_verify);
    if (*views_get) status = run_views_get(context, setup_out);
    if (*views_set) status = run_views_set(context, setup_file, !no_verify);
    if (*set_time) status = run_set_time(context, clock_time);
    if (*agps) status = run_agps(context, account);
    if (*firmware_check) status = run_firmware_check(context, account);
    if (*firmware_update) status = run_firmware_update(context, account, firmware_yes || opt.yes);
    if (*doctor) status = run_doctor(context);
    if (*sync) {
        if (sync_folder_opt->count() > 0) sync_options.folder = sync_folder;
        if (sync_formats_opt->count() > 0) sync_options.formats = sync_formats;
        if (sync_days_opt->count() > 0) sync_options.agps_days = sync_days;
        status = run_sync(context, sync_options);
    }

    if (!raw.error().empty()) {
        std::fprintf(stderr, "error: --raw: %s\n", raw.error().c_str());
        if (status == kExitOk) status = kExitError;
    }
    if (interrupt.interrupted()) {
        std::fprintf(stderr, "interrupted\n");
        status = interrupt.exit_status();
    }
    return status;
}
