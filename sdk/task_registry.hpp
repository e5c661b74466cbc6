// Which task windows live, per creating thread; what Stridelog_TaskActive reports.
//
// Threads: any thread; each thread sees its own tasks, and CancelAllTasks
// reaches every thread's.
#pragma once

#include <vector>

#include "stridelog/win_types.h"

namespace stridelog::sdk {

void NoteTaskCreated(HWND window);
void NoteTaskDestroyed(HWND window);
bool TaskActiveOnThisThread();
// The live task windows of this thread, oldest first.
std::vector<HWND> TaskWindowsOnThisThread();
// Asks every live task window of the process to close, as its Cancel button
// would; each ends through its task end on its own thread.
void CancelAllTasks();

}  // namespace stridelog::sdk
