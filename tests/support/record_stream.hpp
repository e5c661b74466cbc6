// Track record streams and header sectors as the watch writes them, built
// byte by byte for tests (independent of the decoder under test).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace stridelog::test {

using Bytes = std::vector<std::uint8_t>;
inline void put_le(Bytes& b, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

struct Time {
    int year, month, day, hour, minute, second;
};

// A record stream as the watch writes it.
struct Stream {
    Bytes bytes;
    Stream& full(std::int32_t lon, std::int32_t lat, std::int16_t alt, Time t, std::uint16_t m1 = 1,
                 std::uint16_t m2 = 2) {
        bytes.push_back(0x00);
        bytes.push_back(0x77);
        for (int v : {t.year - 2000, t.month, t.day, t.hour, t.minute, t.second})
            bytes.push_back(static_cast<std::uint8_t>(v));
        put_le(bytes, static_cast<std::uint32_t>(lon), 4);
        put_le(bytes, static_cast<std::uint32_t>(lat), 4);
        put_le(bytes, static_cast<std::uint16_t>(alt), 2);
        put_le(bytes, m1, 2);
        put_le(bytes, m2, 2);
        put_le(bytes, 3, 2);
        bytes.push_back(4);
        return *this;
    }
    Stream& delta(int minute, int second, std::int32_t dlon, std::int32_t dlat = 0,
                  std::int16_t dalt = 0) {
        bytes.insert(bytes.end(), {0x01, 0x55, static_cast<std::uint8_t>(minute),
                                   static_cast<std::uint8_t>(second)});
        put_le(bytes, static_cast<std::uint32_t>(dlon), 4);
        put_le(bytes, static_cast<std::uint32_t>(dlat), 4);
        put_le(bytes, static_cast<std::uint16_t>(dalt), 2);
        put_le(bytes, 11, 2);
        put_le(bytes, 12, 2);
        put_le(bytes, 13, 2);
        bytes.push_back(14);
        return *this;
    }
    Stream& time_only(int minute, int second) {
        bytes.insert(bytes.end(),
                     {0x02, static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second)});
        return *this;
    }
    Stream& time_only(int count) {
        for (int i = 0; i < count; ++i) time_only(0, 1);
        return *this;
    }
    Stream& marker(Time t, std::uint8_t m4 = 9) {
        bytes.push_back(0x03);
        for (int v : {t.year - 2000, t.month, t.day, t.hour, t.minute, t.second})
            bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(m4);
        return *this;
    }
    Stream& end() {
        bytes.push_back(0x0F);
        return *this;
    }
};

using StampBytes = std::array<std::uint8_t, 6>;

// A header sector: the 48-byte header (bytes 9..47 numbered), numbered laps, the
// two reference stamps; the rest erased.
inline Bytes header_sector(std::uint16_t points, std::uint8_t laps, StampBytes start, StampBytes a,
                           StampBytes b) {
    Bytes sector(4096, 0xFF);
    sector[0] = static_cast<std::uint8_t>(points);
    sector[1] = static_cast<std::uint8_t>(points >> 8);
    sector[2] = laps;
    std::copy(start.begin(), start.end(), sector.begin() + 3);
    for (std::size_t i = 9; i < 48; ++i) sector[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0; i < std::min<std::size_t>(laps * 16u, 1648 - 64); ++i)
        sector[64 + i] = static_cast<std::uint8_t>(i);
    std::copy(a.begin(), a.end(), sector.begin() + 1648);
    std::copy(b.begin(), b.end(), sector.begin() + 1654);
    return sector;
}

}  // namespace stridelog::test
