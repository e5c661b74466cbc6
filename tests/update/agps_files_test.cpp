// The packet stream the watch is given for an orbit file, the expiry date read
// from the issue date, and the "already fetched today" decision.
#include "update/agps_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_environment.hpp"
#include "update/epo_packets.hpp"

namespace stridelog::update {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono;

Bytes orbit_bytes(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return b;
}

// The packet as the watch reads it, field by field.
struct Packet {
    unsigned sequence;
    Bytes data;
    bool well_formed;
};

Packet read_packet(const Bytes& stream, std::size_t index) {
    const std::uint8_t* p = stream.data() + index * 191;
    std::uint8_t x = 0;
    for (int i = 2; i < 188; ++i) x ^= p[i];
    const bool ok = p[0] == 0x04 && p[1] == 0x24 && p[2] == 0xBF && p[3] == 0x00 && p[4] == 0xD2 &&
                    p[5] == 0x02 && p[188] == x && p[189] == 0x0D && p[190] == 0x0A;
    return {static_cast<unsigned>(p[6] | p[7] << 8), Bytes(p + 8, p + 188), ok};
}

TEST(EpoPackets, AnOrbitFileBecomesNumberedPacketsAndTheEndPacket) {
    const Bytes orbit = orbit_bytes(kOrbitFileSize);
    const Bytes stream = convert_orbit_file(orbit);
    ASSERT_EQ(stream.size(), 57300u);
    for (std::size_t n = 0; n < 299; ++n) {
        const Packet p = read_packet(stream, n);
        EXPECT_TRUE(p.well_formed) << n;
        EXPECT_EQ(p.sequence, n);
        // Packet 298 has 60 zero bytes after its 120.
        Bytes data(orbit.begin() + n * 180, orbit.begin() + std::min(n * 180 + 180, orbit.size()));
        data.resize(180, 0);
        EXPECT_EQ(p.data, data) << n;
    }
    Bytes end = {0x04, 0x24, 0xBF, 0x00, 0xD2, 0x02, 0xFF, 0xFF};
    end.resize(188, 0);
    end.insert(end.end(), {0x6F, 0x0D, 0x0A});
    EXPECT_EQ(Bytes(stream.end() - 191, stream.end()), end);
    // The count follows the size: one packet per 180 bytes begun, and the end packet.
    for (const auto& [size, packets] :
         {std::pair{0, 1}, {1, 2}, {180, 2}, {181, 3}, {360, 3}, {53760, 300}}) {
        const Bytes short_stream = convert_orbit_file(orbit_bytes(size));
        ASSERT_EQ(short_stream.size(), packets * 191u) << size;
        EXPECT_EQ(epo_packet_count(size), packets);
        EXPECT_EQ(read_packet(short_stream, packets - 1).sequence, 0xFFFFu);
        for (int n = 0; n < packets; ++n) EXPECT_TRUE(read_packet(short_stream, n).well_formed);
    }
}

TEST(AgpsExpiry, IssueDatePlusSevenDays) {
    const year_month_day today = 2026y / December / 7d;
    const ExpiryDate unknown{};
    const struct {
        const char* line;
        ExpiryDate expected;
    } cases[] = {
        {"2012-12-30", {13, 1, 6}},
        {"2012-12-30\r", {13, 1, 6}},
        {"2024-02-22", {24, 2, 29}},  // leap year
        {"2023-02-22", {23, 3, 1}},
        {"garbage", {26, 12, 14}},  // nothing parses: today
        {"", {26, 12, 14}},
        {"2025", {25, 12, 14}},  // month and day stay today's
        {"2025-06", {25, 6, 14}},
        {"2012-13-01", unknown},  // no calendar date
        {"2012-02-30", unknown},
        {"2012-00-10", unknown},
        {"1999-12-20", unknown},  // before the watch's first year
        {"2254-12-30", unknown},  // past its last one
        {"2254-12-20", {254, 12, 27}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expiry_from_date_line(c.line, today), c.expected) << c.line;
}

class AgpsFolderTest : public ::testing::Test {
  protected:
    fs::path folder() const { return env_.documents_dir() / "Stride Log"; }
    void put(const char* name, const std::string& text) {
        fs::create_directories(folder());
        std::ofstream(folder() / name, std::ios::binary) << text;
    }
    test::TestEnvironment env_;
};

TEST_F(AgpsFolderTest, ExpiryNeedsBothFiles) {
    const year_month_day today = 2026y / December / 7d;
    EXPECT_FALSE(read_expiry_date(folder(), today).known());
    put(kDateFileName, "2012-12-30\nsecond line\n");
    EXPECT_FALSE(read_expiry_date(folder(), today).known()) << "no orbit file";
    put(kOrbitFileName, std::string(53760, 'x'));
    EXPECT_EQ(read_expiry_date(folder(), today), (ExpiryDate{13, 1, 6}));
    fs::remove(folder() / kDateFileName);
    EXPECT_FALSE(read_expiry_date(folder(), today).known());
}

TEST_F(AgpsFolderTest, OnlyAnOrbitFileOfTodayWithAServerSizeIsReused) {
    const year_month_day today = local_today();
    EXPECT_FALSE(orbit_file_is_from_today(folder(), today)) << "missing";
    const struct {
        std::size_t size;
        int days_old;
        bool reused;
    } cases[] = {{53760, 0, true}, {107520, 0, true}, {53759, 0, false},
                 {0, 0, false},    {53760, 1, false}, {107520, 2, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, " + std::to_string(c.days_old) +
                     " days old");
        put(kOrbitFileName, std::string(c.size, 'x'));
        fs::last_write_time(folder() / kOrbitFileName,
                            fs::last_write_time(folder() / kOrbitFileName) - days(c.days_old));
        EXPECT_EQ(orbit_file_is_from_today(folder(), today), c.reused);
    }
}

}  // namespace
}  // namespace stridelog::update
