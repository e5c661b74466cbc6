// AGPSDataUpdate as a host sees it: a simulated watch on the line (in-process
// on the virtual clock, and once over a real pseudo-terminal) and a real FTP
// server on loopback. The notifications, the frames the watch received, the
// flash it is left with and the files in the download folder.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "platform/registry.hpp"
#include "sim/pty_server.hpp"
#include "tests/ui/recording_presenter.hpp"
#include "tests/update/update_task_fixture.hpp"
#include "update/agps_files.hpp"
#include "update/epo_packets.hpp"

namespace stridelog {
namespace {

namespace fs = std::filesystem;
using sim::Fault;
using sim::FaultKind;
using test::Bytes;
using test::Codes;

constexpr std::uint32_t kAgpsAddress = 230 * 4096;
constexpr std::uint32_t kAgpsBytes = 14 * 4096;

std::string orbit_file(unsigned seed = 1) {
    std::string b(update::kOrbitFileSize, '\0');
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>((i * 13 + seed * 101 + i / 97) & 0xFF);
    return b;
}

// The packets of `orbit`, as the 14 sectors from 230 on hold them.
Bytes packets_in_flash(const std::string& orbit) {
    Bytes expected = update::convert_orbit_file(Bytes(orbit.begin(), orbit.end()));
    expected.resize(kAgpsBytes, 0xFF);
    return expected;
}

const Codes loaded = {SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_LOADED};
const Codes kRefused = {SDK_MSG_WATCH_VERSION, SDK_ERR_AGPS_REFUSED};

class AgpsInProcessTest : public test::UpdateTaskTest {
  protected:
    void SetUp() override {
        UpdateTaskTest::SetUp();
        server_.put("agps/datetime.txt", "2012-12-30\r\n");
        server_.put("agps/MTK7d.EPO", orbit_);
        sim::WatchConfig config = watch_.config();
        config.start_time = sim::WatchTime{2013, 1, 1, 12, 0, 0};  // 2013-01-06 lies ahead
        watch_.set_config(config);
        reset_watch();
    }
    // A watch without A-GPS data: a fresh directory sector, nothing taken.
    void reset_watch() {
        store(0, test::directory_sector(5, 3));
        watch_.load_agps_from_directory();
    }
    void set_status(Bytes status) {
        sim::WatchConfig c = watch_.config();
        c.status_bytes = std::move(status);
        watch_.set_config(c);
    }
    fs::path folder() const { return env_.documents_dir() / "Stride Log"; }
    void put_local_orbit_file(const std::string& bytes) {
        fs::create_directories(folder());
        std::ofstream(folder() / "MTK7d.EPO", std::ios::binary) << bytes;
    }
    // One AGPSDataUpdate, run to its end.
    void run(const char16_t* remote_folder = u"agps", const char16_t* password = u"pass") {
        host_.clear();
        watch_.clear_received();
        AGPSDataUpdate(host_.hwnd(), server_address().c_str(), u"user", password, remote_folder,
                       FALSE, 60'000, TRUE);
        run_task();
    }
    // What the SetExpiryDate frames carried, joined.
    Bytes expiry_commands() const {
        Bytes out;
        for (const Bytes& f : watch_.received())
            if (!f.empty() && f[0] == 0x2E) out.insert(out.end(), f.begin() + 1, f.end());
        return out;
    }
    Bytes expiry_in_directory() const {
        const Bytes d = watch_.read_flash(112, 3);
        return {d[2], d[1], d[0]};
    }

    std::string orbit_ = orbit_file();
};

TEST_F(AgpsInProcessTest, AWatchThatNeedsDataGetsItAll) {
    run();
    EXPECT_EQ(host_.outcome(), loaded) << host_.describe();
    EXPECT_EQ(host_.codes().back(), static_cast<UINT>(SDK_MSG_AGPS_LOADED));
    EXPECT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED).at(0), (Bytes{13, 1, 6}));
    EXPECT_EQ(watch_.read_flash(kAgpsAddress, kAgpsBytes), packets_in_flash(orbit_));
    // Only the expiry date (day, month, year at 112) and the checksum change.
    const Bytes directory = watch_.read_flash(0, 4096);
    EXPECT_TRUE(test::checksum_holds(directory));
    Bytes rest = test::directory_sector(5, 3);
    std::copy(directory.begin(), directory.begin() + 2, rest.begin());
    rest[112] = 6, rest[113] = 1, rest[114] = 13;
    EXPECT_EQ(directory, rest);
    EXPECT_EQ(expiry_commands(), (Bytes{13, 1, 6}));
    ASSERT_TRUE(watch_.agps_expiry());
    EXPECT_EQ(*watch_.agps_expiry(), (sim::WatchDate{2013, 1, 6}));
    // The 14 sectors from 230 on, then the directory's; nothing else erased.
    std::vector<std::uint32_t> erased(14);
    std::iota(erased.begin(), erased.end(), 230u);
    erased.push_back(0);
    EXPECT_EQ(sectors(0x14), erased);
    // Phase 1 while downloading, phase 2 while writing.
    expect_phases_end_at_100({1, 2});
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
    run();
    EXPECT_EQ(host_.codes(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_AGPS_CURRENT}))
        << host_.describe();
    EXPECT_TRUE(sectors(0x14).empty());
    EXPECT_FALSE(fs::exists(folder() / "MTK7d.EPO")) << "nothing downloaded";
}

TEST_F(AgpsInProcessTest, TheStatusLogStartsAfreshAtTheConnection) {
    std::string log;
    ASSERT_TRUE(test::run_recording_status_log([&] { return run(), true; }, log));
    ASSERT_EQ(host_.outcome(), loaded) << host_.describe();
    // The call's own lines went with the clearing; the download and the writes follow.
    EXPECT_EQ(log.rfind("COM PORT : COM7 \r\n", 0), 0u) << log;
    for (const char* gone : {"AGPSDataUpdate()", "Site : ", "UpdateAGPS()"})
        EXPECT_EQ(log.find(gone), std::string::npos) << gone << " in " << log;
    EXPECT_NE(log.find("Write sector 243\r\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("dll exit()\r\n")) << log;
}

TEST_F(AgpsInProcessTest, OnlyTodaysOrbitFileIsReused) {
    // The local file differs from the server's: the flash shows which one was sent.
    const std::string local = orbit_file(7);
    for (const bool today : {true, false}) {
        SCOPED_TRACE(today ? "today's" : "yesterday's");
        fs::remove_all(folder());
        put_local_orbit_file(local);
        std::ofstream(folder() / "datetime.txt") << "2020-05-01\n";
        if (!today) {
            const auto file = folder() / "MTK7d.EPO";
            fs::last_write_time(file, fs::last_write_time(file) - std::chrono::hours(24));
        }
        reset_watch();
        run();
        EXPECT_EQ(host_.outcome(), loaded) << host_.describe();
        EXPECT_EQ(host_.phase_progress(1).empty(), today) << "downloaded";
        EXPECT_EQ(server_.log().find("RETR") == std::string::npos, today);
        EXPECT_EQ(watch_.read_flash(kAgpsAddress, kAgpsBytes),
                  packets_in_flash(today ? local : orbit_));
        EXPECT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED).at(0),
                  (today ? Bytes{20, 5, 8} : Bytes{13, 1, 6}));
    }
}

TEST_F(AgpsInProcessTest, EachFailureEndsWithItsError) {
    struct Case {
        const char* legend;
        std::function<void()> arrange;
        UINT error;
        const char16_t* folder = u"agps";
        const char16_t* password = u"pass";
    };
    auto silence = [this](std::uint8_t id) {
        return [this, id] { watch_.add_fault(Fault::on_command(FaultKind::silence, id)); };
    };
    const Case cases[] = {
        {"wrong password", [] {}, SDK_ERR_DOWNLOAD, u"agps", u"wrong"},
        {"missing folder", [] {}, SDK_ERR_DOWNLOAD, u"nowhere"},
        {"orbit file missing on the server",
         [this] { fs::remove(server_.root() / "agps" / "MTK7d.EPO"); }, SDK_ERR_DOWNLOAD},
        {"orbit file shorter on the server",
         [this] { server_.put("agps/MTK7d.EPO", std::string(1000, 'a')); }, SDK_ERR_DOWNLOAD},
        {"status flag 0",
         [this] {
             set_status({0, 0, 0, 0});
         },
         SDK_ERR_AGPS_REFUSED},
        {"no status reply", silence(0x2C), SDK_ERR_AGPS_REFUSED},
        {"today's 14-day file", [this] { put_local_orbit_file(std::string(107520, 'x')); },
         SDK_ERR_AGPS_SIZE},
        {"packet file cannot be created",
         [this] { fs::create_directories(folder() / "MTK7d.EPO.pkt" / "x"); },
         SDK_ERR_AGPS_PACKET_FILE},
        {"a sector write unanswered", silence(0x16), SDK_ERR_TRANSFER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        fs::remove_all(folder());
        server_.put("agps/MTK7d.EPO", orbit_);
        watch_.clear_faults();
        set_status({0, 0, 0, 1});
        reset_watch();
        c.arrange();
        run(c.folder, c.password);
        ASSERT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, c.error})) << host_.describe();
        EXPECT_TRUE(host_.notifications().back().error) << "the error is the last word";
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    }
}

TEST_F(AgpsInProcessTest, SetExpiryDateUnansweredEndsAfterSixSecondsWithFullProgress) {
    watch_.add_fault(Fault::on_command(FaultKind::silence, 0x2E));
    const std::uint64_t start = platform::clock().now_ms();
    run();
    EXPECT_EQ(host_.codes().front(), static_cast<UINT>(SDK_MSG_WATCH_VERSION));
    expect_full_progress_then(SDK_ERR_TRANSFER);
    EXPECT_GE(platform::clock().now_ms() - start, 6000u);
    EXPECT_EQ(watch_.read_flash(kAgpsAddress, kAgpsBytes), packets_in_flash(orbit_))
        << "nothing is rolled back";
}

TEST_F(AgpsInProcessTest, AnIssueDateThatDoesNotParseGivesTodayPlusSevenDays) {
    server_.put("agps/datetime.txt", "issued today\n");
    run();
    const std::chrono::year_month_day expiry{std::chrono::sys_days{update::local_today()} +
                                             std::chrono::days{7}};
    const Bytes expected = {static_cast<std::uint8_t>(static_cast<int>(expiry.year()) - 2000),
                            static_cast<std::uint8_t>(static_cast<unsigned>(expiry.month())),
                            static_cast<std::uint8_t>(static_cast<unsigned>(expiry.day()))};
    ASSERT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED).size(), 1u) << host_.describe();
    EXPECT_EQ(host_.blocks(SDK_MSG_AGPS_LOADED)[0], expected);
    EXPECT_EQ(expiry_in_directory(), expected);
    EXPECT_EQ(expiry_commands(), expected);
}

TEST_F(AgpsInProcessTest, WithoutAnIssueDateTheUnknownBytesAreStoredAndSent) {
    // Today's orbit file and no date beside it: nothing to download, no date to give.
    put_local_orbit_file(orbit_);
    run();
    EXPECT_EQ(expiry_in_directory(), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(test::checksum_holds(watch_.read_flash(0, 4096)));
    const Bytes commands = expiry_commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(Bytes(commands.begin(), commands.begin() + 3), (Bytes{0xFF, 0xFF, 0xFF}));
    // The watch takes no such date: it says "not updated" until the task gives up.
    EXPECT_EQ(host_.outcome(), kRefused) << host_.describe();
}

TEST_F(AgpsInProcessTest, AWatchThatNeverTakesTheDataGetsThreeWritesThenAnError) {
    sim::WatchConfig config = watch_.config();
    config.agps_refuse = true;
    watch_.set_config(config);
    run();
    EXPECT_EQ(host_.outcome(), kRefused) << host_.describe();
    const auto erased = sectors(0x14);
    EXPECT_EQ(std::count(erased.begin(), erased.end(), 230u), 3);
    EXPECT_EQ(std::count(erased.begin(), erased.end(), 0u), 3);
    EXPECT_EQ(expiry_commands().size(), 9u);
    EXPECT_FALSE(host_.phase_progress(1).empty()) << "downloaded once";
}

// Over a real pseudo-terminal and the real clock: a virtual one stands still
// while the network works. Active mode, from a server too slow for the limit.
TEST(AgpsPtyTest, TheTimeLimitEndsASlowActiveModeDownload) {
    const std::size_t blocks_before = platform::live_global_blocks();
    task::reset_read_chunk_progress();
    {
        test::TestEnvironment env;
        test::FtpServer slow(env.root() / "slow", 8192);  // 53760 bytes take 6.5 s
        ASSERT_TRUE(slow.running());
        slow.put("agps/datetime.txt", "2012-12-30\n");
        slow.put("agps/MTK7d.EPO", orbit_file());
        sim::Watch watch;
        sim::PtyServer pty;
        ASSERT_TRUE(pty.start(watch, 0));
        platform::inject_serial_comm("\\Device\\USB#VID_04FC&PID_0201#pty", "COM9",
                                     pty.slave_path());
        test::HostRecorder host;
        const std::string a = slow.address();
        const std::u16string address(a.begin(), a.end());
        AGPSDataUpdate(host.hwnd(), address.c_str(), u"user", u"pass", u"agps", FALSE, 1500, FALSE);
        ASSERT_TRUE(test::run_until_task_ends(600'000));
        const auto codes = host.codes();
        ASSERT_GE(codes.size(), 2u) << host.describe();
        EXPECT_EQ(codes.back(), static_cast<UINT>(SDK_ERR_DOWNLOAD_TIMEOUT));
        EXPECT_EQ(host.notifications()[codes.size() - 2].progress(), 100.0f);
        EXPECT_EQ(watch.received_count(0x14), 0u);
        const std::string log = slow.log();
        EXPECT_TRUE(log.find("<- EPRT") != std::string::npos ||
                    log.find("<- PORT") != std::string::npos)
            << "active mode: " << log;
        pty.stop();
        EXPECT_FALSE(sdk::task_active_on_this_thread());
    }
    EXPECT_EQ(platform::live_global_blocks(), blocks_before) << "a block leaked";
}

}  // namespace
}  // namespace stridelog
