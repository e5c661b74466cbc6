#include "ui/dialog_templates.hpp"

#include <array>

namespace stridelog::ui {
namespace {

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t kDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

constexpr std::array kTaskWindowControls = {
    ControlTemplate{
        1, ControlClass::button, "OK", WS_CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, {70, 195, 50, 14}},
    ControlTemplate{
        2, ControlClass::button, "Cancel", kChild | BS_PUSHBUTTON | WS_TABSTOP, {75, 65, 50, 14}},
    ControlTemplate{
        6000, ControlClass::progress, "Progress1", kChild | WS_BORDER, {5, 20, 185, 14}},
    ControlTemplate{
        6006, ControlClass::static_text, "Progress   ", kChild | SS_LEFT, {5, 10, 130, 8}},
    ControlTemplate{1039,
                    ControlClass::edit,
                    "",
                    kChild | WS_BORDER | ES_MULTILINE | WS_VSCROLL | WS_HSCROLL | ES_AUTOVSCROLL |
                        ES_AUTOHSCROLL | WS_TABSTOP,
                    {5, 85, 185, 90}},
    ControlTemplate{1008,
                    ControlClass::edit,
                    "",
                    kChild | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP,
                    {35, 180, 110, 14}},
    ControlTemplate{-1, ControlClass::static_text, "Sector", kChild | SS_LEFT, {11, 185, 25, 8}},
    ControlTemplate{1069,
                    ControlClass::check_box,
                    "Log (log.txt)",
                    kChild | BS_AUTOCHECKBOX | WS_TABSTOP,
                    {5, 196, 51, 10}},
    ControlTemplate{
        6002, ControlClass::static_text, "Estimated time left", kChild | SS_LEFT, {5, 40, 105, 8}},
    ControlTemplate{
        6003, ControlClass::static_text, "Transfer rate", kChild | SS_LEFT, {5, 50, 90, 8}},
    ControlTemplate{6004, ControlClass::static_text, "00:00", kChild | SS_RIGHT, {145, 40, 45, 8}},
    ControlTemplate{
        6005, ControlClass::static_text, "0000.00 kB/second", kChild | SS_RIGHT, {120, 50, 70, 8}},
};

constexpr std::array kConfirmControls = {
    ControlTemplate{
        IDC_CONFIRM_ICON, ControlClass::static_text, "", kChild | SS_ICON, {5, 5, 20, 20}},
    ControlTemplate{IDC_CONFIRM_MESSAGE,
                    ControlClass::static_text,
                    "Static",
                    kChild | SS_LEFT,
                    {50, 5, 240, 55}},
    ControlTemplate{
        IDC_CONFIRM_DETAILS,
        ControlClass::edit,
        "",
        kChild | ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | ES_AUTOVSCROLL | WS_TABSTOP,
        {10, 65, 280, 55}},
    ControlTemplate{IDYES,
                    ControlClass::button,
                    "Yes",
                    kChild | BS_DEFPUSHBUTTON | WS_TABSTOP,
                    {85, 125, 50, 14}},
    ControlTemplate{
        IDNO, ControlClass::button, "No", kChild | BS_PUSHBUTTON | WS_TABSTOP, {165, 125, 50, 14}},
};

// The task window is not visible until its task decides to show it.
constexpr DialogTemplate kTaskWindow{6000, "Watch",          kDialogStyle,       "Arial",
                                     8,    {0, 0, 197, 212}, kTaskWindowControls};
constexpr DialogTemplate kConfirm{IDD_CONFIRM, "Dialog",         kDialogStyle,    "Arial",
                                  8,           {0, 0, 297, 149}, kConfirmControls};

}  // namespace

const DialogTemplate& task_window_template() {
    return kTaskWindow;
}
const DialogTemplate& confirm_template() {
    return kConfirm;
}

const ControlTemplate* find_control(const DialogTemplate& dialog, int id) {
    for (const auto& control : dialog.controls)
        if (control.id == id) return &control;
    return nullptr;
}

int dialog_x_to_pixels(int x) {
    return x * kBaseUnitX / 4;
}
int dialog_y_to_pixels(int y) {
    return y * kBaseUnitY / 8;
}

platform::Rect dialog_units_to_pixels(const DialogUnits& units) {
    const int left = dialog_x_to_pixels(units.x);
    const int top = dialog_y_to_pixels(units.y);
    return {left, top, dialog_x_to_pixels(units.x + units.w),
            dialog_y_to_pixels(units.y + units.h)};
}

}  // namespace stridelog::ui
