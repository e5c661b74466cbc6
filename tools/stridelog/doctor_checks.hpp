// What `stridelog doctor` looks at on this machine: the cable's ttys in sysfs,
// whether a device opens the way the SDK opens it, which processes hold it,
// who may open it, and whether the cable's udev rule is installed. No SDK
// here, so each check runs on its own against a real system or a small tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stridelog_tool::doctor {

// A tty of the cable (USB 04fc:0201) or of a cp210x bridge, from sysfs.
struct CableTty {
    std::string tty;          // ttyUSB0
    std::string device_path;  // /dev/ttyUSB0
    std::string usb_id;       // vvvv:pppp of the USB device above it, "" when none
    std::string driver;       // the tty's driver, "" when unbound
    bool cable = false;       // the cable's own USB id (else only the bridge driver)
};

struct SysfsScan {
    std::vector<CableTty> ttys;
    // USB devices of the cable's id, with or without a tty.
    std::vector<std::string> cable_usb_devices;
};

// root replaces /sys (empty: /sys).
SysfsScan scan_sysfs(const std::string& root);

enum class OpenResult { ok, missing, permission, busy, not_a_tty, other };

struct OpenCheck {
    OpenResult result = OpenResult::ok;
    int error = 0;  // errno of the failing step
};

// Opens the device as the SDK does (read-write, exclusive advisory lock, a
// tty) and closes it again.
OpenCheck try_open(const std::string& device_path);

struct Holder {
    int pid = 0;
    std::string name;  // the process's command name
};

// Processes other than this one with the device open, found through
// <proc_root>/<pid>/fd. Only the processes this user may inspect are seen.
std::vector<Holder> find_holders(const std::string& device_path,
                                 const std::string& proc_root = "/proc");
// Services known to open serial ports on their own: ModemManager, brltty.
bool is_port_prober(std::string_view process_name);

struct DeviceAccess {
    std::string owner;
    std::string group;
    std::string mode;  // rw-rw----
    bool user_in_group = false;
};

std::optional<DeviceAccess> describe_access(const std::string& device_path);

// True when a rules file text holds an active rule matching the cable's USB id.
bool rules_text_matches_cable(std::string_view text);
// The udev rule directories: STRIDELOG_UDEV_RULES_DIRS (colon-separated) when
// set, else /etc/udev/rules.d, /lib/udev/rules.d and /usr/lib/udev/rules.d.
std::vector<std::string> udev_rule_dirs();
// The *.rules files in dirs with a rule for the cable.
std::vector<std::string> find_cable_rules(const std::vector<std::string>& dirs);

// One line that says why the device does not open and what fixes it.
std::string explain_open_failure(const std::string& device_path, const OpenCheck& check,
                                 const std::vector<Holder>& holders);

}  // namespace stridelog_tool::doctor
