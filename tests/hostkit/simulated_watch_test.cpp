// The host kit's readers on every block the SDK posts when the entry points
// run against the simulated watch: each block reads, and every block cut short
// or grown by a byte is an error. What the blocks hold is pinned by the end-to-end
// tests; how they read, by the record tests here.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "tests/hostkit/realistic_watch.hpp"

namespace stridelog {
namespace {

namespace hk = hostkit;
using Buffer = std::vector<std::uint8_t>;

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

}  // namespace
}  // namespace stridelog
