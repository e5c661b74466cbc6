// stridelog: a command-line host of the Stridelog SDK, built on its public
// interface only. One subcommand per entry point; exit status 0 when the call
// ends with its success notification, 1 with an error notification, 2 for usage.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "codes.hpp"
#include "host_session.hpp"
#include "simulate.hpp"
#include "stridelog/stridelog.h"

namespace {

using stridelog_tool::HostSession;
using stridelog_tool::Note;

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

struct Options {
    bool show = false;
    bool json = false;
    bool simulate = false;
    bool yes = false;
    std::string window_png;
    std::uint32_t timeout_s = 120;

    // A window is shown when someone presents it: on the terminal or as a picture.
    BOOL ShowWindow() const { return show || !window_png.empty() ? TRUE : FALSE; }
};

// Prints the first error notification; returns the exit status of the call.
int ReportError(const HostSession& session, const char* what) {
    if (const Note* e = session.FirstError()) {
        const auto info = stridelog_tool::ErrorInfo(e->code);
        std::fprintf(stderr, "error 0x%04X %s: %s\n", e->code, info.name, info.meaning);
        return kExitError;
    }
    std::fprintf(stderr, "error: %s\n", what);
    return kExitError;
}

std::vector<std::string> DecodePortList(const std::vector<std::uint8_t>& block) {
    std::vector<std::string> names;
    if (block.size() < 4) return names;
    const std::uint32_t count =
        block[0] | block[1] << 8 | block[2] << 16 | static_cast<std::uint32_t>(block[3]) << 24;
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < count && at + 1 < block.size(); ++i) {
        std::string name;
        for (;;) {
            if (at + 1 >= block.size()) break;
            const std::uint16_t unit = static_cast<std::uint16_t>(block[at] | block[at + 1] << 8);
            at += 2;
            if (unit == 0) break;
            name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
        names.push_back(name);
    }
    return names;
}

int RunSdkVersion(const Options& opt) {
    HostSession session(false);
    GetSDKVersion(session.window());
    session.WaitForNotifications(1, 5000);
    const Note* n = session.Find(SDK_MSG_SDK_VERSION);
    if (!n) return ReportError(session, "no SDK version was posted");
    const std::string text(n->block.begin(), n->block.end());
    if (opt.json) {
        std::cout << nlohmann::json{{"sdk_version", text}}.dump() << "\n";
    } else {
        std::cout << text << "\n";
    }
    return kExitOk;
}

int RunPorts(const Options& opt) {
    HostSession session(false);
    GetClip_COM_Port_List(session.window());
    session.WaitForNotifications(1, 5000);
    const Note* n = session.Find(SDK_MSG_PORT_LIST);
    if (!n) return ReportError(session, "no port list was posted");
    const auto names = DecodePortList(n->block);
    if (opt.json) {
        std::cout << nlohmann::json{{"ports", names}}.dump() << "\n";
    } else {
        for (const auto& name : names) std::cout << name << "\n";
    }
    return kExitOk;
}

int RunVersion(const Options& opt) {
    HostSession session(false);  // with --show the presenter draws the progress
    GetWatch_Version(session.window(), opt.ShowWindow());
    if (!session.WaitForTask(opt.timeout_s * 1000)) {
        std::fprintf(stderr, "error: the watch did not finish in %u s\n", opt.timeout_s);
        return kExitError;
    }
    if (session.FirstError()) return ReportError(session, "");
    const Note* n = session.Find(SDK_MSG_WATCH_VERSION);
    if (!n) return ReportError(session, "the task ended without a version");
    const std::string text(n->block.begin(), n->block.end());
    if (opt.json) {
        std::cout << nlohmann::json{{"version", text}}.dump() << "\n";
    } else {
        std::cout << text << "\n";
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"stridelog: talk to a GPS sports watch on its USB-serial cable"};
    app.require_subcommand(1);
    Options opt;
    app.add_flag("--show", opt.show, "show the task window's progress on the terminal");
    app.add_flag("--json", opt.json, "print results as JSON");
    app.add_flag("--simulate", opt.simulate,
                 "run against a simulated watch on a pseudo-terminal instead of a cable");
    app.add_flag("--yes", opt.yes, "answer Yes to the confirmation question");
    app.add_option("--window-png", opt.window_png,
                   "write the task window's last look to this PNG file");
    app.add_option("--timeout", opt.timeout_s, "seconds to wait for a task (default 120)");

    auto* sdk_version = app.add_subcommand("sdk-version", "print the SDK version text");
    auto* ports = app.add_subcommand("ports", "list the cable's serial ports");
    auto* version = app.add_subcommand("version", "read the watch's version text");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }

    std::unique_ptr<stridelog_tool::SimulatedWatch> sim;
    if (opt.simulate) {
        std::string why;
        sim = stridelog_tool::StartSimulatedWatch(why);
        if (!sim) {
            std::fprintf(stderr, "error: cannot start the simulated watch: %s\n", why.c_str());
            return kExitError;
        }
    }
    if (opt.show && !opt.window_png.empty()) {
        std::fprintf(stderr, "error: --show and --window-png present the window two ways; pick one\n");
        return kExitUsage;
    }
    if (opt.timeout_s > 24 * 3600) opt.timeout_s = 24 * 3600;
    if (opt.show) Stridelog_UsePresenter(STRIDELOG_PRESENTER_TERMINAL, nullptr);
    if (!opt.window_png.empty())
        Stridelog_UsePresenter(STRIDELOG_PRESENTER_IMAGE, opt.window_png.c_str());
    if (opt.yes) Stridelog_SetConfirmAnswer(6);

    if (*sdk_version) return RunSdkVersion(opt);
    if (*ports) return RunPorts(opt);
    if (*version) return RunVersion(opt);
    return kExitUsage;
}
