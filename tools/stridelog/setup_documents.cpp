#include "setup_documents.hpp"

#include <algorithm>
#include <cstring>
#include <set>

#include "agps_report.hpp"
#include "stridelog/hostkit/text.hpp"

namespace stridelog_tool {
namespace {

using nlohmann::json;
using stridelog::hostkit::utf16le_to_utf8;
using stridelog::hostkit::utf8_to_utf16;

std::string Hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

bool FromHex(const std::string& text, std::span<std::uint8_t> out) {
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

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void PutLe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// `units` UTF-16 units, zero-padded; false when the text needs more.
bool PutUtf16(std::span<std::uint8_t> out, const std::string& text) {
    const std::u16string units = utf8_to_utf16(text);
    if (2 * units.size() > out.size()) return false;
    std::fill(out.begin(), out.end(), 0);
    for (std::size_t i = 0; i < units.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(units[i]);
        out[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
    return true;
}

std::size_t CharacterCount(const std::string& text) {
    return utf8_to_utf16(text).size();
}

// Field checks that name the field in their error.
struct Checker {
    std::string& error;
    bool Fail(const std::string& field, const std::string& why) {
        error = field + ": " + why;
        return false;
    }
    bool Unsigned(const json& parent, const char* key, const std::string& field, std::uint64_t max,
                  std::uint64_t& value) {
        const auto it = parent.find(key);
        if (it == parent.end()) return Fail(field, "missing");
        if (!it->is_number_unsigned() && !(it->is_number_integer() && it->get<std::int64_t>() >= 0))
            return Fail(field, "a whole number 0 to " + std::to_string(max) + " expected");
        value = it->get<std::uint64_t>();
        if (value > max) return Fail(field, "at most " + std::to_string(max));
        return true;
    }
    bool HexBytes(const json& parent, const char* key, const std::string& field,
                  std::span<std::uint8_t> out) {
        const auto it = parent.find(key);
        if (it == parent.end()) return Fail(field, "missing");
        if (!it->is_string() || !FromHex(it->get<std::string>(), out))
            return Fail(field, std::to_string(2 * out.size()) + " hex digits expected");
        return true;
    }
    bool Name(const json& parent, const char* key, const std::string& field,
              std::size_t max_characters, bool watch_charset, std::string& out) {
        const auto it = parent.find(key);
        if (it == parent.end()) return Fail(field, "missing");
        if (!it->is_string()) return Fail(field, "a text expected");
        out = it->get<std::string>();
        if (CharacterCount(out) > max_characters)
            return Fail(field, "at most " + std::to_string(max_characters) + " characters");
        if (watch_charset) {
            if (const auto bad = stridelog::hostkit::first_unstorable_character(out))
                return Fail(field, "the watch cannot show \"" + *bad + "\"");
        }
        return true;
    }
};

// Ten (or five) entries, each with its index once.
bool IndexedArray(Checker& check, const json& document, const char* key, std::size_t count,
                  std::vector<const json*>& by_index) {
    if (!document.is_object()) return check.Fail("document", "a JSON object expected");
    const auto it = document.find(key);
    if (it == document.end() || !it->is_array()) return check.Fail(key, "an array expected");
    if (it->size() != count)
        return check.Fail(
            key, std::to_string(count) + " entries expected, not " + std::to_string(it->size()));
    by_index.assign(count, nullptr);
    for (std::size_t i = 0; i < count; ++i) {
        const json& entry = (*it)[i];
        const std::string field = std::string(key) + "[" + std::to_string(i) + "]";
        if (!entry.is_object()) return check.Fail(field, "an object expected");
        std::uint64_t index = 0;
        if (!check.Unsigned(entry, "index", field + ".index", count - 1, index)) return false;
        if (by_index[index]) return check.Fail(field + ".index", "index given twice");
        by_index[index] = &entry;
    }
    return true;
}

// Year - 2000, month, day of the A-GPS data's expiry.
constexpr std::size_t kAgpsExpiryYearOffset = 51;

// The settings record's fields.
enum class Kind { Byte, Word32, Hex, Text, Float };
struct SettingsField {
    const char* name;
    std::size_t offset;
    std::size_t width;  // bytes
    Kind kind;
    std::uint64_t max;  // numbers only
    bool written;       // taken from the record by the watch
};
constexpr SettingsField kSettingsFields[] = {
    {"f94_or_f12d", 0, 1, Kind::Byte, 3, true},
    {"f12d", 1, 1, Kind::Byte, 1, true},
    {"f2", 2, 4, Kind::Word32, 1, true},
    {"w10", 6, 2, Kind::Hex, 0, true},
    {"f5", 8, 4, Kind::Word32, 1, true},
    {"b6", 12, 1, Kind::Byte, 255, true},
    {"b7", 13, 1, Kind::Byte, 255, true},
    {"b8", 14, 1, Kind::Byte, 255, true},
    {"version_code_text", 15, 16, Kind::Text, 0, false},
    {"version_text", 33, 14, Kind::Text, 0, false},
    {"agps_expiry_year_minus_2000", kAgpsExpiryYearOffset, 1, Kind::Byte, 255, false},
    {"agps_expiry_month", kAgpsExpiryYearOffset + 1, 1, Kind::Byte, 255, false},
    {"agps_expiry_day", kAgpsExpiryYearOffset + 2, 1, Kind::Byte, 255, false},
    {"used_space_percent", 54, 4, Kind::Float, 0, false},
    {"identity", 58, 24, Kind::Text, 0, false},
    {"b93", 84, 1, Kind::Byte, 255, true},
    {"b3", 85, 1, Kind::Byte, 255, true},
    {"f12a", 86, 1, Kind::Byte, 1, true},
    {"b17", 87, 1, Kind::Byte, 255, true},
    {"b18_b25", 88, 8, Kind::Hex, 0, true},
};

}  // namespace

json PathsToJson(const std::vector<WatchPath>& paths) {
    json list = json::array();
    for (const WatchPath& path : paths) {
        json waypoints = json::array();
        for (const PathWaypoint& w : path.waypoints)
            waypoints.push_back({{"word1", w.word1},
                                 {"word2", w.word2},
                                 {"attributes", Hex(w.attributes)},
                                 {"name", w.name}});
        list.push_back({{"index", path.index}, {"name", path.name}, {"waypoints", waypoints}});
    }
    return json{{"paths", list}};
}

bool PathsFromJson(const json& document, std::vector<WatchPath>& paths, std::string& error) {
    Checker check{error};
    std::vector<const json*> by_index;
    if (!IndexedArray(check, document, "paths", kPathCount, by_index)) return false;
    std::vector<WatchPath> out(kPathCount);
    for (std::size_t i = 0; i < kPathCount; ++i) {
        const json& entry = *by_index[i];
        const std::string field = "paths[index " + std::to_string(i) + "]";
        WatchPath& path = out[i];
        path.index = static_cast<unsigned>(i);
        if (!check.Name(entry, "name", field + ".name", kMaxPathName, true, path.name))
            return false;
        const auto list = entry.find("waypoints");
        if (list == entry.end() || !list->is_array())
            return check.Fail(field + ".waypoints", "an array expected");
        if (list->size() > kMaxWaypoints)
            return check.Fail(field + ".waypoints",
                              "at most 99 waypoints, not " + std::to_string(list->size()));
        for (std::size_t k = 0; k < list->size(); ++k) {
            const json& w = (*list)[k];
            const std::string at = field + ".waypoints[" + std::to_string(k) + "]";
            if (!w.is_object()) return check.Fail(at, "an object expected");
            PathWaypoint waypoint;
            std::uint64_t word = 0;
            if (!check.Unsigned(w, "word1", at + ".word1", 0xFFFFFFFF, word)) return false;
            waypoint.word1 = static_cast<std::uint32_t>(word);
            if (!check.Unsigned(w, "word2", at + ".word2", 0xFFFFFFFF, word)) return false;
            waypoint.word2 = static_cast<std::uint32_t>(word);
            if (!check.HexBytes(w, "attributes", at + ".attributes", waypoint.attributes))
                return false;
            if (!check.Name(w, "name", at + ".name", kMaxWaypointName, true, waypoint.name))
                return false;
            path.waypoints.push_back(std::move(waypoint));
        }
    }
    paths = std::move(out);
    return true;
}

std::vector<WatchPath> PathsAsStored(std::vector<WatchPath> paths) {
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (paths[i].waypoints.empty()) paths[i].name = "Path" + std::to_string(i + 1);
    return paths;
}

std::vector<std::string> PathDifferences(const std::vector<WatchPath>& written,
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
                    PathsToJson({WatchPath{0, "", {a.waypoints[k]}}})["paths"][0]["waypoints"][0]
                        .dump() +
                    ", read " +
                    PathsToJson({WatchPath{0, "", {b.waypoints[k]}}})["paths"][0]["waypoints"][0]
                        .dump());
    }
    return lines;
}

bool SettingsToJson(std::span<const std::uint8_t> block, json& document, std::string& error) {
    if (block.size() != kSettingsRecordSize) {
        error = "settings record of " + std::to_string(block.size()) + " bytes, not 96";
        return false;
    }
    document = json::object();
    for (const SettingsField& f : kSettingsFields) {
        const auto bytes = block.subspan(f.offset, f.width);
        switch (f.kind) {
            case Kind::Byte:
                document[f.name] = bytes[0];
                break;
            case Kind::Word32:
                document[f.name] = Le32(bytes, 0);
                break;
            case Kind::Hex:
                document[f.name] = Hex(bytes);
                break;
            case Kind::Text:
                document[f.name] = utf16le_to_utf8(bytes);
                break;
            case Kind::Float: {
                float value = 0;
                std::memcpy(&value, bytes.data(), sizeof value);
                document[f.name] = value;
                break;
            }
        }
    }
    // The three expiry bytes once more as a date people read (null: none or
    // unknown); only shown, never written back.
    std::optional<std::string> expiry;
    DecodeExpiry(block.subspan(kAgpsExpiryYearOffset, 3), expiry);
    document["agps_expiry"] = expiry ? json(*expiry) : json(nullptr);
    return true;
}

bool SettingsFromJson(const json& document, SettingsRecord& record, std::string& error) {
    Checker check{error};
    if (!document.is_object()) return check.Fail("document", "a JSON object expected");
    SettingsRecord out{};
    for (const SettingsField& f : kSettingsFields) {
        const std::span<std::uint8_t> bytes(out.data() + f.offset, f.width);
        // What the watch does not take may be left out of a hand-written file.
        if (!f.written && !document.contains(f.name)) continue;
        std::uint64_t value = 0;
        switch (f.kind) {
            case Kind::Byte:
                if (!check.Unsigned(document, f.name, f.name, f.max, value)) return false;
                bytes[0] = static_cast<std::uint8_t>(value);
                break;
            case Kind::Word32:
                if (!check.Unsigned(document, f.name, f.name, f.max, value)) return false;
                PutLe32(bytes, 0, static_cast<std::uint32_t>(value));
                break;
            case Kind::Hex:
                if (!check.HexBytes(document, f.name, f.name, bytes)) return false;
                break;
            case Kind::Text: {
                std::string text;
                if (!check.Name(document, f.name, f.name, f.width / 2, false, text)) return false;
                PutUtf16(bytes, text);
                break;
            }
            case Kind::Float: {
                const json& v = document.at(f.name);
                if (!v.is_number()) return check.Fail(f.name, "a number expected");
                const auto number = v.get<float>();
                std::memcpy(bytes.data(), &number, sizeof number);
                break;
            }
        }
    }
    record = out;
    return true;
}

std::vector<std::string> SettingsDifferences(const SettingsRecord& written,
                                             const SettingsRecord& read) {
    json a, b;
    std::string ignored;
    SettingsToJson(written, a, ignored);
    SettingsToJson(read, b, ignored);
    std::vector<std::string> lines;
    for (const SettingsField& f : kSettingsFields)
        if (f.written && a[f.name] != b[f.name])
            lines.push_back(std::string(f.name) + ": wrote " + a[f.name].dump() + ", read " +
                            b[f.name].dump());
    return lines;
}

bool ViewsToJson(std::span<const std::uint8_t> block, json& document, std::string& error) {
    if (block.size() != kViewsRecordSize) {
        error = "views record of " + std::to_string(block.size()) + " bytes, not 145";
        return false;
    }
    json list = json::array();
    for (std::size_t v = 0; v < kViewCount; ++v)
        list.push_back({{"index", v},
                        {"record", Hex(block.subspan(kViewRecordSize * v, kViewRecordSize))},
                        {"name", utf16le_to_utf8(block.subspan(45 + 20 * v, 20))}});
    document = json{{"views", list}};
    return true;
}

bool ViewsFromJson(const json& document, ViewsRecord& record, std::string& error) {
    Checker check{error};
    std::vector<const json*> by_index;
    if (!IndexedArray(check, document, "views", kViewCount, by_index)) return false;
    ViewsRecord out{};
    for (std::size_t v = 0; v < kViewCount; ++v) {
        const std::string field = "views[index " + std::to_string(v) + "]";
        if (!check.HexBytes(*by_index[v], "record", field + ".record",
                            std::span(out.data() + kViewRecordSize * v, kViewRecordSize)))
            return false;
        std::string name;
        if (!check.Name(*by_index[v], "name", field + ".name", kMaxViewName, true, name))
            return false;
        PutUtf16(std::span(out.data() + 45 + 20 * v, 20), name);
    }
    record = out;
    return true;
}

std::vector<std::string> ViewsDifferences(const ViewsRecord& written, const ViewsRecord& read) {
    json a, b;
    std::string ignored;
    ViewsToJson(written, a, ignored);
    ViewsToJson(read, b, ignored);
    std::vector<std::string> lines;
    for (std::size_t v = 0; v < kViewCount; ++v)
        for (const char* key : {"record", "name"})
            if (a["views"][v][key] != b["views"][v][key])
                lines.push_back("view " + std::to_string(v) + " " + key + ": wrote " +
                                a["views"][v][key].dump() + ", read " + b["views"][v][key].dump());
    return lines;
}

}  // namespace stridelog_tool
