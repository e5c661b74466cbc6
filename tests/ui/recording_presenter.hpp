// A presenter that records what it is told, for the display and dialog tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/confirm_dlg.hpp"
#include "ui/presenter.hpp"
#include "ui/task_display.hpp"
#include "ui/text_progress_ctrl.hpp"

namespace stridelog::test {

class RecordingPresenter : public ui::Presenter {
  public:
    void WindowShown(const TaskDisplay& d) override { events.push_back("shown " + Look(d)); }
    void WindowHidden(const TaskDisplay&) override { events.push_back("hidden"); }
    void WindowUpdated(const TaskDisplay& d) override { events.push_back("updated " + Look(d)); }
    void ConfirmShown(const CConfirmDlg& dialog) override {
        events.push_back("confirm");
        if (on_confirm) on_confirm(dialog);
    }
    void TaskEnded(const TaskDisplay& d) override {
        events.push_back("ended");
        if (on_ended) on_ended(d);
    }

    // What a person would read: status text and bar caption.
    static std::string Look(const TaskDisplay& d) {
        return d.ControlText(IDC_STATUS_TEXT) + "|" + d.ProgressBar().CaptionText();
    }

    std::vector<std::string> events;
    std::function<void(const CConfirmDlg&)> on_confirm;
    std::function<void(const TaskDisplay&)> on_ended;
};

// Runs a task (run() returns whether it ended) with a recording presenter
// installed; `log` gets the task window's status log as the task ended.
template <class Run>
bool RunRecordingStatusLog(Run run, std::string& log) {
    auto presenter = std::make_shared<RecordingPresenter>();
    presenter->on_ended = [&log](const TaskDisplay& display) { log = display.LogText(); };
    ui::InstallPresenter(presenter);
    const bool ended = run();
    ui::InstallPresenter(nullptr);
    return ended;
}

}  // namespace stridelog::test
