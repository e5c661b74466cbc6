// A session the simulator's realistic watch recorded, downloaded through the
// SDK and written as GPX, TCX, JSON and FIT at a fixed UTC offset, compared byte
// for byte with the copies under tests/data/. scripts/regenerate-golden.sh
// rewrites those copies, on purpose only.
#include <gtest/gtest.h>

#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"
#include "tests/hostkit/realistic_watch.hpp"
#include "tests/support/golden.hpp"

namespace stridelog {
namespace {

namespace hk = hostkit;

// The slow recovery run: stops marked on the track, a clock 3 s behind, four laps.
constexpr std::size_t kGoldenSession = 5;
constexpr int kUtcOffsetSeconds = 3600;  // +01:00, the watch's winter time
constexpr const char* kGoldenStem = "realistic-session-5";

class GoldenFiles : public test::RealisticWatch {};

TEST_F(GoldenFiles, ARealisticSessionAsGpxTcxJsonAndFit) {
    const auto sessions = download_sessions();
    ASSERT_GT(sessions.size(), kGoldenSession);
    const hk::Session& session = sessions[kGoldenSession];
    ASSERT_FALSE(session.points.empty());

    const auto zone = hk::LocalTime::fixed_offset(kUtcOffsetSeconds);
    for (const auto format :
         {hk::FileFormat::gpx, hk::FileFormat::tcx, hk::FileFormat::json, hk::FileFormat::fit})
        test::expect_data_file(std::string(kGoldenStem) + "." + hk::file_extension(format),
                               hk::write_session(format, session, zone));
}

}  // namespace
}  // namespace stridelog
