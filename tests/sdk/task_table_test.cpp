// The one table from task to operation: each row makes the operation it
// names, and a task whose running operation is not the requested one fails
// with an error the host sees, never silently.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "sdk/task_registry.hpp"
#include "sdk/task_window.hpp"
#include "sdk/tasks.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/task_window_access.hpp"
#include "tests/support/test_environment.hpp"
#include "wire/message_ids.hpp"

namespace stridelog {
namespace {

TEST(TaskTable, EveryOperationRowMakesTheOperationItNames) {
    test::TestEnvironment env;
    platform::ScopedVirtualClock clock;
    test::HostRecorder host;
    sdk::CSdkTaskDlg dlg(sdk::CSdkTaskDlg::Storage::local);
    dlg.attach(host.hwnd());
    std::size_t operation_rows = 0;
    for (const sdk::TaskRow& row : sdk::kTasks) {
        SCOPED_TRACE(static_cast<int>(row.task));
        if (row.start != sdk::TaskStart::operation) continue;
        ++operation_rows;
        sdk::TaskRequest request;
        request.task = row.task;
        const auto operation = row.make(request, TaskWindowTestAccess::host(dlg));
        ASSERT_NE(operation, nullptr);
        EXPECT_EQ(operation->code(), row.operation);
    }
    EXPECT_EQ(operation_rows, 15u);
    dlg.dismiss();
}

// Stands in for a row that makes the wrong operation: it reports a code of
// its own and would read the directory if it were ever started.
class Impostor final : public task::Operation {
  public:
    explicit Impostor(task::TaskHost& host) : Operation(host) {}
    task::OperationCode code() const override { return task::OperationCode::set_views; }
    void start() override { host().transfer().read_directory(); }
};

TEST(TaskTable, AnOperationOtherThanTheRequestedOneFailsTheTaskLoudly) {
    struct Case {
        const char* legend;
        bool make_one;
        const char* line;  // the diagnostic line
    };
    const Case cases[] = {
        {"another operation runs", true,
         "operation start: operation 110 was requested but operation 109 is running; the task "
         "fails"},
        {"no operation runs", false,
         "operation start: operation 110 was requested but operation 0 is running; the task "
         "fails"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        test::TestEnvironment env;
        env.set_switch("DebugView", "1");
        platform::ScopedVirtualClock clock;
        test::DebugCapture capture;
        const std::size_t blocks_before = platform::live_global_blocks();
        sim::Watch watch;
        sim::InProcessLine line(watch, "table");
        sim::register_as_cable(line, "COM7");
        test::HostRecorder host;

        auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
        dlg->attach(host.hwnd());
        TaskWindowTestAccess::start_as(*dlg, sdk::task_get_setting,
                                       [&](task::TaskHost& h) -> std::unique_ptr<task::Operation> {
                                           if (!c.make_one) return nullptr;
                                           return std::make_unique<Impostor>(h);
                                       });
        ASSERT_TRUE(test::run_until_task_ends(60'000));
        EXPECT_EQ(host.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER}))
            << host.describe();
        EXPECT_NE(capture.text().find(c.line), std::string::npos) << capture.text();
        // The status query went out; nothing of the impostor's did.
        EXPECT_EQ(watch.received_count(wire::watch_id::kGetStatus), 1u);
        EXPECT_EQ(watch.received_count(wire::watch_id::kReadMemory), 0u);
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before);
    }
}

}  // namespace
}  // namespace stridelog
