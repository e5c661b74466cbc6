// One host window that collects the SDK's notifications for the tool.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "stridelog/stridelog.h"

namespace stridelog_tool {

class RawRecorder;

struct Note {
    bool error = false;
    UINT code = 0;
    std::vector<std::uint8_t> block;  // copied; the SDK's block is freed at once
    bool has_block = false;
};

class HostSession {
  public:
    // raw, when given, gets every block as it arrives.
    explicit HostSession(bool print_progress, RawRecorder* raw = nullptr);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    HWND window() const { return window_; }
    // Called with each notification as it arrives (live progress).
    void set_observer(std::function<void(const Note&)> observer) {
        observer_ = std::move(observer);
    }
    // Runs the loop until the task of this thread has ended (or the call posted
    // what a synchronous call posts), at most timeout_ms.
    bool wait_for_task(std::uint32_t timeout_ms);
    bool wait_for_notifications(std::size_t count, std::uint32_t timeout_ms);
    // Takes what is already posted, such as what a modal call posted just
    // before it returned.
    void drain();

    const std::vector<Note>& notes() const { return notes_; }
    const Note* first_error() const;
    const Note* find(UINT code) const;

  private:
    static LRESULT proc(void* context, HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    HWND window_ = nullptr;
    UINT error_id_ = 0;
    UINT result_id_ = 0;
    bool print_progress_ = false;
    RawRecorder* raw_ = nullptr;
    std::vector<Note> notes_;
    std::function<void(const Note&)> observer_;
};

}  // namespace stridelog_tool
