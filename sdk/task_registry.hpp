// Which task windows live, per creating thread; what Stridelog_TaskActive reports.
//
// Threads: any thread; each thread sees its own tasks, and cancel_all_tasks
// reaches every thread's.
#pragma once

#include <vector>

#include "stridelog/win_types.h"

namespace stridelog::sdk {

void note_task_created(HWND window);
void note_task_destroyed(HWND window);
bool task_active_on_this_thread();
// The live task windows of this thread, oldest first.
std::vector<HWND> task_windows_on_this_thread();
// Asks every live task window of the process to close, as its Cancel button
// would; each ends through its task end on its own thread.
void cancel_all_tasks();

}  // namespace stridelog::sdk
