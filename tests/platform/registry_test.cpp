// The registry stand-in: the persisted current-user tree and the synthesised
// serial device map.
#include "platform/registry.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/test_environment.hpp"

namespace stridelog::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct MapRow {
    std::string value_name;
    std::string port;
    bool operator==(const MapRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const MapRow& r) {
    return os << "{" << r.value_name << " -> " << r.port << "}";
}

std::vector<MapRow> SerialCommValues() {
    std::vector<MapRow> rows;
    auto key = reg_open(RegRoot::local_machine, kSerialComm);
    if (!key) return rows;
    std::string name;
    RegValue value;
    for (std::size_t i = 0; key->enum_value(i, name, value); ++i) {
        EXPECT_EQ(value.type, RegType::sz);
        rows.push_back({name, value.as_text()});
    }
    return rows;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Registry, CurrentUserTreeSurvivesAReload) {
    test::TestEnvironment env;
    const std::vector<std::pair<std::string, RegValue>> values = {
        {"DebugView", RegValue::text("1")},
        {"Name", RegValue::text("Stra\xC3\x9F"
                                "e \xF0\x9F\x98\x80")},
        {"Count", RegValue::dword(0xDEADBEEF)},
        {"Raw", RegValue{RegType::binary, {0, 1, 2, 0xFF}}},
        {"Unterminated", RegValue{RegType::sz, {'A', 0, 'B'}}},
        {"Empty", RegValue{RegType::binary, {}}},
    };
    {
        auto key = reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink\\Nested");
        ASSERT_TRUE(key);
        for (const auto& [name, value] : values) ASSERT_TRUE(key->set(name, value));
    }
    ASSERT_TRUE(fs::exists(env.registry_file()));
    EXPECT_TRUE(nlohmann::json::accept(ReadFile(env.registry_file()))) << "plain JSON";
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
    ASSERT_TRUE(key->query("debugview", value));
    EXPECT_EQ(value.as_text(), "1");

    auto parent = reg_open(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(parent);
    EXPECT_TRUE(parent->enum_subkey(0, name));
    EXPECT_EQ(name, "Nested");
    EXPECT_FALSE(parent->enum_subkey(1, name));
}

TEST(Registry, OnlyRealChangesRewriteTheFile) {
    test::TestEnvironment env;
    auto key = reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(key);
    key->set("DebugView", RegValue::text("1"));
    struct stat before {};
    ASSERT_EQ(::stat(env.registry_file().c_str(), &before), 0);

    key->set("DebugView", RegValue::text("1"));
    reg_create(RegRoot::current_user, "software\\tempolink");
    struct stat after {};
    ASSERT_EQ(::stat(env.registry_file().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "unchanged: not rewritten";

    key->set("DebugView", RegValue::text("0"));
    ASSERT_EQ(::stat(env.registry_file().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "a change replaces the file";
}

TEST(Registry, OpenDoesNotCreate) {
    test::TestEnvironment env;
    EXPECT_FALSE(reg_open(RegRoot::current_user, "SOFTWARE\\Nothing"));
    EXPECT_FALSE(reg_key_exists(RegRoot::current_user, "SOFTWARE\\Nothing"));
    EXPECT_FALSE(fs::exists(env.registry_file()));
    EXPECT_TRUE(reg_create(RegRoot::current_user, "SOFTWARE\\Nothing"));
    EXPECT_TRUE(reg_key_exists(RegRoot::current_user, "SOFTWARE"));
}

TEST(Registry, AKeyHandleFollowsItsPathAcrossReloads) {
    test::TestEnvironment env;
    auto key = reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink");
    ASSERT_TRUE(key);
    key->set("DebugView", RegValue::text("3"));
    reload_current_user();
    RegValue value;
    ASSERT_TRUE(key->query("DebugView", value));
    EXPECT_EQ(value.as_text(), "3");
}

TEST(Registry, AnUnreadableFileIsKeptAsideNotOverwritten) {
    test::TestEnvironment env;
    test::DebugCapture capture;
    env.write_file("config/stridelog/registry", "{ not json");
    reload_current_user();
    EXPECT_FALSE(reg_key_exists(RegRoot::current_user, "SOFTWARE"));
    EXPECT_EQ(ReadFile(env.registry_file().string() + ".corrupt"), "{ not json");
    EXPECT_NE(capture.text().find("unreadable"), std::string::npos) << capture.text();
    ASSERT_TRUE(reg_create(RegRoot::current_user, "SOFTWARE\\Tempolink"));
    reload_current_user();
    EXPECT_TRUE(reg_key_exists(RegRoot::current_user, "SOFTWARE\\Tempolink"));
}

TEST(Registry, DeviceMapFileLines) {
    struct Case {
        const char* legend;
        std::string content;
        std::vector<MapRow> expected;
        std::size_t diagnostics;
    };
    const std::string cable = "\\Device\\USB#VID_04FC&PID_0201#";
    const Case cases[] = {
        {"one entry", cable + "0 COM5 /dev/ttyUSB0\n", {{cable + "0", "COM5"}}, 0},
        {"comments, blank lines, tabs and CRLF",
         "# the watch cable\n\n\t" + cable + "0\tCOM5  /dev/ttyUSB0 # on the hub\r\n   \n",
         {{cable + "0", "COM5"}},
         0},
        {"a # inside a field is part of it",
         "\\Device\\Silabser0 COM7 /dev/x#1\n",
         {{"\\Device\\Silabser0", "COM7"}},
         0},
        {"too few and too many fields are skipped",
         "\\Device\\A COM1\n\\Device\\B COM2 /dev/b extra\n\\Device\\C COM3 /dev/c\n",
         {{"\\Device\\C", "COM3"}},
         2},
        {"port names must be COM<n> with n >= 1",
         "\\Device\\A com1 /dev/a\n\\Device\\B COM0 /dev/b\n\\Device\\C COMx /dev/c\n"
         "\\Device\\D COM /dev/d\n\\Device\\E COM01 /dev/e\n\\Device\\F LPT1 /dev/f\n"
         "\\Device\\G COM12 /dev/g\n",
         {{"\\Device\\G", "COM12"}},
         6},
        {"file order is kept; a repeated value name replaces the earlier data in place",
         "\\Device\\B COM2 /dev/b\n\\Device\\A COM1 /dev/a\n\\device\\b COM9 /dev/b9\n",
         {{"\\device\\b", "COM9"}, {"\\Device\\A", "COM1"}},
         0},
        {"binary garbage does not crash", std::string("\x00\xFF\xFE COM3\n\x01", 10), {}, 2},
    };
    for (const auto& c : cases) {
        test::TestEnvironment env;
        env.set_device_map(c.content);
        test::DebugCapture capture;
        EXPECT_EQ(SerialCommValues(), c.expected) << c.legend;
        EXPECT_EQ(capture.pieces().size(), c.diagnostics) << c.legend << "\n" << capture.text();
    }
}

TEST(Registry, MissingDeviceMapFileIsOneDiagnostic) {
    test::TestEnvironment env;
    env.set_env("STRIDELOG_DEVICE_MAP", (env.root() / "absent").string());
    test::DebugCapture capture;
    EXPECT_TRUE(SerialCommValues().empty());
    EXPECT_EQ(capture.pieces().size(), 1u);
}

TEST(Registry, InjectionFileOrderAndPortLookup) {
    test::TestEnvironment env;
    env.set_device_map("\\Device\\Silabser0 COM7 /dev/ttyUSB7\n\\Device\\Shared COM8 /dev/file\n");
    inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#0", "COM12", "/dev/pts/9");
    inject_serial_comm("\\Device\\Shared", "COM9", "/dev/injected");
    inject_serial_comm_value("\\Device\\Odd", RegValue::dword(5));
    inject_serial_comm_value("\\Device\\NoPath", RegValue::text("COM30"));

    auto key = reg_open(RegRoot::local_machine, kSerialComm);
    ASSERT_TRUE(key);
    std::vector<std::string> names;
    std::string name;
    RegValue value;
    for (std::size_t i = 0; key->enum_value(i, name, value); ++i) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"\\Device\\Silabser0", "\\Device\\Shared",
                                               "\\Device\\USB#VID_04FC&PID_0201#0", "\\Device\\Odd",
                                               "\\Device\\NoPath"}))
        << "file entries first, then injected ones; injection overrides the file";
    ASSERT_TRUE(key->query("\\Device\\Odd", value));
    EXPECT_EQ(value.type, RegType::dword);
    EXPECT_FALSE(key->set("\\Device\\New", RegValue::text("COM1")))
        << "the machine tree is read-only";

    struct Lookup {
        const char* legend;
        const char* port;
        std::optional<std::string> device;
    };
    const Lookup lookups[] = {
        {"from the file", "COM7", "/dev/ttyUSB7"},
        {"injected", "COM12", "/dev/pts/9"},
        {"port names compare without case", "com12", "/dev/pts/9"},
        {"the overridden file entry is gone", "COM8", std::nullopt},
        {"the overriding entry", "COM9", "/dev/injected"},
        {"an entry injected without a device path has none", "COM30", std::nullopt},
        {"unknown port", "COM99", std::nullopt},
        {"a prefix is not a match", "COM1", std::nullopt},
    };
    for (const auto& l : lookups) EXPECT_EQ(serial_port_device_path(l.port), l.device) << l.legend;

    clear_injected();
    EXPECT_EQ(serial_port_device_path("COM12"), std::nullopt) << "cleared";
    EXPECT_EQ(serial_port_device_path("COM7"), "/dev/ttyUSB7") << "the file stays";
}

TEST(Registry, UsbEnumerationKeyExistsOnlyWithInjectedDevices) {
    test::TestEnvironment env;
    EXPECT_FALSE(reg_key_exists(RegRoot::local_machine, "Enum\\USB\\SPCP825A"));
    EXPECT_TRUE(reg_key_exists(RegRoot::local_machine, kSerialComm)) << "the map is always there";
    inject_usb_enum("0000USB&VID_04FC&PID_0201&0001", "COM4");
    inject_usb_enum("0000USB&VID_04FC&PID_0201&0002", "COM5");
    inject_usb_enum("0000USB&VID_04FC&PID_0201&0001", "COM6");  // replaces
    auto key = reg_open(RegRoot::local_machine, "enum\\usb\\spcp825a");
    ASSERT_TRUE(key);
    std::string name;
    ASSERT_TRUE(key->enum_subkey(0, name));
    EXPECT_EQ(name, "0000USB&VID_04FC&PID_0201&0001");
    ASSERT_TRUE(key->enum_subkey(1, name));
    EXPECT_FALSE(key->enum_subkey(2, name));
    auto device = reg_open(RegRoot::local_machine, "Enum\\USB\\SPCP825A\\" + name);
    ASSERT_TRUE(device);
    RegValue value;
    ASSERT_TRUE(device->query("PORTNAME", value));
    EXPECT_EQ(value.as_text(), "COM5");
    ASSERT_TRUE(
        reg_open(RegRoot::local_machine, "Enum\\USB\\SPCP825A\\0000USB&VID_04FC&PID_0201&0001")
            ->query("PORTNAME", value));
    EXPECT_EQ(value.as_text(), "COM6");
    clear_injected();
    EXPECT_FALSE(reg_key_exists(RegRoot::local_machine, "Enum\\USB\\SPCP825A"));
}

// A small sysfs tree: ttys whose device sits under a USB device with the given
// identity and driver, plus ttys without a device or on other hardware.
class FakeSysfs {
  public:
    explicit FakeSysfs(const fs::path& root) : root_(root) {
        fs::create_directories(root_ / "class" / "tty");
        fs::create_directories(root_ / "bus" / "usb-serial" / "drivers" / "cp210x");
        fs::create_directories(root_ / "bus" / "usb-serial" / "drivers" / "pl2303");
    }
    void usb_tty(const std::string& tty, const std::string& vid, const std::string& pid,
                 const std::string& driver) {
        const fs::path usb = root_ / "devices" / "usb1" / ("1-" + std::to_string(++port_));
        const fs::path device = usb / (usb.filename().string() + ":1.0") / tty;
        fs::create_directories(device);
        std::ofstream(usb / "idVendor") << vid << "\n";
        std::ofstream(usb / "idProduct") << pid << "\n";
        if (!driver.empty())
            fs::create_symlink(root_ / "bus" / "usb-serial" / "drivers" / driver,
                               device / "driver");
        link_tty(tty, device);
    }
    void platform_tty(const std::string& tty) {
        const fs::path device = root_ / "devices" / "platform" / "serial8250" / tty;
        fs::create_directories(device);
        link_tty(tty, device);
    }
    void virtual_tty(const std::string& tty) {
        fs::create_directories(root_ / "class" / "tty" / tty);
    }

  private:
    void link_tty(const std::string& tty, const fs::path& device) {
        fs::create_directories(root_ / "class" / "tty" / tty);
        fs::create_symlink(device, root_ / "class" / "tty" / tty / "device");
    }
    fs::path root_;
    int port_ = 0;
};

TEST(Registry, SysfsScanFindsTheCableAndBridges) {
    test::TestEnvironment env;
    FakeSysfs sysfs(env.root() / "sys");
    sysfs.usb_tty("ttyUSB0", "04fc", "0201", "pl2303");  // the cable itself
    sysfs.usb_tty("ttyUSB10", "10c4", "ea60", "cp210x");
    sysfs.usb_tty("ttyUSB2", "10c4", "ea60", "cp210x");
    sysfs.usb_tty("ttyUSB3", "0403", "6001", "ftdi_sio");  // another adapter: not ours
    sysfs.usb_tty("ttyACM1", "04FC", "0201", "");          // upper-case identity, no driver
    sysfs.usb_tty("ttyUSB40", "04fc", "0201", "pl2303");   // beyond the numbering rule
    sysfs.platform_tty("ttyS0");
    sysfs.virtual_tty("tty0");
    env.set_env("STRIDELOG_SYSFS_ROOT", (env.root() / "sys").string());
    env.set_device_map("\\Device\\FromFile COM50 /dev/pts/3\n");
    inject_serial_comm("\\Device\\Injected", "COM60", "/dev/pts/4");
    set_sysfs_scan(true);

    test::DebugCapture capture;
    const std::vector<MapRow> expected = {
        {"\\Device\\USB#VID_04FC&PID_0201#ttyACM1", "COM34"},
        {"\\Device\\USB#VID_04FC&PID_0201#ttyUSB0", "COM1"},
        {"\\Device\\Silabser0", "COM3"},  // ttyUSB2 comes before ttyUSB10
        {"\\Device\\Silabser1", "COM11"},
        {"\\Device\\FromFile", "COM50"},
        {"\\Device\\Injected", "COM60"},
    };
    EXPECT_EQ(SerialCommValues(), expected);
    EXPECT_EQ(capture.pieces().size(), 1u) << "ttyUSB40 is left out, once per scan";
    EXPECT_NE(capture.text().find("ttyUSB40"), std::string::npos);
    EXPECT_EQ(serial_port_device_path("COM11"), "/dev/ttyUSB10");
    EXPECT_EQ(serial_port_device_path("COM34"), "/dev/ttyACM1");

    set_sysfs_scan(false);
    EXPECT_EQ(SerialCommValues(), (std::vector<MapRow>{expected[4], expected[5]}));
}

}  // namespace
}  // namespace stridelog::platform
