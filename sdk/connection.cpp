// Opening sequence of every task: port walk, link, version query, firmware check.
#include <strings.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "diag/diagnostics.hpp"
#include "link/dcb.hpp"
#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "platform/window_system.hpp"
#include "ports/cable_ports.hpp"
#include "sdk/task_window.hpp"
#include "sdk/tasks.hpp"
#include "ui/task_display.hpp"

namespace stridelog::sdk {
namespace {

constexpr std::uint32_t kVersionTimeoutMs = 3000;
constexpr int kVersionTries = 3;
constexpr std::uint32_t kPortSwitchPauseMs = 250;
constexpr std::uint32_t kVersionOnlyEndPauseMs = 500;
constexpr std::uint32_t kLinkBaudRate = 115200;
constexpr double kMinimumFirmware = 1.2;
constexpr double kWideNamesFrom = 1.15;
constexpr std::uint8_t kNarrowNameWidth = 10;
constexpr std::uint8_t kWideNameWidth = 32;

// Reads a decimal number the way "%f" does (leading white space, an optional
// sign), but always with a decimal point: the host's locale must not turn
// "1.30" into 1.
bool read_version_number(std::string_view text, float& number) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    const char* begin = text.data() + i;
    const char* end = text.data() + text.size();
    float value = 0.0f;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (result.ec != std::errc{} || result.ptr == begin) return false;
    number = value;
    return true;
}

}  // namespace

void CSdkTaskDlg::begin_connection(task::OperationCode requested, bool clear_log) {
    requested_ = requested;
    if (clear_log) display_->ClearLog();

    ports::ListCablePorts(port_list_);
    port_index_ = 0;
    std::string line = "COM PORT : ";
    for (const auto& name : port_list_) line += name + " ";
    AppendLog(line);

    show_for_task();

    switch (connect()) {
        case -1:
        case -2:
            post_error(SDK_ERR_NO_PORT);
            EndTask();
            return;
        case -3:
            post_error(SDK_ERR_PORT_OPEN);
            EndTask();
            return;
        default:
            if (!request_version(requested)) EndTask();
            return;
    }
}

int CSdkTaskDlg::get_port_number() const {
    if (port_list_.empty()) return 0;
    if (port_index_ < 0) return -1;
    if (static_cast<std::size_t>(port_index_) >= port_list_.size()) return -2;
    return ports::parse_port_number(port_list_[static_cast<std::size_t>(port_index_)]);
}

int CSdkTaskDlg::connect() {
    link_.reset();
    const int port = get_port_number();
    if (port <= 0) {
        char text[48];
        std::snprintf(text, sizeof text, "GetCOMPort error = %d", port);
        diag::DebugPrint(text, diag::kDiagClassConnection);
        return port == 0 ? -1 : -2;
    }
    link_ = std::make_unique<link::CWatchLink>(window_);

    link::DCB dcb;  // the port's defaults, then the link's fixed line settings
    dcb.BaudRate = kLinkBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = link::NOPARITY;
    dcb.StopBits = link::ONESTOPBIT;
    dcb.fRtsControl = link::RTS_CONTROL_DISABLE;
    dcb.fDtrControl = link::DTR_CONTROL_ENABLE;

    char line[48];
    std::snprintf(line, sizeof line, "COM=%u, Baud=%u", static_cast<unsigned>(port),
                  static_cast<unsigned>(dcb.BaudRate));
    AppendLog(line);

    if (!link_->OpenPort(port, dcb)) {
        diag::DebugPrint("Open COM Error", diag::kDiagClassConnection);
        link_.reset();
        return -3;
    }
    return 0;
}

bool CSdkTaskDlg::request_version(std::optional<task::OperationCode> requested) {
    if (!link_) return false;
    retry_count_ = 0;
    if (requested) requested_ = *requested;
    set_timer(task::kVersionTimer, kVersionTimeoutMs);
    {
        std::lock_guard lock(version_lock_);
        version_pending_ = true;
    }
    link_->GetVersion();
    return true;
}

bool CSdkTaskDlg::OnVersionTimer() {
    AppendLog("GetVer Fail");
    ++retry_count_;
    if (retry_count_ != kVersionTries) {
        set_timer(task::kVersionTimer, kVersionTimeoutMs);
        if (link_) link_->GetVersion();
        return false;
    }
    ++port_index_;
    if (static_cast<std::size_t>(port_index_) == port_list_.size()) {
        post_error(SDK_ERR_NO_ANSWER);
        post_progress(100.0f);
        EndTask();
        return true;
    }
    link_.reset();
    platform::clock().sleep_ms(kPortSwitchPauseMs);
    switch (connect()) {
        case -1:
        case -2:
            post_error(SDK_ERR_NO_PORT);
            EndTask();
            return true;
        case -3:
            post_error(SDK_ERR_PORT_OPEN);
            EndTask();
            return true;
        default:
            request_version(std::nullopt);
            return false;
    }
}

void CSdkTaskDlg::OnVersionReply(std::unique_ptr<std::string> owned) {
    kill_timer(task::kVersionTimer);
    post_result_block(
        SDK_MSG_WATCH_VERSION,
        std::span(reinterpret_cast<const std::uint8_t*>(owned->data()), owned->size()));
    const std::string version = *owned;
    owned.reset();

    if (sdk::task_row(request_.task).start == sdk::TaskStart::version_only) {
        display_->FillProgress();
        post_progress(100.0f);
        platform::clock().sleep_ms(kVersionOnlyEndPauseMs);
        EndTask();
        return;
    }

    if (strcasecmp(version.c_str(), "0.0") == 0) {
        facts_.firmware_version = 0.0f;
        facts_.name_width = kNarrowNameWidth;
    } else if (version.find("Ver") != std::string::npos) {
        // As the watch's firmware has always been read: the first three
        // characters are dropped, wherever "Ver" stood.
        if (version.size() >= 3)
            read_version_number(std::string_view(version).substr(3), facts_.firmware_version);
        facts_.name_width = static_cast<double>(facts_.firmware_version) < kWideNamesFrom
                                ? kNarrowNameWidth
                                : kWideNameWidth;
    } else {
        // The numeric reply form ("1.21"): use the number the text shows.
        if (!version.empty() && std::isdigit(static_cast<unsigned char>(version[0])) &&
            read_version_number(version, facts_.firmware_version)) {
            facts_.name_width = static_cast<double>(facts_.firmware_version) < kWideNamesFrom
                                    ? kNarrowNameWidth
                                    : kWideNameWidth;
        }
    }

    if (static_cast<double>(facts_.firmware_version) < kMinimumFirmware) {
        post_error(SDK_ERR_OLD_FIRMWARE);
        EndTask();
        return;
    }
    bool first_reply = false;
    {
        std::lock_guard lock(version_lock_);
        first_reply = version_pending_;
        version_pending_ = false;
    }
    if (first_reply) start_status_query(true);
}

}  // namespace stridelog::sdk
