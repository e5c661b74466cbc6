// Profile files as the update's servers write them: what each read returns,
// including the lines libinih on its own would read differently.
#include "update/profile_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_environment.hpp"

namespace stridelog::update {
namespace {

using Lines = std::vector<std::string>;

std::string repeat(const std::string& piece, std::size_t times) {
    std::string text;
    while (times-- > 0) text += piece;
    return text;
}

std::string utf16le_with_mark(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

TEST(ProfileFile, Values) {
    const std::string long_value = repeat("0123456789", 30);  // 300 characters
    const struct {
        const char* legend;
        std::string content;
        std::string section, key;
        std::optional<std::string> expected;
    } cases[] = {
        {"plain", "[Method1]\n0=a.fw2,1\n", "Method1", "0", "a.fw2,1"},
        {"names match in any case", "[METHOD1]\nhistory=h.txt\n", "method1", "HISTORY", "h.txt"},
        {"blanks around name and value", "[ S ]\n  k  =  v w  \n", "S", "k", "v w"},
        {"CR LF lines", "[S]\r\nk=v\r\nl=w\r\n", "S", "l", "w"},
        {"no newline at the end", "[S]\nk=v", "S", "k", "v"},
        {"';' inside a value is kept", "[S]\nk=a ; b;c\n", "S", "k", "a ; b;c"},
        {"';' starts a comment line", "[S]\n;k=v\n", "S", "k", std::nullopt},
        {"'#' starts a key", "[S]\n#k=v\n", "S", "#k", "v"},
        {"an indented line is a key of its own", "[S]\na=1\n    b=2\n", "S", "b", "2"},
        {"a line without '=' is skipped", "[S]\nnote\nk=v\n", "S", "k", "v"},
        {"':' does not separate", "[S]\nk:v\n", "S", "k", std::nullopt},
        {"':' belongs to the key", "[S]\nk:x=1\n", "S", "k:x", "1"},
        {"':' in a value", "[S]\nt=10:00\n", "S", "t", "10:00"},
        {"double quotes removed", "[S]\nk=\"a b\"\n", "S", "k", "a b"},
        {"single quotes removed", "[S]\nk='a b'\n", "S", "k", "a b"},
        {"unmatched quote kept", "[S]\nk=\"a b\n", "S", "k", "\"a b"},
        {"empty quotes are empty", "[S]\nk=\"\"\n", "S", "k", std::nullopt},
        {"empty value is missing", "[S]\nk=\n", "S", "k", std::nullopt},
        {"first key of a name wins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
        {"first section of a name wins", "[S]\nk=1\n[s]\nk=2\nl=3\n", "S", "l", std::nullopt},
        {"keys before any section belong to none", "k=v\n[S]\n", "", "k", std::nullopt},
        {"other section", "[S]\nk=v\n[T]\n", "T", "k", std::nullopt},
        {"missing section", "[S]\nk=v\n", "X", "k", std::nullopt},
        {"broken header keeps the section", "[S]\n[T\nk=v\n", "S", "k", "v"},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
        {"UTF-16 file", utf16le_with_mark(u"[S]\r\nk=\u00e9t\u00e9\r\n"), "S", "k",
         "\xC3\xA9t\xC3\xA9"},
        {"value cut at 259 characters", "[S]\nk=" + long_value + "\n", "S", "k",
         long_value.substr(0, 259)},
        {"259 characters fit", "[S]\nk=" + long_value.substr(0, 259) + "\n", "S", "k",
         long_value.substr(0, 259)},
        {"cut counts characters, not bytes", "[S]\nk=" + repeat("\xC3\xA9", 300) + "\n", "S", "k",
         repeat("\xC3\xA9", 259)},
        {"cut never splits a character pair",
         "[S]\nk=" + repeat("a", 258) + "\xF0\x9F\x98\x80" + "\n", "S", "k", repeat("a", 258)},
        {"value after a 1000-byte line", "[S]\nz=" + repeat("x", 1000) + "\nk=v\n", "S", "k", "v"},
        {"key after a long section name", "[" + repeat("n", 80) + "]\nk=v\n", repeat("N", 80), "k",
         "v"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfileFile::parse(c.content).value(c.section, c.key), c.expected) << c.legend;
}

TEST(ProfileFile, NumberedLines) {
    const struct {
        const char* legend;
        std::string content;
        Lines expected;
    } cases[] = {
        {"in key order, not file order",
         "[S]\n1=second\n0=first\n2=third\n",
         {"- first", "- second", "- third"}},
        {"stops at a gap", "[S]\n0=a\n2=c\n", {"- a"}},
        {"stops at an empty value", "[S]\n0=a\n1=\n2=c\n", {"- a"}},
        {"none without key 0", "[S]\n1=b\n", {}},
        {"keys are decimal names", "[S]\n0=a\n01=not one\n", {"- a"}},
        {"other sections not read", "[S]\n0=a\n[T]\n1=b\n", {"- a"}},
        // libinih's own 200-byte line would read "1=bogus" as a line of its own.
        {"a long line's tail is no key",
         "[S]\n0=first\n9=" + repeat("y", 197) + "1=bogus\n",
         {"- first"}},
    };
    for (const auto& c : cases) {
        Lines lines{"kept"};
        ProfileFile::parse(c.content).append_numbered_lines("S", lines);
        Lines expected{"kept"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(lines, expected) << c.legend;
    }
}

TEST(ProfileFile, SectionNames) {
    std::string many;
    Lines many_names;
    for (int i = 0; i < 200; ++i) {
        many_names.push_back("1.31." + std::to_string(i));
        many += "[" + many_names.back() + "]\n0=note\n";
    }
    const struct {
        const char* legend;
        std::string content;
        Lines expected;
    } cases[] = {
        {"file order", "[1.31.03]\n0=a\n[1.32.00]\n0=b\n", {"1.31.03", "1.32.00"}},
        {"empty sections too", "[A]\n[B]\nk=v\n[C]\n", {"A", "B", "C"}},
        {"blanks around the name dropped", "  [ 1.32.00 ]  \n", {"1.32.00"}},
        {"long names whole", "[" + repeat("L", 120) + "]\n", {repeat("L", 120)}},
        {"a repeated name listed each time", "[A]\n[B]\n[A]\n", {"A", "B", "A"}},
        {"broken headers and comments are no sections", "[A\n;[B]\nx[C]\n[D]\n", {"D"}},
        {"two hundred sections", many, many_names},
        {"nothing", "", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfileFile::parse(c.content).section_names(), c.expected) << c.legend;
}

TEST(ProfileFileReaders, OnDisk) {
    test::TestEnvironment env;
    const auto description = env.write_file("73521_VUNA0_00.txt",
                                            "[Method1]\n0=1.32.01_VUNA0_00.fw2,151808\nHistory=\n");
    const auto history = env.write_file("history.txt", "[1.31.03]\n0=a\n1=b\n[1.32.00]\n0=c\n");
    const auto missing = env.root() / "absent.txt";

    std::string value = "stale";
    EXPECT_EQ(read_profile_string(description, "Method1", "0", value), 0);
    EXPECT_EQ(value, "1.32.01_VUNA0_00.fw2,151808");
    EXPECT_EQ(read_profile_string(description, "Method1", "History", value), -1) << "empty value";
    EXPECT_EQ(value, "");
    value = "stale";
    EXPECT_EQ(read_profile_string(missing, "Method1", "0", value), -1) << "missing file";
    EXPECT_EQ(value, "");

    Lines lines{"first"};
    read_numbered_lines(history, "1.31.03", lines);
    read_numbered_lines(missing, "1.31.03", lines);
    EXPECT_EQ(lines, (Lines{"first", "- a", "- b"}));

    Lines names{"stale"};
    EXPECT_EQ(read_section_names(history, names), 1);
    EXPECT_EQ(names, (Lines{"1.31.03", "1.32.00"}));
    EXPECT_EQ(read_section_names(missing, names), 1);
    EXPECT_TRUE(names.empty());

    EXPECT_TRUE(file_exists(history));
    EXPECT_TRUE(file_exists(env.root())) << "a folder";
    EXPECT_FALSE(file_exists(missing));
    EXPECT_FALSE(file_exists({}));
}

}  // namespace
}  // namespace stridelog::update
