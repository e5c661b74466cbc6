// Opening sequence of every task: port walk, link, version query, firmware check.
#include <strings.h>

#include <cctype>
#include <charconv>
#include <string_view>
#include <cstdio>
#include <cstdlib>

#include "link/dcb.hpp"
#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "platform/window_system.hpp"
#include "sdk/diag/diagnostics.hpp"
#include "sdk/ports/cable_ports.hpp"
#include "ui/task_display.hpp"
#include "sdk/task_window.hpp"

namespace stridelog {
namespace {

constexpr double kMinimumFirmware = 1.2;
constexpr double kWideNamesFrom = 1.15;
constexpr std::uint8_t kNarrowNameWidth = 10;
constexpr std::uint8_t kWideNameWidth = 32;

// Reads a decimal number the way "%f" does (leading white space, an optional
// sign), but always with a decimal point: the host's locale must not turn
// "1.30" into 1.
bool ReadVersionNumber(std::string_view text, float& number) {
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

void CSdkTaskDlg::BeginConnection(std::uint8_t requested_op, bool clear_log) {
    m_requestedOp = requested_op;
    if (clear_log) m_display->ClearLog();

    ports::ListCablePorts(m_portList);
    m_portIndex = 0;
    std::string line = "COM PORT : ";
    for (const auto& name : m_portList) line += name + " ";
    AppendLog(line);

    ShowForTask();

    switch (Connect()) {
        case -1:
        case -2:
            PostError(SDK_ERR_NO_PORT);
            EndTask();
            return;
        case -3:
            PostError(SDK_ERR_PORT_OPEN);
            EndTask();
            return;
        default:
            if (!RequestVersion(requested_op)) EndTask();
            return;
    }
}

int CSdkTaskDlg::GetPortNumber() const {
    if (m_portList.empty()) return 0;
    if (m_portIndex < 0) return -1;
    if (static_cast<std::size_t>(m_portIndex) >= m_portList.size()) return -2;
    return ports::ParsePortNumber(m_portList[static_cast<std::size_t>(m_portIndex)]);
}

int CSdkTaskDlg::Connect() {
    m_link.reset();
    const int port = GetPortNumber();
    if (port <= 0) {
        char text[48];
        std::snprintf(text, sizeof text, "GetCOMPort error = %d", port);
        diag::DebugPrint(text, diag::kDiagClassConnection);
        return port == 0 ? -1 : -2;
    }
    m_link = std::make_unique<CWatchLink>(m_hWnd);

    DCB dcb;  // the port's defaults, then the link's fixed line settings
    dcb.BaudRate = kLinkBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;

    char line[48];
    std::snprintf(line, sizeof line, "COM=%u, Baud=%u", static_cast<unsigned>(port),
                  static_cast<unsigned>(dcb.BaudRate));
    AppendLog(line);

    if (!m_link->OpenPort(port, dcb)) {
        diag::DebugPrint("Open COM Error", diag::kDiagClassConnection);
        m_link.reset();
        return -3;
    }
    return 0;
}

bool CSdkTaskDlg::RequestVersion(std::optional<std::uint8_t> requested_op) {
    if (!m_link) return false;
    m_retryCount = 0;
    if (requested_op) m_requestedOp = *requested_op;
    SetTimer(TIMER_VERSION, kVersionTimeoutMs);
    {
        std::lock_guard lock(m_versionLock);
        m_versionPending = true;
    }
    m_link->GetVersion();
    return true;
}

bool CSdkTaskDlg::OnVersionTimer() {
    AppendLog("GetVer Fail");
    ++m_retryCount;
    if (m_retryCount != kVersionTries) {
        SetTimer(TIMER_VERSION, kVersionTimeoutMs);
        if (m_link) m_link->GetVersion();
        return false;
    }
    ++m_portIndex;
    if (static_cast<std::size_t>(m_portIndex) == m_portList.size()) {
        PostError(SDK_ERR_NO_ANSWER);
        PostFull();
        EndTask();
        return true;
    }
    m_link.reset();
    platform::clock().sleep_ms(kPortSwitchPauseMs);
    switch (Connect()) {
        case -1:
        case -2:
            PostError(SDK_ERR_NO_PORT);
            EndTask();
            return true;
        case -3:
            PostError(SDK_ERR_PORT_OPEN);
            EndTask();
            return true;
        default:
            RequestVersion(std::nullopt);
            return false;
    }
}

void CSdkTaskDlg::OnVersionReply(std::string* text) {
    std::unique_ptr<std::string> owned(text);
    KillTimer(TIMER_VERSION);
    if (m_ended) return;
    PostResultBlock(SDK_MSG_WATCH_VERSION, owned->data(), owned->size());
    const std::string version = *owned;
    owned.reset();

    if (m_versionOnly) {
        m_display->FillProgress();
        PostFull();
        platform::clock().sleep_ms(kVersionOnlyEndPauseMs);
        EndTask();
        return;
    }

    if (strcasecmp(version.c_str(), "0.0") == 0) {
        m_firmwareVersion = 0.0f;
        m_nameWidth = kNarrowNameWidth;
    } else if (version.find("Ver") != std::string::npos) {
        // As the watch's firmware has always been read: the first three
        // characters are dropped, wherever "Ver" stood.
        if (version.size() >= 3)
            ReadVersionNumber(std::string_view(version).substr(3), m_firmwareVersion);
        m_nameWidth = static_cast<double>(m_firmwareVersion) < kWideNamesFrom ? kNarrowNameWidth
                                                                              : kWideNameWidth;
    } else {
        // The numeric reply form ("1.21"): use the number the text shows.
        if (!version.empty() && std::isdigit(static_cast<unsigned char>(version[0])) &&
            ReadVersionNumber(version, m_firmwareVersion)) {
            m_nameWidth = static_cast<double>(m_firmwareVersion) < kWideNamesFrom ? kNarrowNameWidth
                                                                                  : kWideNameWidth;
        }
    }

    if (static_cast<double>(m_firmwareVersion) < kMinimumFirmware) {
        PostError(SDK_ERR_OLD_FIRMWARE);
        EndTask();
        return;
    }
    bool first_reply = false;
    {
        std::lock_guard lock(m_versionLock);
        first_reply = m_versionPending;
        m_versionPending = false;
    }
    if (first_reply) StartStatusQuery(true);
}

}  // namespace stridelog
