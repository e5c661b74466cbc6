// The registry stand-in: the persisted current-user tree and the synthesised
// serial device map.
#include "platform/registry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "tests/support/golden.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Value name and port name of each device map entry, in enumeration order.
using MapRow = std::pair<std::string, std::string>;

std::vector<MapRow> serial_comm_values() {
    std::vector<MapRow> rows;
    auto key = reg_open(RegRoot::local_machine, kSerialComm);
    if (!key) return rows;
    std::string name;
    RegValue value;
    for (std::size_t i = 0; key->enum_value(i, name, value); ++i)
        rows.push_back({name, value.type == RegType::sz ? value.as_text() : "?"});
    return rows;
}

// The device map's entries in enumeration order, then the device behind each of `ports`.
std::string device_map_text(std::initializer_list<const char*> ports) {
    std::string text;
    for (const auto& [name, port] : serial_comm_values()) text += name + " " + port + "\n";
    for (const char* port : ports)
        text += std::string(port) + " -> " + serial_port_device_path(port).value_or("none") + "\n";
    return text;
}

// Collects the registry's notes while alive; the sink it replaced comes back after.
struct NoteCapture {
    NoteCapture()
        : previous(set_registry_note_sink([this](std::string_view note) {
              std::lock_guard lock(mutex);
              all.emplace_back(note);
          })) {}
    ~NoteCapture() { set_registry_note_sink(std::move(previous)); }
    std::vector<std::string> notes() const {
        std::lock_guard lock(mutex);
        return all;
    }
    // One note per piece, in order, each a line of its own from the registry.
    void expect(const std::vector<std::string>& pieces, const std::string& legend) const {
        const auto got = notes();
        ASSERT_EQ(got.size(), pieces.size()) << legend << "\n" << testing::PrintToString(got);
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NE(got[i].find(pieces[i]), std::string::npos) << legend << ": " << got[i];
            EXPECT_EQ(got[i].rfind("registry: ", 0), 0u) << legend << ": " << got[i];
            EXPECT_NE(got[i].back(), '\n') << legend << ": the sink adds its own line end";
        }
    }

    mutable std::mutex mutex;
    std::vector<std::string> all;
    RegistryNoteSink previous;
};

TEST(Registry, CurrentUserTreeSurvivesAReload) {
    test::TestEnvironment env;
    EXPECT_FALSE(reg_open(RegRoot::current_user, "SOFTWARE\\Tempolink"));
    EXPECT_FALSE(fs::exists(env.registry_file())) << "opening never creates";
    const std::vector<std::pair<std::string, RegValue>> values = {
        {"DebugView", RegValue::text("1")},
        {"Name", RegValue::text("Stra\xC3\x9F"
                                "e \xF0\x9F\x98\x80")},
        {"Count", RegValue::dword(0xDEADBEEF)},
        {"Raw", RegValue{RegType::binary, {0, 1, 2, 0xFF}}},
        {"Unterminated", RegValue{RegType::sz, {'A', 0, 'B'}}},
        {"Empty", RegValue{RegType::binary, {}}},
    };
    auto held = reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink\\Nested");
    ASSERT_TRUE(held);
    for (const auto& [name, value] : values) ASSERT_TRUE(held->set(name, value));
    for (const auto& entry : fs::directory_iterator(env.registry_file().parent_path()))
        EXPECT_EQ(entry.path(), env.registry_file()) << "no temporary file left behind";

    reload_current_user();
    auto key = reg_open(RegRoot::current_user, "software\\TEMPOLINK\\nested\\");
    ASSERT_TRUE(key) << "paths compare without regard to case";
    std::string name;
    RegValue value;
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_TRUE(key->enum_value(i, name, value));
        EXPECT_EQ(name, values[i].first) << "order of first setting is kept";
        EXPECT_EQ(value.type, values[i].second.type) << name;
        EXPECT_EQ(value.data, values[i].second.data) << name;
    }
    EXPECT_FALSE(key->enum_value(values.size(), name, value));
    ASSERT_TRUE(held->query("debugview", value)) << "a handle outlives a reload";
    EXPECT_EQ(value.as_text(), "1");

    auto parent = reg_open(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(parent);
    EXPECT_TRUE(parent->enum_subkey(0, name));
    EXPECT_EQ(name, "Nested");
    EXPECT_FALSE(parent->enum_subkey(1, name));
}

TEST(Registry, AnUnreadableOrUnwritableUserFileIsNotedOnce) {
    test::TestEnvironment env;
    NoteCapture capture;
    env.write_file("config/stridelog/registry", "{ not json");
    reload_current_user();
    EXPECT_FALSE(reg_key_exists(RegRoot::current_user, "SOFTWARE"));
    std::ifstream kept(env.registry_file().string() + ".corrupt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "{ not json");
    ASSERT_TRUE(reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink"));
    reload_current_user();
    EXPECT_TRUE(reg_key_exists(RegRoot::current_user, "SOFTWARE\\Tempolink"));

    fs::remove_all(env.registry_file().parent_path());
    env.write_file("config/stridelog", "a file where the folder should be");
    auto key = reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(key);
    for (const char* value : {"1", "2", "3"})
        EXPECT_TRUE(key->set("DebugView", RegValue::text(value)));
    RegValue kept_value;
    ASSERT_TRUE(key->query("DebugView", kept_value));
    EXPECT_EQ(kept_value.as_text(), "3") << "the change is kept in memory";
    capture.expect({"unreadable", "cannot write"}, "one note each");
}

// Each file is read from three threads at once; its notes come once. Which
// malformed lines are skipped is cable_identity_test's.
TEST(Registry, DeviceMapFileLines) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"comments, blank lines, tabs and CRLF; a # inside a field is part of it",
         "# the watch cable\n\n\t\\Device\\USB#VID_04FC&PID_0201#0\tCOM5  /dev/ttyUSB0 # on the "
         "hub\r\n   \n"},
        {"each malformed line is skipped with a note",
         "\\Device\\A COM0 /dev/a\n\\Device\\I COM12 /dev/i\nC\n"},
        {"file order is kept; a repeated value name replaces the earlier data in place",
         "\\Device\\B COM2 /dev/b\n\\Device\\A COM1 /dev/a\n\\device\\b COM9 /dev/b9\n"},
        {"binary garbage does not crash", std::string("\x00\xFF\xFE COM3\n\x01", 10)},
        {"a missing file", std::nullopt},  // nullopt: the named file does not exist
    };
    std::string text;
    for (const auto& [legend, content] : cases) {
        test::TestEnvironment env;
        if (content)
            env.set_device_map(*content);
        else
            env.set_env("STRIDELOG_DEVICE_MAP", (env.root() / "absent").string());
        NoteCapture capture;
        std::string seen[3];
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&seen, t] { seen[t] = device_map_text({}); });
        for (auto& thread : threads) thread.join();
        serial_port_device_path("COM1");
        EXPECT_TRUE(seen[0] == seen[1] && seen[1] == seen[2]) << legend;
        text += std::string("== ") + legend + "\n" + seen[0];
        const std::string root = env.root().string();
        for (std::string note : capture.notes()) {
            if (const auto at = note.find(root); at != std::string::npos)
                note.replace(at, root.size(), "<root>");
            text += note + "\n";
        }
    }
    test::expect_golden("platform/device_map_files", text);
}

TEST(Registry, InjectionFileOrderAndPortLookup) {
    test::TestEnvironment env;
    env.set_device_map("\\Device\\Silabser0 COM7 /dev/ttyUSB7\n\\Device\\Shared COM8 /dev/file\n");
    inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#0", "COM12", "/dev/pts/9");
    inject_serial_comm("\\Device\\Shared", "COM9", "/dev/injected");
    inject_serial_comm_value("\\Device\\Odd", RegValue::dword(5));
    inject_serial_comm_value("\\Device\\NoPath", RegValue::text("COM30"));

    // File entries first, then injected ones; an injection replaces the file's
    // entry; port names compare without case; a prefix is not a match.
    test::expect_golden("platform/device_map",
                        device_map_text({"COM7", "com12", "COM8", "COM9", "COM30", "COM1"}));
    auto key = reg_open(RegRoot::local_machine, kSerialComm);
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->set("\\Device\\New", RegValue::text("COM1")))
        << "the machine tree is read-only";
}

TEST(Registry, ConcurrentReadersAndWritersKeepEveryValue) {
    test::TestEnvironment env;
    inject_serial_comm("\\Device\\Silabser0", "COM3", "/dev/ttyUSB2");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            auto key = reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink");
            for (int i = 0; i < 25; ++i) {
                std::string name = "T";
                name += std::to_string(t) + "_" + std::to_string(i);
                key->set(name, RegValue::dword(static_cast<std::uint32_t>(i)));
                RegValue value;
                key->query("DebugView", value);
                EXPECT_EQ(serial_port_device_path("COM3"), "/dev/ttyUSB2");
            }
        });
    }
    for (auto& thread : threads) thread.join();
    reload_current_user();
    auto key = reg_open(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(key);
    std::size_t count = 0;
    std::string name;
    RegValue value;
    while (key->enum_value(count, name, value)) ++count;
    EXPECT_EQ(count, 100u) << "every write reached the file";
}

// Opens the machine tree as port discovery does at every call.
void open_device_map(int times) {
    for (int i = 0; i < times; ++i) reg_open(RegRoot::local_machine, kSerialComm);
}

TEST(RegistryNotes, TheSameLineInAnotherFileIsAnotherNote) {
    test::TestEnvironment env;
    NoteCapture capture;
    env.set_device_map("\\Device\\A COM0 /dev/a\n");
    open_device_map(2);
    env.set_env("STRIDELOG_DEVICE_MAP",
                env.write_file("other-map", "\\Device\\A COM0 /dev/a\n").string());
    open_device_map(2);
    capture.expect({"device-map:1:", "other-map:1:"}, "two files");
}

TEST(RegistryNotes, WithoutASinkNothingIsWrittenAndTheNotesWaitForOne) {
    test::TestEnvironment env;
    RegistryNoteSink installed = set_registry_note_sink({});
    std::string garbage = "\\Device\\A COM0 /dev/a\n";
    for (int i = 0; i < 150; ++i) garbage += "x\n";
    env.set_device_map(garbage);
    {
        test::DebugCapture debug;
        testing::internal::CaptureStderr();
        open_device_map(3);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(debug.pieces().empty()) << debug.text();
    }
    {
        NoteCapture capture;
        const std::vector<std::string> waited = capture.notes();
        ASSERT_EQ(waited.size(), 100u) << "a device map of garbage waits only up to a bound";
        EXPECT_NE(waited.front().find(":1: port name"), std::string::npos) << waited.front();
        EXPECT_NE(waited.back().find(":100: "), std::string::npos) << waited.back();
        open_device_map(2);
        EXPECT_EQ(capture.notes().size(), 100u) << "handed over once, never raised again";
    }
    set_registry_note_sink(std::move(installed));
}

TEST(RegistryNotes, ASinkThatReadsTheRegistryGetsItsOwnNoteAfterItReturns) {
    test::TestEnvironment env;
    env.set_device_map("\\Device\\A COM0 /dev/a\n");
    env.write_file("config/stridelog/registry", "{ not json");
    reload_current_user();
    std::vector<std::string> notes;
    int depth = 0;
    int deepest = 0;
    RegistryNoteSink installed = set_registry_note_sink([&](std::string_view note) {
        deepest = std::max(deepest, ++depth);
        notes.emplace_back(note);
        // What the diagnostics do for every line: read a switch (this loads the
        // unreadable user file, raising a note of its own).
        reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink");
        --depth;
    });
    open_device_map(2);
    set_registry_note_sink(std::move(installed));
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[0].find("COM0"), std::string::npos) << notes[0];
    EXPECT_NE(notes[1].find("unreadable"), std::string::npos) << notes[1];
    EXPECT_EQ(deepest, 1) << "the sink is never entered from inside itself";
}

// Adds a tty to a small sysfs tree: under a USB device of the given identity
// when vid is set, bound to the driver when one is named, and a virtual
// terminal without any device when neither is.
void add_tty(const fs::path& sys, const std::string& tty, const std::string& vid = "",
             const std::string& pid = "", const std::string& driver = "") {
    fs::create_directories(sys / "class" / "tty" / tty);
    if (vid.empty() && driver.empty()) return;
    const fs::path parent = sys / "devices" / ("dev-" + tty);
    const fs::path device = parent / "1.0" / tty;
    fs::create_directories(device);
    if (!vid.empty()) {
        std::ofstream(parent / "idVendor") << vid << "\n";
        std::ofstream(parent / "idProduct") << pid << "\n";
    }
    if (!driver.empty()) {
        const fs::path bound = sys / "bus" / "usb-serial" / "drivers" / driver;
        fs::create_directories(bound);
        fs::create_symlink(bound, device / "driver");
    }
    fs::create_symlink(device, sys / "class" / "tty" / tty / "device");
}

TEST(Registry, SysfsScanFindsTheCableAndBridges) {
    test::TestEnvironment env;
    const fs::path sys = env.root() / "sys";
    add_tty(sys, "ttyUSB0", "04fc", "0201", "pl2303");  // the cable itself
    add_tty(sys, "ttyUSB10", "10c4", "ea60", "cp210x");
    add_tty(sys, "ttyUSB2", "10c4", "ea60", "cp210x");
    add_tty(sys, "ttyUSB3", "0403", "6001", "ftdi_sio");  // another adapter: not ours
    add_tty(sys, "ttyACM1", "04FC", "0201");              // upper-case identity, no driver
    add_tty(sys, "ttyUSB40", "04fc", "0201", "pl2303");   // beyond the numbering rule
    add_tty(sys, "ttyS0", "", "", "serial8250");          // on-board port
    add_tty(sys, "tty0");                                 // virtual terminal
    env.set_env("STRIDELOG_SYSFS_ROOT", sys.string());
    env.set_device_map("\\Device\\FromFile COM50 /dev/pts/3\n");
    inject_serial_comm("\\Device\\Injected", "COM60", "/dev/pts/4");
    set_sysfs_scan(true);

    NoteCapture capture;
    // ttyUSB2 comes before ttyUSB10; the file's and the injected entries follow.
    std::string text = device_map_text({"COM11", "COM34"});
    capture.expect({"ttyUSB40"}, "left out, said once for three scans");
    set_sysfs_scan(false);
    text += "without the scan:\n" + device_map_text({});
    test::expect_golden("platform/device_map_sysfs", text);
}

}  // namespace
}  // namespace stridelog::platform
