// What tests may reach inside a task window: the facts the status reply set,
// and a task started with an operation of the test's own (how the sector write
// is proven end to end before any entry point writes).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sdk/task_window.hpp"
#include "sdk/tasks.hpp"
#include "task/operation.hpp"
#include "ui/task_display.hpp"

namespace stridelog {

struct TaskWindowTestAccess {
    using MakeOperation = std::function<std::unique_ptr<task::Operation>(task::TaskHost&)>;

    static const task::WatchFacts& facts(const sdk::CSdkTaskDlg& dlg) { return dlg.facts_; }

    // Hands the window a status reply as if its query had just gone out.
    static void deliver_status(sdk::CSdkTaskDlg& dlg, const std::vector<std::uint8_t>& bytes) {
        dlg.status_pending_ = true;
        dlg.dispatch_after_status_ = false;  // nothing to start
        dlg.OnStatusReply(bytes);
    }

    // The window as the TaskHost its operations see.
    static task::TaskHost& host(sdk::CSdkTaskDlg& dlg) { return static_cast<task::TaskHost&>(dlg); }

    // Connects as every task does, then runs the operation `make` builds.
    static void start_with(sdk::CSdkTaskDlg& dlg, const MakeOperation& make) {
        sdk::TaskRequest request;
        request.task = sdk::task_set_setting;
        request.show = false;
        dlg.request_ = request;
        dlg.display_->set_shown(false);
        auto operation = make(static_cast<task::TaskHost&>(dlg));
        const auto code = operation->code();
        dlg.run_operation(std::move(operation), code);
    }
};

}  // namespace stridelog
