#include "sdk/task_window.hpp"

#include "link/link_messages.hpp"
#include "link/watch_link.hpp"
#include "platform/window_system.hpp"
#include "sdk/diag/diagnostics.hpp"
#include "sdk/notifications.hpp"
#include "sdk/ports/cable_ports.hpp"
#include "ui/task_display.hpp"
#include "sdk/task_registry.hpp"

namespace stridelog {

CSdkTaskDlg::CSdkTaskDlg(Storage storage) : m_storage(storage) {
    m_hWnd = platform::create_window([this](HWND, UINT message, WPARAM wparam, LPARAM lparam) {
        return WindowProc(message, wparam, lparam);
    });
    platform::set_window_text(m_hWnd, "Watch");
    m_display = std::make_unique<TaskDisplay>(m_hWnd);
    m_lowLevelMessage = platform::register_window_message(kLowLevelMessageName);
    m_taskHandle = m_hWnd;
    sdk::NoteTaskCreated(m_taskHandle);
}

CSdkTaskDlg::~CSdkTaskDlg() {
    m_link.reset();
    m_display.reset();
    if (platform::is_window(m_hWnd)) {
        // Never reached for a heap window (it is deleted from its own destruction).
        HWND window = m_hWnd;
        m_hWnd = nullptr;
        platform::destroy_window(window);
    }
    sdk::NoteTaskDestroyed(m_taskHandle);
}

void CSdkTaskDlg::Attach(HWND host) {
    m_hHost = host;
    m_errorMessage = platform::register_window_message(sdk::kErrorMessageName);
    m_resultMessage = platform::register_window_message(sdk::kResultMessageName);
}

bool CSdkTaskDlg::CheckConnection() {
    if (ports::FindCablePort() != 0) return true;
    PostError(SDK_ERR_NO_PORT);
    return false;
}

void CSdkTaskDlg::ApplyShowFlag(BOOL show) {
    m_showFlag = show ? 1 : 0;
    m_disableHost = m_showFlag;
    platform::show_window(m_hWnd, m_showFlag != 0);
    m_display->SetShown(m_showFlag != 0);
}

void CSdkTaskDlg::ShowForTask() {
    platform::show_window(m_hWnd, m_showFlag != 0);
    m_display->SetShown(m_showFlag != 0);
    if (m_disableHost) platform::enable_window(m_hHost, false);
    m_display->LayoutWindow();
}

void CSdkTaskDlg::StartByCode(int operation, bool rate_display) {
    m_display->ShowRateDisplay(rate_display);
    BeginConnection(static_cast<std::uint8_t>(operation), false);
}

void CSdkTaskDlg::StartTask() {
    m_display->PrepareForStart();
    m_display->LayoutWindow();
    switch (m_taskCode) {
        case TASK_SDK_VERSION:
            PostSdkVersion();
            return;
        case TASK_WATCH_VERSION:
            BeginConnection(0, false);  // the display stays as the template has it
            return;
        case TASK_LONG_VERSION:
            return StartByCode(OP_LONG_VERSION, false);
        case TASK_ALL_WORKOUTS:
        case TASK_WORKOUT_SUMMARY:
            return StartByCode(OP_WORKOUTS, false);
        case TASK_CLEAR_WORKOUTS:
            return StartByCode(OP_CLEAR_WORKOUTS, false);
        case TASK_SELECTED_WORKOUTS:
            return StartByCode(OP_SELECTED_WORKOUTS, false);
        case TASK_GET_PATHS:
            return StartByCode(OP_GET_PATHS, false);
        case TASK_SET_PATHS:
            // Bad path arrays are refused before the watch is touched.
            if (m_pathBlock.empty() && (m_pathArray == nullptr || m_nameArray == nullptr ||
                                        m_pathArray->m_nSize != 10 || m_nameArray->m_nSize != 10)) {
                PostError(SDK_ERR_PATH_COUNT);
                EndTask();
                return;
            }
            return StartByCode(OP_SET_PATHS, false);
        case TASK_GET_VIEWS:
            return StartByCode(OP_GET_VIEWS, false);
        case TASK_SET_VIEWS:
            return StartByCode(OP_SET_VIEWS, false);
        case TASK_GET_SETTING:
            return StartByCode(OP_GET_SETTING, false);
        case TASK_SET_SETTING:
            return StartByCode(OP_SET_SETTING, false);
        case TASK_AGPS_UPDATE:
            return StartByCode(OP_AGPS, true);
        case TASK_FIRMWARE_UPDATE:
            return StartByCode(OP_FIRMWARE_CHECK, true);
        case TASK_READ_SECTOR:
            return StartByCode(OP_READ_SECTOR, false);
        case TASK_SET_DATE_TIME:
            return StartByCode(OP_SET_CLOCK, false);
        case TASK_WRITE_SECTOR:
        default:
            return;  // starts nothing
    }
}

void CSdkTaskDlg::EndTask() {
    if (m_ended) return;
    m_ended = true;
    AppendLog("dll exit()");
    m_link.reset();
    for (UINT_PTR id : {TIMER_WRITE, TIMER_VERSION, TIMER_READ, TIMER_RATE, TIMER_RECONNECT_LIMIT,
                        TIMER_RECONNECT_WAIT, TIMER_RECONNECT_PROBE, TIMER_CLOCK})
        KillTimer(id);
    m_selectedSessions.clear();
    m_pathBlock.clear();
    m_directory.clear();
    m_dataBuffer.clear();
    platform::enable_window(m_hHost, true);
    m_display->NotifyTaskEnded();
    if (m_storage == Storage::heap) {
        // The window's final destruction deletes this object; inside a handler
        // it waits until the handler has returned.
        if (m_handlerDepth > 0) {
            m_destroyPending = true;
        } else {
            platform::destroy_window(m_hWnd);
        }
    }
    // A local (modal) task window ends its loop instead; the entry point destroys it.
}

void CSdkTaskDlg::RunModal() {
    platform::run_loop_until([this] { return m_ended; });
}

void CSdkTaskDlg::Dismiss() {
    m_link.reset();
    m_display.reset();
    HWND window = m_hWnd;
    m_hWnd = nullptr;
    platform::destroy_window(window);
}

void CSdkTaskDlg::PostError(UINT code) {
    sdk::PostCode(m_hHost, m_errorMessage, code);
}
void CSdkTaskDlg::PostResult(UINT code) {
    sdk::PostCode(m_hHost, m_resultMessage, code);
}

void CSdkTaskDlg::PostResultBlock(UINT code, const void* data, std::size_t size) {
    sdk::PostBlock(m_hHost, m_resultMessage, code,
                   std::span(static_cast<const std::uint8_t*>(data), size));
}

void CSdkTaskDlg::PostProgress(float percent) {
    sdk::PostFloat(m_hHost, m_resultMessage, SDK_MSG_PROGRESS, percent);
}

void CSdkTaskDlg::PostSdkVersion() {
    PostResultBlock(SDK_MSG_SDK_VERSION, kSdkVersionText, sizeof kSdkVersionText - 1);
}

void CSdkTaskDlg::AppendLog(std::string_view line) {
    if (m_display) m_display->AppendLog(line);
}

void CSdkTaskDlg::SetTimer(UINT_PTR id, std::uint32_t ms) {
    platform::set_timer(m_hWnd, id, ms);
}
void CSdkTaskDlg::KillTimer(UINT_PTR id) {
    platform::kill_timer(m_hWnd, id);
}

LRESULT CSdkTaskDlg::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == platform::kWmNcDestroy) {
        if (m_storage == Storage::heap) delete this;  // the window's final destruction
        return 0;
    }
    // A handler may run a nested loop (a question to the user) in which another
    // handler ends the task; the window then goes when the outermost handler returns.
    ++m_handlerDepth;
    const LRESULT result = HandleMessage(message, wparam, lparam);
    if (--m_handlerDepth == 0 && m_destroyPending) {
        m_destroyPending = false;
        platform::destroy_window(m_hWnd);  // deletes this object
    }
    return result;
}

bool CSdkTaskDlg::TakeAwaitedAck(std::uint8_t reply_id) {
    if (m_awaitedAck != reply_id) return false;  // not the reply of the command outstanding
    m_awaitedAck = 0;
    return true;
}

LRESULT CSdkTaskDlg::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case platform::kWmTimer:
            OnTimer(wparam);
            return 0;
        case platform::kWmClose:
            EndTask();
            return 0;
        case platform::kWmCommand:
            if ((wparam & 0xFFFF) == 2) EndTask();  // Cancel (or Esc)
            return 0;
        case WM_LINK_VERSION:
            OnVersionReply(reinterpret_cast<std::string*>(wparam));
            return 0;
        case WM_LINK_READ_DATA:
            OnReadData(reinterpret_cast<std::uint8_t*>(wparam), static_cast<std::size_t>(lparam));
            return 0;
        case WM_READ_CHUNK_STORED:
            OnReadChunkStored();
            return 0;
        case WM_LINK_WRITE_ACK:
            if (!TakeAwaitedAck(watch_id::kWriteReply)) return 0;
            KillTimer(TIMER_WRITE);
            OnWriteAck(static_cast<std::size_t>(lparam));
            return 0;
        case WM_LINK_ERASE_ACK:
        case WM_LINK_ACK_23:
        case WM_LINK_PREPARE_ACK: {
            const std::uint8_t id = message == WM_LINK_ERASE_ACK ? watch_id::kEraseReply
                                    : message == WM_LINK_ACK_23  ? watch_id::kAck23
                                                                 : watch_id::kPrepareWriteReply;
            if (!TakeAwaitedAck(id)) return 0;
            KillTimer(TIMER_WRITE);
            OnWriteStepAck();
            return 0;
        }
        case WM_LINK_BAD_REPLY:
            OnBadReply(static_cast<std::uint8_t>(lparam));
            return 0;
        case WM_LINK_STATUS:
            OnStatusReply(reinterpret_cast<std::uint8_t*>(wparam),
                          static_cast<std::size_t>(lparam));
            return 0;
        case WM_LINK_EXPIRY_ACK:
            if (!TakeAwaitedAck(watch_id::kSetExpiryDateReply)) return 0;
            KillTimer(TIMER_WRITE);
            EndUnsupportedOperation("A-GPS expiry");
            return 0;
        case WM_LINK_PROGRAM_ACK:
            if (!TakeAwaitedAck(watch_id::kProgramUpdateReply)) return 0;
            AppendLog("Prog Update AcK");
            EndUnsupportedOperation("firmware update");
            return 0;
        case WM_LINK_CLOCK_ACK:
            if (!TakeAwaitedAck(watch_id::kSetClockReply)) return 0;
            OnClockAck(static_cast<std::uint8_t>(wparam));
            return 0;
        default:
            return 0;  // the registered low-level message included: nothing to do
    }
}

}  // namespace stridelog
