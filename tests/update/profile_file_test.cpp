// Profile files as the update's servers write them: what each read returns,
// including the lines libinih on its own would read differently.
#include "update/profile_file.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::update {
namespace {

using Lines = std::vector<std::string>;

std::string repeat(const std::string& piece, std::size_t times) {
    std::string text;
    while (times-- > 0) text += piece;
    return text;
}

// Profile text as one golden line: line ends, controls and bytes past ASCII escaped.
std::string shown(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c < 0x20 || c > 0x7E ? "\\x%02x" : "%c", c);
        out += c == '\n' ? "\\n" : escaped;
    }
    return out;
}

// Each text, the name asked and the value read are a line of the golden file.
TEST(ProfileFile, Values) {
    const std::string long_value = repeat("0123456789", 30);  // 300 characters
    const struct {
        std::string content;
        std::string key = "k", section = "S";
    } cases[] = {
        {"[Method1]\n0=a.fw2,1\n", "0", "Method1"},
        {"[METHOD1]\nhistory=h.txt\n", "HISTORY", "method1"},  // names in any case
        {"[ S ]\n  k  =  v w  \n"},
        {"[S]\r\nk=v\r\nl=w\r\n", "l"},
        {"[S]\nk=v"},
        {"[S]\nk=a ; b;c\n"},
        {"[S]\n;k=v\n"},
        {"[S]\n#k=v\n", "#k"},
        {"[S]\na=1\n    b=2\n", "b"},
        {"[S]\nnote\nk=v\n"},
        {"[S]\nk:v\n"},
        {"[S]\nk:x=1\n", "k:x"},
        {"[S]\nt=10:00\n", "t"},
        {"[S]\nk=\"a b\"\n"},
        {"[S]\nk='a b'\n"},
        {"[S]\nk=\"a b\n"},
        {"[S]\nk=\"\"\n"},
        {"[S]\nk=\n"},
        {"[S]\nk=1\nK=2\n"},
        {"[S]\nk=1\n[s]\nk=2\nl=3\n", "l"},  // the first section of a name wins
        {"k=v\n[S]\n", "k", ""},
        {"[S]\nk=v\n[T]\n", "k", "T"},
        {"[S]\nk=v\n", "k", "X"},
        {"[S]\n[T\nk=v\n"},
        {"\xEF\xBB\xBF[S]\nk=v\n"},
        {std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xE9\0t\0\xE9\0\r\0\n\0", 26)},  // UTF-16
        {"[S]\nk=" + long_value + "\n"},  // cut at 259 characters
        {"[S]\nk=" + long_value.substr(0, 259) + "\n"},
        {"[S]\nk=" + repeat("\xC3\xA9", 300) + "\n"},                // characters, not bytes
        {"[S]\nk=" + repeat("a", 258) + "\xF0\x9F\x98\x80" + "\n"},  // no pair split
        {"[S]\nz=" + repeat("x", 1000) + "\nk=v\n"},
        {"[" + repeat("n", 80) + "]\nk=v\n", "k", repeat("N", 80)},
    };
    std::string out;
    for (const auto& c : cases)
        out += shown(c.content) + " [" + c.section + "] " + c.key + " -> " +
               shown(ProfileFile::parse(c.content).value(c.section, c.key).value_or("none")) + "\n";
    // libinih's own 200-byte line would read "1=bogus" as a line of its own.
    for (const std::string& content :
         Lines{"[S]\n1=second\n0=first\n2=third\n", "[S]\n0=a\n2=c\n", "[S]\n0=a\n1=\n2=c\n",
               "[S]\n1=b\n", "[S]\n0=a\n01=not one\n", "[S]\n0=a\n[T]\n1=b\n",
               "[S]\n0=first\n9=" + repeat("y", 197) + "1=bogus\n"}) {
        Lines lines{"kept"};
        ProfileFile::parse(content).append_numbered_lines("S", lines);
        out += shown(content) + " numbered:";
        for (const auto& line : lines) out += " | " + line;
        out += "\n";
    }
    test::expect_golden("update/profile_values", out);
}

TEST(ProfileFile, SectionNames) {
    std::string many;
    Lines many_names;
    for (int i = 0; i < 200; ++i) {
        many_names.push_back("1.31." + std::to_string(i));
        many += "[" + many_names.back() + "]\n0=note\n";
    }
    EXPECT_EQ(ProfileFile::parse(many).section_names(), many_names);
    std::string out;
    for (const std::string& content :
         Lines{"[1.31.03]\n0=a\n[1.32.00]\n0=b\n", "[A]\n[B]\nk=v\n[C]\n", "  [ 1.32.00 ]  \n",
               "[" + repeat("L", 120) + "]\n", "[A]\n[B]\n[A]\n", "[A\n;[B]\nx[C]\n[D]\n", ""}) {
        out += shown(content) + " ->";
        for (const auto& name : ProfileFile::parse(content).section_names()) out += " | " + name;
        out += "\n";
    }
    test::expect_golden("update/profile_sections", out);
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
