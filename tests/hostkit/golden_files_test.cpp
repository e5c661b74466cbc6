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

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(GoldenFiles, ARealisticSessionAsGpxTcxJsonAndFit) {
    test::RealisticWatch watch;
    const auto notes = watch.run([](HWND h) { GetAllWorkout(h, FALSE, FALSE); });
    std::vector<hk::Session> sessions;
    for (const auto& n : notes) {
        if (n.error || (n.code != SDK_MSG_SESSION && n.code != SDK_MSG_SESSION_TRACK)) continue;
        auto read = hk::parse_session_block(n.block);
        ASSERT_TRUE(read) << read.error();
        sessions.push_back(std::move(*read));
    }
    ASSERT_GT(sessions.size(), kGoldenSession);
    const hk::Session& session = sessions[kGoldenSession];
    ASSERT_FALSE(session.points.empty());

    const bool regenerate = std::getenv("STRIDELOG_REGENERATE_GOLDEN") != nullptr;
    const fs::path folder = STRIDELOG_TEST_DATA_DIR;
    const auto zone = hk::LocalTime::fixed_offset(kUtcOffsetSeconds);
    for (const auto format : {hk::FileFormat::gpx, hk::FileFormat::tcx, hk::FileFormat::json,
                              hk::FileFormat::fit}) {
        const fs::path file =
            folder / (std::string(kGoldenStem) + "." + hk::file_extension(format));
        const std::string written = hk::write_session(format, session, zone);
        if (regenerate) {
            fs::create_directories(folder);
            std::ofstream(file, std::ios::binary) << written;
            continue;
        }
        ASSERT_TRUE(fs::exists(file)) << file << " is missing: scripts/regenerate-golden.sh";
        const std::string golden = ReadFile(file);
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
