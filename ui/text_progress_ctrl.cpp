#include "ui/text_progress_ctrl.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/window_system.hpp"

namespace stridelog::ui {
namespace {

using platform::Canvas;
using platform::Rect;

// Shared by every control in the process: a bar that starts later continues in
// the direction the others are going.
std::atomic<int> g_marquee_direction{1};

constexpr int kTextIndentLeft = 2;
constexpr int kTextIndentRight = 3;

std::uint16_t low_word(std::intptr_t value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}
std::uint16_t high_word(std::intptr_t value) {
    return static_cast<std::uint16_t>((value >> 16) & 0xFFFF);
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(HWND parent, std::uint32_t style) : style_(style) {
    hwnd_ = platform::create_window(
        [this](HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
            return dispatch(this, hwnd, message, wparam, lparam);
        },
        parent);
}

CTextProgressCtrl::~CTextProgressCtrl() {
    if (hwnd_ && platform::is_window(hwnd_)) platform::destroy_window(hwnd_);
}

LRESULT CTextProgressCtrl::dispatch(CTextProgressCtrl* self, HWND hwnd, UINT message, WPARAM wparam,
                                    LPARAM lparam) {
    if (message == platform::kWmDestroy) {
        // The window text dies with the window; presenters may still draw the bar.
        self->text_after_destroy_ = platform::get_window_text(hwnd);
        return 0;
    }
    if (message == platform::kWmNcDestroy) {
        self->hwnd_ = nullptr;
        return 0;
    }
    return self->WindowProc(message, wparam, lparam);
}

std::string CTextProgressCtrl::window_text() const {
    return hwnd_ ? platform::get_window_text(hwnd_) : text_after_destroy_;
}

int CTextProgressCtrl::marquee_direction() {
    return g_marquee_direction.load();
}
void CTextProgressCtrl::reset_marquee_direction() {
    g_marquee_direction.store(1);
}

int CTextProgressCtrl::marquee_limit() const {
    return static_cast<int>(
        (static_cast<double>(marquee_block_ + 100) * static_cast<double>(upper_) + 0.5) / 100.0);
}

int CTextProgressCtrl::clamp(int position) const {
    if (position < lower_) position = lower_;
    if (style_ & PBS_MARQUEE) {
        const int limit = marquee_limit();
        if (position > limit) position = limit;
    } else if (position > upper_) {
        position = upper_;
    }
    return position;
}

int CTextProgressCtrl::SetPos(int position) {
    const int previous = position_;
    position_ = clamp(position);
    redraw();
    return previous;
}

void CTextProgressCtrl::redraw() {
    if (on_redraw_) on_redraw_();
}

LRESULT CTextProgressCtrl::SetRange(int lower, int upper) {
    const LRESULT previous =
        static_cast<LRESULT>(static_cast<std::uint32_t>(low_word(lower_)) |
                             (static_cast<std::uint32_t>(low_word(upper_)) << 16));
    lower_ = lower;
    upper_ = upper;
    return previous;
}

void CTextProgressCtrl::marquee_step() {
    const int limit = marquee_limit();
    int direction = g_marquee_direction.load();
    if (direction == 1 && position_ >= limit) {
        direction = -1;
    } else if (direction == -1 && position_ <= lower_) {
        direction = 1;
    }
    g_marquee_direction.store(direction);
    SetPos(position_ + direction);
}

LRESULT CTextProgressCtrl::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    const auto colour = static_cast<COLORREF>(static_cast<std::uintptr_t>(lparam));
    // Setters of the look store first and then redraw, so the change shows at once.
    auto set_look = [this](auto& member, auto value) {
        auto previous = swap(member, value);
        redraw();
        return static_cast<LRESULT>(previous);
    };
    switch (message) {
        case PBM_SETRANGE:
            return SetRange(low_word(lparam), high_word(lparam));
        case PBM_SETRANGE32:
            return SetRange(static_cast<int>(wparam), static_cast<int>(lparam));
        case PBM_SETPOS:
            return SetPos(static_cast<int>(wparam));
        case PBM_DELTAPOS:
            return SetPos(position_ + static_cast<int>(wparam));
        case PBM_SETSTEP:
            return swap(step_, static_cast<std::int32_t>(wparam));
        case PBM_STEPIT: {
            int next = position_ + step_;
            if (next < lower_) {
                next = upper_ - std::abs(lower_ - next);
            } else if (next > upper_) {
                next = lower_ + std::abs(next - upper_);
            }
            return SetPos(next);
        }
        case PBM_GETRANGE:
            if (lparam != 0) {
                auto* range = reinterpret_cast<PBRANGE*>(lparam);
                range->iLow = lower_;
                range->iHigh = upper_;
            }
            return wparam ? lower_ : upper_;
        case PBM_GETPOS:
            return position_;
        case PBM_SETBARCOLOR:
            return set_look(bar_colour_, colour);
        case PBM_SETBKCOLOR:
            return set_look(background_colour_, colour);
        case PBM_GETBARCOLOR_RESOLVED:
            return resolve(bar_colour_, platform::COLOR_HIGHLIGHT);
        case PBM_GETBKCOLOR_RESOLVED:
            return resolve(background_colour_, platform::COLOR_BTNFACE);
        case PBM_SETTEXTCOLOR:
            return set_look(text_colour_, colour);
        case PBM_GETTEXTCOLOR:
            return resolve(text_colour_, platform::COLOR_WINDOWTEXT);
        case PBM_SETTEXTBARCOLOR:
            return set_look(text_bar_colour_, colour);
        case PBM_GETTEXTBARCOLOR:
            return resolve(text_bar_colour_, platform::COLOR_WINDOW);
        case PBM_SETSHOWPERCENT:
            return set_look(show_percent_, static_cast<std::int32_t>(wparam));
        case PBM_SETTEXTALIGN:
            return set_look(alignment_, static_cast<std::int32_t>(wparam));
        case PBM_SETMARQUEE:
            if (wparam) {
                style_ |= PBS_MARQUEE;
                if (hwnd_) platform::set_timer(hwnd_, kMarqueeTimer, static_cast<UINT>(lparam));
            } else {
                if (hwnd_) platform::kill_timer(hwnd_, kMarqueeTimer);
                style_ &= ~PBS_MARQUEE;
            }
            show_percent_ = 0;
            redraw();
            return static_cast<LRESULT>(wparam);
        case PBM_SETMARQUEEBLOCK:
            marquee_block_ = static_cast<std::int32_t>(wparam);
            redraw();
            return static_cast<LRESULT>(wparam);
        case platform::kWmEraseBkgnd:
            return 1;
        case platform::kWmPaint:
            // lParam may name a canvas to paint into (its whole area is the client).
            if (lparam != 0) {
                auto* canvas = reinterpret_cast<Canvas*>(lparam);
                paint(*canvas, canvas->bounds());
            } else {
                redraw();
            }
            return 0;
        case platform::kWmTimer:
            if (wparam == kMarqueeTimer) marquee_step();
            return 0;
        default:
            return 0;
    }
}

COLORREF CTextProgressCtrl::resolve(COLORREF colour, int system_index) const {
    return colour == CLR_DEFAULT ? platform::system_color(system_index) : colour;
}

double CTextProgressCtrl::fraction() const {
    if (lower_ >= upper_) return 0.0;
    return static_cast<double>(position_ - lower_) / static_cast<double>(upper_ - lower_);
}

std::string CTextProgressCtrl::caption_text() const {
    std::string text = window_text();
    if (!show_percent_) return text;
    const int percent = static_cast<int>(fraction() * 100.0 + 0.5);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, " %d%%", percent);
    return text + buffer;
}

void CTextProgressCtrl::paint(Canvas& canvas, const Rect& client) const {
    if (lower_ >= upper_ || client.empty()) return;

    const COLORREF bar = resolve(bar_colour_, platform::COLOR_HIGHLIGHT);
    const COLORREF background = resolve(background_colour_, platform::COLOR_BTNFACE);
    const COLORREF text = resolve(text_colour_, platform::COLOR_WINDOWTEXT);
    const COLORREF text_over_bar = resolve(text_bar_colour_, platform::COLOR_WINDOW);
    const bool vertical = (style_ & PBS_VERTICAL) != 0;
    const bool marquee = (style_ & PBS_MARQUEE) != 0;

    // Drawn off screen, then copied in one step.
    Canvas off(client.width(), client.height());
    const Rect inner = off.draw_edge(off.bounds(), platform::EDGE_SUNKEN,
                                     platform::BF_RECT | platform::BF_ADJUST | platform::BF_FLAT);
    const double f = fraction();
    const int size = vertical ? inner.height() : inner.width();
    // Offsets along the bar from its start (left, or bottom when vertical).
    int fill_end = static_cast<int>(size * f);
    int fill_start = 0;
    if (marquee) fill_start = fill_end - (size * marquee_block_ + 50) / 100;
    fill_end = std::clamp(fill_end, 0, size);
    fill_start = std::clamp(fill_start, 0, fill_end);

    auto part = [&](int from, int to) {
        if (vertical) return Rect{inner.left, inner.bottom - to, inner.right, inner.bottom - from};
        return Rect{inner.left + from, inner.top, inner.left + to, inner.bottom};
    };
    const Rect filled = part(fill_start, fill_end);
    const Rect empty_before = part(0, fill_start);
    const Rect empty_after = part(fill_end, size);
    off.fill_rect(filled, bar);
    off.fill_rect(empty_before, background);
    off.fill_rect(empty_after, background);

    const std::string caption = caption_text();
    if (!caption.empty()) {
        const platform::Size extent = Canvas::text_extent(caption);
        int x;
        int y;
        if (!vertical) {
            if (alignment_ == 0) {
                x = inner.left + kTextIndentLeft;
            } else if (alignment_ == 2) {
                x = inner.right - extent.cx - kTextIndentRight;
            } else {
                x = inner.left + (inner.width() - extent.cx) / 2;
            }
            y = inner.top + (inner.height() - extent.cy) / 2;
        } else {
            if (alignment_ == 0) {
                y = inner.bottom - kTextIndentRight;
            } else if (alignment_ == 2) {
                y = inner.top + extent.cx + kTextIndentLeft;
            } else {
                y = inner.top + (inner.height() + extent.cx) / 2;
            }
            x = inner.left + (inner.width() - extent.cy) / 2;
        }
        off.draw_text(x, y, caption, text, empty_before, vertical);
        off.draw_text(x, y, caption, text, empty_after, vertical);
        off.draw_text(x, y, caption, text_over_bar, filled, vertical);
    }
    canvas.blit(off, client.left, client.top);
}

}  // namespace stridelog::ui
