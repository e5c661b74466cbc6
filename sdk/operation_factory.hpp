// Which operation a request runs once the watch has answered.
#pragma once

#include <memory>

#include "sdk/task_request.hpp"
#include "task/operation.hpp"

namespace stridelog::sdk {

// The operation code a task requests (none for the tasks that need no watch
// operation: the SDK version, the watch version, the refused sector write).
task::OperationCode RequestedOperation(TaskCode task);

// The operation object for `request`, or null when this build has none for it.
std::unique_ptr<task::Operation> MakeOperation(const TaskRequest& request, task::TaskHost& host);

}  // namespace stridelog::sdk
