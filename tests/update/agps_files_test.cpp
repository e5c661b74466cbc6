// The packet stream the watch is given for an orbit file, the expiry date read
// from the issue date, and the "already fetched today" decision.
#include "update/agps_files.hpp"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/golden.hpp"
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

// For each orbit file size: the packet count, the whole stream by digest, and
// the first, second, 257th and 299th packets and the end packet byte by byte.
TEST(EpoPackets, AnOrbitFileBecomesNumberedPacketsAndTheEndPacket) {
    std::string text;
    for (const std::size_t size : {0, 1, 180, 181, 360, 53760}) {
        const Bytes stream = convert_orbit_file(orbit_bytes(size));
        const auto packet = [&](std::size_t n) {
            return test::bytes_text(std::span(stream).subspan(n * 191, 191), 191) + "\n";
        };
        text += std::to_string(size) + " bytes, " + std::to_string(epo_packet_count(size)) +
                " packets: " + test::bytes_text(stream) + "\n";
        for (const std::size_t n : {0, 1, 256, 298})
            if ((n + 1) * 191 < stream.size())
                text += "packet " + std::to_string(n) + ": " + packet(n);
        text += "end: " + packet(stream.size() / 191 - 1);
    }
    test::expect_golden("update/epo_packets", text);
}

// Each issue date line and the expiry read from it (today is 2026-12-07).
TEST(AgpsExpiry, IssueDatePlusSevenDays) {
    std::string text;
    for (const char* line : {"2012-12-30", "2012-12-30\r", "2024-02-22", "2023-02-22", "garbage",
                             "", "2025", "2025-06", "2012-13-01", "2012-02-30", "2012-00-10",
                             "1999-12-20", "2254-12-30", "2254-12-20"}) {
        const ExpiryDate e = expiry_from_date_line(line, 2026y / December / 7d);
        std::string shown = line;
        if (shown.ends_with('\r')) shown.replace(shown.size() - 1, 1, "<CR>");
        text += "\"" + shown + "\" -> " +
                (e.known() ? std::to_string(e.year) + "-" + std::to_string(e.month) + "-" +
                                 std::to_string(e.day)
                           : "unknown") +
                "\n";
    }
    test::expect_golden("update/agps_expiry", text);
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
    // Size, days old, reused.
    const std::array<int, 3> cases[] = {{53760, 0, 1}, {107520, 0, 1}, {53759, 0, 0},
                                        {0, 0, 0},     {53760, 1, 0},  {107520, 2, 0}};
    for (const auto& [size, days_old, reused] : cases) {
        SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(days_old) + " days old");
        put(kOrbitFileName, std::string(static_cast<std::size_t>(size), 'x'));
        fs::last_write_time(folder() / kOrbitFileName,
                            fs::last_write_time(folder() / kOrbitFileName) - days(days_old));
        EXPECT_EQ(orbit_file_is_from_today(folder(), today), reused == 1);
    }
}

}  // namespace
}  // namespace stridelog::update
