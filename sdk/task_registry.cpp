#include "sdk/task_registry.hpp"

#include <algorithm>
#include <mutex>

#include "platform/window_system.hpp"

namespace stridelog::sdk {
namespace {

// Task windows live on the thread that called the entry point, and only that
// thread creates and destroys them, so a thread-local list is exact.
thread_local std::vector<HWND> t_live_tasks;

// Every thread's, for a cancel that may come from any thread.
std::mutex g_all_tasks_mutex;
std::vector<HWND> g_all_tasks;

}  // namespace

void note_task_created(HWND window) {
    t_live_tasks.push_back(window);
    std::lock_guard lock(g_all_tasks_mutex);
    g_all_tasks.push_back(window);
}

void note_task_destroyed(HWND window) {
    auto it = std::find(t_live_tasks.begin(), t_live_tasks.end(), window);
    if (it != t_live_tasks.end()) t_live_tasks.erase(it);
    std::lock_guard lock(g_all_tasks_mutex);
    std::erase(g_all_tasks, window);
}

bool task_active_on_this_thread() {
    return !t_live_tasks.empty();
}

std::vector<HWND> task_windows_on_this_thread() {
    return t_live_tasks;
}

void cancel_all_tasks() {
    std::lock_guard lock(g_all_tasks_mutex);
    // A window that went meanwhile refuses the post; handles are never reused.
    for (HWND window : g_all_tasks) platform::post_message(window, platform::kWmClose, 0, 0);
}

}  // namespace stridelog::sdk
