// Which operation a request runs once the watch has answered.
#pragma once

#include <memory>

#include "sdk/task_request.hpp"
#include "watchdata/operation.hpp"

namespace stridelog::sdk {

// The operation code a task requests (none for the tasks that need no watch
// operation: the SDK version, the watch version, the refused sector write).
watchdata::OperationCode RequestedOperation(TaskCode task);

// The operation object for `request`, or null when this build has none for it.
std::unique_ptr<watchdata::Operation> MakeOperation(const TaskRequest& request,
                                                    watchdata::TaskHost& host);

}  // namespace stridelog::sdk
