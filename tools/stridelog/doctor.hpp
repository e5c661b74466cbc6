// `stridelog doctor`: why the watch does or does not answer on this machine.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace stridelog_tool {

struct Context;

// One exit status per finding; the first finding (in this order) decides.
constexpr int kDoctorOk = 0;
constexpr int kDoctorNoCable = 3;     // no port of the cable at all
constexpr int kDoctorNoTty = 4;       // the cable is on USB but has no serial port
constexpr int kDoctorPermission = 5;  // the port exists but this user may not open it
constexpr int kDoctorBusy = 6;        // another process holds it (or a port prober has it)
constexpr int kDoctorNoAnswer = 7;    // the port opens but the watch does not answer
constexpr int kDoctorNoUdevRule = 8;  // everything works, but the cable's udev rule is missing
constexpr int kDoctorOpenFailed = 9;  // the port does not open for another reason

CLI::App* add_doctor_command(CLI::App& app);
int run_doctor(const Context& context);

// Why the port the SDK connects to does not open, naming the device, the
// reason and the fix; "" when there is no port to look at.
std::string diagnose_port_open();

}  // namespace stridelog_tool
