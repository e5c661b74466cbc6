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
    void window_shown(const ui::TaskDisplay& d) override { events.push_back("shown " + look(d)); }
    void window_hidden(const ui::TaskDisplay&) override { events.push_back("hidden"); }
    void window_updated(const ui::TaskDisplay& d) override {
        events.push_back("updated " + look(d));
    }
    void confirm_shown(const ui::CConfirmDlg& dialog) override {
        events.push_back("confirm");
        if (on_confirm) on_confirm(dialog);
    }
    void task_ended(const ui::TaskDisplay& d) override {
        events.push_back("ended");
        if (on_ended) on_ended(d);
    }

    // What a person would read: status text and bar caption.
    static std::string look(const ui::TaskDisplay& d) {
        return d.control_text(ui::IDC_STATUS_TEXT) + "|" + d.progress_bar().caption_text();
    }

    std::vector<std::string> events;
    std::function<void(const ui::CConfirmDlg&)> on_confirm;
    std::function<void(const ui::TaskDisplay&)> on_ended;
};

// Runs a task (run() returns whether it ended) with a recording presenter
// installed; `log` gets the task window's status log as the task ended.
template <class Run>
bool run_recording_status_log(Run run, std::string& log) {
    auto presenter = std::make_shared<RecordingPresenter>();
    presenter->on_ended = [&log](const ui::TaskDisplay& display) { log = display.log_text(); };
    ui::install_presenter(presenter);
    const bool ended = run();
    ui::install_presenter(nullptr);
    return ended;
}

}  // namespace stridelog::test
