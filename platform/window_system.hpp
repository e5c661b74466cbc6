// Windows, per-thread message queues, registered messages and window timers.
//
// Threads: a window belongs to the thread that created it. post_message and
// register_window_message may be called from any thread. Everything else
// (send_message, timers, destroy, show/enable, the message loop) is called on
// the owner's thread; send_message to another thread's window is refused.
// Messages still queued for a window when it is destroyed, or left in a queue
// when its thread ends, are discarded; a message posted with a drop function
// has it called then, so whatever the message carried is released exactly once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "stridelog/win_types.h"

namespace stridelog::platform {

inline constexpr UINT kWmDestroy = 0x0002;
inline constexpr UINT kWmPaint = 0x000F;
inline constexpr UINT kWmClose = 0x0010;
inline constexpr UINT kWmQuit = 0x0012;
inline constexpr UINT kWmEraseBkgnd = 0x0014;
inline constexpr UINT kWmNcDestroy = 0x0082;
inline constexpr UINT kWmKeyDown = 0x0100;
inline constexpr UINT kWmCommand = 0x0111;
inline constexpr UINT kWmTimer = 0x0113;
inline constexpr UINT kWmUser = 0x0400;
inline constexpr UINT kFirstRegisteredMessage = 0xC000;

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
// Called instead of delivery when a posted message is discarded.
using DropFn = void (*)(UINT message, WPARAM wparam, LPARAM lparam);

struct Message {
    HWND hwnd = nullptr;  // null for a thread message
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    DropFn drop = nullptr;
};

HWND create_window(WindowProc proc, HWND parent = nullptr);
// Destroys the children first, then sends WM_DESTROY and WM_NCDESTROY; the
// window's timers die with it and its queued messages are discarded.
bool destroy_window(HWND window);
bool is_window(HWND window);
// Number of live windows owned by the calling thread.
std::size_t window_count_on_this_thread();

// Queues a message for the window's thread. A null window posts a thread
// message to the calling thread. Fails (returns false) when the window does not
// exist; the caller still owns what the message carried.
bool post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DropFn drop = nullptr);
// Calls the window procedure directly; 0 when the window does not exist or
// belongs to another thread.
LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The same name gives the same number (0xC000 and up) everywhere in the
// process; names compare without regard to ASCII case. 0 for an empty name.
UINT register_window_message(std::string_view name);

// Sets (or replaces) the window's timer id with the period; an expiry reaches
// the owner's loop as WM_TIMER with wparam id. Periodic until killed.
bool set_timer(HWND window, UINT_PTR id, std::uint32_t period_ms);
bool kill_timer(HWND window, UINT_PTR id);
bool has_timer(HWND window, UINT_PTR id);

bool enable_window(HWND window, bool enable);
bool is_window_enabled(HWND window);
bool show_window(HWND window, bool show);
bool is_window_visible(HWND window);
bool set_window_text(HWND window, std::string_view text);
std::string get_window_text(HWND window);

enum class Fetch {
    message,  // msg holds a message
    quit,     // WM_QUIT was retrieved
    timeout,  // nothing arrived before the deadline
    idle,     // virtual clock only: nothing queued, nothing in flight, nothing scheduled
};

// Next message for the calling thread: a posted message, else a due timer.
// Waits until deadline_ms on the platform clock (UINT64_MAX: no deadline). On
// a virtual clock an idle loop jumps time to the next due timer of this thread
// or scheduled callback instead of waiting, and reports idle when there is none.
Fetch get_message(Message& msg, std::uint64_t deadline_ms = UINT64_MAX);
// Non-blocking form: true when msg was filled.
bool peek_message(Message& msg);
LRESULT dispatch_message(const Message& msg);
void post_quit_message(int exit_code);

// Receives thread messages dispatched on the calling thread.
void set_thread_message_handler(std::function<void(const Message&)> handler);

// Runs a nested loop until done() holds. Returns false when the thread's loop
// got WM_QUIT (which is posted again for the outer loop) or the deadline passed.
bool run_loop_until(const std::function<bool()>& done, std::uint64_t deadline_ms = UINT64_MAX);

}  // namespace stridelog::platform
