// A session the simulator's realistic watch recorded, downloaded through the
// SDK and written as GPX, TCX, JSON and FIT at a fixed UTC offset, compared byte
// for byte with the copies under tests/data/. scripts/regenerate-golden.sh
// rewrites those copies, on purpose only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"
#include "tests/hostkit/realistic_watch.hpp"

namespace stridelog {
namespace {

namespace hk = hostkit;
namespace fs = std::filesystem;

// The slow recovery run: stops marked on the track, a clock 3 s behind, four laps.
constexpr std::size_t kGoldenSession = 5;
constexpr int kUtcOffsetSeconds = 3600;  // +01:00, the watch's winter time
constexpr const char* kGoldenStem = "realistic-session-5";

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class GoldenFiles : public test::RealisticWatch {};

TEST_F(GoldenFiles, ARealisticSessionAsGpxTcxJsonAndFit) {
    const auto sessions = download_sessions();
    ASSERT_GT(sessions.size(), kGoldenSession);
    const hk::Session& session = sessions[kGoldenSession];
    ASSERT_FALSE(session.points.empty());

    const bool regenerate = std::getenv("STRIDELOG_REGENERATE_GOLDEN") != nullptr;
    const fs::path folder = STRIDELOG_TEST_DATA_DIR;
    const auto zone = hk::LocalTime::fixed_offset(kUtcOffsetSeconds);
    for (const auto format : {hk::FileFormat::kGpx, hk::FileFormat::kTcx, hk::FileFormat::kJson,
                              hk::FileFormat::kFit}) {
        const fs::path file =
            folder / (std::string(kGoldenStem) + "." + hk::file_extension(format));
        const std::string written = hk::write_session(format, session, zone);
        if (regenerate) {
            fs::create_directories(folder);
            std::ofstream(file, std::ios::binary) << written;
            continue;
        }
        ASSERT_TRUE(fs::exists(file)) << file << " is missing: scripts/regenerate-golden.sh";
        const std::string golden = read_file(file);
        if (written == golden) continue;
        std::size_t at = 0;
        while (at < written.size() && at < golden.size() && written[at] == golden[at]) ++at;
        const std::size_t from = at < 80 ? 0 : at - 80;
        ADD_FAILURE() << file << " differs from byte " << at
                      << " on:\n  written: " << written.substr(from, 160)
                      << "\n  golden:  " << golden.substr(from, 160);
    }
    if (regenerate) GTEST_SKIP() << "golden files rewritten under " << folder;
}

}  // namespace
}  // namespace stridelog
