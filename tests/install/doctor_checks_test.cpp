// The doctor's checks against real files and ptys, and small sysfs trees. Who
// holds a port is found end to end by the doctor's script.
#include "doctor_checks.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace stridelog_tool::doctor {
namespace {

namespace fs = std::filesystem;

class Scratch {
  public:
    Scratch() {
        std::string tmpl = (fs::temp_directory_path() / "doctor-XXXXXX").string();
        root_ = ::mkdtemp(tmpl.data());
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& root() const { return root_; }

  private:
    fs::path root_;
};

class Pty {
  public:
    Pty() {
        char name[128];
        EXPECT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        path_ = name;
    }
    ~Pty() {
        ::close(slave_);
        ::close(master_);
    }
    const std::string& path() const { return path_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

void write_file(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// A tty in a small sysfs tree: under a USB device when vid is set, bound to a
// driver when one is named.
void add_tty(const fs::path& sys, const std::string& tty, const std::string& vid,
             const std::string& pid, const std::string& driver) {
    const fs::path usb = sys / "devices" / ("usb-" + tty);
    const fs::path port = usb / "1.0" / tty;
    fs::create_directories(port);
    if (!vid.empty()) {
        write_file(usb / "idVendor", vid + "\n");
        write_file(usb / "idProduct", pid + "\n");
        fs::create_directories(sys / "bus" / "usb" / "devices");
        fs::create_directory_symlink(usb, sys / "bus" / "usb" / "devices" / ("usb-" + tty));
    }
    if (!driver.empty()) {
        const fs::path bound = sys / "bus" / "usb-serial" / "drivers" / driver;
        fs::create_directories(bound);
        fs::create_directory_symlink(bound, port / "driver");
    }
    fs::create_directories(sys / "class" / "tty" / tty);
    fs::create_directory_symlink(port, sys / "class" / "tty" / tty / "device");
}

TEST(DoctorSysfs, FindsTheCableAndBridgesOnly) {
    Scratch s;
    const fs::path sys = s.root() / "sys";
    add_tty(sys, "ttyUSB0", "04FC", "0201", "pl2303");       // the cable, upper-case id
    add_tty(sys, "ttyUSB1", "10c4", "ea60", "cp210x");       // a bridge
    add_tty(sys, "ttyUSB2", "0403", "6001", "ftdi_sio");     // someone else's adapter
    add_tty(sys, "ttyACM0", "04fc", "0202", "cdc_acm");      // one product number off
    fs::create_directories(sys / "class" / "tty" / "tty1");  // a virtual terminal
    // The cable plugged in a second time, without a driver's tty.
    write_file(sys / "devices" / "usb-bare" / "idVendor", "04fc\n");
    write_file(sys / "devices" / "usb-bare" / "idProduct", "0201\n");
    fs::create_directory_symlink(sys / "devices" / "usb-bare", sys / "bus/usb/devices/usb-bare");

    const SysfsScan scan = scan_sysfs(sys.string());
    std::vector<std::string> ttys;
    for (const auto& t : scan.ttys)
        ttys.push_back(t.tty + " " + t.device_path + " " + t.usb_id + " " + t.driver +
                       (t.cable ? " cable" : ""));
    EXPECT_EQ(ttys, (std::vector<std::string>{"ttyUSB0 /dev/ttyUSB0 04fc:0201 pl2303 cable",
                                              "ttyUSB1 /dev/ttyUSB1 10c4:ea60 cp210x"}));
    EXPECT_EQ(scan.cable_usb_devices, (std::vector<std::string>{"usb-bare", "usb-ttyUSB0"}));
    const SysfsScan none = scan_sysfs((s.root() / "absent").string());
    EXPECT_TRUE(none.ttys.empty() && none.cable_usb_devices.empty()) << "no tree is no cable";
}

TEST(DoctorRules, WhichTextsMatchTheCable) {
    const struct {
        const char* text;
        bool matches;
    } cases[] = {
        {R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0201", TAG+="uaccess")",
         true},
        {R"(SUBSYSTEM=="usb", ATTR{idVendor}=="04FC", ATTR{idProduct}=="0201", MODE="0666")", true},
        {"# a comment\n  ATTRS{idProduct} == \"0201\", ATTRS{idVendor} == \"04fc\"\n", true},
        {R"(# SUBSYSTEM=="tty", ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0201")", false},
        {R"(   # ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0201")", false},
        {R"(ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0202")", false},
        {R"(ATTRS{idVendor}=="10c4", ATTRS{idProduct}=="0201")", false},
        // Vendor and product on different lines are two rules, neither the cable's.
        {"ATTRS{idVendor}==\"04fc\"\nATTRS{idProduct}==\"0201\"\n", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(rules_text_matches_cable(c.text), c.matches) << c.text;
}

TEST(DoctorRules, FindsRuleFilesInOrderAndIgnoresOthers) {
    Scratch s;
    const std::string rule =
        R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="04fc", ATTRS{idProduct}=="0201")";
    write_file(s.root() / "etc" / "70-mine.rules", rule);
    write_file(s.root() / "etc" / "60-stridelog.rules.bak", rule);  // not a rules file
    write_file(s.root() / "lib" / "60-stridelog.rules", rule);
    write_file(s.root() / "lib" / "50-other.rules", R"(ATTRS{idVendor}=="1234")");
    const auto found = find_cable_rules(
        {(s.root() / "etc").string(), (s.root() / "none").string(), (s.root() / "lib").string()});
    EXPECT_EQ(found,
              (std::vector<std::string>{(s.root() / "etc" / "70-mine.rules").string(),
                                        (s.root() / "lib" / "60-stridelog.rules").string()}));
}

TEST(DoctorRules, DirectoriesFromTheEnvironment) {
    ::setenv("STRIDELOG_UDEV_RULES_DIRS", "/a::/b/c:", 1);
    EXPECT_EQ(udev_rule_dirs(), (std::vector<std::string>{"/a", "/b/c"}));
    ::unsetenv("STRIDELOG_UDEV_RULES_DIRS");
    EXPECT_EQ(udev_rule_dirs(), (std::vector<std::string>{"/etc/udev/rules.d", "/lib/udev/rules.d",
                                                          "/usr/lib/udev/rules.d"}));
}

TEST(DoctorOpen, WhatTheSdkWouldMeet) {
    Scratch s;
    Pty free_pty;
    Pty locked_pty;
    const int lock_fd = ::open(locked_pty.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(lock_fd, 0);
    ASSERT_EQ(::flock(lock_fd, LOCK_EX | LOCK_NB), 0);
    write_file(s.root() / "plain", "x");
    const struct {
        std::string path;
        OpenResult result;
        int error;
    } cases[] = {
        {free_pty.path(), OpenResult::ok, 0},
        {locked_pty.path(), OpenResult::busy, EBUSY},
        {(s.root() / "plain").string(), OpenResult::not_a_tty, ENOTTY},
        {(s.root() / "absent").string(), OpenResult::missing, ENOENT},
        {s.root().string(), OpenResult::other, EISDIR},
    };
    for (const auto& c : cases) {
        const OpenCheck check = try_open(c.path);
        EXPECT_EQ(check.result, c.result) << c.path;
        EXPECT_EQ(check.error, c.error) << c.path;
    }
    // The check lets go of the port: a second look finds it free again.
    EXPECT_EQ(try_open(free_pty.path()).result, OpenResult::ok);
    ::close(lock_fd);
    EXPECT_EQ(try_open(locked_pty.path()).result, OpenResult::ok);
}

TEST(DoctorHolders, PortProbers) {
    EXPECT_TRUE(is_port_prober("ModemManager"));
    EXPECT_TRUE(is_port_prober("brltty"));
    EXPECT_FALSE(is_port_prober("modemmanager"));
    EXPECT_FALSE(is_port_prober("stridelog-sim"));
}

// The permission case, with owner, group, mode and fix, is the doctor script's.
TEST(DoctorExplain, NamesDeviceReasonAndFix) {
    Scratch s;
    const std::string file = (s.root() / "port").string();
    write_file(file, "x");
    const struct {
        OpenCheck check;
        std::vector<Holder> holders;
        std::string want;
    } cases[] = {
        {{OpenResult::busy, EBUSY},
         {{412, "ModemManager"}, {977, "stridelog"}},
         file + ": Device or resource busy; held by ModemManager (pid 412), stridelog (pid 977)"},
        {{OpenResult::busy, EBUSY},
         {},
         file + ": Device or resource busy; another program has it open"},
        {{OpenResult::missing, ENOENT}, {}, file + ": No such file or directory; the device node"},
    };
    for (const auto& c : cases) {
        const std::string line = explain_open_failure(file, c.check, c.holders);
        EXPECT_EQ(line.rfind(c.want, 0), 0u) << line;
    }
    const auto access = describe_access(file);
    ASSERT_TRUE(access.has_value());
    EXPECT_TRUE(access->user_in_group);
    EXPECT_FALSE(describe_access((s.root() / "absent").string()).has_value());
}

}  // namespace
}  // namespace stridelog_tool::doctor
