// AGPSDataUpdate as a host sees it: a simulated watch on the line (in-process
// on the virtual clock, and once over a real pseudo-terminal) and a real FTP
// server on loopback. The notifications, the frames the watch received, the
// flash it is left with and the files in the download folder.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>
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

std::string orbit_file(unsigned seed = 1) {
    std::string b(update::kOrbitFileSize, '\0');
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>((i * 13 + seed * 101 + i / 97) & 0xFF);
    return b;
}

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
    fs::path folder() const { return env_.documents_dir() / "Stride Log"; }
    void put_local_orbit_file(const std::string& bytes) {
        fs::create_directories(folder());
        std::ofstream(folder() / "MTK7d.EPO", std::ios::binary) << bytes;
    }
    // One AGPSDataUpdate, run to its end.
    void run() {
        host_.clear();
        watch_.clear_received();
        AGPSDataUpdate(host_.hwnd(), server_address().c_str(), u"user", password_, remote_, FALSE,
                       60'000, TRUE);
        run_task();
    }
    std::string orbit_ = orbit_file();
    const char16_t* remote_ = u"agps";
    const char16_t* password_ = u"pass";
};

// The notifications, the frames the watch received (the written bytes by
// digest), what changed in the directory, the files left in the download
// folder and the status log (which starts afresh at the connection), for
// each kind of watch and each failure.
TEST_F(AgpsInProcessTest, EachWatchGetsWhatItNeeds) {
    // A local orbit file other than the server's, with its date, `days_old` days old.
    auto local_files = [this](int days_old) {
        return [this, days_old](auto&) {
            put_local_orbit_file(orbit_file(7));
            std::ofstream(folder() / "datetime.txt") << "2020-05-01\n";
            const auto file = folder() / "MTK7d.EPO";
            fs::last_write_time(file,
                                fs::last_write_time(file) - std::chrono::hours(24 * days_old));
        };
    };
    auto status = [](const Bytes& bytes, bool fixed) {
        return [=](auto& c) { c.status_bytes = bytes, c.fixed_status_bytes = fixed; };
    };
    auto silence = [this](std::uint8_t id) {
        return [this, id](auto&) { watch_.add_fault(Fault::on_command(FaultKind::silence, id)); };
    };
    const struct {
        const char* name;
        std::function<void(sim::WatchConfig&)> arrange;  // the watch's settings, and more
        std::uint64_t at_least_ms = 0;
    } cases[] = {
        {"needs_data", [](auto&) {}},
        {"up_to_date", status(Bytes{5, 2, 0, 1}, true)},
        // Today's orbit file and no date beside it: the unknown date is sent,
        // which the watch does not take.
        {"no_issue_date", [this](auto&) { put_local_orbit_file(orbit_); }},
        {"todays_files_reused", local_files(0)},
        {"yesterdays_files_replaced", local_files(1)},
        {"never_takes_the_data", [](auto& c) { c.agps_refuse = true; }},
        {"wrong_password", [this](auto&) { password_ = u"wrong"; }},
        {"missing_folder", [this](auto&) { remote_ = u"nowhere"; }},
        {"orbit_file_missing",
         [this](auto&) { fs::remove(server_.root() / "agps" / "MTK7d.EPO"); }},
        {"orbit_file_short",
         [this](auto&) { server_.put("agps/MTK7d.EPO", std::string(1000, 'a')); }},
        {"status_flag_0", status(Bytes{0, 0, 0, 0}, false)},
        {"no_status_reply", silence(0x2C)},
        {"todays_14_day_file", [this](auto&) { put_local_orbit_file(std::string(107520, 'x')); }},
        {"packet_file_not_made",
         [this](auto&) { fs::create_directories(folder() / "MTK7d.EPO.pkt/x"); }},
        {"sector_write_unanswered", silence(0x16)},
        {"expiry_unanswered", silence(0x2E), 6000},
    };
    const sim::WatchConfig config = watch_.config();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        watch_.clear_faults();
        fs::remove_all(folder());
        server_.put("agps/MTK7d.EPO", orbit_);
        remote_ = u"agps", password_ = u"pass";
        reset_watch();
        sim::WatchConfig changed = config;
        c.arrange(changed);
        watch_.set_config(changed);
        const std::uint64_t start = platform::clock().now_ms();
        const std::string log = logged([&] { run(); });
        EXPECT_GE(platform::clock().now_ms() - start, c.at_least_ms);
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
        std::set<std::string> names;  // in name order: a folder's own order varies
        if (fs::exists(folder()))
            for (const auto& f : fs::directory_iterator(folder()))
                names.insert(f.path().filename().string() +
                             (f.is_directory() ? "/" : " " + std::to_string(f.file_size())));
        std::string files;
        for (const auto& name : names) files += name + "\n";
        test::expect_golden(
            std::string("update/agps_") + c.name,
            transcript() +
                test::changes_text(test::directory_sector(5, 3), watch_.read_flash(0, 4096)) +
                files + log);
    }
}

// The date as the host is told it; where it is stored and sent the golden rows pin.
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
}

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
