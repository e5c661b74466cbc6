#include "sdk/task_registry.hpp"

#include <algorithm>

namespace stridelog::sdk {
namespace {

// Task windows live on the thread that called the entry point, and only that
// thread creates and destroys them, so a thread-local list is exact.
thread_local std::vector<HWND> t_live_tasks;

}  // namespace

void NoteTaskCreated(HWND window) {
    t_live_tasks.push_back(window);
}

void NoteTaskDestroyed(HWND window) {
    auto it = std::find(t_live_tasks.begin(), t_live_tasks.end(), window);
    if (it != t_live_tasks.end()) t_live_tasks.erase(it);
}

bool TaskActiveOnThisThread() {
    return !t_live_tasks.empty();
}

std::vector<HWND> TaskWindowsOnThisThread() {
    return t_live_tasks;
}

}  // namespace stridelog::sdk
