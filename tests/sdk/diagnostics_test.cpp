// Diagnostic switches and output as they appear on the debugger channel, the
// documents folder lookup, and the text conversions.
#include "sdk/diag/diagnostics.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <string>

#include "platform/registry.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

void SetTempolinkValue(std::string_view name, const RegValue& value) {
    auto key = platform::reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->set(name, value));
}

struct SwitchCase {
    const char* legend;
    std::optional<RegValue> debug_view;
    std::optional<RegValue> debug_view_extra;
    bool log_line_written;
    bool connection_error_written;
};

RegValue Text(const char* t) {
    return RegValue::text(t);
}

const SwitchCase kSwitchCases[] = {
    {"both absent: nothing", std::nullopt, std::nullopt, false, false},
    {"DebugView 1 alone: log lines only", Text("1"), std::nullopt, true, false},
    {"DebugView 1, extra 2: both", Text("1"), Text("2"), true, true},
    {"DebugView 1, extra 1: log lines only", Text("1"), Text("1"), true, false},
    {"extra with bit 2 among others", Text("1"), Text("7"), true, true},
    {"DebugView five digits does not fit: nothing", Text("12345"), Text("2"), false, false},
    {"DebugView four digits fits", Text("1234"), Text("2"), true, true},
    {"extra five digits counts as missing", Text("1"), Text("22222"), true, false},
    {"DebugView 0: nothing even with extra", Text("0"), Text("2"), false, false},
    {"leading blanks and trailing junk are read like _wtol", Text(" 3x"), Text(" 2;"), true, true},
    {"negative numbers are nonzero; -1 has every bit", Text("-1"), Text("-1"), true, true},
    {"text that is no number reads as 0", Text("on"), Text("2"), false, false},
    {"a DWORD switch reads as 0", RegValue::dword(1), Text("2"), false, false},
    {"a DWORD extra reads as 0", Text("1"), RegValue::dword(2), true, false},
};

class SwitchTest : public ::testing::TestWithParam<SwitchCase> {
  protected:
    test::TestEnvironment env_;
};

TEST_P(SwitchTest, OutputFollowsTheSwitches) {
    const SwitchCase& c = GetParam();
    if (c.debug_view) SetTempolinkValue("DebugView", *c.debug_view);
    if (c.debug_view_extra) SetTempolinkValue("DebugViewExtra", *c.debug_view_extra);
    test::DebugCapture capture;

    diag::TraceText("Connecting...");
    diag::DebugPrint("Open COM Error", diag::kDiagClassConnection);

    std::string expected;
    if (c.log_line_written) expected += "Connecting...\r\n";
    if (c.connection_error_written) expected += "Open COM Error";
    EXPECT_EQ(capture.text(), expected) << c.legend;
}

INSTANTIATE_TEST_SUITE_P(Diagnostics, SwitchTest, ::testing::ValuesIn(kSwitchCases));

TEST(Diagnostics, ReadSettingDecodesTheValue) {
    struct Case {
        const char* legend;
        std::optional<RegValue> value;
        long expected;  // default is 42
    };
    const Case cases[] = {
        {"missing: the default", std::nullopt, 42},
        {"four digits", Text("1234"), 1234},
        {"five digits do not fit: the default", Text("12345"), 42},
        {"sign and digits", Text("-12"), -12},
        {"plus sign", Text("+5"), 5},
        {"empty text", Text(""), 0},
        {"tab before the digits", Text("\t9"), 9},
        {"DWORD: 0, not the default", RegValue::dword(7), 0},
        {"binary that fits: 0", RegValue{RegType::binary, std::vector<std::uint8_t>(11, '1')}, 0},
        {"binary too large: the default", RegValue{RegType::binary, std::vector<std::uint8_t>(12)},
         42},
        {"text without terminator filling the buffer",
         RegValue{RegType::sz, {'8', 0, '8', 0, '8', 0, '8', 0, '8', 0}}, 88888},
    };
    for (const auto& c : cases) {
        test::TestEnvironment env;
        if (c.value) SetTempolinkValue("Number", *c.value);
        EXPECT_EQ(diag::ReadSetting("Number", 42), c.expected) << c.legend;
    }
}

TEST(Diagnostics, ReadingASwitchCreatesTheKeyAndPersistsIt) {
    test::TestEnvironment env;
    ASSERT_FALSE(platform::reg_key_exists(RegRoot::current_user, "SOFTWARE\\Tempolink"));
    test::DebugCapture capture;
    diag::TraceText("nothing to see");
    EXPECT_EQ(capture.text(), "");
    platform::reload_current_user();
    EXPECT_TRUE(platform::reg_key_exists(RegRoot::current_user, "software\\tempolink"));
}

TEST(Diagnostics, SwitchIsReadAgainForEveryLine) {
    test::TestEnvironment env;
    test::DebugCapture capture;
    env.set_switch("DebugView", "1");
    diag::TraceText("a");
    env.set_switch("DebugView", "0");
    diag::TraceText("b");
    diag::Trace("%s", "c");
    env.set_switch("DebugView", "2");
    diag::Trace("%s", "d");
    EXPECT_EQ(capture.text(), "a\r\nd\r\n");
}

TEST(Diagnostics, TraceFormatsAndTraceTextDoesNot) {
    struct Case {
        const char* legend;
        void (*write)();
        std::string expected;
    };
    const Case cases[] = {
        {"path line format", [] { diag::Trace("%d , %s (%d wp)", 1, "Home", 12); },
         "1 , Home (12 wp)\r\n"},
        {"percent signs in a finished text are kept", [] { diag::TraceText("100% done %s %n %d"); },
         "100% done %s %n %d\r\n"},
        {"percent in an argument is not reformatted", [] { diag::Trace("%s", "50%s"); },
         "50%s\r\n"},
        {"long lines cut to 498 characters",
         [] { diag::Trace("%s", std::string(600, 'a').c_str()); }, std::string(498, 'a') + "\r\n"},
        {"the cut counts characters, not bytes",
         [] {
             std::string s;
             for (int i = 0; i < 600; ++i) s += "\xC3\xA9";
             diag::Trace("%s", s.c_str());
         },
         [] {
             std::string s;
             for (int i = 0; i < 498; ++i) s += "\xC3\xA9";
             return s + "\r\n";
         }()},
        {"the cut never splits a surrogate pair",
         [] { diag::Trace("%s%s", std::string(497, 'a').c_str(), "\xF0\x9F\x98\x80"); },
         std::string(497, 'a') + "\r\n"},
        {"exactly 498 characters are kept whole",
         [] { diag::Trace("%s", std::string(498, 'b').c_str()); }, std::string(498, 'b') + "\r\n"},
        {"TraceText is not cut", [] { diag::TraceText(std::string(600, 'c')); },
         std::string(600, 'c') + "\r\n"},
    };
    for (const auto& c : cases) {
        test::TestEnvironment env;
        env.set_switch("DebugView", "1");
        test::DebugCapture capture;
        c.write();
        EXPECT_EQ(capture.text(), c.expected) << c.legend;
    }
}

TEST(Diagnostics, DebugPrintAppendsNothing) {
    test::TestEnvironment env;
    env.set_switch("DebugView", "1");
    env.set_switch("DebugViewExtra", "2");
    test::DebugCapture capture;
    diag::DebugPrint("GetCOMPort error = 0", diag::kDiagClassConnection);
    diag::DebugPrint("other class", 4);
    EXPECT_EQ(capture.pieces(), std::vector<std::string>{"GetCOMPort error = 0"});
}

TEST(Diagnostics, TextConversion) {
    struct Case {
        const char* legend;
        std::u16string wide;
        std::string narrow;
    };
    const Case round_trips[] = {
        {"ASCII", u"COM3", "COM3"},
        {"Latin letters", u"Fu\u00DFweg \u00E9t\u00E9", "Fu\xC3\x9Fweg \xC3\xA9t\xC3\xA9"},
        {"three-byte characters", u"\u65E5\u672C", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"empty", u"", ""},
    };
    for (const auto& c : round_trips) {
        EXPECT_EQ(diag::ToAnsi(c.wide.c_str()), c.narrow) << c.legend;
        EXPECT_EQ(diag::ToWide(c.narrow.c_str()), c.wide) << c.legend;
    }
    EXPECT_EQ(diag::ToAnsi(nullptr), "");
    EXPECT_EQ(diag::ToWide(nullptr), u"");

    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(diag::ToAnsi(lone), "a?b?") << "lone surrogates become '?'";

    const Case malformed[] = {
        {"stray continuation byte", u"a\uFFFDb",
         "a\x80"
         "b"},
        {"overlong slash: two bad bytes", u"\uFFFD\uFFFD", "\xC0\xAF"},
        {"truncated sequence at the end: one replacement", u"x\uFFFD", "x\xE2\x82"},
        {"encoded surrogate: three bad bytes", u"\uFFFD\uFFFD\uFFFD", "\xED\xA0\x80"},
        {"above U+10FFFF", u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xF4\x90\x80\x80"},
        {"truncated then valid", u"\uFFFDA",
         "\xF0\x9F\x98"
         "A"},
    };
    for (const auto& c : malformed) EXPECT_EQ(diag::ToWide(c.narrow.c_str()), c.wide) << c.legend;
}

TEST(Diagnostics, PersonalFolder) {
    const std::string shell_folders =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    {
        test::TestEnvironment env;
        auto key = platform::reg_create(RegRoot::current_user, shell_folders);
        ASSERT_TRUE(key);
        key->set("Personal", RegValue::text("/data/Docs \xC3\xA9"));
        EXPECT_EQ(diag::GetPersonalFolder(), "/data/Docs \xC3\xA9") << "registry value first";
        key->set("Personal", RegValue::text(std::string(260, 'd')));
        EXPECT_EQ(diag::GetPersonalFolder(), env.documents_dir().string())
            << "a value beyond 520 bytes is unreadable: fall back";
        key->set("Personal", RegValue::text(std::string(259, 'd')));
        EXPECT_EQ(diag::GetPersonalFolder(), std::string(259, 'd')) << "518 bytes fit";
    }
    {
        test::TestEnvironment env;
        EXPECT_EQ(diag::GetPersonalFolder(), env.documents_dir().string())
            << "XDG_DOCUMENTS_DIR when the value is absent";
        EXPECT_TRUE(platform::reg_key_exists(RegRoot::current_user, shell_folders))
            << "the key is created by reading";
    }
    {
        test::TestEnvironment env;
        env.set_env("XDG_DOCUMENTS_DIR", std::nullopt);
        env.set_env("HOME", "/home/someone");
        const auto bin = env.root() / "bin";
        env.set_env("PATH", bin.string());
        EXPECT_EQ(diag::GetPersonalFolder(), "/home/someone/Documents")
            << "no xdg-user-dir on PATH: HOME/Documents";

        const auto script = env.write_file(
            "bin/xdg-user-dir", "#!/bin/sh\n[ \"$1\" = DOCUMENTS ] && echo /srv/mydocs\n");
        ::chmod(script.c_str(), 0755);
        EXPECT_EQ(diag::GetPersonalFolder(), "/srv/mydocs") << "xdg-user-dir output";

        env.write_file("bin/xdg-user-dir", "#!/bin/sh\nexit 1\n");
        EXPECT_EQ(diag::GetPersonalFolder(), "/home/someone/Documents")
            << "a failing xdg-user-dir is ignored";
    }
}

}  // namespace
}  // namespace stridelog
