// Presenters: how a shown task window and the confirmation question reach a
// person. The SDK has no screen of its own; a presenter installed for the whole
// process is told whenever a shown task window appears, changes or goes, when a
// confirmation dialog opens, and when a task ends. With none installed a shown
// window is only "shown" in its state, and every question is answered No.
//
// Threads: install and query from any thread; the notifications arrive on the
// task window's thread, one at a time per task window.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace stridelog::ui {

class TaskDisplay;
class CConfirmDlg;

class Presenter {
  public:
    virtual ~Presenter() = default;
    virtual void window_shown(const TaskDisplay& display) = 0;
    virtual void window_hidden(const TaskDisplay& display) = 0;
    // Something the shown window displays may have changed.
    virtual void window_updated(const TaskDisplay& display) = 0;
    // The dialog is open. The presenter answers, now or later, by posting a
    // button command (WM_COMMAND 6 or 7) or WM_CLOSE to dialog.window().
    virtual void confirm_shown(const CConfirmDlg& dialog) = 0;
    virtual void task_ended(const TaskDisplay& display) = 0;
};

// Null removes the presenter.
void install_presenter(std::shared_ptr<Presenter> presenter);
std::shared_ptr<Presenter> installed_presenter();

// 0: ask the presenter; 6 or 7: every confirmation is answered that way.
void set_forced_confirm_answer(int answer);
int forced_confirm_answer();

// A host's own answer to the question: given the caption, the message and the
// detail lines, it returns 6 (Yes) or anything else (No). Asked before the
// presenter and after a forced answer; empty: none.
using ConfirmHandler = std::function<int(const std::string& title, const std::string& message,
                                         const std::vector<std::string>& lines)>;
void set_confirm_handler(ConfirmHandler handler);
ConfirmHandler installed_confirm_handler();

// Progress and questions on a terminal. On a TTY the window is redrawn in place
// with ANSI sequences; otherwise each changed line is written once as plain text.
// A question reads one line from `in`: y or yes answers Yes, anything else (or
// end of input) No.
std::shared_ptr<Presenter> make_terminal_presenter(std::ostream& out, std::istream& in, bool tty);

// Renders the shown task window (its laid-out part) to the PNG file `path` when
// the task ends, and each confirmation dialog to `path` with ".png" replaced by
// "-confirm.png". It cannot ask anyone, so it answers every question No.
std::shared_ptr<Presenter> make_image_presenter(std::string path);

}  // namespace stridelog::ui
