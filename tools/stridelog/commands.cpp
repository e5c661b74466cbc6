#include "commands.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <vector>

#include "codes.hpp"
#include "doctor.hpp"
#include "host_session.hpp"
#include "stridelog/hostkit/records.hpp"

namespace stridelog_tool {
namespace {

// A cancelled task ends on its next message; this is only a bound.
constexpr std::uint32_t kCancelWaitMs = 5000;

void print_text(const Context& context, const char* json_key, const std::string& text) {
    if (context.options.json) {
        std::cout << nlohmann::json{{json_key, text}}.dump() << "\n";
    } else {
        std::cout << text << "\n";
    }
}

// The text of a version block, read by the host kit.
using TextReader = stridelog::hostkit::Result<std::string> (*)(std::span<const std::uint8_t>);

// Prints what `read` makes of the block; false (with the error printed) when
// it makes nothing.
bool print_block_text(const Context& context, const char* json_key, const Note& note,
                      TextReader read) {
    const auto text = read(note.block);
    if (!text) {
        std::fprintf(stderr, "error: %s\n", text.error().c_str());
        return false;
    }
    print_text(context, json_key, *text);
    return true;
}

template <auto Parse>
stridelog::hostkit::Result<std::string> text_of(std::span<const std::uint8_t> block) {
    auto read = Parse(block);
    if (!read) return stridelog::hostkit::Error{read.error()};
    return read->text;
}

// An asynchronous task that ends with one text notification.
int run_text_task(const Context& context, void (*entry)(HWND, BOOL), UINT result_code,
                  const char* json_key, TextReader read) {
    const Options& opt = context.options;
    HostSession session(false, context.raw);  // with --show the presenter draws the progress
    entry(session.window(), opt.show_window());
    if (!session.wait_for_task(opt.timeout_s * 1000)) {
        std::fprintf(stderr, "error: the watch did not finish in %u s\n", opt.timeout_s);
        // End the task through its task end so the port is released.
        Stridelog_CancelTasks();
        session.wait_for_task(kCancelWaitMs);
        return kExitError;
    }
    if (context.interrupted()) return kExitError;  // the caller reports the interruption
    if (session.first_error()) return report_error(session, "");
    const Note* n = session.find(result_code);
    if (!n) return report_error(session, "the task ended without its result");
    return print_block_text(context, json_key, *n, read) ? kExitOk : kExitError;
}

}  // namespace

std::string error_line(const HostSession& session, const char* what) {
    if (const Note* e = session.first_error()) {
        const auto info = error_info(e->code);
        char code[16];
        std::snprintf(code, sizeof code, "0x%04X", e->code);
        std::string line = std::string("error ") + code + " " + info.name + ": " + info.meaning;
        // The code alone does not say which device, or why.
        if (e->code == SDK_ERR_PORT_OPEN) {
            const std::string why = diagnose_port_open();
            if (!why.empty()) line += "\n" + why;
        }
        return line;
    }
    return std::string("error: ") + what;
}

int report_error(const HostSession& session, const char* what) {
    std::fprintf(stderr, "%s\n", error_line(session, what).c_str());
    return kExitError;
}

std::optional<std::string> read_answer(const Context& context) {
    constexpr int kPollMs = 100;  // how often a pending question looks for Ctrl-C
    std::string answer;
    for (;;) {
        if (context.interrupted()) return std::nullopt;
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        char c;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        answer += c;
    }
    return answer;
}

bool is_yes(const std::string& answer) {
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

int run_sdk_version(const Context& context) {
    HostSession session(false, context.raw);
    GetSDKVersion(session.window());
    session.wait_for_notifications(1, 5000);
    const Note* n = session.find(SDK_MSG_SDK_VERSION);
    if (!n) return report_error(session, "no SDK version was posted");
    return print_block_text(context, "sdk_version", *n,
                            &text_of<stridelog::hostkit::parse_sdk_version_block>)
               ? kExitOk
               : kExitError;
}

int run_ports(const Context& context) {
    HostSession session(false, context.raw);
    GetClip_COM_Port_List(session.window());
    session.wait_for_notifications(1, 5000);
    const Note* n = session.find(SDK_MSG_PORT_LIST);
    if (!n) return report_error(session, "no port list was posted");
    const auto list = stridelog::hostkit::parse_port_list_block(n->block);
    if (!list) {
        std::fprintf(stderr, "error: %s\n", list.error().c_str());
        return kExitError;
    }
    if (context.options.json) {
        std::cout << nlohmann::json{{"ports", list->names}}.dump() << "\n";
    } else {
        for (const auto& name : list->names) std::cout << name << "\n";
    }
    return kExitOk;
}

int run_version(const Context& context) {
    return run_text_task(context, &GetWatch_Version, SDK_MSG_WATCH_VERSION, "version",
                         &text_of<stridelog::hostkit::parse_watch_version_block>);
}

int run_long_version(const Context& context) {
    return run_text_task(context, &GetWatch_LongVer, SDK_MSG_LONG_VERSION, "long_version",
                         &text_of<stridelog::hostkit::parse_long_version_block>);
}

}  // namespace stridelog_tool
