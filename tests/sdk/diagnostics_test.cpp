// Diagnostic switches and output as they appear on the debugger channel, the
// documents folder lookup, and the text conversions.
#include "diag/diagnostics.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/registry.hpp"
#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using platform::RegRoot;
using platform::RegType;
using platform::RegValue;

std::string repeat(const std::string& piece, int times) {
    std::string out;
    while (times-- > 0) out += piece;
    return out;
}

using Steps = std::function<void(test::TestEnvironment&)>;

// Sets the two switches (null: absent), then writes a log line and an extra one.
Steps switches(const char* view, const char* extra) {
    return [=](test::TestEnvironment& env) {
        if (view) env.set_switch("DebugView", view);
        if (extra) env.set_switch("DebugViewExtra", extra);
        diag::TraceText("Connecting...");
        diag::DebugPrint("Open COM Error", diag::kDiagClassConnection);
    };
}

// Six opens and lookups that raise the registry's note about a device-map line
// it skips, with DebugView set before them and, if given, changed between two
// rounds of three.
Steps device_map_notes(const char* before, const char* after) {
    return [=](test::TestEnvironment& env) {
        if (before) env.set_switch("DebugView", before);
        env.set_device_map("\\Device\\A COM0 /dev/a\n");
        for (int i = 0; i < 6; ++i) {
            if (i == 3 && after) env.set_switch("DebugView", after);
            platform::reg_open(RegRoot::local_machine, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
            platform::serial_port_device_path("COM1");
        }
    };
}

// Each row's diagnostic output, one piece a line ("CR LF" for its line end),
// under a heading; the temporary folder shows as <root>. Which switch gates which
// output, that the switch is read again for every line, how Trace formats and
// cuts (498 characters, never half a surrogate pair) while TraceText neither
// formats nor cuts, and that a note is written once however many opens raise
// it, even a note raised while the switch itself is being read.
TEST(Diagnostics, WhatTheSwitchesLetThrough) {
    const auto traced = [](std::function<void()> write) {
        return [write](test::TestEnvironment& env) {
            env.set_switch("DebugView", "1");
            write();
        };
    };
    const std::pair<const char*, Steps> cases[] = {
        {"both absent: nothing", switches(nullptr, nullptr)},
        {"DebugView 1 alone: log lines only", switches("1", nullptr)},
        {"DebugView 1, extra 2: both", switches("1", "2")},
        {"DebugView 1, extra 1: log lines only", switches("1", "1")},
        {"DebugView five digits does not fit: nothing", switches("12345", "2")},
        {"DebugView 0: nothing even with extra", switches("0", "2")},
        {"-1 is nonzero and has every bit, bit 2 among them", switches("-1", "-1")},
        {"the switch is read again for every line: a and d",
         [](test::TestEnvironment& env) {
             env.set_switch("DebugView", "1");
             diag::TraceText("a");
             env.set_switch("DebugView", "0");
             diag::TraceText("b");
             diag::Trace("%s", "c");
             env.set_switch("DebugView", "2");
             diag::Trace("%s", "d");
         }},
        {"percent signs in a finished text are kept",
         traced([] { diag::TraceText("100% done %s %n %d"); })},
        {"long lines cut to 498 characters",
         traced([] { diag::Trace("%s", std::string(600, 'a').c_str()); })},
        {"the cut counts characters, not bytes",
         traced([] { diag::Trace("%s", repeat("\xC3\xA9", 600).c_str()); })},
        {"the cut never splits a surrogate pair",
         traced([] { diag::Trace("%s%s", std::string(497, 'a').c_str(), "\xF0\x9F\x98\x80"); })},
        {"exactly 498 characters are kept whole",
         traced([] { diag::Trace("%s", std::string(498, 'b').c_str()); })},
        {"TraceText is not cut", traced([] { diag::TraceText(std::string(600, 'c')); })},
        {"device map, switch absent: nothing", device_map_notes(nullptr, nullptr)},
        {"device map, switch 0: nothing", device_map_notes("0", nullptr)},
        {"device map, switch on: one line for six opens", device_map_notes("1", nullptr)},
        {"switched on after the note was raised: not raised again", device_map_notes("0", "1")},
        {"switched off after the line was written: still one line", device_map_notes("1", "0")},
        {"a note raised while reading the switch: nothing while off, then only the line",
         [](test::TestEnvironment& env) {
             env.write_file("config/stridelog/registry", "{ not json");
             platform::reload_current_user();
             diag::TraceText("line");
             env.set_switch("DebugView", "1");
             diag::TraceText("line");
         }},
    };
    std::string text;
    for (const auto& [legend, steps] : cases) {
        test::TestEnvironment env;
        test::DebugCapture capture;
        steps(env);
        text += std::string("== ") + legend + "\n";
        for (std::string piece : capture.pieces()) {
            const bool crlf = piece.ends_with("\r\n");
            if (crlf) piece.resize(piece.size() - 2);
            for (auto at = piece.find(env.root().string()); at != std::string::npos;
                 at = piece.find(env.root().string()))
                piece.replace(at, env.root().string().size(), "<root>");
            text += "[" + piece + (crlf ? "] CR LF\n" : "]\n");
        }
        platform::reload_current_user();
        EXPECT_TRUE(platform::reg_key_exists(RegRoot::current_user, "SOFTWARE\\Tempolink"))
            << legend << ": reading a switch creates its key, and it is saved";
    }
    test::expect_golden("sdk/diagnostic_switches", text);
}

// The golden file holds what each stored value reads as (42 is the default).
TEST(Diagnostics, ReadSettingDecodesTheValue) {
    const std::pair<const char*, std::optional<RegValue>> cases[] = {
        {"missing: the default", std::nullopt},
        {"four digits", RegValue::text("1234")},
        {"five digits do not fit: the default", RegValue::text("12345")},
        {"read like _wtol: blanks, a sign, digits, junk", RegValue::text("\t-9x")},
        {"empty text: 0", RegValue::text("")},
        {"DWORD: 0, not the default", RegValue::dword(7)},
        {"binary that fits: 0", RegValue{RegType::binary, std::vector<std::uint8_t>(11, '1')}},
        {"binary too large: the default", RegValue{RegType::binary, std::vector<std::uint8_t>(12)}},
        {"text without terminator filling the buffer",
         RegValue{RegType::sz, {'8', 0, '8', 0, '8', 0, '8', 0, '8', 0}}},
    };
    std::string text;
    for (const auto& [legend, value] : cases) {
        test::TestEnvironment env;
        if (value)
            platform::reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink")
                ->set("Number", *value);
        text += std::string(legend) + ": " + std::to_string(diag::ReadSetting("Number", 42)) + "\n";
    }
    test::expect_golden("sdk/read_setting", text);
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
