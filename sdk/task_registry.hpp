// Which task windows live, per creating thread; what Stridelog_TaskActive reports.
//
// Threads: any thread; each thread sees its own tasks.
#pragma once

namespace stridelog::sdk {

void NoteTaskCreated();
void NoteTaskDestroyed();
bool TaskActiveOnThisThread();

}  // namespace stridelog::sdk
