// Reply dispatch: the status query, the operation start, read runs and their
// continuations, write acknowledgements, and the one timer handler.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "link/link_messages.hpp"
#include "link/watch_link.hpp"
#include "platform/clock.hpp"
#include "platform/window_system.hpp"
#include "sdk/diag/diagnostics.hpp"
#include "ui/task_display.hpp"
#include "sdk/task_window.hpp"

namespace stridelog {
namespace {

constexpr int kProgressUnset = -1;
constexpr int kProgressStepBytes = 4096;
// Counts stored read chunks in bytes for the whole process, so a second task
// continues where the first stopped.
std::atomic<int> g_readChunkProgress{kProgressUnset};

constexpr std::uint32_t kWorkoutsDoneFillPauseMs = 500;

}  // namespace

void ResetReadChunkProgress() {
    g_readChunkProgress = kProgressUnset;
}

void CSdkTaskDlg::StartStatusQuery(bool dispatch_after_status) {
    if (!m_link) return;
    m_dispatchAfterStatus = dispatch_after_status;
    m_statusPending = true;
    SetTimer(TIMER_STATUS, kStatusTimeoutMs);
    m_link->GetStatus();
}

void CSdkTaskDlg::OnStatusReply(std::uint8_t* block, std::size_t count) {
    std::unique_ptr<std::uint8_t[]> owned(block);
    // Only the reply to our query counts: one that comes unasked, or after the
    // query timed out and the operation started, changes nothing.
    if (!m_statusPending || m_ended || count < 2) return;
    m_statusPending = false;
    KillTimer(TIMER_STATUS);
    m_statusBytes[0] = block[0];
    m_statusBytes[1] = block[1];
    // Two status bytes: flag 1. Four or more: the fourth, signed. Three: the
    // watch answered but has no fourth byte to read; it counts as an answer (1).
    m_statusFlag = count >= 4 ? static_cast<std::int8_t>(block[3]) : 1;
    owned.reset();
    if (m_dispatchAfterStatus) {
        StartOperation();
    } else {
        EndUnsupportedOperation("A-GPS check");
    }
}

void CSdkTaskDlg::EndUnsupportedOperation(const char* what) {
    diag::Trace("%s: not available in this build", what);
    EndTask();
}

void CSdkTaskDlg::StartOperation() {
    switch (m_requestedOp) {
        case OP_WORKOUTS:
            return EndUnsupportedOperation("workout download");
        case OP_GET_PATHS:
            return EndUnsupportedOperation("path read");
        case OP_SET_PATHS:
            return EndUnsupportedOperation("path write");
        case OP_CLEAR_WORKOUTS:
            return EndUnsupportedOperation("workout clearing");
        case OP_GET_VIEWS:
            return EndUnsupportedOperation("views read");
        case OP_SET_VIEWS:
            return EndUnsupportedOperation("views write");
        case OP_GET_SETTING:
            return EndUnsupportedOperation("settings read");
        case OP_SET_SETTING:
            return EndUnsupportedOperation("settings write");
        case OP_LONG_VERSION:
            return EndUnsupportedOperation("long version");
        case OP_SELECTED_WORKOUTS:
            return EndUnsupportedOperation("selected workout download");
        case OP_AGPS:
            return EndUnsupportedOperation("A-GPS update");
        case OP_FIRMWARE_CHECK:
            return EndUnsupportedOperation("firmware update");
        case OP_READ_SECTOR:
            return EndUnsupportedOperation("sector read");
        case OP_SET_CLOCK:
            return EndUnsupportedOperation("clock setting");
        default:
            // Nothing would ever end such a task; end it rather than leave it hanging.
            return EndUnsupportedOperation("unknown operation");
    }
}

void CSdkTaskDlg::StartReadRun(std::uint32_t address, std::uint32_t length,
                               std::uint8_t* destination, int step_code) {
    {
        std::lock_guard lock(m_transferLock);
        m_runAddress = address;
        m_runLength = length;
        m_runReceived = 0;
        m_runDestination = destination;
        m_stepCode = step_code;
    }
    const auto count = static_cast<std::uint8_t>(std::min<std::uint32_t>(kReadChunkSize, length));
    SetTimer(TIMER_READ, kFirstChunkTimeoutMs);
    if (m_link) m_link->ReadMemory(address, count, destination);
}

void CSdkTaskDlg::OnReadData(std::uint8_t* destination, std::size_t count) {
    (void)destination;  // the receive thread already copied the chunk there
    {
        std::lock_guard lock(m_transferLock);
        m_runReceived += static_cast<std::uint32_t>(count);
    }
    platform::post_message(m_hWnd, WM_READ_CHUNK_STORED, 0, 0);
}

void CSdkTaskDlg::OnReadChunkStored() {
    KillTimer(TIMER_READ);
    std::unique_lock lock(m_transferLock);
    int progress = g_readChunkProgress.load();
    if (progress == kProgressUnset) progress = kReadChunkSize;
    if (progress != kProgressStepBytes) {
        progress += kReadChunkSize;
    } else {
        progress = 0;
        m_display->StepIt();
        PostProgress(m_display->BarPercent());
    }
    g_readChunkProgress = progress;

    if (m_runReceived >= m_runLength) {
        lock.unlock();
        OnReadRunComplete();
        return;
    }
    const std::uint32_t next = m_runAddress + m_runReceived;
    const auto count = static_cast<std::uint8_t>(
        std::min<std::uint32_t>(kReadChunkSize, m_runLength - m_runReceived));
    std::uint8_t* destination = m_runDestination ? m_runDestination + m_runReceived : nullptr;
    lock.unlock();
    if (m_link) m_link->ReadMemory(next, count, destination);
    SetTimer(TIMER_READ, kNextChunkTimeoutMs);
}

void CSdkTaskDlg::OnReadRunComplete() {
    // Continuations by step code belong to the operations; none is available yet.
    EndUnsupportedOperation("read continuation");
}

void CSdkTaskDlg::OnWriteAck(std::size_t count) {
    (void)count;
    EndUnsupportedOperation("write continuation");
}

void CSdkTaskDlg::OnWriteStepAck() {
    EndUnsupportedOperation("write step");
}

void CSdkTaskDlg::OnBadReply(std::uint8_t id) {
    (void)id;
    KillTimer(TIMER_WRITE);
    PostError(SDK_ERR_TRANSFER);
    EndTask();
}

void CSdkTaskDlg::OnClockAck(std::uint8_t status) {
    (void)status;  // the watch's status byte is not examined
    KillTimer(TIMER_CLOCK);
    if (m_operationCode == OP_FIRMWARE_RECONNECT) {
        EndUnsupportedOperation("firmware restore");
    } else {
        EndUnsupportedOperation("clock setting");
    }
}

void CSdkTaskDlg::OnTimer(UINT_PTR id) {
    switch (id) {
        case TIMER_VERSION:
            KillTimer(id);
            OnVersionTimer();
            return;
        case TIMER_READ:
            // Not killed here: during the firmware reconnect it keeps firing.
            if (m_operationCode == OP_FIRMWARE_RECONNECT) return;
            PostError(SDK_ERR_TRANSFER);
            PostFull();
            EndTask();
            return;
        case TIMER_PATHS_NONE:
            KillTimer(id);
            PostFull();
            PostResult(SDK_MSG_NO_PATHS);
            EndTask();
            return;
        case TIMER_PATHS_READ:
            KillTimer(id);
            PostFull();
            EndTask();
            return;
        case TIMER_WRITE:
            KillTimer(id);
            PostFull();
            PostError(SDK_ERR_TRANSFER);
            EndTask();
            return;
        case TIMER_PATHS_WRITTEN:
            KillTimer(id);
            PostFull();
            PostResult(SDK_MSG_PATHS_WRITTEN);
            EndTask();
            return;
        case TIMER_WORKOUTS_DONE:
            KillTimer(id);
            if (m_clearAfterDownload) {
                EndUnsupportedOperation("clearing after download");
                return;
            }
            m_display->FillProgress();
            platform::clock().sleep_ms(kWorkoutsDoneFillPauseMs);
            PostFull();
            PostResult(SDK_MSG_WORKOUTS_DONE);
            EndTask();
            return;
        case TIMER_RATE:
            m_display->RefreshRateDisplay();
            return;
        case TIMER_DOWNLOAD_LIMIT:
            KillTimer(id);
            PostFull();
            PostError(SDK_ERR_DOWNLOAD_TIMEOUT);
            EndTask();
            return;
        case TIMER_RECONNECT_LIMIT:
            KillTimer(id);
            PostFull();
            m_display->AppendLogTextDirect("60sec timeout\r\n");
            EndUnsupportedOperation("firmware reconnect");
            return;
        case TIMER_RECONNECT_WAIT:
            KillTimer(id);
            SetTimer(TIMER_RECONNECT_PROBE, 1000);
            return;
        case TIMER_RECONNECT_PROBE:
            EndUnsupportedOperation("firmware reconnect probe");
            return;
        case TIMER_CLOCK:
            KillTimer(id);
            if (m_operationCode == OP_FIRMWARE_RECONNECT) {
                EndUnsupportedOperation("firmware restore");
                return;
            }
            PostFull();
            PostError(SDK_ERR_CLOCK_TIMEOUT);
            EndTask();
            return;
        case TIMER_STATUS:
            KillTimer(id);
            m_statusPending = false;
            m_statusFlag = 0;
            StartOperation();
            return;
        default:
            return;
    }
}

}  // namespace stridelog
