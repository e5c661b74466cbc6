#include "platform/canvas.hpp"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "platform/bitmap_font.hpp"

namespace stridelog::platform {

COLORREF system_color(int index) {
    switch (index) {
        case COLOR_WINDOW:
            return rgb(255, 255, 255);
        case COLOR_WINDOWTEXT:
            return rgb(0, 0, 0);
        case COLOR_CAPTIONTEXT:
            return rgb(255, 255, 255);
        case COLOR_HIGHLIGHT:
            return rgb(0, 120, 215);
        case COLOR_BTNFACE:
            return rgb(240, 240, 240);
        case COLOR_BTNSHADOW:
            return rgb(160, 160, 160);
        case COLOR_ACTIVECAPTION:
            return rgb(0, 84, 166);
        case COLOR_3DDKSHADOW:
            return rgb(105, 105, 105);
        case COLOR_3DLIGHT:
            return rgb(227, 227, 227);
        case COLOR_BTNHIGHLIGHT:
            return rgb(255, 255, 255);
        default:
            return rgb(0, 0, 0);
    }
}

Rect Rect::intersect(const Rect& other) const {
    Rect r{std::max(left, other.left), std::max(top, other.top), std::min(right, other.right),
           std::min(bottom, other.bottom)};
    if (r.empty()) return {};
    return r;
}

Canvas::Canvas(int width, int height, COLORREF background)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), background) {}

COLORREF Canvas::pixel(int x, int y) const {
    if (!bounds().contains(x, y)) return 0;
    return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                   static_cast<std::size_t>(x)];
}

void Canvas::set_pixel(int x, int y, COLORREF colour) {
    if (!bounds().contains(x, y)) return;
    pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
            static_cast<std::size_t>(x)] = colour;
}

void Canvas::fill_rect(const Rect& rect, COLORREF colour) {
    const Rect r = rect.intersect(bounds());
    for (int y = r.top; y < r.bottom; ++y)
        std::fill_n(pixels_.begin() + static_cast<std::ptrdiff_t>(y) * width_ + r.left, r.width(),
                    colour);
}

void Canvas::frame_rect(const Rect& rect, COLORREF colour) {
    if (rect.empty()) return;
    fill_rect({rect.left, rect.top, rect.right, rect.top + 1}, colour);
    fill_rect({rect.left, rect.bottom - 1, rect.right, rect.bottom}, colour);
    fill_rect({rect.left, rect.top, rect.left + 1, rect.bottom}, colour);
    fill_rect({rect.right - 1, rect.top, rect.right, rect.bottom}, colour);
}

namespace {

// Colours of one border: top-left sides and bottom-right sides.
struct BorderShades {
    COLORREF top_left;
    COLORREF bottom_right;
};

}  // namespace

Rect Canvas::draw_edge(const Rect& rect, unsigned edge, unsigned flags) {
    Rect r = rect;
    auto border = [&](BorderShades shades) {
        if (flags & BF_TOP) fill_rect({r.left, r.top, r.right, r.top + 1}, shades.top_left);
        if (flags & BF_LEFT) fill_rect({r.left, r.top, r.left + 1, r.bottom}, shades.top_left);
        if (flags & BF_BOTTOM)
            fill_rect({r.left, r.bottom - 1, r.right, r.bottom}, shades.bottom_right);
        if (flags & BF_RIGHT)
            fill_rect({r.right - 1, r.top, r.right, r.bottom}, shades.bottom_right);
        if (flags & BF_TOP) ++r.top;
        if (flags & BF_LEFT) ++r.left;
        if (flags & BF_BOTTOM) --r.bottom;
        if (flags & BF_RIGHT) --r.right;
    };
    const bool flat = (flags & BF_FLAT) != 0;
    const unsigned outer = edge & (BDR_RAISEDOUTER | BDR_SUNKENOUTER);
    const unsigned inner = edge & (BDR_RAISEDINNER | BDR_SUNKENINNER);
    if (outer) {
        if (flat) {
            border({system_color(COLOR_BTNSHADOW), system_color(COLOR_BTNSHADOW)});
        } else if (outer & BDR_SUNKENOUTER) {
            border({system_color(COLOR_BTNSHADOW), system_color(COLOR_BTNHIGHLIGHT)});
        } else {
            border({system_color(COLOR_3DLIGHT), system_color(COLOR_3DDKSHADOW)});
        }
    }
    if (inner) {
        if (flat) {
            border({system_color(COLOR_BTNFACE), system_color(COLOR_BTNFACE)});
        } else if (inner & BDR_SUNKENINNER) {
            border({system_color(COLOR_3DDKSHADOW), system_color(COLOR_3DLIGHT)});
        } else {
            border({system_color(COLOR_BTNHIGHLIGHT), system_color(COLOR_BTNSHADOW)});
        }
    }
    return (flags & BF_ADJUST) ? r : rect;
}

Size Canvas::text_extent(std::string_view text) {
    return {static_cast<int>(text.size()) * kFontCellWidth, kFontCellHeight};
}

void Canvas::draw_text(int x, int y, std::string_view text, COLORREF colour, const Rect& clip,
                       bool vertical) {
    const Rect limit = clip.intersect(bounds());
    if (limit.empty()) return;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto& columns = glyph_columns(static_cast<unsigned char>(text[i]));
        const int advance = static_cast<int>(i) * kFontCellWidth;
        for (int col = 0; col < 5; ++col) {
            for (int row = 0; row < 7; ++row) {
                if (!(columns[static_cast<std::size_t>(col)] & (1u << row))) continue;
                // Unturned text: (u, v) = (advance + col, row) from the cell corner.
                const int u = advance + col;
                const int px = vertical ? x + row : x + u;
                const int py = vertical ? y - 1 - u : y + row;
                if (limit.contains(px, py)) set_pixel(px, py, colour);
            }
        }
    }
}

void Canvas::blit(const Canvas& src, int x, int y) {
    const Rect target = Rect{x, y, x + src.width_, y + src.height_}.intersect(bounds());
    for (int row = target.top; row < target.bottom; ++row)
        for (int col = target.left; col < target.right; ++col)
            set_pixel(col, row, src.pixel(col - x, row - y));
}

std::vector<std::uint8_t> Canvas::rgb_rows() const {
    std::vector<std::uint8_t> rows;
    rows.reserve(pixels_.size() * 3);
    for (COLORREF c : pixels_) {
        rows.push_back(static_cast<std::uint8_t>(c & 0xFF));
        rows.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
        rows.push_back(static_cast<std::uint8_t>((c >> 16) & 0xFF));
    }
    return rows;
}

namespace {

png_image rgb_image(int width, int height) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    return image;
}

}  // namespace

bool Canvas::write_png(const std::string& path) const {
    if (width_ == 0 || height_ == 0) return false;
    png_image image = rgb_image(width_, height_);
    const auto rows = rgb_rows();
    const int ok = png_image_write_to_file(&image, path.c_str(), 0, rows.data(), 0, nullptr);
    png_image_free(&image);
    return ok != 0;
}

std::optional<Canvas> Canvas::read_png(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rows(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rows.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    Canvas canvas(static_cast<int>(image.width), static_cast<int>(image.height));
    for (std::size_t i = 0; i < canvas.pixels_.size(); ++i)
        canvas.pixels_[i] = rgb(rows[i * 3], rows[i * 3 + 1], rows[i * 3 + 2]);
    return canvas;
}

}  // namespace stridelog::platform
