// Draws the library's windows onto a canvas the way the desktop would show them:
// frame, caption bar and the controls of their dialog template, placed from
// dialog units in pixels. Used by the image presenter.
//
// Threads: the thread that owns the window drawn.
#pragma once

#include "platform/canvas.hpp"

namespace stridelog::ui {

class TaskDisplay;
class CConfirmDlg;

// The task window at its current size (after layout only its upper part).
platform::Canvas render_task_window(const TaskDisplay& display);
// The confirmation dialog while it is open.
platform::Canvas render_confirm_dialog(const CConfirmDlg& dialog);

}  // namespace stridelog::ui
