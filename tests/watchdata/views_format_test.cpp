// The 145-byte views record both ways, with view names in the watch's
// character set.
#include "watchdata/views_format.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stridelog::watchdata {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes image_bytes() {
    Bytes image(4096, 0xEE);
    for (std::size_t i = 0; i < 45; ++i) image[27 + i] = static_cast<std::uint8_t>(0x40 + i);
    std::fill(image.begin() + 2304, image.begin() + 2354, 0);
    return image;
}

void put_name(Bytes& image, std::size_t view, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + 2304 + 10 * view);
}

std::u16string name_in(const ViewsRecord& r, std::size_t view) {
    std::u16string s;
    for (std::size_t i = 0; i < 10; ++i) {
        const std::size_t at = 45 + 20 * view + 2 * i;
        const char16_t c = static_cast<char16_t>(r[at] | r[at + 1] << 8);
        if (c == 0) break;
        s.push_back(c);
    }
    return s;
}

void put_name_in(ViewsRecord& r, std::size_t view, const std::u16string& name) {
    for (std::size_t i = 0; i < 10; ++i) {
        const char16_t c = i < name.size() ? name[i] : 0;
        r[45 + 20 * view + 2 * i] = static_cast<std::uint8_t>(c & 0xFF);
        r[45 + 20 * view + 2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
    }
}

TEST(ViewsFormat, RecordFromTheImage) {
    Bytes image = image_bytes();
    put_name(image, 0, {'C', 'a', 'f', 0xA5});
    put_name(image, 1, {'R', 'u', 'n', 0xC0, '2'});
    put_name(image, 2, {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});  // no terminator
    put_name(image, 3, {'A', 0, 'B'});
    const ViewsRecord r = build_views_record(image);
    EXPECT_TRUE(std::equal(r.begin(), r.begin() + 45, image.begin() + 27));
    const std::u16string want[] = {u"Café", u"Run 2", u"0123456789", u"A", u""};
    for (std::size_t v = 0; v < 5; ++v) EXPECT_EQ(name_in(r, v), want[v]) << "view " << v;
    EXPECT_EQ(r[45 + 20 * 3 + 4], 0) << "nothing after the first zero";
}

TEST(ViewsFormat, RecordIntoTheImage) {
    const Bytes before = image_bytes();
    Bytes image = before;
    put_name(image, 4, {'O', 'l', 'd', 'N', 'a', 'm', 'e', 'L', 'o', 'n'});
    ViewsRecord r{};
    for (std::size_t i = 0; i < 45; ++i) r[i] = static_cast<std::uint8_t>(200 - i);
    put_name_in(r, 0, u"Café");
    put_name_in(r, 1, u"Straße");
    put_name_in(r, 2, u"0123456789");
    put_name_in(r, 3, u"");
    put_name_in(r, 4, u"Ab");
    apply_views_record(image, r);
    EXPECT_TRUE(std::equal(r.begin(), r.begin() + 45, image.begin() + 27));
    const Bytes names(image.begin() + 2304, image.begin() + 2354);
    const Bytes want = {
        'C', 'a', 'f', 0xA5, 0,   0,   0,   0,   0,   0,    // accented letter to its byte
        'S', 't', 'r', 'a',  '|', 'e', 0,   0,   0,   0,    // ß is not in the set
        '0', '1', '2', '3',  '4', '5', '6', '7', '8', '9',  // ten bytes, no terminator
        0,   0,   0,   0,    0,   0,   0,   0,   0,   0,    //
        'A', 'b', 0,   0,    0,   0,   0,   0,   0,   0,    // the old name's tail is cleared
    };
    EXPECT_EQ(names, want);
    // Nothing else moves.
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 27, before.begin()));
    EXPECT_TRUE(std::equal(image.begin() + 72, image.begin() + 2304, before.begin() + 72));
    EXPECT_TRUE(std::equal(image.begin() + 2354, image.end(), before.begin() + 2354));
    // And it reads back as written, ß aside.
    const ViewsRecord back = build_views_record(image);
    EXPECT_EQ(name_in(back, 0), u"Café");
    EXPECT_EQ(name_in(back, 1), u"Stra|e");
    EXPECT_EQ(name_in(back, 2), u"0123456789");
}

}  // namespace
}  // namespace stridelog::watchdata
