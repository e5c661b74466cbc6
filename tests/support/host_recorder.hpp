// A host window that records every notification the way a host sees it: the
// code, and the bytes of the block (copied, then freed as a host frees it).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "stridelog/stridelog.h"

namespace stridelog::test {

struct Notification {
    bool error = false;  // error message (else result message)
    UINT code = 0;
    bool has_block = false;
    std::vector<std::uint8_t> block;

    float progress() const;  // the float of a 0x2022 block
    std::string text() const { return std::string(block.begin(), block.end()); }
};

class HostRecorder {
  public:
    HostRecorder();
    ~HostRecorder();
    HostRecorder(const HostRecorder&) = delete;
    HostRecorder& operator=(const HostRecorder&) = delete;

    HWND hwnd() const { return window_; }
    const std::vector<Notification>& notifications() const { return notes_; }
    // Codes in arrival order (errors and results alike).
    std::vector<UINT> codes() const;
    // The same without the progress notifications, and the progress values alone.
    std::vector<UINT> codes_without_progress() const;
    std::vector<float> progress_values() const;
    // The codes without progress of either kind (0x2022, and 0x2023 by phase).
    std::vector<UINT> outcome() const;
    // The percentages of the phase progress blocks (0x2023) of one phase.
    std::vector<float> phase_progress(std::uint32_t phase) const;
    // The blocks of every notification with `code`, in arrival order.
    std::vector<std::vector<std::uint8_t>> blocks(UINT code) const;
    // A one-line description of the sequence, for assertion messages.
    std::string describe() const;
    void clear() { notes_.clear(); }

    // Records a message reaching the host (used for thread messages too).
    void record(UINT message, WPARAM wparam, LPARAM lparam);

  private:
    HWND window_ = nullptr;
    UINT error_id_ = 0;
    UINT result_id_ = 0;
    std::vector<Notification> notes_;
};

// Runs the calling thread's loop until no task window of this thread lives and
// no message waits, or the (platform clock) time-out passes. On the virtual
// clock the time-out is virtual milliseconds. True when the task ended.
bool run_until_task_ends(std::uint64_t timeout_ms = 60'000);
// Delivers every message already waiting for this thread (and timers already due).
void deliver_posted();
// Runs the loop for exactly ms milliseconds of the platform clock.
void run_for(std::uint64_t ms);
// Runs the loop until pred() holds or the time-out passes.
template <class Pred>
bool run_until(Pred pred, std::uint64_t timeout_ms = 60'000);

}  // namespace stridelog::test

#include "tests/support/host_recorder_inl.hpp"
