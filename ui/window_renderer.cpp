#include "ui/window_renderer.hpp"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/confirm_dlg.hpp"
#include "ui/dialog_templates.hpp"
#include "ui/task_display.hpp"
#include "ui/text_progress_ctrl.hpp"

namespace stridelog::ui {
namespace {

using platform::Canvas;
using platform::COLORREF;
using platform::Rect;
using platform::system_color;

// Static texts sit at the top of their control, the font's cell centred in one
// line of the dialog font.
constexpr int kTextTop = (kBaseUnitY - platform::kFontCellHeight) / 2;
constexpr int kLineHeight = kBaseUnitY;
constexpr int kScrollBarWidth = 17;
constexpr int kCheckBoxSize = 13;

COLORREF face() {
    return system_color(platform::COLOR_BTNFACE);
}
COLORREF ink() {
    return system_color(platform::COLOR_WINDOWTEXT);
}

// Splits at line ends and wraps at blanks so each line fits the width.
std::vector<std::string> wrap_text(std::string_view text, int width) {
    const auto max_chars = static_cast<std::size_t>(std::max(1, width / platform::kFontCellWidth));
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view paragraph = text.substr(start, end - start);
        if (!paragraph.empty() && paragraph.back() == '\r') paragraph.remove_suffix(1);
        do {
            if (paragraph.size() <= max_chars) {
                lines.emplace_back(paragraph);
                break;
            }
            std::size_t cut = paragraph.rfind(' ', max_chars);
            if (cut == std::string_view::npos || cut == 0) cut = max_chars;
            lines.emplace_back(paragraph.substr(0, cut));
            paragraph.remove_prefix(cut);
            while (!paragraph.empty() && paragraph.front() == ' ') paragraph.remove_prefix(1);
        } while (!paragraph.empty());
        if (end == text.size()) break;
        start = end + 1;
    }
    // A text ending in a line end leaves no extra empty line to show.
    if (!lines.empty() && lines.back().empty() && !text.empty() && text.back() == '\n')
        lines.pop_back();
    return lines;
}

void draw_lines(Canvas& canvas, const Rect& rect, const std::vector<std::string>& lines,
                COLORREF colour, bool right_aligned = false) {
    int y = rect.top + kTextTop;
    for (const auto& line : lines) {
        const int width = Canvas::text_extent(line).cx;
        const int x = right_aligned ? rect.right - width : rect.left;
        canvas.draw_text(x, y, line, colour, rect);
        y += kLineHeight;
    }
}

void draw_warning_icon(Canvas& canvas, const Rect& rect) {
    // A yellow triangle with an exclamation mark, 32 pixels like the system icon.
    const int size = std::min({32, rect.width(), rect.height()});
    const COLORREF yellow = platform::rgb(255, 204, 0);
    const COLORREF outline = platform::rgb(128, 96, 0);
    for (int row = 0; row < size; ++row) {
        const int half = row / 2;
        const int mid = rect.left + size / 2;
        canvas.fill_rect({mid - half, rect.top + row, mid + half + 1, rect.top + row + 1}, yellow);
        canvas.set_pixel(mid - half, rect.top + row, outline);
        canvas.set_pixel(mid + half, rect.top + row, outline);
    }
    canvas.fill_rect({rect.left, rect.top + size - 1, rect.left + size, rect.top + size}, outline);
    const int mid = rect.left + size / 2;
    canvas.fill_rect({mid - 1, rect.top + size / 3, mid + 2, rect.top + size - 10}, ink());
    canvas.fill_rect({mid - 1, rect.top + size - 7, mid + 2, rect.top + size - 4}, ink());
}

void draw_button(Canvas& canvas, const Rect& rect, std::string_view text, bool is_default) {
    Rect inner = rect;
    if (is_default) {
        canvas.frame_rect(inner, ink());
        inner = {inner.left + 1, inner.top + 1, inner.right - 1, inner.bottom - 1};
    }
    canvas.fill_rect(inner, face());
    canvas.draw_edge(inner, platform::EDGE_RAISED, platform::BF_RECT);
    const auto extent = Canvas::text_extent(text);
    canvas.draw_text(rect.left + (rect.width() - extent.cx) / 2,
                     rect.top + (rect.height() - extent.cy) / 2, text, ink(), rect);
}

void draw_edit(Canvas& canvas, const Rect& rect, std::uint32_t style, std::string_view text) {
    canvas.fill_rect(rect, system_color(platform::COLOR_WINDOW));
    Rect inner = rect;
    if (style & WS_BORDER)
        inner =
            canvas.draw_edge(rect, platform::EDGE_SUNKEN, platform::BF_RECT | platform::BF_ADJUST);
    if (style & WS_VSCROLL) {
        canvas.fill_rect({inner.right - kScrollBarWidth, inner.top, inner.right, inner.bottom},
                         system_color(platform::COLOR_3DLIGHT));
        inner.right -= kScrollBarWidth;
    }
    if (style & WS_HSCROLL) {
        canvas.fill_rect({inner.left, inner.bottom - kScrollBarWidth, inner.right, inner.bottom},
                         system_color(platform::COLOR_3DLIGHT));
        inner.bottom -= kScrollBarWidth;
    }
    const Rect text_area{inner.left + 2, inner.top, inner.right - 1, inner.bottom};
    const auto lines = (style & ES_MULTILINE) ? wrap_text(text, text_area.width())
                                              : std::vector<std::string>{std::string(text)};
    draw_lines(canvas, text_area, lines, ink());
}

void draw_check_box(Canvas& canvas, const Rect& rect, std::string_view text) {
    const int top = rect.top + (rect.height() - kCheckBoxSize) / 2;
    const Rect box{rect.left, top, rect.left + kCheckBoxSize, top + kCheckBoxSize};
    canvas.fill_rect(box, system_color(platform::COLOR_WINDOW));
    canvas.frame_rect(box, platform::rgb(51, 51, 51));
    canvas.draw_text(box.right + 4, rect.top + (rect.height() - platform::kFontCellHeight) / 2,
                     text, ink(), rect);
}

// Looks up what a control shows: its text and whether it is visible.
struct ControlLook {
    std::string text;
    bool visible;
};
using LookFn = std::function<ControlLook(const ControlTemplate&)>;
using PaintFn = std::function<void(Canvas&, const Rect&)>;

void draw_control(Canvas& canvas, const ControlTemplate& control, const ControlLook& look,
                  const PaintFn& paint_progress) {
    const Rect rect = dialog_units_to_pixels(control.position);
    switch (control.kind) {
        case ControlClass::static_text:
            if ((control.style & 0xF) == SS_ICON) {
                draw_warning_icon(canvas, {rect.left, rect.top, rect.left + 32, rect.top + 32});
            } else {
                draw_lines(canvas, rect, wrap_text(look.text, rect.width()), ink(),
                           (control.style & 0xF) == SS_RIGHT);
            }
            break;
        case ControlClass::button:
            draw_button(canvas, rect, look.text, (control.style & 0xF) == BS_DEFPUSHBUTTON);
            break;
        case ControlClass::edit:
            draw_edit(canvas, rect, control.style, look.text);
            break;
        case ControlClass::check_box:
            draw_check_box(canvas, rect, look.text);
            break;
        case ControlClass::progress:
            if (paint_progress) paint_progress(canvas, rect);
            break;
    }
}

// A framed window of the given outer size with its caption bar, and its client
// area drawn by the template's controls.
Canvas draw_window(int width, int height, std::string_view title, const DialogTemplate& dialog,
                   const LookFn& look, const PaintFn& paint_progress) {
    Canvas canvas(width, height, face());
    canvas.draw_edge(canvas.bounds(), platform::EDGE_RAISED, platform::BF_RECT);
    const Rect caption{kFrameWidth, kFrameWidth, width - kFrameWidth,
                       kFrameWidth + kCaptionHeight - 1};
    canvas.fill_rect(caption, system_color(platform::COLOR_ACTIVECAPTION));
    const COLORREF caption_text = system_color(platform::COLOR_CAPTIONTEXT);
    const int text_y = caption.top + (caption.height() - platform::kFontCellHeight) / 2;
    canvas.draw_text(caption.left + 5, text_y, title, caption_text,
                     {caption.left, caption.top, caption.right - 22, caption.bottom});
    // The close box of the system menu.
    const Rect close{caption.right - 18, caption.top + 2, caption.right - 2, caption.bottom - 2};
    canvas.fill_rect(close, face());
    canvas.draw_edge(close, platform::EDGE_RAISED, platform::BF_RECT);
    canvas.draw_text(close.left + 5, close.top + (close.height() - 8) / 2 + 1, "x", ink(), close);

    Canvas client(width - 2 * kFrameWidth, height - 2 * kFrameWidth - kCaptionHeight, face());
    for (const auto& control : dialog.controls) {
        const ControlLook control_look = look(control);
        if (control_look.visible) draw_control(client, control, control_look, paint_progress);
    }
    canvas.blit(client, kFrameWidth, kFrameWidth + kCaptionHeight);
    return canvas;
}

}  // namespace

Canvas render_task_window(const TaskDisplay& display) {
    const Rect window = display.window_rect();
    return draw_window(
        window.width(), window.height(), display.caption(), task_window_template(),
        [&](const ControlTemplate& control) {
            return ControlLook{display.control_text(control.id),
                               display.control_visible(control.id)};
        },
        [&](Canvas& canvas, const Rect& rect) {
            // The template gives the bar a border; the bar paints inside it.
            canvas.frame_rect(rect, system_color(platform::COLOR_BTNSHADOW));
            display.progress_bar().paint(
                canvas, {rect.left + 1, rect.top + 1, rect.right - 1, rect.bottom - 1});
        });
}

Canvas render_confirm_dialog(const CConfirmDlg& dialog) {
    const auto& dialog_template = confirm_template();
    const Rect client = dialog_units_to_pixels(dialog_template.position);
    return draw_window(
        client.width() + 2 * kFrameWidth, client.height() + 2 * kFrameWidth + kCaptionHeight,
        dialog.title(), dialog_template,
        [&](const ControlTemplate& control) {
            const bool visible = (control.style & WS_VISIBLE) != 0 &&
                                 (control.id != IDC_CONFIRM_ICON || dialog.has_icon());
            return ControlLook{dialog.control_text(control.id), visible};
        },
        nullptr);
}

}  // namespace stridelog::ui
