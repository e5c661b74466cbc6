// Draws the library's windows onto a canvas the way the desktop would show them:
// frame, caption bar and the controls of their dialog template, placed from
// dialog units in pixels. Used by the image presenter.
//
// Threads: the thread that owns the window drawn.
#pragma once

#include "platform/canvas.hpp"

namespace stridelog {

class TaskDisplay;
class CConfirmDlg;

namespace ui {

// The task window at its current size (after layout only its upper part).
platform::Canvas RenderTaskWindow(const TaskDisplay& display);
// The confirmation dialog while it is open.
platform::Canvas RenderConfirmDialog(const CConfirmDlg& dialog);

}  // namespace ui
}  // namespace stridelog
