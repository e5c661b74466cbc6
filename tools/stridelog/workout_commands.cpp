// workouts list, download and clear: the session blocks turned into files.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "commands.hpp"
#include "host_session.hpp"
#include "stridelog/hostkit/download_index.hpp"
#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"

namespace stridelog_tool {
namespace {

namespace hostkit = stridelog::hostkit;
using hostkit::SessionBlockKind;

constexpr std::uint32_t kCancelWaitMs = 5000;  // a cancelled task ends on its next message

// Runs the task an entry point started to its end. kExitOk when it ended in
// time; otherwise the status to leave with (the caller reports an interruption).
int wait_for_end(const Context& context, HostSession& session) {
    const Options& opt = context.options;
    if (!session.wait_for_task(opt.timeout_s * 1000)) {
        std::fprintf(stderr, "error: the watch did not finish in %u s\n", opt.timeout_s);
        Stridelog_CancelTasks();  // through the task end, so the port is released
        session.wait_for_task(kCancelWaitMs);
        return kExitError;
    }
    return context.interrupted() ? kExitError : kExitOk;
}

// Yes only from the user. A question nobody can answer is refused rather than
// taken as yes, so a script never erases the watch by accident.
int confirm_erase(const Context& context, const std::string& question) {
    if (context.options.yes) return kExitOk;
    if (::isatty(STDIN_FILENO) != 1) {
        std::fprintf(stderr,
                     "error: erasing the watch's workouts needs a yes, and there is no terminal "
                     "to ask on; pass --yes to erase them\n");
        return kExitUsage;
    }
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    const std::optional<std::string> answer = read_answer(context);
    if (!answer) return kExitError;
    if (is_yes(*answer)) return kExitOk;
    std::fprintf(stderr, "nothing erased\n");
    return kExitError;
}

bool write_file_atomically(const std::filesystem::path& path, const std::string& text,
                           std::string& error) {
    const std::filesystem::path part =
        path.parent_path() / ("." + path.filename().string() + ".part");
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) {
        error = part.string() + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int saved = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && std::rename(part.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        error = path.string() + ": " + std::strerror(saved);
        std::remove(part.c_str());
    }
    return ok;
}

std::optional<std::vector<hostkit::FileFormat>> parse_format_list(const std::string& text) {
    std::vector<hostkit::FileFormat> formats;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const auto format = hostkit::parse_file_format(text.substr(at, end - at));
        if (!format) return std::nullopt;
        if (std::find(formats.begin(), formats.end(), *format) == formats.end())
            formats.push_back(*format);
        at = end + 1;
    }
    return formats;
}

}  // namespace

bool parse_selection(const std::string& text, std::vector<std::uint8_t>& indices) {
    indices.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, end - at);
        if (item.empty() || item.size() > 3) return false;
        unsigned value = 0;
        for (const char c : item) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 255) return false;  // one byte per index on the wire
        indices.push_back(static_cast<std::uint8_t>(value));
        at = end + 1;
    }
    return !indices.empty();
}

int run_workouts_list(const Context& context) {
    HostSession session(false, context.raw);
    GetWorkoutSummary(session.window(), context.options.show_window());
    if (const int status = wait_for_end(context, session); status != kExitOk) return status;
    if (session.first_error()) return report_error(session, "");
    std::vector<hostkit::SessionHeader> headers;
    if (const Note* summary = session.find(SDK_MSG_SUMMARY)) {
        auto parsed = hostkit::parse_summary_block(summary->block);
        if (!parsed) {
            std::fprintf(stderr, "error: the watch's summary cannot be read: %s\n",
                         parsed.error().c_str());
            return kExitError;
        }
        headers = std::move(parsed->headers);
    } else if (session.find(SDK_MSG_NO_WORKOUTS) == nullptr) {
        return report_error(session, "the summary ended without its result");
    }
    if (context.options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (std::size_t i = 0; i < headers.size(); ++i) {
            const auto start = headers[i].start();
            list.push_back(
                {{"index", i},
                 {"start", start ? nlohmann::json(hostkit::format_local(*start)) : nullptr},
                 {"recorded_points", headers[i].recorded_points()},
                 {"laps", headers[i].lap_count()}});
        }
        std::cout << nlohmann::json{{"workouts", list}}.dump() << "\n";
        return kExitOk;
    }
    if (headers.empty()) {
        std::cout << "no workouts on the watch\n";
        return kExitOk;
    }
    std::printf("%-5s  %-19s  %6s  %4s\n", "index", "start", "points", "laps");
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const auto start = headers[i].start();
        std::printf("%5zu  %-19s  %6u  %4u\n", i,
                    start ? hostkit::format_local(*start).c_str() : "(no valid time)",
                    headers[i].recorded_points(), headers[i].lap_count());
    }
    return kExitOk;
}

bool check_download_options(const DownloadOptions& download, std::string& why) {
    std::vector<std::uint8_t> indices;
    if (download.selected && !parse_selection(download.select, indices)) {
        why = "--select takes session indices 0 to 255 separated by commas, not \"" +
              download.select + "\"";
        return false;
    }
    if (!parse_format_list(download.format)) {
        why = "--format is gpx, tcx, json or fit, or several of them separated by commas, not \"" +
              download.format + "\"";
        return false;
    }
    if (!download.utc_offset.empty() && !hostkit::parse_utc_offset(download.utc_offset)) {
        why =
            "--utc-offset is +HH:MM or -HH:MM (at most 14:00), not \"" + download.utc_offset + "\"";
        return false;
    }
    return true;
}

// Session blocks written as files into one folder, whose index it keeps: each
// session once per format. The index is saved after every file, so a run that
// is cut short never leaves a file the next run would not know.
class SessionFiles {
  public:
    explicit SessionFiles(const DownloadOptions& options)
        : options_(options),
          folder_(options.out_folder),
          formats_(*parse_format_list(options.format)),
          zone_(options.utc_offset.empty() ? hostkit::LocalTime::host_zone()
                                           : hostkit::LocalTime::fixed_offset(
                                                 *hostkit::parse_utc_offset(options.utc_offset))) {}

    bool Open() {
        std::error_code ec;
        std::filesystem::create_directories(folder_, ec);
        if (ec || !std::filesystem::is_directory(folder_)) {
            std::fprintf(stderr, "error: --out: %s: %s\n", folder_.c_str(),
                         ec ? ec.message().c_str() : "not a folder");
            return false;
        }
        auto loaded = hostkit::DownloadIndex::load(folder_.string());
        if (!loaded) {
            std::fprintf(stderr, "error: %s\n", loaded.error().c_str());
            return false;
        }
        index_ = std::move(*loaded);
        return true;
    }

    // One session block; false when it cannot be read or written.
    bool add(std::span<const std::uint8_t> block, SessionBlockKind kind,
             const std::string& source) {
        const auto parsed = hostkit::parse_session_block(block, kind);
        if (!parsed) {
            std::fprintf(stderr, "error: %s cannot be read: %s\n", source.c_str(),
                         parsed.error().c_str());
            return false;
        }
        const std::string identity = hostkit::session_identity(*parsed);
        // A session selected twice is one file per format.
        if (!seen_now_.insert(identity).second) return true;
        ++sessions_;
        bool ok = true;
        bool wrote = false;
        for (const hostkit::FileFormat format : formats_) {
            const std::string extension = hostkit::file_extension(format);
            if (options_.only_new && index_.contains(identity, extension)) continue;
            if (!Write(*parsed, identity, format, extension)) {
                ok = false;
                continue;
            }
            wrote = true;
        }
        if (!wrote && ok) ++skipped_;
        return ok;
    }

    // Prints the files written; false when the index could not be saved.
    bool finish(bool json) {
        if (json) {
            std::cout << nlohmann::json{{"files", written_}, {"skipped", skipped_}}.dump() << "\n";
        } else if (print_files_) {
            for (const auto& path : written_) std::cout << path << "\n";
        }
        if (options_.only_new && written_.empty() && skipped_ > 0 && print_files_)
            std::fprintf(stderr, "no new workouts (%zu already downloaded)\n", skipped_);
        return index_saved_;
    }

    void set_print_files(bool print) { print_files_ = print; }
    const std::vector<std::string>& written() const { return written_; }
    std::size_t sessions() const { return sessions_; }
    std::size_t skipped() const { return skipped_; }

  private:
    bool Write(const hostkit::Session& session, const std::string& identity,
               hostkit::FileFormat format, const std::string& extension) {
        // A name is free when nothing is there, or when what is there is this
        // same session from an earlier download.
        const auto taken = [&](const std::string& name) {
            if (names_now_.count(name) != 0) return true;
            if (!std::filesystem::exists(folder_ / name)) return false;
            for (const auto& e : index_.entries())
                if (e.file == name) return e.identity != identity;
            return true;
        };
        const std::string name =
            hostkit::choose_file_name(hostkit::session_file_stem(session), extension, taken);
        std::string why;
        if (!write_file_atomically(folder_ / name, hostkit::write_session(format, session, zone_),
                                   why)) {
            std::fprintf(stderr, "error: %s\n", why.c_str());
            return false;
        }
        names_now_.insert(name);
        index_.add(identity, extension, name);
        written_.push_back((folder_ / name).lexically_normal().string());
        if (const auto saved = index_.save(); !saved) {
            std::fprintf(stderr, "error: %s\n", saved.error().c_str());
            index_saved_ = false;
        }
        return true;
    }

  private:
    const DownloadOptions& options_;
    std::filesystem::path folder_;
    std::vector<hostkit::FileFormat> formats_;
    hostkit::LocalTime zone_;
    hostkit::DownloadIndex index_;
    std::vector<std::string> written_;
    std::size_t sessions_ = 0;
    std::size_t skipped_ = 0;  // sessions with every format already downloaded
    bool index_saved_ = true;
    bool print_files_ = true;
    std::set<std::string> seen_now_;   // identities of this run
    std::set<std::string> names_now_;  // file names of this run
};

int download_workouts(const Context& context, const DownloadOptions& download,
                      DownloadCounts* counts) {
    std::string why;
    if (!check_download_options(download, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return kExitUsage;
    }
    std::vector<std::uint8_t> selection;
    if (download.selected) parse_selection(download.select, selection);
    SessionFiles files(download);
    if (!files.Open()) return kExitError;
    files.set_print_files(counts == nullptr);

    if (download.clear) {
        if (!selection.empty())
            std::fprintf(stderr,
                         "note: --clear erases every session on the watch, not only the selected "
                         "ones; the watch cannot erase single sessions\n");
        const int agreed =
            confirm_erase(context, "Download, then erase every workout on the watch?");
        if (agreed != kExitOk) return agreed;
    }

    HostSession session(false, context.raw);
    const BOOL clear = download.clear ? TRUE : FALSE;
    if (selection.empty()) {
        GetAllWorkout(session.window(), clear, context.options.show_window());
    } else {
        GetSelectedWorkout_Ex(session.window(), selection.data(),
                              static_cast<DWORD>(selection.size()), clear,
                              context.options.show_window());
    }
    const int waited = wait_for_end(context, session);
    if (waited != kExitOk && !context.interrupted()) return waited;

    // Every complete block is written, even when the download failed later:
    // the sessions already delivered are whole.
    int status = kExitOk;
    unsigned number = 0;
    for (const Note& note : session.notes()) {
        if (note.error || (note.code != SDK_MSG_SESSION && note.code != SDK_MSG_SESSION_TRACK))
            continue;
        const auto kind = note.code == SDK_MSG_SESSION ? SessionBlockKind::without_track
                                                       : SessionBlockKind::with_track;
        if (!files.add(note.block, kind, "session block " + std::to_string(number++)))
            status = kExitError;
    }
    if (!files.finish(counts == nullptr && context.options.json)) status = kExitError;
    if (counts != nullptr) *counts = {files.sessions(), files.written().size(), files.skipped()};

    if (context.interrupted()) return kExitError;  // the caller reports the interruption
    if (session.first_error()) return report_error(session, "");
    if (session.find(SDK_MSG_NO_WORKOUTS) != nullptr) {
        if (counts == nullptr) std::fprintf(stderr, "no workouts on the watch\n");
        return status;
    }
    if (session.find(SDK_MSG_WORKOUTS_DONE) == nullptr)
        return report_error(session, "the download ended without its end notification");
    return status;
}

int run_workouts_download(const Context& context, const DownloadOptions& download) {
    return download_workouts(context, download, nullptr);
}

int run_workouts_convert(const DownloadOptions& convert, const std::vector<std::string>& blocks,
                         bool json) {
    std::string why;
    if (!check_download_options(convert, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return kExitUsage;
    }
    SessionFiles files(convert);
    if (!files.Open()) return kExitError;
    int status = kExitOk;
    for (const auto& path : blocks) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "error: %s: %s\n", path.c_str(), std::strerror(errno));
            status = kExitError;
            continue;
        }
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        // --raw names a block by its notification; other names: told apart by size.
        const std::string name = std::filesystem::path(path).filename().string();
        auto kind = SessionBlockKind::either;
        if (name.starts_with("2007-")) kind = SessionBlockKind::without_track;
        if (name.starts_with("2008-")) kind = SessionBlockKind::with_track;
        if (!files.add(bytes, kind, path)) status = kExitError;
    }
    if (!files.finish(json)) status = kExitError;
    return status;
}

int run_workouts_clear(const Context& context) {
    const int agreed = confirm_erase(context, "Erase every workout on the watch?");
    if (agreed != kExitOk) return agreed;
    HostSession session(false, context.raw);
    ClearWorkout(session.window(), context.options.show_window());
    if (const int status = wait_for_end(context, session); status != kExitOk) return status;
    if (session.first_error()) return report_error(session, "");
    if (session.find(SDK_MSG_WORKOUTS_CLEARED) == nullptr)
        return report_error(session, "the clear ended without its end notification");
    std::fprintf(stderr, "every workout on the watch erased\n");
    return kExitOk;
}

}  // namespace stridelog_tool
