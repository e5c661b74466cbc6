// The library's two dialog templates as data: the task window (6000) and the
// confirmation dialog (6001), every control with its class, text, style and
// position in dialog units, and the conversion of dialog units to pixels.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/canvas.hpp"

namespace stridelog::ui {

// Window and control styles (the desktop's values).
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000;
inline constexpr std::uint32_t WS_HSCROLL = 0x00100000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t DS_SETFONT = 0x40;
inline constexpr std::uint32_t DS_MODALFRAME = 0x80;
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x3;
inline constexpr std::uint32_t SS_LEFT = 0x0;
inline constexpr std::uint32_t SS_RIGHT = 0x2;
inline constexpr std::uint32_t SS_ICON = 0x3;
inline constexpr std::uint32_t ES_MULTILINE = 0x4;
inline constexpr std::uint32_t ES_AUTOVSCROLL = 0x40;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x80;
inline constexpr std::uint32_t ES_READONLY = 0x800;

enum class ControlClass { button, static_text, edit, progress, check_box };

struct DialogUnits {
    int x;
    int y;
    int w;
    int h;
};

struct ControlTemplate {
    int id;
    ControlClass kind;
    std::string_view text;
    std::uint32_t style;
    DialogUnits position;
};

struct DialogTemplate {
    int id;
    std::string_view title;
    std::uint32_t style;
    std::string_view font_face;
    int font_points;
    DialogUnits position;
    std::span<const ControlTemplate> controls;
};

inline constexpr int IDD_CONFIRM = 6001;
inline constexpr int IDC_CONFIRM_ICON = 6007;
inline constexpr int IDC_CONFIRM_MESSAGE = 6006;
inline constexpr int IDC_CONFIRM_DETAILS = 6008;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

const DialogTemplate& task_window_template();  // 6000
const DialogTemplate& confirm_template();      // 6001
// Null for an unknown control id.
const ControlTemplate* find_control(const DialogTemplate& dialog, int id);

// The dialog font's base units: 8-point Arial on a 96 dpi screen averages 6
// pixels per character and 13 per line. A horizontal dialog unit is a quarter
// of the first, a vertical one an eighth of the second.
inline constexpr int kBaseUnitX = 6;
inline constexpr int kBaseUnitY = 13;
int dialog_x_to_pixels(int x);
int dialog_y_to_pixels(int y);
platform::Rect dialog_units_to_pixels(const DialogUnits& units);

// The frame around a dialog's client area: border width and caption bar height.
inline constexpr int kFrameWidth = 3;
inline constexpr int kCaptionHeight = 19;

}  // namespace stridelog::ui
