// Diagnostic switches and output as they appear on the debugger channel, the
// documents folder lookup, and the text conversions.
#include "diag/diagnostics.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "platform/registry.hpp"
#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

void set_tempolink_value(std::string_view name, const RegValue& value) {
    auto key = platform::reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->set(name, value));
}

RegValue text(const char* t) {
    return RegValue::text(t);
}

std::string repeat(const std::string& piece, int times) {
    std::string out;
    while (times-- > 0) out += piece;
    return out;
}

// How ReadSetting decodes a number is covered below; these rows are about which
// switch gates which output.
TEST(Diagnostics, OutputFollowsTheSwitches) {
    struct Case {
        const char* legend;
        const char* debug_view;  // null: absent
        const char* debug_view_extra;
    };
    const Case cases[] = {
        {"both absent: nothing", nullptr, nullptr},
        {"DebugView 1 alone: log lines only", "1", nullptr},
        {"DebugView 1, extra 2: both", "1", "2"},
        {"DebugView 1, extra 1: log lines only", "1", "1"},
        {"DebugView five digits does not fit: nothing", "12345", "2"},
        {"DebugView 0: nothing even with extra", "0", "2"},
        {"-1 is nonzero and has every bit, bit 2 among them", "-1", "-1"},
    };
    std::string text;
    for (const auto& c : cases) {
        test::TestEnvironment env;
        if (c.debug_view) env.set_switch("DebugView", c.debug_view);
        if (c.debug_view_extra) env.set_switch("DebugViewExtra", c.debug_view_extra);
        test::DebugCapture capture;
        diag::TraceText("Connecting...");
        diag::DebugPrint("Open COM Error", diag::kDiagClassConnection);
        text += std::string("== ") + c.legend + "\n";
        for (const auto& piece : capture.pieces())
            text += "[" + piece.substr(0, piece.find("\r\n")) +
                    (piece.find("\r\n") != std::string::npos ? "] CR LF\n" : "]\n");
        platform::reload_current_user();
        EXPECT_TRUE(platform::reg_key_exists(RegRoot::current_user, "SOFTWARE\\Tempolink"))
            << c.legend << ": reading a switch creates its key, and it is saved";
    }
    test::expect_golden("sdk/diagnostic_switches", text);
}

// The registry's notes (here a device-map line it skips) are diagnostic lines
// like the others, and a note is written once however many opens raise it.
TEST(Diagnostics, RegistryNotesFollowTheSwitchOncePerProcess) {
    struct Case {
        const char* legend;
        const char* debug_view_before;  // null: absent
        const char* debug_view_after;   // set between two rounds of opens; null: unchanged
        bool written;
    };
    const Case cases[] = {
        {"switch absent: nothing", nullptr, nullptr, false},
        {"switch 0: nothing", "0", nullptr, false},
        {"switch on: one line for six opens and lookups", "1", nullptr, true},
        {"switched on after the note was raised: not raised again", "0", "1", false},
        {"switched off after the line was written: still one line", "1", "0", true},
    };
    const auto open_device_map = [] {
        for (int i = 0; i < 3; ++i) {
            platform::reg_open(RegRoot::local_machine, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
            platform::serial_port_device_path("COM1");
        }
    };
    for (const auto& c : cases) {
        test::TestEnvironment env;
        if (c.debug_view_before) env.set_switch("DebugView", c.debug_view_before);
        const auto map = env.set_device_map("\\Device\\A COM0 /dev/a\n");
        test::DebugCapture capture;
        open_device_map();
        if (c.debug_view_after) env.set_switch("DebugView", c.debug_view_after);
        open_device_map();
        std::vector<std::string> expected;
        if (c.written)
            expected.push_back("registry: device map " + map.string() +
                               ":1: port name \"COM0\" is not COM<n>; line skipped\r\n");
        EXPECT_EQ(capture.pieces(), expected) << c.legend;
    }
}

TEST(Diagnostics, ANoteRaisedWhileReadingTheSwitchDoesNotReenter) {
    test::TestEnvironment env;
    env.write_file("config/stridelog/registry", "{ not json");
    platform::reload_current_user();
    test::DebugCapture capture;
    // Reading DebugView loads the unreadable file, whose note is written
    // through the switch being read: it must come back, with nothing written
    // (the tree starts empty, so the switch is off).
    diag::TraceText("line");
    EXPECT_TRUE(capture.pieces().empty()) << capture.text();
    env.set_switch("DebugView", "1");
    diag::TraceText("line");
    EXPECT_EQ(capture.pieces(), std::vector<std::string>{"line\r\n"})
        << "the note was raised once, while the switch was off";
}

TEST(Diagnostics, ReadSettingDecodesTheValue) {
    struct Case {
        const char* legend;
        std::optional<RegValue> value;
        long expected;  // default is 42
    };
    const Case cases[] = {
        {"missing: the default", std::nullopt, 42},
        {"four digits", text("1234"), 1234},
        {"five digits do not fit: the default", text("12345"), 42},
        {"read like _wtol: blanks, a sign, digits, junk", text("\t-9x"), -9},
        {"empty text", text(""), 0},
        {"DWORD: 0, not the default", RegValue::dword(7), 0},
        {"binary that fits: 0", RegValue{RegType::binary, std::vector<std::uint8_t>(11, '1')}, 0},
        {"binary too large: the default", RegValue{RegType::binary, std::vector<std::uint8_t>(12)},
         42},
        {"text without terminator filling the buffer",
         RegValue{RegType::sz, {'8', 0, '8', 0, '8', 0, '8', 0, '8', 0}}, 88888},
    };
    for (const auto& c : cases) {
        test::TestEnvironment env;
        if (c.value) set_tempolink_value("Number", *c.value);
        EXPECT_EQ(diag::ReadSetting("Number", 42), c.expected) << c.legend;
    }
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
        {"percent signs in a finished text are kept", [] { diag::TraceText("100% done %s %n %d"); },
         "100% done %s %n %d\r\n"},
        {"long lines cut to 498 characters",
         [] { diag::Trace("%s", std::string(600, 'a').c_str()); }, std::string(498, 'a') + "\r\n"},
        {"the cut counts characters, not bytes",
         [] { diag::Trace("%s", repeat("\xC3\xA9", 600).c_str()); },
         repeat("\xC3\xA9", 498) + "\r\n"},
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

// UTF-16 to UTF-8 and back, with what replaces what cannot be converted (a
// lone surrogate becomes '?', each bad UTF-8 sequence U+FFFD): the golden file
// shows each input and its conversion, bytes as \xNN and units as U+XXXX.
TEST(Diagnostics, TextConversion) {
    const auto units = [](std::u16string_view w) {
        std::string out;
        char unit[8];
        for (char16_t c : w)
            out.append(unit, std::snprintf(unit, sizeof unit, " U+%04X", unsigned{c}));
        return out;
    };
    const auto bytes = [](std::string_view n) {
        const std::string hex =
            test::bytes_text(std::span(reinterpret_cast<const std::uint8_t*>(n.data()), n.size()));
        return hex.empty() ? hex : " " + hex;
    };
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    const std::u16string wide[] = {
        u"COM3", u"Fu\u00DFweg \u00E9t\u00E9", u"\u65E5\u672C", u"\U0001F600", u"", lone};
    const std::string narrow[] = {
        "COM3",
        "Fu\xC3\x9Fweg \xC3\xA9t\xC3\xA9",
        "\xE6\x97\xA5\xE6\x9C\xAC",
        "\xF0\x9F\x98\x80",
        "",
        "a\x80"
        "b",                 // a stray continuation byte
        "\xC0\xAF",          // an overlong slash
        "x\xE2\x82",         // a sequence cut short at the end
        "\xED\xA0\x80",      // an encoded surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xF0\x9F\x98"
        "A",  // cut short, then valid
    };
    std::string text;
    for (const auto& w : wide) {
        const std::string n = diag::ToAnsi(w.c_str());
        text += "ToAnsi" + units(w) + " ->" + bytes(n) + "\n";
    }
    for (const auto& n : narrow) {
        const std::u16string w = diag::ToWide(n.c_str());
        text += "ToWide" + bytes(n) + " ->" + units(w) + "\n";
    }
    test::expect_golden("sdk/text_conversion", text);
    EXPECT_EQ(diag::ToAnsi(nullptr), "");
    EXPECT_EQ(diag::ToWide(nullptr), u"");
}

// The registry's value first (518 bytes fit, beyond 520 it is unreadable),
// then XDG_DOCUMENTS_DIR, then xdg-user-dir's answer, then HOME/Documents.
TEST(Diagnostics, PersonalFolder) {
    struct Case {
        const char* legend;
        std::optional<std::string> value;    // Personal under Shell Folders
        const char* xdg_user_dir = nullptr;  // the script's body; null: XDG_DOCUMENTS_DIR kept
        std::string expected = "";           // empty: the documents folder of the environment
    };
    const Case cases[] = {
        {"registry value", "/data/Docs \xC3\xA9", nullptr, "/data/Docs \xC3\xA9"},
        {"259 characters fit", std::string(259, 'd'), nullptr, std::string(259, 'd')},
        {"260 do not", std::string(260, 'd')},
        {"no value: XDG_DOCUMENTS_DIR", std::nullopt},
        {"no xdg-user-dir on PATH", std::nullopt, "", "/home/someone/Documents"},
        {"xdg-user-dir answers", std::nullopt, "[ \"$1\" = DOCUMENTS ] && echo /srv/mydocs\n",
         "/srv/mydocs"},
        {"a failing xdg-user-dir is ignored", std::nullopt, "exit 1\n", "/home/someone/Documents"},
    };
    for (const auto& c : cases) {
        test::TestEnvironment env;
        if (c.value)
            platform::reg_create(
                RegRoot::current_user,
                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
                ->set("Personal", RegValue::text(*c.value));
        if (c.xdg_user_dir) {
            env.set_env("XDG_DOCUMENTS_DIR", std::nullopt);
            env.set_env("HOME", "/home/someone");
            env.set_env("PATH", (env.root() / "bin").string());
            if (*c.xdg_user_dir)
                ::chmod(
                    env.write_file("bin/xdg-user-dir", std::string("#!/bin/sh\n") + c.xdg_user_dir)
                        .c_str(),
                    0755);
        }
        EXPECT_EQ(diag::GetPersonalFolder(),
                  c.expected.empty() ? env.documents_dir().string() : c.expected)
            << c.legend;
    }
}

}  // namespace
}  // namespace stridelog
