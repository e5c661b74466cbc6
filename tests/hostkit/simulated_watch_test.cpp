// The host kit's readers on every block the SDK posts when the entry points
// run against the simulated watch: each block reads, and reads as what the
// watch holds (taken from the simulator's own content, not from the SDK);
// every block cut short or grown by a byte is an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "sim/watch_setup_content.hpp"
#include "tests/hostkit/realistic_watch.hpp"

namespace stridelog {
namespace {

namespace hk = hostkit;
using Buffer = std::vector<std::uint8_t>;

// The watch's own character set (ASCII and 22 accented letters at 0xA0) in
// UTF-8, as a host should read the names.
std::string from_watch_characters(const std::string& stored) {
    static const char* const kLetters[] = {"à", "á", "â", "ä", "è", "é", "ê", "ë", "ì", "í", "î",
                                           "ï", "ò", "ó", "ô", "ö", "ù", "ú", "û", "ü", "ç", "ñ"};
    std::string out;
    for (const char c : stored) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b == 0) break;
        if (b < 0x80)
            out += c;
        else if (b >= 0xA0 && b < 0xA0 + std::size(kLetters))
            out += kLetters[b - 0xA0];
        else
            out += ' ';
    }
    return out;
}

// A track point written back as its 25 bytes, from the record's fields.
Buffer point_bytes(const hk::TrackPoint& p) {
    Buffer b{p.record_header, p.record_byte1};
    b.insert(b.end(), p.time_bytes.begin(), p.time_bytes.end());
    const auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(static_cast<std::uint32_t>(p.longitude), 4);
    put(static_cast<std::uint32_t>(p.latitude), 4);
    put(static_cast<std::uint16_t>(p.altitude), 2);
    put(p.m1, 2);
    put(p.m2, 2);
    put(p.m3, 2);
    put(p.m4, 1);
    return b;
}

// The blocks of the result notifications, in arrival order.
std::vector<const test::Notification*> result_blocks(const std::vector<test::Notification>& notes) {
    std::vector<const test::Notification*> out;
    for (const auto& n : notes)
        if (!n.error && n.has_block) out.push_back(&n);
    return out;
}

// Every block reads; a block one byte shorter (or cut anywhere) or one byte
// longer is an error. Each copy is exactly as long as it claims, so a read
// past its end stops a sanitizer build.
void expect_only_whole_blocks_read(const test::Notification& n) {
    SCOPED_TRACE(testing::Message() << "block of 0x" << std::hex << n.code << std::dec << ", "
                                    << n.block.size() << " bytes");
    const auto whole = hk::parse_result_block(n.code, n.block);
    ASSERT_TRUE(whole) << whole.error();
    // A text block cut short may be a shorter text; any other cut breaks a
    // count or a size.
    const bool text = n.code == SDK_MSG_SDK_VERSION || n.code == SDK_MSG_WATCH_VERSION ||
                      n.code == SDK_MSG_LONG_VERSION;
    const std::size_t size = n.block.size();
    std::set<std::size_t> cuts = {0, size - 1};
    for (std::size_t s = 1; s < std::min<std::size_t>(size, 130); ++s) cuts.insert(s);
    for (const std::size_t back : {2u, 16u, 24u, 25u, 26u, 34u, 48u})
        if (back < size) cuts.insert(size - back);
    for (std::size_t s = 0; s < size; s += 997) cuts.insert(s);
    for (const std::size_t cut : cuts) {
        if (cut >= size) continue;
        const Buffer part(n.block.begin(), n.block.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto read = hk::parse_result_block(n.code, part);
        if (text && cut > 0 && read) {
            // A shorter text is still a text; it must be those bytes and no more.
            const auto version = [](const hk::Record& r) {
                if (const auto* v = std::get_if<hk::SdkVersion>(&r)) return v->text;
                if (const auto* v = std::get_if<hk::WatchVersion>(&r)) return v->text;
                return std::get<hk::LongVersion>(r).text;
            };
            EXPECT_EQ(version(*read), std::string(part.begin(), part.end()));
        } else if (!text || cut == 0) {
            EXPECT_FALSE(read) << "cut to " << cut;
            EXPECT_FALSE(read.error().empty()) << "cut to " << cut;
        }
    }
    Buffer longer = n.block;
    longer.push_back(0);
    EXPECT_FALSE(hk::parse_result_block(n.code, longer)) << "a zero byte more";
}

// The entry points that post a block, each run against the realistic watch.
class SimulatedWatch : public test::RealisticWatch {
  protected:
    std::vector<test::Notification> run_code(UINT code) {
        static const std::map<UINT, void (*)(HWND)> kCalls = {
            {SDK_MSG_SDK_VERSION, [](HWND h) { GetSDKVersion(h); }},
            {SDK_MSG_PORT_LIST, [](HWND h) { GetClip_COM_Port_List(h); }},
            {SDK_MSG_WATCH_VERSION, [](HWND h) { GetWatch_Version(h, FALSE); }},
            {SDK_MSG_LONG_VERSION, [](HWND h) { GetWatch_LongVer(h, FALSE); }},
            {SDK_MSG_SESSION_TRACK, [](HWND h) { GetAllWorkout(h, FALSE, FALSE); }},
            {SDK_MSG_SUMMARY, [](HWND h) { GetWorkoutSummary(h, FALSE); }},
            {SDK_MSG_PATH, [](HWND h) { GetPaths(h, FALSE); }},
            {SDK_MSG_VIEWS, [](HWND h) { GetViews(h, FALSE); }},
            {SDK_MSG_SETTINGS, [](HWND h) { GetSetting(h, FALSE); }},
            {SDK_MSG_SECTOR, [](HWND h) {
                 ReadFlashSector(h, 255);
                 test::deliver_posted();
             }}};
        return run(kCalls.at(code));
    }
    // Block `index` of `code` from the entry point that posts it, read as a T.
    template <class T>
    T read(UINT code, std::size_t index = 0) {
        std::vector<const test::Notification*> blocks;
        const auto notes = run_code(code);
        for (const test::Notification* n : result_blocks(notes))
            if (n->code == code) blocks.push_back(n);
        if (index >= blocks.size()) {
            ADD_FAILURE() << "no block " << index << " of 0x" << std::hex << code;
            return T{};
        }
        auto record = hk::parse_result_block(code, blocks[index]->block);
        if (!record || !std::holds_alternative<T>(*record)) {
            ADD_FAILURE() << "block of 0x" << std::hex << code << ": " << record.error();
            return T{};
        }
        return std::get<T>(std::move(*record));
    }
    Buffer flash(std::uint32_t address, std::size_t size) {
        return watch_.read_flash(address, size);
    }
};

TEST_F(SimulatedWatch, EveryBlockPostedReadsAndOnlyWhole) {
    std::set<UINT> codes;
    for (const UINT task : {SDK_MSG_SDK_VERSION, SDK_MSG_PORT_LIST, SDK_MSG_WATCH_VERSION,
                            SDK_MSG_LONG_VERSION, SDK_MSG_SESSION_TRACK, SDK_MSG_SUMMARY,
                            SDK_MSG_PATH, SDK_MSG_VIEWS, SDK_MSG_SETTINGS, SDK_MSG_SECTOR}) {
        const auto notes = run_code(task);
        ASSERT_FALSE(notes.empty()) << std::hex << task;
        for (const auto& n : notes) {
            ASSERT_FALSE(n.error) << "error 0x" << std::hex << n.code << " in task " << task;
            EXPECT_EQ(n.has_block, hk::carries_block(n.code)) << std::hex << n.code;
        }
        for (const test::Notification* n : result_blocks(notes)) {
            codes.insert(n->code);
            expect_only_whole_blocks_read(*n);
        }
    }
    EXPECT_EQ(codes, (std::set<UINT>{SDK_MSG_SDK_VERSION, SDK_MSG_WATCH_VERSION, SDK_MSG_PATH,
                                     SDK_MSG_SESSION, SDK_MSG_SESSION_TRACK, SDK_MSG_SUMMARY,
                                     SDK_MSG_VIEWS, SDK_MSG_SETTINGS, SDK_MSG_PORT_LIST,
                                     SDK_MSG_LONG_VERSION, SDK_MSG_SECTOR, SDK_MSG_PROGRESS}));
}

TEST_F(SimulatedWatch, VersionsPortsSectorSessionsAndSummary) {
    const auto sdk = read<hk::SdkVersion>(SDK_MSG_SDK_VERSION);
    EXPECT_EQ(sdk.product, "SDK73688");
    EXPECT_EQ(sdk.version, "2.0.11.260");
    EXPECT_EQ(read<hk::PortList>(SDK_MSG_PORT_LIST).names, std::vector<std::string>{"COM7"});
    const auto watch = read<hk::WatchVersion>(SDK_MSG_WATCH_VERSION);
    EXPECT_EQ(watch.text, "Ver1.30");
    EXPECT_EQ(watch.number, 1.30);
    const auto long_version = read<hk::LongVersion>(SDK_MSG_LONG_VERSION);
    EXPECT_EQ(long_version.text, sim::kRealisticLongVersion);
    ASSERT_TRUE(long_version.firmware);
    EXPECT_EQ(long_version.firmware->minor, 30);
    EXPECT_EQ(long_version.firmware->patch, 7);
    EXPECT_EQ(long_version.firmware->code, "A12");
    const auto sector = read<hk::FlashSector>(SDK_MSG_SECTOR);
    EXPECT_EQ(Buffer(sector.bytes.begin(), sector.bytes.end()), flash(255 * 4096, 4096));

    for (const auto& n : run_code(SDK_MSG_SESSION_TRACK)) {
        if (n.code != SDK_MSG_PROGRESS) continue;
        const auto progress = hk::parse_progress_block(n.block);
        ASSERT_TRUE(progress) << progress.error();
        EXPECT_EQ(progress->percent, n.progress());
    }
    const auto sessions = download_sessions();
    ASSERT_EQ(sessions.size(), expected_.size());
    const auto summary = read<hk::Summary>(SDK_MSG_SUMMARY);
    ASSERT_EQ(summary.headers.size(), expected_.size());
    for (std::size_t k = 0; k < expected_.size(); ++k) {
        SCOPED_TRACE("session " + std::to_string(k));
        const hk::Session& s = sessions[k];
        const sim::ExpectedSession& e = expected_[k];
        EXPECT_EQ(s.stamp_a_bytes, e.stamp_a);
        EXPECT_EQ(s.stamp_b_bytes, e.stamp_b);
        EXPECT_EQ(s.header.bytes, e.header);
        EXPECT_EQ(summary.headers[k].bytes, e.header);
        EXPECT_EQ(s.laps, e.laps);
        EXPECT_EQ(s.has_track, e.has_track_points);
        ASSERT_EQ(s.points.size(), e.points.size());
        for (std::size_t j = 0; j < e.points.size(); ++j)
            ASSERT_EQ(point_bytes(s.points[j]), Buffer(e.points[j].begin(), e.points[j].end()))
                << "point " << j;
    }
}

TEST_F(SimulatedWatch, PathsAndViewsAsTheWatchHoldsThem) {
    const sim::WatchSetup setup = sim::realistic_setup();
    for (std::size_t i = 0; i < hk::kPathCount; ++i) {
        SCOPED_TRACE("path " + std::to_string(i));
        const auto path = read<hk::WatchPath>(SDK_MSG_PATH, i);
        const sim::SetupPath& want = setup.paths[i];
        EXPECT_EQ(path.index, i);
        EXPECT_EQ(path.name, from_watch_characters(want.name));
        ASSERT_EQ(path.waypoints.size(), std::min(want.waypoints.size(), hk::kMaxWaypoints));
        for (std::size_t k = 0; k < path.waypoints.size(); ++k) {
            EXPECT_EQ(path.waypoints[k].word1, want.waypoints[k].word1);
            EXPECT_EQ(path.waypoints[k].word2, want.waypoints[k].word2);
            EXPECT_EQ(path.waypoints[k].attributes, want.waypoints[k].attributes);
            EXPECT_EQ(path.waypoints[k].name, from_watch_characters(want.waypoints[k].name));
        }
    }
    const auto views = read<hk::ViewsRecord>(SDK_MSG_VIEWS);
    for (std::size_t v = 0; v < hk::kViewCount; ++v) {
        EXPECT_EQ(views.views[v].record, setup.views[v].record) << "view " << v;
        EXPECT_EQ(views.views[v].name, from_watch_characters(setup.views[v].name)) << "view " << v;
    }
}

}  // namespace
}  // namespace stridelog
