// CTextProgressCtrl: a progress bar that paints itself and writes its caption and
// percentage across the bar, in one colour over the empty part and another over
// the filled part. It keeps its own range, position and step and answers the
// ordinary progress bar messages from that state, plus colour, text and marquee
// messages of its own. Send it messages with platform::send_message.
//
// Threads: the thread that created the control (its parent's thread) only. The
// marquee direction is shared by every control of the process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/canvas.hpp"
#include "stridelog/win_types.h"

namespace stridelog::ui {

using platform::COLORREF;

// Messages of the progress bar (the system control's numbers, then our own).
inline constexpr UINT PBM_SETRANGE = 0x401;
inline constexpr UINT PBM_SETPOS = 0x402;
inline constexpr UINT PBM_DELTAPOS = 0x403;
inline constexpr UINT PBM_SETSTEP = 0x404;
inline constexpr UINT PBM_STEPIT = 0x405;
inline constexpr UINT PBM_SETRANGE32 = 0x406;
inline constexpr UINT PBM_GETRANGE = 0x407;
inline constexpr UINT PBM_GETPOS = 0x408;
inline constexpr UINT PBM_SETBARCOLOR = 0x409;
inline constexpr UINT PBM_SETMARQUEE = 0x40a;
inline constexpr UINT PBM_SETBKCOLOR = 0x2001;
inline constexpr UINT PBM_GETBARCOLOR_RESOLVED = 0x464;
inline constexpr UINT PBM_GETBKCOLOR_RESOLVED = 0x465;
inline constexpr UINT PBM_SETTEXTCOLOR = 0x466;
inline constexpr UINT PBM_GETTEXTCOLOR = 0x467;
inline constexpr UINT PBM_SETTEXTBARCOLOR = 0x468;
inline constexpr UINT PBM_GETTEXTBARCOLOR = 0x469;
inline constexpr UINT PBM_SETSHOWPERCENT = 0x46a;
inline constexpr UINT PBM_SETTEXTALIGN = 0x46b;
inline constexpr UINT PBM_SETMARQUEEBLOCK = 0x46c;

inline constexpr std::uint32_t PBS_VERTICAL = 0x4;
inline constexpr std::uint32_t PBS_MARQUEE = 0x8;

// A colour member holding this stands for the matching system colour.
inline constexpr COLORREF CLR_DEFAULT = 0xFF000000;

// Filled by PBM_GETRANGE when its lParam points at one.
struct PBRANGE {
    int iLow;
    int iHigh;
};

// Timer 1 of the control's window drives the marquee.
inline constexpr UINT_PTR kMarqueeTimer = 1;

class CTextProgressCtrl {
  public:
    // Creates the control's window as a child of parent with the given style bits.
    explicit CTextProgressCtrl(HWND parent, std::uint32_t style = 0);
    ~CTextProgressCtrl();
    CTextProgressCtrl(const CTextProgressCtrl&) = delete;
    CTextProgressCtrl& operator=(const CTextProgressCtrl&) = delete;

    // Null once the window is gone (destroyed with its parent).
    HWND GetSafeHwnd() const { return hwnd_; }
    std::uint32_t GetStyle() const { return style_; }

    // Called whenever the control redraws itself (its owner repaints it).
    void set_redraw_handler(std::function<void()> handler) { on_redraw_ = std::move(handler); }

    // The message handler behind the control's window.
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);

    // Paints the control into canvas, client being its client rectangle there.
    // Nothing is painted while lower >= upper.
    void paint(platform::Canvas& canvas, const platform::Rect& client) const;

    // The text the bar writes across itself: the window text, with the
    // percentage appended when show-percentage is set.
    std::string caption_text() const;
    // The window text; kept after the window is gone.
    std::string window_text() const;

    // Read-only state for presenters.
    int position() const { return position_; }
    int lower() const { return lower_; }
    int upper() const { return upper_; }
    // (position - lower) / (upper - lower); 0 for an empty range.
    double fraction() const;

    // The direction of the marquee steps, shared by every control (+1 or -1).
    static int marquee_direction();
    static void reset_marquee_direction();

  private:
    static LRESULT dispatch(CTextProgressCtrl* self, HWND hwnd, UINT message, WPARAM wparam,
                            LPARAM lparam);
    int marquee_limit() const;
    int clamp(int position) const;
    int SetPos(int position);
    void redraw();
    void marquee_step();
    LRESULT SetRange(int lower, int upper);
    template <class T>
    T swap(T& member, T value) {
        T previous = member;
        member = value;
        return previous;
    }
    COLORREF resolve(COLORREF colour, int system_index) const;

    HWND hwnd_ = nullptr;
    std::uint32_t style_ = 0;
    std::string text_after_destroy_;
    std::function<void()> on_redraw_;

    std::int32_t show_percent_ = 1;
    COLORREF bar_colour_ = CLR_DEFAULT;
    COLORREF background_colour_ = CLR_DEFAULT;
    COLORREF text_colour_ = CLR_DEFAULT;
    COLORREF text_bar_colour_ = CLR_DEFAULT;
    std::int32_t alignment_ = 1;
    std::int32_t position_ = 0;
    std::int32_t step_ = 10;
    std::int32_t lower_ = 0;
    std::int32_t upper_ = 100;
    std::int32_t marquee_block_ = 20;
};

}  // namespace stridelog::ui
