// An off-screen RGB raster: the drawing surface that stands in for the desktop's
// graphics device interface. Controls paint into it, presenters turn it into PNG.
//
// Colours are COLORREF values, 0x00BBGGRR. Text uses the built-in 6x8 bitmap font
// (ASCII; other bytes draw as '?'), always with a transparent background.
//
// Threads: a canvas is a plain value; use one from one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stridelog::platform {

using COLORREF = std::uint32_t;

constexpr COLORREF rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
           (static_cast<COLORREF>(b) << 16);
}

// The fixed values the system colours take here (a light classic theme).
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_WINDOWTEXT = 8;
inline constexpr int COLOR_CAPTIONTEXT = 9;
inline constexpr int COLOR_HIGHLIGHT = 13;
inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int COLOR_BTNSHADOW = 16;
inline constexpr int COLOR_ACTIVECAPTION = 2;
inline constexpr int COLOR_3DDKSHADOW = 21;
inline constexpr int COLOR_3DLIGHT = 22;
inline constexpr int COLOR_BTNHIGHLIGHT = 20;
// COLOR_HIGHLIGHT 0,120,215; COLOR_BTNFACE 240,240,240; COLOR_WINDOWTEXT black;
// COLOR_WINDOW white; COLOR_BTNSHADOW 160,160,160; COLOR_3DDKSHADOW 105,105,105;
// COLOR_3DLIGHT 227,227,227; COLOR_BTNHIGHLIGHT white; caption 0,84,166 with white text.
COLORREF system_color(int index);

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    Rect intersect(const Rect& other) const;
    Rect offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    bool operator==(const Rect&) const = default;
};

struct Size {
    int cx = 0;
    int cy = 0;
    bool operator==(const Size&) const = default;
};

// Edge kinds and flags of draw_edge (the desktop's DrawEdge values).
inline constexpr unsigned BDR_RAISEDOUTER = 0x1;
inline constexpr unsigned BDR_SUNKENOUTER = 0x2;
inline constexpr unsigned BDR_RAISEDINNER = 0x4;
inline constexpr unsigned BDR_SUNKENINNER = 0x8;
inline constexpr unsigned EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
inline constexpr unsigned EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
inline constexpr unsigned BF_LEFT = 0x1;
inline constexpr unsigned BF_TOP = 0x2;
inline constexpr unsigned BF_RIGHT = 0x4;
inline constexpr unsigned BF_BOTTOM = 0x8;
inline constexpr unsigned BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
inline constexpr unsigned BF_ADJUST = 0x2000;
inline constexpr unsigned BF_FLAT = 0x4000;

// The built-in font's cell: every character advances kFontCellWidth pixels.
inline constexpr int kFontCellWidth = 6;
inline constexpr int kFontCellHeight = 8;

class Canvas {
  public:
    Canvas(int width, int height, COLORREF background = 0x00FFFFFF);

    int width() const { return width_; }
    int height() const { return height_; }
    Rect bounds() const { return {0, 0, width_, height_}; }

    // Pixels outside the canvas read as 0 and ignore writes.
    COLORREF pixel(int x, int y) const;
    void set_pixel(int x, int y, COLORREF colour);

    void fill_rect(const Rect& rect, COLORREF colour);
    // A one-pixel outline inside rect.
    void frame_rect(const Rect& rect, COLORREF colour);
    // Draws the chosen sides of an edge of one or two pixels (outer and inner
    // borders). With BF_ADJUST the returned rectangle is the part inside the
    // edge; otherwise rect itself. BF_FLAT draws both borders in plain colours
    // (shadow outside, button face inside) instead of the 3D shades.
    Rect draw_edge(const Rect& rect, unsigned edge, unsigned flags);

    // The size of the text drawn with the built-in font.
    static Size text_extent(std::string_view text);
    // Draws text with its cell's top-left corner at (x, y), only inside clip.
    // A vertical text is turned a quarter turn counter-clockwise: it runs upwards
    // from (x, y), which is then its bottom-left corner.
    void draw_text(int x, int y, std::string_view text, COLORREF colour, const Rect& clip,
                   bool vertical = false);

    // Copies src with its top-left corner at (x, y).
    void blit(const Canvas& src, int x, int y);

    // PNG (8-bit RGB) files.
    bool write_png(const std::string& path) const;
    static std::optional<Canvas> read_png(const std::string& path);

  private:
    std::vector<std::uint8_t> rgb_rows() const;

    int width_;
    int height_;
    std::vector<COLORREF> pixels_;
};

}  // namespace stridelog::platform
