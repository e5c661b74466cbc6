// AGPSDataUpdate as a host sees it: a simulated watch on the line (in-process
// on the virtual clock, and once over a real pseudo-terminal) and a real FTP
// server on loopback. The notifications, the frames the watch received, the
// flash it is left with and the files in the download folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/pty_server.hpp"
#include "sim/watch.hpp"
#include "sim/watch_setup_content.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"
#include "tests/ui/recording_presenter.hpp"
#include "tests/update/ftp_server.hpp"
#include "ui/presenter.hpp"
#include "update/agps_files.hpp"
#include "update/epo_packets.hpp"

namespace stridelog {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<UINT>;
using sim::Fault;
using sim::FaultKind;

constexpr std::uint32_t kAgpsAddress = 230 * 4096;
constexpr std::uint32_t kAgpsBytes = 14 * 4096;

Bytes orbit_bytes(std::size_t size, unsigned seed = 1) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>((i * 13 + seed * 101 + i / 97) & 0xFF);
    return b;
}

std::string text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// A directory sector with a valid settings checksum over 224 bytes (firmware 1.30).
Bytes directory_with_agps() {
    Bytes d(4096);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 5 + 3);
    const auto sum = sim::settings_checksum(d.data());
    std::copy(sum.begin(), sum.end(), d.begin());
    return d;
}

bool checksum_holds(const Bytes& d) {
    const auto sum = sim::settings_checksum(d.data());
    return d[0] == sum[0] && d[1] == sum[1];
}

// Public: the failure table's arrangements reach into the fixture.
class AgpsTaskTest : public ::testing::Test {
  public:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        task::reset_read_chunk_progress();
        ASSERT_TRUE(server_.running()) << "pyftpdlib did not start";
        server_.put("agps/datetime.txt", "2012-12-30\r\n");
        server_.put("agps/MTK7d.EPO", text(orbit_));
        sim::WatchConfig config = watch_.config();
        config.start_time = sim::WatchTime{2013, 1, 1, 12, 0, 0};  // 2013-01-06 lies ahead
        watch_.set_config(config);
        reset_watch();
    }
    // A watch without A-GPS data: a fresh directory sector, nothing taken.
    void reset_watch() {
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_with_agps()); });
        watch_.load_agps_from_directory();
    }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }

    fs::path folder() const { return env_.documents_dir() / "Stride Log"; }
    std::u16string server() const {
        const std::string a = server_.address();
        return std::u16string(a.begin(), a.end());
    }
    // One AGPSDataUpdate, run to its end.
    bool Run(const char16_t* remote_folder = u"agps", const char16_t* password = u"pass",
             DWORD limit_ms = 60'000, BOOL passive = TRUE) {
        host_.clear();
        watch_.clear_received();
        AGPSDataUpdate(host_.hwnd(), server().c_str(), u"user", password, remote_folder, FALSE,
                       limit_ms, passive);
        return test::run_until_task_ends(600'000);
    }
    std::size_t sector_writes(std::uint32_t address) const {
        std::size_t n = 0;
        for (const Bytes& f : watch_.received())
            if (f.size() >= 4 && f[0] == 0x14 &&
                (std::uint32_t{f[1]} | std::uint32_t{f[2]} << 8 | std::uint32_t{f[3]} << 16) ==
                    address)
                ++n;
        return n;
    }
    std::size_t erases() const { return watch_.received_count(0x14); }
    Bytes expiry_commands() const {
        Bytes out;
        for (const Bytes& f : watch_.received())
            if (!f.empty() && f[0] == 0x2E) out.insert(out.end(), f.begin() + 1, f.end());
        return out;
    }
    void expect_packets_in_flash() const {
        Bytes expected = update::convert_orbit_file(orbit_);
        expected.resize(kAgpsBytes, 0xFF);
        EXPECT_EQ(watch_.read_flash(kAgpsAddress, kAgpsBytes), expected);
    }

    test::TestEnvironment env_;
    test::FtpServer server_{env_.root() / "ftp"};
    test::HostRecorder host_;
    Bytes orbit_ = orbit_bytes(update::kOrbitFileSize);
    std::size_t blocks_before_ = 0;
    sim::Watch watch_;
};

class AgpsInProcessTest : public AgpsTaskTest {
  public:
    void SetUp() override {
        AgpsTaskTest::SetUp();
        sim::register_as_cable(line_, "COM7");
    }
    platform::ScopedVirtualClock clock_;
    sim::InProcessLine line_{watch_, "agps"};
};

TEST_F(AgpsInProcessTest, AWatchThatNeedsDataGetsItAll) {
    ASSERT_TRUE(Run());
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_LOADED}))
        << host_.describe();
    EXPECT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED).at(0), (Bytes{13, 1, 6}));
    expect_packets_in_flash();
    const Bytes directory = watch_.read_flash(0, 4096);
    EXPECT_EQ((Bytes{directory[112], directory[113], directory[114]}), (Bytes{6, 1, 13}));
    EXPECT_TRUE(checksum_holds(directory));
    Bytes rest = directory_with_agps();
    std::copy(directory.begin(), directory.begin() + 2, rest.begin());
    rest[112] = 6, rest[113] = 1, rest[114] = 13;
    EXPECT_EQ(directory, rest) << "only the expiry date and the checksum change";
    EXPECT_EQ(expiry_commands(), (Bytes{13, 1, 6}));
    ASSERT_TRUE(watch_.agps_expiry());
    EXPECT_EQ(*watch_.agps_expiry(), (sim::WatchDate{2013, 1, 6}));
    // 14 sector erases from 230 on, then the directory's; nothing else.
    for (std::uint32_t s = 230; s < 244; ++s) EXPECT_EQ(sector_writes(s * 4096), 1u) << s;
    EXPECT_EQ(sector_writes(0), 1u);
    EXPECT_EQ(erases(), 15u);
    // Phase 1 while downloading, phase 2 while writing: rising, ending at 100.
    for (std::uint32_t phase : {1u, 2u}) {
        const std::vector<float> p = host_.phase_progress(phase);
        ASSERT_FALSE(p.empty()) << "phase " << phase;
        EXPECT_TRUE(std::is_sorted(p.begin(), p.end())) << "phase " << phase;
        EXPECT_FLOAT_EQ(p.back(), 100.0f) << "phase " << phase;
    }
    const auto codes = host_.codes();
    EXPECT_EQ(codes.back(), static_cast<UINT>(SDK_MSG_AGPS_LOADED));
    // The files stay in the download folder.
    EXPECT_EQ(fs::file_size(folder() / "MTK7d.EPO"), 53760u);
    EXPECT_EQ(fs::file_size(folder() / "MTK7d.EPO.pkt"), 57300u);
    EXPECT_TRUE(fs::exists(folder() / "datetime.txt"));
}

TEST_F(AgpsInProcessTest, AnUpToDateWatchIsLeftAlone) {
    sim::WatchConfig config = watch_.config();
    config.status_bytes = {0x05, 0x02, 0x00, 0x01};
    config.fixed_status_bytes = true;
    watch_.set_config(config);
    ASSERT_TRUE(Run());
    EXPECT_EQ(host_.codes(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_CURRENT}))
        << host_.describe();
    EXPECT_EQ(erases(), 0u);
    EXPECT_FALSE(fs::exists(folder() / "MTK7d.EPO")) << "nothing downloaded";
}

TEST_F(AgpsInProcessTest, TheStatusLogStartsAfreshAtTheConnection) {
    std::string log;
    ASSERT_TRUE(test::run_recording_status_log([&] { return Run(); }, log));
    ASSERT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_LOADED}))
        << host_.describe();
    // The call's own lines went with the clearing; the download and the writes follow.
    EXPECT_EQ(log.rfind("COM PORT : COM7 \r\n", 0), 0u) << log;
    for (const char* gone : {"AGPSDataUpdate()", "Site : ", "UpdateAGPS()"})
        EXPECT_EQ(log.find(gone), std::string::npos) << gone << " in " << log;
    EXPECT_NE(log.find("Write sector 243\r\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("dll exit()\r\n")) << log;
}

TEST_F(AgpsInProcessTest, TodaysOrbitFileIsReused) {
    // Today's local file differs from the server's: the flash shows which one was sent.
    const Bytes local = orbit_bytes(update::kOrbitFileSize, 7);
    fs::create_directories(folder());
    std::ofstream(folder() / "MTK7d.EPO", std::ios::binary) << text(local);
    std::ofstream(folder() / "datetime.txt") << "2020-05-01\n";
    ASSERT_TRUE(Run());
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_LOADED}))
        << host_.describe();
    EXPECT_TRUE(host_.phase_progress(1).empty()) << "no download";
    EXPECT_EQ(server_.log().find("RETR"), std::string::npos);
    Bytes expected = update::convert_orbit_file(local);
    expected.resize(kAgpsBytes, 0xFF);
    EXPECT_EQ(watch_.read_flash(kAgpsAddress, kAgpsBytes), expected);
    EXPECT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED).at(0), (Bytes{20, 5, 8}));
}

TEST_F(AgpsInProcessTest, YesterdaysOrbitFileIsFetchedAgain) {
    fs::create_directories(folder());
    std::ofstream(folder() / "MTK7d.EPO", std::ios::binary)
        << text(orbit_bytes(update::kOrbitFileSize, 7));
    const auto file = folder() / "MTK7d.EPO";
    fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(24));
    ASSERT_TRUE(Run());
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_LOADED}))
        << host_.describe();
    EXPECT_FALSE(host_.phase_progress(1).empty());
    expect_packets_in_flash();
    EXPECT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED).at(0), (Bytes{13, 1, 6}));
}

TEST_F(AgpsInProcessTest, EachFailureEndsWithItsError) {
    struct Case {
        const char* legend;
        std::function<void(AgpsInProcessTest&)> arrange;
        const char16_t* folder;
        const char16_t* password;
        Codes outcome;
    };
    const Case cases[] = {
        {"wrong password", nullptr, u"agps", u"wrong", {SDK_MSG_WATCH_VERSION, SDK_ERR_DOWNLOAD}},
        {"missing folder", nullptr, u"nowhere", u"pass", {SDK_MSG_WATCH_VERSION, SDK_ERR_DOWNLOAD}},
        {"orbit file missing on the server",
         [](AgpsInProcessTest& t) { fs::remove(t.server_.root() / "agps" / "MTK7d.EPO"); },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_DOWNLOAD}},
        {"orbit file shorter on the server",
         [](AgpsInProcessTest& t) { t.server_.put("agps/MTK7d.EPO", std::string(1000, 'a')); },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_DOWNLOAD}},
        {"status flag 0",
         [](AgpsInProcessTest& t) {
             sim::WatchConfig c = t.watch_.config();
             c.status_bytes = {0, 0, 0, 0};
             t.watch_.set_config(c);
         },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_AGPS_REFUSED}},
        {"no status reply",
         [](AgpsInProcessTest& t) {
             t.watch_.add_fault(Fault::on_command(FaultKind::silence, 0x2C));
         },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_AGPS_REFUSED}},
        {"today's 14-day file",
         [](AgpsInProcessTest& t) {
             fs::create_directories(t.folder());
             std::ofstream(t.folder() / "MTK7d.EPO", std::ios::binary) << std::string(107520, 'x');
         },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_AGPS_SIZE}},
        {"packet file cannot be created",
         [](AgpsInProcessTest& t) { fs::create_directories(t.folder() / "MTK7d.EPO.pkt" / "x"); },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_AGPS_PACKET_FILE}},
        {"a sector write unanswered",
         [](AgpsInProcessTest& t) {
             t.watch_.add_fault(Fault::on_command(FaultKind::silence, 0x16));
         },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER}},
        {"SetExpiryDate unanswered",
         [](AgpsInProcessTest& t) {
             t.watch_.add_fault(Fault::on_command(FaultKind::silence, 0x2E));
         },
         u"agps",
         u"pass",
         {SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        fs::remove_all(folder());
        server_.put("agps/MTK7d.EPO", text(orbit_));
        watch_.clear_faults();
        sim::WatchConfig config = watch_.config();
        config.status_bytes = {0, 0, 0, 1};
        watch_.set_config(config);
        reset_watch();
        if (c.arrange) c.arrange(*this);
        ASSERT_TRUE(Run(c.folder, c.password));
        EXPECT_EQ(host_.outcome(), c.outcome) << host_.describe();
        const auto n = host_.notifications();
        ASSERT_FALSE(n.empty());
        EXPECT_TRUE(n.back().error) << "the error is the last word";
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    }
}

TEST_F(AgpsInProcessTest, SetExpiryDateUnansweredEndsAfterSixSecondsWithFullProgress) {
    watch_.add_fault(Fault::on_command(FaultKind::silence, 0x2E));
    const std::uint64_t start = platform::clock().now_ms();
    ASSERT_TRUE(Run());
    const auto codes = host_.codes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[codes.size() - 2], static_cast<UINT>(SDK_MSG_PROGRESS));
    EXPECT_EQ(host_.notifications()[codes.size() - 2].progress(), 100.0f);
    EXPECT_EQ(codes.back(), static_cast<UINT>(SDK_ERR_TRANSFER));
    EXPECT_GE(platform::clock().now_ms() - start, 6000u);
    expect_packets_in_flash();  // nothing is rolled back
}

TEST_F(AgpsInProcessTest, AnIssueDateThatDoesNotParseGivesTodayPlusSevenDays) {
    server_.put("agps/datetime.txt", "issued today\n");
    ASSERT_TRUE(Run());
    const auto expiry = std::chrono::year_month_day{std::chrono::sys_days{update::local_today()} +
                                                    std::chrono::days{7}};
    const Bytes expected = {static_cast<std::uint8_t>(static_cast<int>(expiry.year()) - 2000),
                            static_cast<std::uint8_t>(static_cast<unsigned>(expiry.month())),
                            static_cast<std::uint8_t>(static_cast<unsigned>(expiry.day()))};
    ASSERT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED).size(), 1u) << host_.describe();
    EXPECT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED)[0], expected);
    const Bytes directory = watch_.read_flash(0, 4096);
    EXPECT_EQ((Bytes{directory[114], directory[113], directory[112]}), expected);
    EXPECT_EQ(expiry_commands(), expected);
}

TEST_F(AgpsInProcessTest, WithoutAnIssueDateTheUnknownBytesAreStoredAndSent) {
    // Today's orbit file and no date beside it: nothing to download, no date to give.
    fs::create_directories(folder());
    std::ofstream(folder() / "MTK7d.EPO", std::ios::binary) << text(orbit_);
    ASSERT_TRUE(Run());
    const Bytes directory = watch_.read_flash(0, 4096);
    EXPECT_EQ((Bytes{directory[112], directory[113], directory[114]}), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(checksum_holds(directory));
    const Bytes commands = expiry_commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(Bytes(commands.begin(), commands.begin() + 3), (Bytes{0xFF, 0xFF, 0xFF}));
    // The watch takes no such date: it says "not updated" until the task gives up.
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_ERR_AGPS_REFUSED}))
        << host_.describe();
}

TEST_F(AgpsInProcessTest, AWatchThatNeverTakesTheDataGetsThreeWritesThenAnError) {
    sim::WatchConfig config = watch_.config();
    config.agps_refuse = true;
    watch_.set_config(config);
    ASSERT_TRUE(Run());
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_ERR_AGPS_REFUSED}))
        << host_.describe();
    EXPECT_EQ(sector_writes(kAgpsAddress), 3u);
    EXPECT_EQ(sector_writes(0), 3u);
    EXPECT_EQ(expiry_commands().size(), 9u);
    EXPECT_EQ(host_.phase_progress(1).empty(), false) << "downloaded once";
}

// The same update over a real pseudo-terminal and the real clock.
class AgpsPtyTest : public AgpsTaskTest {
  protected:
    void SetUp() override {
        AgpsTaskTest::SetUp();
        ASSERT_TRUE(pty_.start(watch_, 0));
        platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#pty", "COM9",
                                     pty_.slave_path());
    }
    void TearDown() override {
        pty_.stop();
        AgpsTaskTest::TearDown();
    }
    sim::PtyServer pty_;
};

TEST_F(AgpsPtyTest, ActiveModeUpdateOverThePty) {
    ASSERT_TRUE(Run(u"agps", u"pass", 60'000, FALSE));
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_LOADED}))
        << host_.describe();
    expect_packets_in_flash();
    const std::string log = server_.log();
    EXPECT_TRUE(log.find("<- EPRT") != std::string::npos ||
                log.find("<- PORT") != std::string::npos)
        << "active mode: " << log;
}

// On the real clock: a virtual one stands still while the network works.
TEST_F(AgpsPtyTest, TheTimeLimitEndsASlowDownload) {
    test::FtpServer slow(env_.root() / "slow", 8192);  // 53760 bytes take 6.5 s
    ASSERT_TRUE(slow.running());
    slow.put("agps/datetime.txt", "2012-12-30\n");
    slow.put("agps/MTK7d.EPO", text(orbit_));
    const std::string a = slow.address();
    const std::u16string address(a.begin(), a.end());
    AGPSDataUpdate(host_.hwnd(), address.c_str(), u"user", u"pass", u"agps", FALSE, 1500, TRUE);
    ASSERT_TRUE(test::run_until_task_ends(600'000));
    const auto codes = host_.codes();
    ASSERT_GE(codes.size(), 2u) << host_.describe();
    EXPECT_EQ(codes.back(), static_cast<UINT>(SDK_ERR_DOWNLOAD_TIMEOUT));
    EXPECT_EQ(host_.notifications()[codes.size() - 2].progress(), 100.0f);
    EXPECT_EQ(erases(), 0u);
}

}  // namespace
}  // namespace stridelog
