#include "ui/window_renderer.hpp"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/task_display.hpp"
#include "ui/confirm_dlg.hpp"
#include "ui/dialog_templates.hpp"
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

COLORREF Face() {
    return system_color(platform::COLOR_BTNFACE);
}
COLORREF Ink() {
    return system_color(platform::COLOR_WINDOWTEXT);
}

// Splits at line ends and wraps at blanks so each line fits the width.
std::vector<std::string> WrapText(std::string_view text, int width) {
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

void DrawLines(Canvas& canvas, const Rect& rect, const std::vector<std::string>& lines,
               COLORREF colour, bool right_aligned = false) {
    int y = rect.top + kTextTop;
    for (const auto& line : lines) {
        const int width = Canvas::text_extent(line).cx;
        const int x = right_aligned ? rect.right - width : rect.left;
        canvas.draw_text(x, y, line, colour, rect);
        y += kLineHeight;
    }
}

void DrawWarningIcon(Canvas& canvas, const Rect& rect) {
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
    canvas.fill_rect({mid - 1, rect.top + size / 3, mid + 2, rect.top + size - 10}, Ink());
    canvas.fill_rect({mid - 1, rect.top + size - 7, mid + 2, rect.top + size - 4}, Ink());
}

void DrawButton(Canvas& canvas, const Rect& rect, std::string_view text, bool is_default) {
    Rect inner = rect;
    if (is_default) {
        canvas.frame_rect(inner, Ink());
        inner = {inner.left + 1, inner.top + 1, inner.right - 1, inner.bottom - 1};
    }
    canvas.fill_rect(inner, Face());
    canvas.draw_edge(inner, platform::EDGE_RAISED, platform::BF_RECT);
    const auto extent = Canvas::text_extent(text);
    canvas.draw_text(rect.left + (rect.width() - extent.cx) / 2,
                     rect.top + (rect.height() - extent.cy) / 2, text, Ink(), rect);
}

void DrawEdit(Canvas& canvas, const Rect& rect, std::uint32_t style, std::string_view text) {
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
    const auto lines = (style & ES_MULTILINE) ? WrapText(text, text_area.width())
                                              : std::vector<std::string>{std::string(text)};
    DrawLines(canvas, text_area, lines, Ink());
}

void DrawCheckBox(Canvas& canvas, const Rect& rect, std::string_view text) {
    const int top = rect.top + (rect.height() - kCheckBoxSize) / 2;
    const Rect box{rect.left, top, rect.left + kCheckBoxSize, top + kCheckBoxSize};
    canvas.fill_rect(box, system_color(platform::COLOR_WINDOW));
    canvas.frame_rect(box, platform::rgb(51, 51, 51));
    canvas.draw_text(box.right + 4, rect.top + (rect.height() - platform::kFontCellHeight) / 2,
                     text, Ink(), rect);
}

// Looks up what a control shows: its text and whether it is visible.
struct ControlLook {
    std::string text;
    bool visible;
};
using LookFn = std::function<ControlLook(const ControlTemplate&)>;
using PaintFn = std::function<void(Canvas&, const Rect&)>;

void DrawControl(Canvas& canvas, const ControlTemplate& control, const ControlLook& look,
                 const PaintFn& paint_progress) {
    const Rect rect = DialogUnitsToPixels(control.position);
    switch (control.kind) {
        case ControlClass::static_text:
            if ((control.style & 0xF) == SS_ICON) {
                DrawWarningIcon(canvas, {rect.left, rect.top, rect.left + 32, rect.top + 32});
            } else {
                DrawLines(canvas, rect, WrapText(look.text, rect.width()), Ink(),
                          (control.style & 0xF) == SS_RIGHT);
            }
            break;
        case ControlClass::button:
            DrawButton(canvas, rect, look.text, (control.style & 0xF) == BS_DEFPUSHBUTTON);
            break;
        case ControlClass::edit:
            DrawEdit(canvas, rect, control.style, look.text);
            break;
        case ControlClass::check_box:
            DrawCheckBox(canvas, rect, look.text);
            break;
        case ControlClass::progress:
            if (paint_progress) paint_progress(canvas, rect);
            break;
    }
}

// A framed window of the given outer size with its caption bar, and its client
// area drawn by the template's controls.
Canvas DrawWindow(int width, int height, std::string_view title, const DialogTemplate& dialog,
                  const LookFn& look, const PaintFn& paint_progress) {
    Canvas canvas(width, height, Face());
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
    canvas.fill_rect(close, Face());
    canvas.draw_edge(close, platform::EDGE_RAISED, platform::BF_RECT);
    canvas.draw_text(close.left + 5, close.top + (close.height() - 8) / 2 + 1, "x", Ink(), close);

    Canvas client(width - 2 * kFrameWidth, height - 2 * kFrameWidth - kCaptionHeight, Face());
    for (const auto& control : dialog.controls) {
        const ControlLook control_look = look(control);
        if (control_look.visible) DrawControl(client, control, control_look, paint_progress);
    }
    canvas.blit(client, kFrameWidth, kFrameWidth + kCaptionHeight);
    return canvas;
}

}  // namespace

Canvas RenderTaskWindow(const TaskDisplay& display) {
    const Rect window = display.WindowRect();
    return DrawWindow(
        window.width(), window.height(), display.Caption(), TaskWindowTemplate(),
        [&](const ControlTemplate& control) {
            return ControlLook{display.ControlText(control.id), display.ControlVisible(control.id)};
        },
        [&](Canvas& canvas, const Rect& rect) {
            // The template gives the bar a border; the bar paints inside it.
            canvas.frame_rect(rect, system_color(platform::COLOR_BTNSHADOW));
            display.ProgressBar().Paint(
                canvas, {rect.left + 1, rect.top + 1, rect.right - 1, rect.bottom - 1});
        });
}

Canvas RenderConfirmDialog(const CConfirmDlg& dialog) {
    const auto& dialog_template = ConfirmTemplate();
    const Rect client = DialogUnitsToPixels(dialog_template.position);
    return DrawWindow(
        client.width() + 2 * kFrameWidth, client.height() + 2 * kFrameWidth + kCaptionHeight,
        dialog.Title(), dialog_template,
        [&](const ControlTemplate& control) {
            const bool visible = (control.style & WS_VISIBLE) != 0 &&
                                 (control.id != IDC_CONFIRM_ICON || dialog.HasIcon());
            return ControlLook{dialog.ControlText(control.id), visible};
        },
        nullptr);
}

}  // namespace stridelog::ui
