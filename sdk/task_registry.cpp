#include "sdk/task_registry.hpp"

namespace stridelog::sdk {
namespace {

// Task windows live on the thread that called the entry point, and only that
// thread creates and destroys them, so a thread-local count is exact.
thread_local int t_live_tasks = 0;

}  // namespace

void NoteTaskCreated() { ++t_live_tasks; }
void NoteTaskDestroyed() { --t_live_tasks; }
bool TaskActiveOnThisThread() { return t_live_tasks > 0; }

}  // namespace stridelog::sdk
