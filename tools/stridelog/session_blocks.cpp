#include "session_blocks.hpp"

#include <algorithm>
#include <bit>

namespace stridelog_tool {
namespace {

// Offsets inside a session block: the stamps, the header, then the laps.
constexpr std::size_t kStampAOffset = 0;
constexpr std::size_t kStampBOffset = 6;
constexpr std::size_t kHeaderOffset = 12;
constexpr std::size_t kLapsOffset = 60;
// Inside the header.
constexpr std::size_t kStartOffset = 3;
// Inside a track point.
constexpr std::size_t kPointTime = 2;
constexpr std::size_t kPointLongitude = 8;
constexpr std::size_t kPointLatitude = 12;
constexpr std::size_t kPointAltitude = 16;
constexpr std::size_t kPointM1 = 18;
constexpr std::size_t kPointM2 = 20;
constexpr std::size_t kPointM3 = 22;
constexpr std::size_t kPointM4 = 24;

std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
Stamp StampAt(std::span<const std::uint8_t> b, std::size_t at) {
    Stamp s;
    std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), s.size(), s.begin());
    return s;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

TrackPoint ReadPoint(std::span<const std::uint8_t> p) {
    TrackPoint point;
    point.record_header = p[0];
    point.record_byte1 = p[1];
    point.time_bytes = StampAt(p, kPointTime);
    point.time = FromPointOrder(point.time_bytes);
    point.longitude = static_cast<std::int32_t>(Le32(p, kPointLongitude));
    point.latitude = static_cast<std::int32_t>(Le32(p, kPointLatitude));
    point.altitude = static_cast<std::int16_t>(Le16(p, kPointAltitude));
    point.m1 = Le16(p, kPointM1);
    point.m2 = Le16(p, kPointM2);
    point.m3 = Le16(p, kPointM3);
    point.m4 = p[kPointM4];
    return point;
}

// The part both session blocks share: stamps, header, laps. Fails when the
// block is shorter than its lap count asks for.
bool ReadSessionStart(std::span<const std::uint8_t> block, Session& session, std::string& error) {
    if (block.size() < kLapsOffset) {
        error = "session block of " + std::to_string(block.size()) + " bytes, shorter than " +
                std::to_string(kLapsOffset);
        return false;
    }
    session.stamp_a_bytes = StampAt(block, kStampAOffset);
    session.stamp_b_bytes = StampAt(block, kStampBOffset);
    session.stamp_a = FromStampOrder(session.stamp_a_bytes);
    session.stamp_b = FromStampOrder(session.stamp_b_bytes);
    std::copy_n(block.begin() + kHeaderOffset, kSessionHeaderSize, session.header.bytes.begin());
    const std::size_t laps = session.header.lap_count();
    if (block.size() < kLapsOffset + kLapRecordSize * laps) {
        error = "session block of " + std::to_string(block.size()) + " bytes cannot hold its " +
                std::to_string(laps) + " laps";
        return false;
    }
    for (std::size_t i = 0; i < laps; ++i) {
        LapRecord lap;
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(kLapsOffset + kLapRecordSize * i),
                    kLapRecordSize, lap.begin());
        session.laps.push_back(lap);
    }
    return true;
}

// SHA-256 (FIPS 180-4), enough of it for short inputs held in memory.
class Sha256 {
  public:
    explicit Sha256(std::span<const std::uint8_t> message) {
        std::vector<std::uint8_t> padded(message.begin(), message.end());
        padded.push_back(0x80);
        while (padded.size() % 64 != 56) padded.push_back(0);
        const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
        for (int shift = 56; shift >= 0; shift -= 8)
            padded.push_back(static_cast<std::uint8_t>(bits >> shift));
        for (std::size_t at = 0; at < padded.size(); at += 64) Block(&padded[at]);
    }
    std::string Hex() const {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string out;
        for (const std::uint32_t word : state_)
            for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(word >> shift) & 0xF];
        return out;
    }

  private:
    void Block(const std::uint8_t* chunk) {
        static constexpr std::uint32_t kRound[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
            0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
            0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
            0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
            0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
            0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
            0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
            0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
            0xc67178f2};
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = static_cast<std::uint32_t>(chunk[4 * i]) << 24 | chunk[4 * i + 1] << 16 |
                   chunk[4 * i + 2] << 8 | chunk[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 =
                std::rotr(w[i - 15], 7) ^ std::rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 =
                std::rotr(w[i - 2], 17) ^ std::rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) +
                                     ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            const std::uint32_t t2 = (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) +
                                     ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
        state_[4] += e;
        state_[5] += f;
        state_[6] += g;
        state_[7] += h;
    }

    std::uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
};

}  // namespace

bool IsValidDateTime(const DateTime& t) {
    if (t.month < 1 || t.month > 12) return false;
    if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return false;
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 60 && t.second >= 0 &&
           t.second <= 60;
}

std::optional<DateTime> FromStampOrder(const Stamp& b) {
    const DateTime t{2000 + b[5], b[4], b[3], b[2], b[1], b[0]};
    if (!IsValidDateTime(t)) return std::nullopt;
    return t;
}

std::optional<DateTime> FromPointOrder(const Stamp& b) {
    const DateTime t{2000 + b[0], b[1], b[2], b[3], b[4], b[5]};
    if (!IsValidDateTime(t)) return std::nullopt;
    return t;
}

std::uint16_t SessionHeader::recorded_points() const {
    return Le16(bytes, 0);
}

Stamp SessionHeader::start_bytes() const {
    return StampAt(bytes, kStartOffset);
}

std::optional<Session> ParseSessionBlock(std::span<const std::uint8_t> block, SessionBlockKind kind,
                                         std::string& error) {
    error.clear();
    Session session;
    if (!ReadSessionStart(block, session, error)) return std::nullopt;
    const std::size_t after_laps = kLapsOffset + kLapRecordSize * session.laps.size();
    if (kind == SessionBlockKind::kEither) {
        kind = block.size() == after_laps ? SessionBlockKind::kWithoutTrack
                                          : SessionBlockKind::kWithTrack;
    }
    if (kind == SessionBlockKind::kWithoutTrack) {
        if (block.size() != after_laps) {
            error = "session block of " + std::to_string(block.size()) + " bytes, not the " +
                    std::to_string(after_laps) + " its laps make";
            return std::nullopt;
        }
        return session;
    }
    session.has_track = true;
    if (block.size() < after_laps + 4) {
        error =
            "track block of " + std::to_string(block.size()) + " bytes ends before its point count";
        return std::nullopt;
    }
    const std::uint64_t count = Le32(block, after_laps);
    const std::uint64_t expected = after_laps + 4 + count * kTrackPointSize;
    if (block.size() != expected) {
        error = "track block of " + std::to_string(block.size()) + " bytes, not the " +
                std::to_string(expected) + " its " + std::to_string(count) + " points make";
        return std::nullopt;
    }
    session.points.reserve(count);
    for (std::size_t j = 0; j < count; ++j)
        session.points.push_back(
            ReadPoint(block.subspan(after_laps + 4 + kTrackPointSize * j, kTrackPointSize)));
    return session;
}

std::optional<std::vector<SessionHeader>> ParseSummaryBlock(std::span<const std::uint8_t> block,
                                                            std::string& error) {
    error.clear();
    if (block.size() < 4) {
        error = "summary block of " + std::to_string(block.size()) + " bytes has no count";
        return std::nullopt;
    }
    const std::uint64_t count = Le32(block, 0);
    const std::uint64_t expected = 4 + count * kSessionHeaderSize;
    if (block.size() != expected) {
        error = "summary block of " + std::to_string(block.size()) + " bytes, not the " +
                std::to_string(expected) + " its " + std::to_string(count) + " headers make";
        return std::nullopt;
    }
    std::vector<SessionHeader> headers(count);
    for (std::size_t i = 0; i < count; ++i)
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(4 + kSessionHeaderSize * i),
                    kSessionHeaderSize, headers[i].bytes.begin());
    return headers;
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
    return Sha256(bytes).Hex();
}

std::string SessionIdentity(const Session& session) {
    std::vector<std::uint8_t> key;
    key.insert(key.end(), session.stamp_a_bytes.begin(), session.stamp_a_bytes.end());
    key.insert(key.end(), session.stamp_b_bytes.begin(), session.stamp_b_bytes.end());
    key.insert(key.end(), session.header.bytes.begin(), session.header.bytes.end());
    return Sha256Hex(key);
}

}  // namespace stridelog_tool
