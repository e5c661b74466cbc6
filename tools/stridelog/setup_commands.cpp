// paths, settings and views (get and set) and set-time: the set-up documents
// carried to and from the watch, each write read back unless --no-verify.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "commands.hpp"
#include "host_session.hpp"
#include "setup_documents.hpp"
#include "stridelog/framework_arrays.h"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog_tool {
namespace {

constexpr std::uint32_t kCancelWaitMs = 5000;  // a cancelled task ends on its next message

using nlohmann::json;

int wait_for_end(const Context& context, HostSession& session) {
    const Options& opt = context.options;
    if (!session.wait_for_task(opt.timeout_s * 1000)) {
        std::fprintf(stderr, "error: the watch did not finish in %u s\n", opt.timeout_s);
        Stridelog_CancelTasks();  // through the task end, so the port is released
        session.wait_for_task(kCancelWaitMs);
        return kExitError;
    }
    if (context.interrupted()) return kExitError;  // the caller reports the interruption
    if (session.first_error()) return report_error(session, "");
    return kExitOk;
}

int write_document(const json& document, const std::string& out_file) {
    const std::string text = document.dump(2) + "\n";
    if (out_file.empty()) {
        std::cout << text;
        return kExitOk;
    }
    std::ofstream out(out_file, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())).flush()) {
        std::fprintf(stderr, "error: %s: %s\n", out_file.c_str(), std::strerror(errno));
        return kExitError;
    }
    return kExitOk;
}

// A malformed file is a usage error, found before the watch is touched.
int read_document(const std::string& file, json& document) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "error: %s: %s\n", file.c_str(), std::strerror(errno));
        return kExitUsage;
    }
    std::stringstream text;
    text << in.rdbuf();
    try {
        document = json::parse(text.str());
    } catch (const json::parse_error& e) {
        std::fprintf(stderr, "error: %s is not JSON: %s\n", file.c_str(), e.what());
        return kExitUsage;
    }
    return kExitOk;
}

int refuse(const std::string& file, const std::string& why) {
    std::fprintf(stderr, "error: %s: %s; nothing written\n", file.c_str(), why.c_str());
    return kExitUsage;
}

int report_differences(const char* what, const std::vector<std::string>& lines) {
    if (lines.empty()) return kExitOk;
    std::fprintf(stderr, "error: the %s read back differ from what was written:\n", what);
    for (const auto& line : lines) std::fprintf(stderr, "  %s\n", line.c_str());
    return kExitError;
}

int read_paths(const Context& context, std::vector<WatchPath>& paths) {
    HostSession session(false, context.raw);
    GetPaths(session.window(), context.options.show_window());
    if (const int rc = wait_for_end(context, session)) return rc;
    paths.clear();
    if (session.find(SDK_MSG_NO_PATHS)) {
        // No path has waypoints; the watch then names each by its position.
        for (unsigned i = 0; i < kPathCount; ++i)
            paths.push_back({i, "Path" + std::to_string(i + 1), {}});
        return kExitOk;
    }
    std::vector<bool> seen(kPathCount, false);
    for (const Note& note : session.notes()) {
        if (note.error || note.code != SDK_MSG_PATH) continue;
        auto parsed = stridelog::hostkit::parse_path_block(note.block);
        if (!parsed) {
            std::fprintf(stderr, "error: %s\n", parsed.error().c_str());
            return kExitError;
        }
        WatchPath& path = *parsed;
        if (seen[path.index]) {
            std::fprintf(stderr, "error: path %u was sent twice\n", path.index);
            return kExitError;
        }
        seen[path.index] = true;
        paths.push_back(std::move(path));
    }
    if (paths.size() != kPathCount)
        return report_error(session, paths.empty() ? "the task ended without its result"
                                                   : "the watch sent fewer than ten paths");
    std::sort(paths.begin(), paths.end(),
              [](const WatchPath& a, const WatchPath& b) { return a.index < b.index; });
    return kExitOk;
}

// A task that ends with one record block of `size` bytes.
int read_record(const Context& context, void (*entry)(HWND, BOOL), UINT code, std::size_t size,
                std::vector<std::uint8_t>& record) {
    HostSession session(false, context.raw);
    entry(session.window(), context.options.show_window());
    if (const int rc = wait_for_end(context, session)) return rc;
    const Note* n = session.find(code);
    if (!n) return report_error(session, "the task ended without its result");
    if (n->block.size() != size) {
        std::fprintf(stderr, "error: a record of %zu bytes, not %zu\n", n->block.size(), size);
        return kExitError;
    }
    record = n->block;
    return kExitOk;
}

template <typename Start>
int run_write(const Context& context, UINT done_code, Start start) {
    HostSession session(false, context.raw);
    start(session.window());
    if (const int rc = wait_for_end(context, session)) return rc;
    if (!session.find(done_code)) return report_error(session, "the task ended without its result");
    return kExitOk;
}

}  // namespace

int run_paths_get(const Context& context, const std::string& out_file) {
    std::vector<WatchPath> paths;
    if (const int rc = read_paths(context, paths)) return rc;
    return write_document(paths_to_json(paths), out_file);
}

int run_paths_set(const Context& context, const std::string& file, bool verify) {
    json document;
    if (const int rc = read_document(file, document)) return rc;
    std::vector<WatchPath> paths;
    std::string why;
    if (!paths_from_json(document, paths, why)) return refuse(file, why);

    // The arrays the SDK reads in place until the task ends.
    std::vector<std::vector<stridelog::hostkit::HostWaypointBlock>> waypoints(kPathCount);
    std::vector<std::vector<void*>> waypoint_pointers(kPathCount);
    std::vector<CPtrArray> path_arrays(kPathCount);
    std::vector<void*> path_pointers(kPathCount);
    std::vector<std::u16string> names(kPathCount);
    std::vector<CString> name_strings(kPathCount);
    for (std::size_t i = 0; i < kPathCount; ++i) {
        for (const PathWaypoint& w : paths[i].waypoints)
            waypoints[i].push_back(stridelog::hostkit::make_host_waypoint(w));
        for (auto& w : waypoints[i]) waypoint_pointers[i].push_back(w.data());
        path_arrays[i] = CPtrArray{nullptr, waypoint_pointers[i].data(),
                                   static_cast<intptr_t>(waypoint_pointers[i].size()), 0, 0};
        path_pointers[i] = &path_arrays[i];
        names[i] = stridelog::hostkit::utf8_to_utf16(paths[i].name);
        name_strings[i].m_pszData = names[i].c_str();
    }
    CPtrArray path_array{nullptr, path_pointers.data(), static_cast<intptr_t>(kPathCount), 0, 0};
    CStringArray name_array{nullptr, name_strings.data(), static_cast<intptr_t>(kPathCount), 0, 0};
    if (const int rc = run_write(context, SDK_MSG_PATHS_WRITTEN, [&](HWND window) {
            SetPaths(window, &path_array, &name_array, context.options.show_window());
        }))
        return rc;
    if (!verify) return kExitOk;
    std::vector<WatchPath> read;
    if (const int rc = read_paths(context, read)) return rc;
    return report_differences("paths", path_differences(paths_as_stored(paths), read));
}

int run_settings_get(const Context& context, const std::string& out_file) {
    std::vector<std::uint8_t> record;
    if (const int rc =
            read_record(context, &GetSetting, SDK_MSG_SETTINGS, kSettingsRecordSize, record))
        return rc;
    json document;
    std::string why;
    settings_to_json(record, document, why);
    return write_document(document, out_file);
}

int run_settings_set(const Context& context, const std::string& file, bool verify) {
    json document;
    if (const int rc = read_document(file, document)) return rc;
    SettingsBlock record{};
    std::string why;
    if (!settings_from_json(document, record, why)) return refuse(file, why);
    if (const int rc = run_write(context, SDK_MSG_SETTINGS_WRITTEN, [&](HWND window) {
            SetSetting(window, record.data(), context.options.show_window());
        }))
        return rc;
    if (!verify) return kExitOk;
    std::vector<std::uint8_t> read;
    if (const int rc =
            read_record(context, &GetSetting, SDK_MSG_SETTINGS, kSettingsRecordSize, read))
        return rc;
    SettingsBlock back{};
    std::copy(read.begin(), read.end(), back.begin());
    return report_differences("settings", settings_differences(record, back));
}

int run_views_get(const Context& context, const std::string& out_file) {
    std::vector<std::uint8_t> record;
    if (const int rc = read_record(context, &GetViews, SDK_MSG_VIEWS, kViewsRecordSize, record))
        return rc;
    json document;
    std::string why;
    views_to_json(record, document, why);
    return write_document(document, out_file);
}

int run_views_set(const Context& context, const std::string& file, bool verify) {
    json document;
    if (const int rc = read_document(file, document)) return rc;
    ViewsBlock record{};
    std::string why;
    if (!views_from_json(document, record, why)) return refuse(file, why);
    if (const int rc = run_write(context, SDK_MSG_VIEWS_WRITTEN, [&](HWND window) {
            SetViews(window, record.data(), context.options.show_window());
        }))
        return rc;
    if (!verify) return kExitOk;
    std::vector<std::uint8_t> read;
    if (const int rc = read_record(context, &GetViews, SDK_MSG_VIEWS, kViewsRecordSize, read))
        return rc;
    ViewsBlock back{};
    std::copy(read.begin(), read.end(), back.begin());
    return report_differences("views", views_differences(record, back));
}

bool parse_set_time(const std::string& text, stridelog::hostkit::DateTime& time) {
    if (text.empty() || text == "now") {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (!localtime_r(&now, &local)) return false;
        time = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour,        local.tm_min,     local.tm_sec};
        return true;
    }
    char end = 0;
    if (text.size() != 19 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &time.year, &time.month, &time.day,
                    &time.hour, &time.minute, &time.second, &end) != 6)
        return false;
    // The watch keeps year - 2000 in one byte and knows no leap second.
    return time.year >= 2000 && time.year <= 2255 && time.second < 60 &&
           stridelog::hostkit::is_valid_date_time(time);
}

int run_set_time(const Context& context, const stridelog::hostkit::DateTime& time) {
    // The watch answers the clock command once it has taken the time; there is
    // no command to read its clock back.
    return run_write(context, SDK_MSG_CLOCK_SET, [&](HWND window) {
        SetDateTime(window, static_cast<BYTE>(time.year - 2000), static_cast<BYTE>(time.month),
                    static_cast<DWORD>(time.day), static_cast<BYTE>(time.hour),
                    static_cast<BYTE>(time.minute), static_cast<DWORD>(time.second),
                    context.options.show_window());
    });
}

}  // namespace stridelog_tool
