// CConfirmDlg: a modal Yes/No question with a warning icon, a message and an
// optional list of detail lines, built from dialog template 6001.
//
// Who answers: a forced answer (set_forced_confirm_answer) is posted as its button
// command at once; otherwise the installed presenter is shown the dialog and
// posts the user's answer (a button command or WM_CLOSE) to window(); with no
// presenter the answer is No at once. Enter and Esc never end the dialog.
//
// Threads: built, run and destroyed on one thread, which must run no other modal
// loop meanwhile.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "stridelog/win_types.h"

namespace stridelog::ui {

class CConfirmDlg {
  public:
    explicit CConfirmDlg(HWND parent = nullptr);
    ~CConfirmDlg();
    CConfirmDlg(const CConfirmDlg&) = delete;
    CConfirmDlg& operator=(const CConfirmDlg&) = delete;

    // The lines stay the caller's; they are read when the dialog starts.
    void SetContent(std::string_view title, std::string_view message,
                    const std::vector<std::string>* lines);
    // Runs the dialog until it is answered: 6 (Yes) or 7 (No).
    int DoModal();
    // Ends a running dialog as its close box does (No), for an owner whose
    // reason to ask has gone; DoModal returns once the current message is handled.
    void Close();

    // While DoModal runs: the dialog window and what it shows.
    HWND window() const { return hwnd_; }
    const std::string& title() const { return title_; }
    // Text of a control of template 6001 (6006 message, 6008 detail lines).
    std::string control_text(int id) const;
    bool has_icon() const { return icon_shown_; }

  private:
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
    void OnInitDialog();
    void EndDialog(int result);

    HWND parent_;
    HWND hwnd_ = nullptr;
    std::string message_;
    std::string title_;
    const std::vector<std::string>* lines_ = nullptr;
    std::string message_control_;
    std::string details_control_;
    bool icon_shown_ = false;
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace stridelog::ui
