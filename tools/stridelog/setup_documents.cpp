#include "setup_documents.hpp"

#include <algorithm>
#include <type_traits>

#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog_tool {
namespace {

using nlohmann::json;
using stridelog::hostkit::utf8_to_utf16;

std::string hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

bool from_hex(const std::string& text, std::span<std::uint8_t> out) {
    if (text.size() != 2 * out.size()) return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = nibble(text[2 * i]), low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

std::size_t character_count(const std::string& text) {
    return utf8_to_utf16(text).size();
}

// Field checks that name the field in their error.
struct Checker {
    std::string& error;
    bool fail(const std::string& field, const std::string& why) {
        error = field + ": " + why;
        return false;
    }
    bool unsigned_field(const json& parent, const char* key, const std::string& field,
                        std::uint64_t max, std::uint64_t& value) {
        const auto it = parent.find(key);
        if (it == parent.end()) return fail(field, "missing");
        if (!it->is_number_unsigned() && !(it->is_number_integer() && it->get<std::int64_t>() >= 0))
            return fail(field, "a whole number 0 to " + std::to_string(max) + " expected");
        value = it->get<std::uint64_t>();
        if (value > max) return fail(field, "at most " + std::to_string(max));
        return true;
    }
    bool hex_bytes(const json& parent, const char* key, const std::string& field,
                   std::span<std::uint8_t> out) {
        const auto it = parent.find(key);
        if (it == parent.end()) return fail(field, "missing");
        if (!it->is_string() || !from_hex(it->get<std::string>(), out))
            return fail(field, std::to_string(2 * out.size()) + " hex digits expected");
        return true;
    }
    bool name(const json& parent, const char* key, const std::string& field,
              std::size_t max_characters, bool watch_charset, std::string& out) {
        const auto it = parent.find(key);
        if (it == parent.end()) return fail(field, "missing");
        if (!it->is_string()) return fail(field, "a text expected");
        out = it->get<std::string>();
        if (character_count(out) > max_characters)
            return fail(field, "at most " + std::to_string(max_characters) + " characters");
        if (watch_charset) {
            if (const auto bad = stridelog::hostkit::first_unstorable_character(out))
                return fail(field, "the watch cannot show \"" + *bad + "\"");
        }
        return true;
    }
};

// Ten (or five) entries, each with its index once.
bool indexed_array(Checker& check, const json& document, const char* key, std::size_t count,
                   std::vector<const json*>& by_index) {
    if (!document.is_object()) return check.fail("document", "a JSON object expected");
    const auto it = document.find(key);
    if (it == document.end() || !it->is_array()) return check.fail(key, "an array expected");
    if (it->size() != count)
        return check.fail(
            key, std::to_string(count) + " entries expected, not " + std::to_string(it->size()));
    by_index.assign(count, nullptr);
    for (std::size_t i = 0; i < count; ++i) {
        const json& entry = (*it)[i];
        const std::string field = std::string(key) + "[" + std::to_string(i) + "]";
        if (!entry.is_object()) return check.fail(field, "an object expected");
        std::uint64_t index = 0;
        if (!check.unsigned_field(entry, "index", field + ".index", count - 1, index)) return false;
        if (by_index[index]) return check.fail(field + ".index", "index given twice");
        by_index[index] = &entry;
    }
    return true;
}

// The settings record's fields under their names in the document, in the
// record's order: the largest value a document may give (numbers) or the
// field's length in characters (texts), and whether SetSetting takes the
// field back. Record is SettingsRecord, const or not.
template <class Record, class Visit>
void for_each_settings_field(Record& r, Visit&& visit) {
    visit("f94_or_f12d", r.f94_or_f12d, 3, true);
    visit("f12d", r.f12d, 1, true);
    visit("f2", r.f2, 1, true);
    visit("w10", r.w10, 0, true);
    visit("f5", r.f5, 1, true);
    visit("b6", r.b6, 255, true);
    visit("b7", r.b7, 255, true);
    visit("b8", r.b8, 255, true);
    visit("version_code_text", r.version_code_text, 8, false);
    visit("version_text", r.version_text, 7, false);
    visit("agps_expiry_year_minus_2000", r.agps_expiry.bytes[0], 255, false);
    visit("agps_expiry_month", r.agps_expiry.bytes[1], 255, false);
    visit("agps_expiry_day", r.agps_expiry.bytes[2], 255, false);
    visit("used_space_percent", r.used_space_percent, 0, false);
    visit("identity", r.identity, 12, false);
    visit("b93", r.b93, 255, true);
    visit("b3", r.b3, 255, true);
    visit("f12a", r.f12a, 1, true);
    visit("b17", r.b17, 255, true);
    visit("b18_b25", r.b18_b25, 0, true);
}

template <class T>
constexpr bool kIsByteArray = false;
template <std::size_t N>
constexpr bool kIsByteArray<std::array<std::uint8_t, N>> = true;

}  // namespace

json paths_to_json(const std::vector<WatchPath>& paths) {
    json list = json::array();
    for (const WatchPath& path : paths) {
        json waypoints = json::array();
        for (const PathWaypoint& w : path.waypoints)
            waypoints.push_back({{"word1", w.word1},
                                 {"word2", w.word2},
                                 {"attributes", hex(w.attributes)},
                                 {"name", w.name}});
        list.push_back({{"index", path.index}, {"name", path.name}, {"waypoints", waypoints}});
    }
    return json{{"paths", list}};
}

bool paths_from_json(const json& document, std::vector<WatchPath>& paths, std::string& error) {
    Checker check{error};
    std::vector<const json*> by_index;
    if (!indexed_array(check, document, "paths", kPathCount, by_index)) return false;
    std::vector<WatchPath> out(kPathCount);
    for (std::size_t i = 0; i < kPathCount; ++i) {
        const json& entry = *by_index[i];
        const std::string field = "paths[index " + std::to_string(i) + "]";
        WatchPath& path = out[i];
        path.index = static_cast<unsigned>(i);
        if (!check.name(entry, "name", field + ".name", kMaxPathName, true, path.name))
            return false;
        const auto list = entry.find("waypoints");
        if (list == entry.end() || !list->is_array())
            return check.fail(field + ".waypoints", "an array expected");
        if (list->size() > kMaxWaypoints)
            return check.fail(field + ".waypoints",
                              "at most 99 waypoints, not " + std::to_string(list->size()));
        for (std::size_t k = 0; k < list->size(); ++k) {
            const json& w = (*list)[k];
            const std::string at = field + ".waypoints[" + std::to_string(k) + "]";
            if (!w.is_object()) return check.fail(at, "an object expected");
            PathWaypoint waypoint;
            std::uint64_t word = 0;
            if (!check.unsigned_field(w, "word1", at + ".word1", 0xFFFFFFFF, word)) return false;
            waypoint.word1 = static_cast<std::uint32_t>(word);
            if (!check.unsigned_field(w, "word2", at + ".word2", 0xFFFFFFFF, word)) return false;
            waypoint.word2 = static_cast<std::uint32_t>(word);
            if (!check.hex_bytes(w, "attributes", at + ".attributes", waypoint.attributes))
                return false;
            if (!check.name(w, "name", at + ".name", kMaxWaypointName, true, waypoint.name))
                return false;
            path.waypoints.push_back(std::move(waypoint));
        }
    }
    paths = std::move(out);
    return true;
}

std::vector<WatchPath> paths_as_stored(std::vector<WatchPath> paths) {
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (paths[i].waypoints.empty()) paths[i].name = "Path" + std::to_string(i + 1);
    return paths;
}

std::vector<std::string> path_differences(const std::vector<WatchPath>& written,
                                          const std::vector<WatchPath>& read) {
    std::vector<std::string> lines;
    if (written.size() != read.size()) {
        lines.push_back("wrote " + std::to_string(written.size()) + " paths, read back " +
                        std::to_string(read.size()));
        return lines;
    }
    for (std::size_t i = 0; i < written.size(); ++i) {
        const WatchPath& a = written[i];
        const WatchPath& b = read[i];
        const std::string path = "path " + std::to_string(a.index);
        if (a.name != b.name)
            lines.push_back(path + " name: wrote \"" + a.name + "\", read \"" + b.name + "\"");
        if (a.waypoints.size() != b.waypoints.size()) {
            lines.push_back(path + ": wrote " + std::to_string(a.waypoints.size()) +
                            " waypoints, read " + std::to_string(b.waypoints.size()));
            continue;
        }
        for (std::size_t k = 0; k < a.waypoints.size(); ++k)
            if (a.waypoints[k] != b.waypoints[k])
                lines.push_back(
                    path + " waypoint " + std::to_string(k) + ": wrote " +
                    paths_to_json({WatchPath{0, "", {a.waypoints[k]}}})["paths"][0]["waypoints"][0]
                        .dump() +
                    ", read " +
                    paths_to_json({WatchPath{0, "", {b.waypoints[k]}}})["paths"][0]["waypoints"][0]
                        .dump());
    }
    return lines;
}

bool settings_to_json(std::span<const std::uint8_t> block, json& document, std::string& error) {
    const auto read = stridelog::hostkit::parse_settings_block(block);
    if (!read) {
        error = read.error();
        return false;
    }
    document = json::object();
    for_each_settings_field(*read, [&](const char* name, const auto& value, std::uint64_t, bool) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (kIsByteArray<T>) {
            document[name] = hex(value);
        } else {
            document[name] = value;
        }
    });
    // The three expiry bytes once more as a date people read (null: none or
    // unknown); only shown, never written back.
    const auto expiry = read->agps_expiry.date();
    document["agps_expiry"] =
        expiry ? json(stridelog::hostkit::format_date(*expiry)) : json(nullptr);
    return true;
}

bool settings_from_json(const json& document, SettingsBlock& block, std::string& error) {
    Checker check{error};
    if (!document.is_object()) return check.fail("document", "a JSON object expected");
    stridelog::hostkit::SettingsRecord record;
    bool ok = true;
    for_each_settings_field(
        record, [&](const char* name, auto& value, std::uint64_t max, bool written) {
            // What the watch does not take may be left out of a hand-written file.
            if (!ok || (!written && !document.contains(name))) return;
            using T = std::decay_t<decltype(value)>;
            if constexpr (kIsByteArray<T>) {
                ok = check.hex_bytes(document, name, name, value);
            } else if constexpr (std::is_same_v<T, std::string>) {
                ok = check.name(document, name, name, max, false, value);
            } else if constexpr (std::is_same_v<T, float>) {
                const json& number = document.at(name);
                ok = number.is_number() || check.fail(name, "a number expected");
                if (ok) value = number.get<float>();
            } else {
                std::uint64_t number = 0;
                ok = check.unsigned_field(document, name, name, max, number);
                value = static_cast<T>(number);
            }
        });
    if (!ok) return false;
    block = stridelog::hostkit::make_settings_block(record);
    return true;
}

std::vector<std::string> settings_differences(const SettingsBlock& written,
                                              const SettingsBlock& read) {
    json a, b;
    std::string ignored;
    settings_to_json(written, a, ignored);
    settings_to_json(read, b, ignored);
    std::vector<std::string> lines;
    const stridelog::hostkit::SettingsRecord fields;
    for_each_settings_field(fields, [&](const char* name, const auto&, std::uint64_t, bool taken) {
        if (taken && a[name] != b[name])
            lines.push_back(std::string(name) + ": wrote " + a[name].dump() + ", read " +
                            b[name].dump());
    });
    return lines;
}

bool views_to_json(std::span<const std::uint8_t> block, json& document, std::string& error) {
    const auto read = stridelog::hostkit::parse_views_block(block);
    if (!read) {
        error = read.error();
        return false;
    }
    json list = json::array();
    for (std::size_t v = 0; v < kViewCount; ++v)
        list.push_back(
            {{"index", v}, {"record", hex(read->views[v].record)}, {"name", read->views[v].name}});
    document = json{{"views", list}};
    return true;
}

bool views_from_json(const json& document, ViewsBlock& block, std::string& error) {
    Checker check{error};
    std::vector<const json*> by_index;
    if (!indexed_array(check, document, "views", kViewCount, by_index)) return false;
    stridelog::hostkit::ViewsRecord views;
    for (std::size_t v = 0; v < kViewCount; ++v) {
        const std::string field = "views[index " + std::to_string(v) + "]";
        if (!check.hex_bytes(*by_index[v], "record", field + ".record", views.views[v].record))
            return false;
        if (!check.name(*by_index[v], "name", field + ".name", kMaxViewName, true,
                        views.views[v].name))
            return false;
    }
    block = stridelog::hostkit::make_views_block(views);
    return true;
}

std::vector<std::string> views_differences(const ViewsBlock& written, const ViewsBlock& read) {
    json a, b;
    std::string ignored;
    views_to_json(written, a, ignored);
    views_to_json(read, b, ignored);
    std::vector<std::string> lines;
    for (std::size_t v = 0; v < kViewCount; ++v)
        for (const char* key : {"record", "name"})
            if (a["views"][v][key] != b["views"][v][key])
                lines.push_back("view " + std::to_string(v) + " " + key + ": wrote " +
                                a["views"][v][key].dump() + ", read " + b["views"][v][key].dump());
    return lines;
}

}  // namespace stridelog_tool
