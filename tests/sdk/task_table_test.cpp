// The one table from task to operation: a task whose running operation is not
// the requested one fails with an error the host sees, never silently (the
// rows themselves are run by the e2e and fault suites).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sdk/task_window.hpp"
#include "sdk/tasks.hpp"
#include "tests/support/simulated_watch_fixture.hpp"
#include "tests/support/task_window_access.hpp"
#include "wire/message_ids.hpp"

namespace stridelog {
namespace {

using TaskTable = test::SimulatedWatchTest;

// Stands in for a row that makes the wrong operation: it reports a code of
// its own and would read the directory if it were ever started.
class Impostor final : public task::Operation {
  public:
    explicit Impostor(task::TaskHost& host) : Operation(host) {}
    task::OperationCode code() const override { return task::OperationCode::set_views; }
    void start() override { host().transfer().read_directory(); }
};

TEST_F(TaskTable, AnOperationOtherThanTheRequestedOneFailsTheTaskLoudly) {
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
        env_.set_switch("DebugView", "1");
        test::DebugCapture capture;
        host_.clear();
        watch_.clear_received();
        auto* dlg = new sdk::CSdkTaskDlg(sdk::CSdkTaskDlg::Storage::heap);
        dlg->attach(host_.hwnd());
        TaskWindowTestAccess::start_as(*dlg, sdk::task_get_setting,
                                       [&](task::TaskHost& h) -> std::unique_ptr<task::Operation> {
                                           if (!c.make_one) return nullptr;
                                           return std::make_unique<Impostor>(h);
                                       });
        run_task();
        EXPECT_EQ(host_.codes(), (std::vector<UINT>{SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER}))
            << host_.describe();
        EXPECT_NE(capture.text().find(c.line), std::string::npos) << capture.text();
        // The status query went out; nothing of the impostor's did.
        EXPECT_EQ(watch_.received_count(wire::watch_id::kGetStatus), 1u);
        EXPECT_EQ(watch_.received_count(wire::watch_id::kReadMemory), 0u);
    }
}

}  // namespace
}  // namespace stridelog
