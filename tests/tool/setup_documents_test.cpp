// The set-up documents: blocks laid out as the SDK posts them turned into JSON
// and back, malformed documents refused with the field named, and the
// read-back comparison.
#include "setup_documents.hpp"

#include <gtest/gtest.h>

#include "../support/hostkit_helpers.hpp"
#include "tool_golden.hpp"

namespace stridelog_tool {
namespace {

using Bytes = std::vector<std::uint8_t>;
using nlohmann::json;

using stridelog::test::path_block;

std::vector<WatchPath> ten_paths() {
    std::vector<WatchPath> paths;
    for (unsigned i = 0; i < 10; ++i) {
        const Bytes block =
            i == 3 ? path_block(3, u"Path4", {})
                   : path_block(static_cast<std::uint8_t>(i), i == 1 ? u"Café Noël" : u"Loop",
                                {{0x80000001u + i, u"Montée"}, {7, u"TenLetters"}});
        const auto path = stridelog::hostkit::parse_path_block(block);
        EXPECT_TRUE(path) << path.error();
        if (path) paths.push_back(*path);
    }
    return paths;
}

// The read-back report, a line each.
std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

TEST(PathDocuments, GetThenSetGivesTheSamePaths) {
    const auto paths = ten_paths();
    const json document = json::parse(paths_to_json(paths).dump(2));
    EXPECT_EQ(document["paths"][1]["waypoints"][0]["attributes"], "a0a1a2a3a4a5");
    std::vector<WatchPath> back;
    std::string error;
    ASSERT_TRUE(paths_from_json(document, back, error)) << error;
    EXPECT_EQ(back, paths);
    EXPECT_TRUE(path_differences(paths_as_stored(back), paths).empty());
}

TEST(PathDocuments, MalformedDocumentsNameTheField) {
    struct Case {
        const char* legend;
        void (*spoil)(json&);
    };
    const Case cases[] = {
        {"not an object", [](json& d) { d = json::array(); }},
        {"nine paths", [](json& d) { d["paths"].erase(9); }},
        {"an index twice", [](json& d) { d["paths"][9]["index"] = 0; }},
        {"index 10", [](json& d) { d["paths"][9]["index"] = 10; }},
        {"name missing", [](json& d) { d["paths"][2].erase("name"); }},
        {"a 33-character name", [](json& d) { d["paths"][2]["name"] = std::string(33, 'a'); }},
        {"ß in a name", [](json& d) { d["paths"][0]["name"] = "Straße"; }},
        {"100 waypoints",
         [](json& d) {
             d["paths"][0]["waypoints"] = json::array_t(100, d["paths"][0]["waypoints"][0]);
         }},
        {"negative word", [](json& d) { d["paths"][0]["waypoints"][1]["word1"] = -1; }},
        {"word past 32 bits", [](json& d) { d["paths"][0]["waypoints"][1]["word2"] = 4294967296; }},
        {"word as text", [](json& d) { d["paths"][0]["waypoints"][1]["word2"] = "7"; }},
        {"five attribute bytes",
         [](json& d) { d["paths"][4]["waypoints"][0]["attributes"] = "0102030405"; }},
        {"attributes not hex",
         [](json& d) { d["paths"][4]["waypoints"][0]["attributes"] = "0102030405zz"; }},
        {"an 11-character waypoint name",
         [](json& d) { d["paths"][4]["waypoints"][0]["name"] = "ElevenChars"; }},
    };
    std::string errors;
    for (const auto& c : cases) {
        json document = paths_to_json(ten_paths());
        c.spoil(document);
        std::vector<WatchPath> paths;
        std::string error;
        EXPECT_FALSE(paths_from_json(document, paths, error)) << c.legend;
        errors += std::string(c.legend) + ": " + error + "\n";
    }
    expect_golden("tool/refused-path-documents", errors);
}

TEST(PathDocuments, ReadBackDifferencesAreReported) {
    auto written = ten_paths();
    written[5].waypoints.clear();
    written[5].name = "Gone";
    const auto stored = paths_as_stored(written);
    EXPECT_EQ(stored[5].name, "Path6") << "the watch's name of a path without waypoints";
    auto read = stored;
    EXPECT_TRUE(path_differences(stored, read).empty());
    read[1].name = "Caf| No l";
    read[2].waypoints[1].attributes[5] ^= 1;
    read[7].waypoints.pop_back();
    expect_golden("tool/path-differences", joined(path_differences(stored, read)));
}

TEST(SettingsDocuments, FieldsByNameAndBackUnchanged) {
    const Bytes record = stridelog::test::settings_record();
    json document;
    std::string error;
    ASSERT_TRUE(settings_to_json(record, document, error)) << error;
    // Every field by name, from the host kit's read of its place in the record.
    expect_golden("tool/settings-document", document.dump(1) + "\n");
    SettingsBlock back{};
    ASSERT_TRUE(settings_from_json(json::parse(document.dump()), back, error)) << error;
    EXPECT_EQ(Bytes(back.begin(), back.end()), record);
    EXPECT_FALSE(settings_to_json(Bytes(95, 0), document, error));
    // A watch never given A-GPS data keeps the erased bytes: no date.
    Bytes erased = record;
    erased[51] = erased[52] = erased[53] = 0xFF;
    ASSERT_TRUE(settings_to_json(erased, document, error)) << error;
    EXPECT_TRUE(document["agps_expiry"].is_null());
}

TEST(SettingsDocuments, MalformedAndDifferent) {
    struct Case {
        const char* legend;
        const char* key;
        json value;  // null: the key is removed
    };
    const Case cases[] = {
        {"a written field missing", "b6", nullptr},
        {"a two-bit field of 4", "f94_or_f12d", 4},
        {"a flag of 2", "f5", 2},
        {"a byte of 256", "b17", 256},
        {"a word as text", "w10", "3c0"},
        {"a shown text too long", "identity", "12050301AB12X"},
    };
    json good;
    std::string error;
    ASSERT_TRUE(settings_to_json(stridelog::test::settings_record(), good, error));
    std::string errors;
    for (const auto& c : cases) {
        json document = good;
        if (c.value.is_null())
            document.erase(c.key);
        else
            document[c.key] = c.value;
        SettingsBlock record{};
        EXPECT_FALSE(settings_from_json(document, record, error)) << c.legend;
        errors += std::string(c.legend) + ": " + error + "\n";
    }
    expect_golden("tool/refused-settings-documents", errors);
    // Read-back: only fields the watch takes count.
    SettingsBlock written{}, read{};
    const Bytes record = stridelog::test::settings_record();
    std::copy(record.begin(), record.end(), written.begin());
    read = written;
    read[54] ^= 0xFF;  // the used space moved: not a write fault
    EXPECT_TRUE(settings_differences(written, read).empty());
    read[8] = 0;
    read[89] = 0;
    expect_golden("tool/settings-differences", joined(settings_differences(written, read)));
}

TEST(ViewsDocuments, RoundTripRefusalsAndDifferences) {
    Bytes record(145, 0);
    for (std::size_t i = 0; i < 45; ++i) record[i] = static_cast<std::uint8_t>(i * 5);
    const std::u16string names[] = {u"Run", u"Heart", u"Laps", u"Altitude", u"Durée"};
    for (std::size_t v = 0; v < 5; ++v)
        for (std::size_t i = 0; i < names[v].size(); ++i) {
            record[45 + 20 * v + 2 * i] = static_cast<std::uint8_t>(names[v][i]);
            record[46 + 20 * v + 2 * i] = static_cast<std::uint8_t>(names[v][i] >> 8);
        }
    json document;
    std::string error;
    ASSERT_TRUE(views_to_json(record, document, error)) << error;
    EXPECT_EQ(document["views"][4]["name"], "Durée");
    EXPECT_EQ(document["views"][1]["record"], "2d32373c41464b5055");
    ViewsBlock back{};
    ASSERT_TRUE(views_from_json(json::parse(document.dump()), back, error)) << error;
    EXPECT_EQ(Bytes(back.begin(), back.end()), record);

    struct Case {
        const char* legend;
        void (*spoil)(json&);
    };
    const Case cases[] = {
        {"four views", [](json& d) { d["views"].erase(0); }},
        {"a short record", [](json& d) { d["views"][2]["record"] = "00"; }},
        {"a long name", [](json& d) { d["views"][3]["name"] = "Altitude 2x"; }},
        {"a name the watch cannot show", [](json& d) { d["views"][3]["name"] = "Höhe™"; }},
    };
    std::string errors;
    for (const auto& c : cases) {
        json spoilt = document;
        c.spoil(spoilt);
        EXPECT_FALSE(views_from_json(spoilt, back, error)) << c.legend;
        errors += std::string(c.legend) + ": " + error + "\n";
    }
    expect_golden("tool/refused-views-documents", errors);
    ViewsBlock written{}, read{};
    std::copy(record.begin(), record.end(), written.begin());
    read = written;
    read[45 + 20 * 4 + 6] = ' ';  // é read back as the watch's space
    expect_golden("tool/views-differences", joined(views_differences(written, read)));
}

}  // namespace
}  // namespace stridelog_tool
