#include "doctor.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.hpp"
#include "doctor_checks.hpp"
#include "host_session.hpp"
#include "stridelog/hostkit/records.hpp"
#include "stridelog/stridelog.h"

namespace stridelog_tool {
namespace {

using namespace doctor;

constexpr const char* kExitCodes =
    "Exit status, one per finding (the first found decides):\n"
    "  0  the watch answered; nothing to mend\n"
    "  3  no port of the cable: not plugged in, or not a cable the SDK knows\n"
    "  4  the cable is on USB but no serial driver gave it a tty\n"
    "  5  the port exists but this user may not open it\n"
    "  6  another process holds the port (ModemManager, brltty, another host)\n"
    "  7  the port opens but the watch does not answer\n"
    "  8  the watch answered, but the cable's udev rule is not installed\n"
    "  9  the port does not open for another reason\n";

void line(const char* label, const std::string& text) {
    std::printf("%-12s %s\n", label, text.c_str());
}

std::vector<std::string> port_list() {
    HostSession session(false);
    GetClip_COM_Port_List(session.window());
    session.wait_for_notifications(1, 5000);
    const Note* n = session.find(SDK_MSG_PORT_LIST);
    if (!n) return {};
    auto list = stridelog::hostkit::parse_port_list_block(n->block);
    return list ? std::move(list->names) : std::vector<std::string>{};
}

std::string device_path(const std::string& port) {
    const std::size_t length = Stridelog_PortDevicePath(port.c_str(), nullptr, 0);
    if (length == 0) return "";
    std::string path(length + 1, '\0');
    Stridelog_PortDevicePath(port.c_str(), path.data(), path.size());
    path.resize(length);
    return path;
}

std::string prober_fix(const std::string& name) {
    if (name == "ModemManager")
        return "install the udev rule 60-stridelog.rules (it tells ModemManager to leave the "
               "cable alone), or: sudo systemctl stop ModemManager";
    return "remove brltty if no braille display is used (sudo apt remove brltty), or: "
           "sudo systemctl mask brltty-udev.service";
}

// The rule as this installation ships it, if it lies beside the tool.
std::string shipped_rule() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "";
    const auto rule = exe.parent_path().parent_path() / "lib/udev/rules.d/60-stridelog.rules";
    return std::filesystem::exists(rule, ec) ? rule.lexically_normal().string() : "";
}

}  // namespace

CLI::App* add_doctor_command(CLI::App& app) {
    auto* doctor = app.add_subcommand(
        "doctor", "find the cable's port, check it opens, who holds it, the udev rule, the watch");
    doctor->footer(kExitCodes);
    return doctor;
}

std::string diagnose_port_open() {
    const int port = Stridelog_CablePort();
    if (port == 0) return "";
    const std::string device = device_path("COM" + std::to_string(port));
    if (device.empty()) return "";
    const OpenCheck check = try_open(device);
    const auto holders = find_holders(device);
    if (check.result != OpenResult::ok) return explain_open_failure(device, check, holders);
    for (const auto& h : holders)
        if (is_port_prober(h.name))
            return device + ": held by " + h.name + " (pid " + std::to_string(h.pid) +
                   "); fix: " + prober_fix(h.name);
    return device + ": opens now, though it did not for the SDK a moment ago";
}

int run_doctor(const Context& context) {
    int finding = kDoctorOk;
    const auto found = [&finding](int code) {
        if (finding == kDoctorOk) finding = code;
    };

    // The cable as the kernel sees it.
    const char* sysfs_root = std::getenv("STRIDELOG_SYSFS_ROOT");
    const SysfsScan scan = scan_sysfs(sysfs_root ? sysfs_root : "");
    for (const auto& tty : scan.ttys) {
        std::string text = tty.device_path + " (";
        text += tty.cable ? "USB " + tty.usb_id
                          : "cp210x bridge" + (tty.usb_id.empty() ? "" : ", USB " + tty.usb_id);
        if (tty.cable && !tty.driver.empty()) text += ", driver " + tty.driver;
        line("cable tty:", text + ")");
    }
    if (scan.ttys.empty()) line("cable tty:", "none in sysfs");
    for (const auto& usb : scan.cable_usb_devices) line("cable USB:", "04fc:0201 at USB " + usb);

    // The ports as the SDK finds them, and the one it would connect to.
    for (const auto& port : port_list()) {
        const std::string device = device_path(port);
        line("SDK port:", port + " -> " + (device.empty() ? "(no device)" : device));
    }
    const int port = Stridelog_CablePort();
    std::string device;
    if (port == 0) {
        line("SDK uses:", "no port");
        if (!scan.cable_usb_devices.empty() && scan.ttys.empty()) {
            line("problem:", "the cable is plugged in, but no serial driver gave it a tty");
            line("fix:",
                 "see which driver took it (lsusb -t) and the kernel log (dmesg); "
                 "unplug and plug it in again");
            found(kDoctorNoTty);
        } else if (!scan.ttys.empty()) {
            line("problem:",
                 "the kernel has a tty for the cable, but the SDK has no port for it: "
                 "only ttyUSB0..31 and ttyACM0..31 get port names, and of the cp210x "
                 "bridges only the first is used");
            line("fix:", "unplug other USB-serial adapters and plug the cable in again");
            found(kDoctorNoCable);
        } else {
            line("problem:", "no port of the watch's cable: is it plugged in?");
            found(kDoctorNoCable);
        }
    } else {
        const std::string name = "COM" + std::to_string(port);
        device = device_path(name);
        line("SDK uses:", name + " (" + (device.empty() ? "no device" : device) + ")");
    }

    // Can it be opened, and who else has it.
    bool opens = false;
    if (!device.empty()) {
        const OpenCheck check = try_open(device);
        const auto holders = find_holders(device);
        if (check.result == OpenResult::ok) {
            opens = true;
            line("open:", "ok");
        } else {
            line("open:", "fails");
            line("problem:", explain_open_failure(device, check, holders));
            found(check.result == OpenResult::permission ? kDoctorPermission
                  : check.result == OpenResult::busy     ? kDoctorBusy
                                                         : kDoctorOpenFailed);
        }
        for (const auto& h : holders) {
            line("held by:", h.name + " (pid " + std::to_string(h.pid) + ")");
            if (is_port_prober(h.name)) {
                line("problem:", h.name + " has " + device +
                                     " open: it probes serial ports and "
                                     "disturbs the watch");
                line("fix:", prober_fix(h.name));
                found(kDoctorBusy);
            }
        }
    }

    // The watch itself.
    if (opens) {
        HostSession session(false, context.raw);
        GetWatch_Version(session.window(), FALSE);
        const bool ended = session.wait_for_task(context.options.timeout_s * 1000);
        if (!ended) {
            Stridelog_CancelTasks();
            session.wait_for_task(5000);
        }
        const Note* version = session.find(SDK_MSG_WATCH_VERSION);
        if (ended && version && !session.first_error()) {
            line("watch:", std::string(version->block.begin(), version->block.end()));
        } else {
            line("watch:", "no answer");
            line("problem:", ended ? error_line(session, "the watch did not answer")
                                   : "the watch did not answer in time");
            line("fix:", "switch the watch on and seat it in its cradle");
            found(kDoctorNoAnswer);
        }
    }

    // The udev rule: access for the user at the seat, ModemManager kept off.
    const auto dirs = udev_rule_dirs();
    const auto rules = find_cable_rules(dirs);
    for (const auto& rule : rules) line("udev rule:", rule);
    if (rules.empty()) {
        std::string where;
        for (const auto& dir : dirs) where += (where.empty() ? "" : ", ") + dir;
        line("udev rule:", "not installed (looked in " + where + ")");
        const std::string shipped = shipped_rule();
        line("fix:", "sudo cp " + (shipped.empty() ? "60-stridelog.rules" : shipped) +
                         " /etc/udev/rules.d/ && sudo udevadm control --reload-rules && "
                         "sudo udevadm trigger");
        found(kDoctorNoUdevRule);
    }

    line("result:", finding == kDoctorOk
                        ? "ok"
                        : "finding " + std::to_string(finding) + " (see stridelog doctor --help)");
    return finding;
}

}  // namespace stridelog_tool
