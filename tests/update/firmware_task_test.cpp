// FirmwareUpdate as a host sees it: a simulated watch on an in-process line on
// the virtual clock, a real FTP server on loopback serving the update folder
// the simulator's generator writes. The notifications, the order of the
// sectors written, the flash the watch is left with, and the refusals that
// must come before the watch is touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "sim/firmware_image.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "sim/watch_setup_content.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"
#include "tests/ui/recording_presenter.hpp"
#include "tests/update/ftp_server.hpp"
#include "ui/confirm_dlg.hpp"
#include "ui/presenter.hpp"

namespace stridelog {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<UINT>;
using sim::Fault;
using sim::FaultKind;

constexpr std::uint32_t kSector = 4096;

// A directory sector of a watch at 1.31.02 with workouts, paths and views, and
// a settings checksum that holds.
Bytes directory(const char* version = "1.31.02_VUNA0_00") {
    Bytes d(kSector);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 7 + 1);
    std::fill(d.begin() + 96, d.begin() + 112, 0);
    std::copy(version, version + std::strlen(version), d.begin() + 96);
    const auto sum = sim::settings_checksum(d.data());
    std::copy(sum.begin(), sum.end(), d.begin());
    return d;
}

bool checksum_holds(const Bytes& d) {
    const auto sum = sim::settings_checksum(d.data());
    return d[0] == sum[0] && d[1] == sum[1];
}

std::uint32_t address(const Bytes& frame) {
    return std::uint32_t{frame[1]} | std::uint32_t{frame[2]} << 8 | std::uint32_t{frame[3]} << 16;
}

// Public: the tables' arrangements reach into the fixture.
class FirmwareTaskTest : public ::testing::Test {
  public:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        task::reset_read_chunk_progress();
        ASSERT_TRUE(server_.running()) << "pyftpdlib did not start";
        sim::register_as_cable(line_, "COM7");
        directory_ = directory();
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_); });
        sim::WatchConfig config = watch_.config();
        config.reboot_ms = 5000;
        watch_.set_config(config);
        ui::set_forced_confirm_answer(6);
        env_.set_switch("DebugView", "1");
    }
    void TearDown() override {
        ui::set_forced_confirm_answer(0);
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }

    // Writes the update folder `remote` on the server.
    sim::WrittenFirmwareFolder write_offer(const sim::FirmwareFolder& folder,
                                     const std::string& remote = "fw") {
        const fs::path dir = server_.root() / remote;
        fs::create_directories(dir);
        sim::WrittenFirmwareFolder written;
        std::string error;
        EXPECT_TRUE(sim::write_firmware_folder(dir.string(), folder, &written, &error)) << error;
        return written;
    }

    bool Run(const char16_t* folder = u"fw", const char16_t* fifth = u"", BOOL show = TRUE) {
        start(folder, fifth, show);
        return test::run_until_task_ends(3'600'000);
    }
    void start(const char16_t* folder = u"fw", const char16_t* fifth = u"", BOOL show = TRUE) {
        host_.clear();
        watch_.clear_received();
        capture_.clear();
        const std::string a = server_.address();
        const std::u16string address(a.begin(), a.end());
        FirmwareUpdate(host_.hwnd(), address.c_str(), u"user", u"pass", folder, fifth, show, 60'000,
                       TRUE);
    }

    // The sectors erased, and the addresses written alone, in order.
    std::vector<std::uint32_t> erased_sectors() const {
        std::vector<std::uint32_t> out;
        for (const Bytes& f : watch_.received())
            if (f.size() >= 4 && f[0] == 0x14) out.push_back(address(f) / kSector);
        return out;
    }
    std::size_t writes_in_sector(std::uint32_t sector) const {
        std::size_t n = 0;
        for (const Bytes& f : watch_.received())
            if (f.size() >= 4 && f[0] == 0x16 && address(f) / kSector == sector) ++n;
        return n;
    }
    std::size_t count(const std::string& line) const {
        const std::string log = capture_.text();
        std::size_t n = 0;
        for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            ++n;
        return n;
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::DebugCapture capture_;
    test::FtpServer server_{env_.root() / "ftp"};
    test::HostRecorder host_;
    sim::Watch watch_;
    sim::InProcessLine line_{watch_, "firmware"};
    Bytes directory_;
    std::size_t blocks_before_ = 0;
    std::function<void(const fs::path&)> after_offer_;
};

TEST_F(FirmwareTaskTest, BothImageVersionsUpdateTheWatchByteForByte) {
    struct Case {
        const char* legend;
        sim::FirmwareHeader header;
        std::vector<std::uint32_t> erased;  // sectors, in order
    };
    std::vector<std::uint32_t> short_order = {0, 34, 35, 36, 1, 2, 0};
    std::vector<std::uint32_t> long_order = {0, 34, 35, 36, 244, 245, 246, 247, 248, 255, 1, 2, 0};
    const Case cases[] = {{"header 1.1, language block", sim::FirmwareHeader::v1_1, long_order},
                          {"header 1.0, program only", sim::FirmwareHeader::v1_0, short_order}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_); });
        sim::FirmwareFolder folder;
        folder.firmware.header = c.header;
        folder.settings = {1, 3, 7, 50};  // clamped: 0x83, 0, 40
        const sim::WrittenFirmwareFolder offer = write_offer(folder);
        const Bytes sector255_before = watch_.read_flash(255 * kSector, kSector);
        ASSERT_TRUE(Run());
        EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_UPDATED}))
            << host_.describe();
        EXPECT_EQ(erased_sectors(), c.erased);
        for (std::uint32_t s = 3; s < 32; ++s) EXPECT_EQ(writes_in_sector(s), 32u) << "sector " << s;
        EXPECT_EQ(writes_in_sector(32), 1u) << "the program sum alone";

        const Bytes& body = offer.body;
        EXPECT_EQ(watch_.read_flash(0x2000, 0x1E000),
                  Bytes(body.begin() + 0x2000, body.begin() + 0x20000));
        EXPECT_EQ(watch_.read_flash(0x22000, 0x2000), Bytes(body.begin(), body.begin() + 0x2000));
        const Bytes sums = watch_.read_flash(0x24000, kSector);
        const std::uint16_t boot = sim::boot_block_sum(body), program = sim::program_sum(body);
        EXPECT_EQ(sums[0] | sums[1] << 8, boot);
        EXPECT_TRUE(std::all_of(sums.begin() + 2, sums.end(), [](auto b) { return b == 0xFF; }));
        const Bytes stored = watch_.read_flash(0x20000, 2);
        EXPECT_EQ(stored[0] | stored[1] << 8, program);
        ASSERT_TRUE(watch_.last_update());
        EXPECT_TRUE(watch_.last_update()->boot_sum_ok());
        EXPECT_TRUE(watch_.last_update()->program_sum_ok());

        const Bytes sector255 = watch_.read_flash(255 * kSector, kSector);
        if (c.header == sim::FirmwareHeader::v1_1) {
            EXPECT_EQ(watch_.read_flash(0xF4000, 0x5000),
                      Bytes(body.begin() + 0x20000, body.end()));
            EXPECT_EQ((Bytes{sector255[0], sector255[1], sector255[2]}), (Bytes{0x83, 0, 40}));
            // Pairing values from the directory, the rest as the watch held it.
            EXPECT_TRUE(
                std::equal(sector255.begin() + 4, sector255.begin() + 12, directory_.begin() + 76));
            EXPECT_TRUE(std::equal(sector255.begin() + 12, sector255.begin() + 15,
                                   directory_.begin() + 72));
            EXPECT_EQ(sector255[3], sector255_before[3]);
            EXPECT_TRUE(
                std::equal(sector255.begin() + 15, sector255.end(), sector255_before.begin() + 15));
        } else {
            EXPECT_EQ(sector255, sector255_before)
                << "no customer settings without a language block";
        }

        // The directory: the user's regions back, the workouts gone.
        const Bytes d = watch_.read_flash(0, kSector);
        EXPECT_TRUE(checksum_holds(d));
        EXPECT_TRUE(std::equal(d.begin() + 2, d.begin() + 96, directory_.begin() + 2));
        EXPECT_TRUE(std::equal(d.begin() + 1280, d.begin() + 1290, directory_.begin() + 1280));
        EXPECT_TRUE(std::equal(d.begin() + 1536, d.begin() + 1856, directory_.begin() + 1536));
        EXPECT_TRUE(std::equal(d.begin() + 2304, d.begin() + 2354, directory_.begin() + 2304));
        EXPECT_EQ(d[224], 0xFE);
        EXPECT_EQ((Bytes{d[252], d[253], d[254], d[255]}), (Bytes{0x3F, 0, 0, 0}));
        EXPECT_TRUE(
            std::all_of(d.begin() + 256, d.begin() + 1280, [](auto b) { return b == 0xFF; }));

        // Phase 3 while downloading, phase 4 while writing, each rising to 100.
        for (std::uint32_t phase : {3u, 4u}) {
            const std::vector<float> p = host_.phase_progress(phase);
            ASSERT_FALSE(p.empty()) << phase;
            EXPECT_TRUE(std::is_sorted(p.begin(), p.end())) << phase;
            EXPECT_FLOAT_EQ(p.back(), 100.0f) << phase;
        }
    }
}

TEST_F(FirmwareTaskTest, NothingIsWrittenUnlessEverythingChecksOut) {
    struct Case {
        const char* legend;
        std::function<void(FirmwareTaskTest&, sim::FirmwareFolder&)> arrange;
        Codes outcome;
        const char16_t* folder = u"fw";
        const char16_t* fifth = u"";
    };
    const Codes kCurrent = {SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_CURRENT};
    const Codes kImage = {SDK_MSG_WATCH_VERSION, SDK_ERR_FIRMWARE_IMAGE};
    const Codes kInfo = {SDK_MSG_WATCH_VERSION, SDK_ERR_FIRMWARE_INFO};
    const Codes kDownload = {SDK_MSG_WATCH_VERSION, SDK_ERR_DOWNLOAD};
    // Offered where a watch at 1.31 looks: under its own model number.
    auto version = [](const char* v) {
        return [v](FirmwareTaskTest&, sim::FirmwareFolder& f) {
            f.firmware.version = v;
            f.model = "73688";
        };
    };
    auto damage = [](sim::FirmwareDamage d) {
        return [d](FirmwareTaskTest&, sim::FirmwareFolder& f) { f.firmware.damage = d; };
    };
    auto watch_at = [](const char* v) {
        return [v](FirmwareTaskTest& t, sim::FirmwareFolder& f) {
            t.watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory(v)); });
            f.model = "73521";
        };
    };
    const Case cases[] = {
        {"same version", version("1.31.02_VUNA0_00"), kCurrent},
        {"other family", version("1.40.00_VUNA0_00"), kCurrent},
        {"other major", version("2.31.03_VUNA0_00"), kCurrent},
        {"watch in family 0, offer in family 1",
         [&](FirmwareTaskTest& t, sim::FirmwareFolder& f) {
             watch_at("1.29.05_VUNA0_00")(t, f);
             f.firmware.version = "1.30.00_VUNA0_00";
         },
         kCurrent},
        {"watch version unreadable",
         [&](FirmwareTaskTest& t, sim::FirmwareFolder& f) { watch_at("garbage")(t, f); }, kCurrent},
        {"not a fw2 file", [](FirmwareTaskTest&, sim::FirmwareFolder& f) { f.extension = "bin"; },
         kCurrent},
        {"wrong size", damage(sim::FirmwareDamage::wrong_size), kImage},
        {"wrong header", damage(sim::FirmwareDamage::wrong_header), kImage},
        {"wrong checksum", damage(sim::FirmwareDamage::wrong_checksum), kImage},
        {"short file", damage(sim::FirmwareDamage::short_file), kImage},
        {"a body byte changed", damage(sim::FirmwareDamage::body_byte), kImage},
        {"1.1 header on a program-only file",
         [](FirmwareTaskTest&, sim::FirmwareFolder& f) { f.firmware.file_size = 131328; }, kImage},
        {"no description on the server",
         [](FirmwareTaskTest& t, sim::FirmwareFolder& f) {
             f.model = "99999";
             (void)t;
         },
         kDownload},
        {"no settings file on the server",
         [](FirmwareTaskTest&, sim::FirmwareFolder& f) { f.with_settings = false; }, kDownload},
        {"description without an offer",
         [](FirmwareTaskTest& t, sim::FirmwareFolder&) {
             t.after_offer_ = [](const fs::path& dir) {
                 std::ofstream(dir / "73688_VUNA0_00.txt") << "[Method1]\r\nHistory=h.txt\r\n";
             };
         },
         kInfo},
        {"offer without a size",
         [](FirmwareTaskTest& t, sim::FirmwareFolder&) {
             t.after_offer_ = [](const fs::path& dir) {
                 std::ofstream(dir / "73688_VUNA0_00.txt")
                     << "[Method1]\r\n0=1.32.01_VUNA0_00.fw2\r\n";
             };
         },
         kInfo},
        {"offer naming a file outside the folder",
         [](FirmwareTaskTest& t, sim::FirmwareFolder&) {
             t.after_offer_ = [](const fs::path& dir) {
                 std::ofstream(dir / "73688_VUNA0_00.txt")
                     << "[Method1]\r\n0=1.32.01_VUNA0_00/../../x.fw2,151808\r\n";
             };
         },
         kInfo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        fs::remove_all(server_.root() / "fw");
        fs::remove_all(env_.documents_dir());
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_); });
        after_offer_ = nullptr;
        sim::FirmwareFolder folder;
        c.arrange(*this, folder);
        write_offer(folder);
        if (after_offer_) after_offer_(server_.root() / "fw");
        ASSERT_TRUE(Run(c.folder, c.fifth));
        EXPECT_EQ(host_.outcome(), c.outcome) << host_.describe();
        EXPECT_TRUE(erased_sectors().empty()) << "the watch was touched";
        EXPECT_EQ(watch_.received_count(0x28), 0u);
    }
}

// Reads the question as a person would, then answers No.
class DecliningPresenter : public ui::Presenter {
  public:
    void window_shown(const ui::TaskDisplay&) override {}
    void window_hidden(const ui::TaskDisplay&) override {}
    void window_updated(const ui::TaskDisplay&) override {}
    void task_ended(const ui::TaskDisplay&) override {}
    void confirm_shown(const ui::CConfirmDlg& dialog) override {
        title = dialog.title();
        message = dialog.control_text(6006);
        details = dialog.control_text(6008);
        platform::post_message(dialog.window(), platform::kWmCommand, 7, 0);
    }
    std::string title, message, details;
};

TEST_F(FirmwareTaskTest, DecliningTheQuestionEndsWithoutANotification) {
    sim::FirmwareFolder folder;
    folder.history = {
        {"1.31.01", {"old"}}, {"1.31.03", {"fixes a", "fixes b"}}, {"1.32.01", {"new"}}};
    write_offer(folder);
    ui::set_forced_confirm_answer(0);
    auto presenter = std::make_shared<DecliningPresenter>();
    ui::install_presenter(presenter);
    const bool ended = Run();
    ui::install_presenter(nullptr);
    ASSERT_TRUE(ended);
    EXPECT_EQ(presenter->title, "Message");
    EXPECT_NE(presenter->message.find("A new watch firmware (1.32.1) is  available !"),
              std::string::npos)
        << presenter->message;
    // The newer sections only, in file order, each with its notes and a blank line.
    for (const char* line : {"1.31.03", "- fixes a", "- fixes b", "1.32.01", "- new"})
        EXPECT_NE(presenter->details.find(line), std::string::npos)
            << line << " in " << presenter->details;
    EXPECT_EQ(presenter->details.find("old"), std::string::npos) << presenter->details;
    EXPECT_LT(presenter->details.find("fixes b"), presenter->details.find("1.32.01"));
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION})) << host_.describe();
    EXPECT_TRUE(erased_sectors().empty());
    EXPECT_TRUE(fs::exists(env_.documents_dir() / "Stride Log" / "73688_VUNA0_00.txt"));
    EXPECT_FALSE(fs::exists(env_.documents_dir() / "Stride Log" / "1.32.01_VUNA0_00.fw2"));
}

TEST_F(FirmwareTaskTest, WithoutTheShowFlagNoQuestionIsAsked) {
    write_offer(sim::FirmwareFolder{});
    ui::set_forced_confirm_answer(7);  // would say No, were it asked
    ASSERT_TRUE(Run(u"fw", u"", FALSE));
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_UPDATED}))
        << host_.describe();
}

TEST_F(FirmwareTaskTest, OneLoginServesEveryDownloadOfAnUpdate) {
    sim::FirmwareFolder folder;
    folder.history = {{"1.31.03", {"fixes"}}, {"1.32.01", {"new"}}};
    const sim::WrittenFirmwareFolder offer = write_offer(folder);
    ASSERT_FALSE(offer.history.empty());
    ASSERT_TRUE(Run());
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_UPDATED}))
        << host_.describe();
    // Description, history, settings file and firmware over one login.
    const std::string log = server_.log();
    std::vector<std::string> fetched;
    for (auto at = log.find("<- RETR "); at != std::string::npos; at = log.find("<- RETR ", at + 1))
        fetched.push_back(log.substr(at + 8, log.find('\n', at) - at - 8));
    EXPECT_EQ(fetched, (std::vector<std::string>{offer.description, offer.history, offer.settings,
                                                 offer.firmware}));
    EXPECT_EQ(server_.logins(), 1u) << log;
}

TEST_F(FirmwareTaskTest, TheWex0FolderRuleAddsTheCodeFolder) {
    write_offer(sim::FirmwareFolder{}, "fw/VUNA0");
    ASSERT_TRUE(Run(u"fw", u"wex0"));
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_UPDATED}))
        << host_.describe();
}

TEST_F(FirmwareTaskTest, ReconnectionWaitsPollsAndGivesUpAtTheDeadline) {
    struct Case {
        const char* legend;
        std::uint32_t reboot_ms;
        std::size_t polls;  // "Read addres 0 (128B)" lines (at the deadline, one more may go out)
        bool deadline;
        Codes outcome;
    };
    const Case cases[] = {
        {"back before the first poll",
         5000,
         1,
         false,
         {SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_UPDATED}},
        {"answers the second poll",
         31'500,
         2,
         false,
         {SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_UPDATED}},
        // The directory read after the clock step goes unanswered too: it ends the task.
        {"back after the deadline", 75'000, 39, true, {SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER}},
        {"never back",
         sim::WatchConfig::kNeverBack,
         39,
         true,
         {SDK_MSG_WATCH_VERSION, SDK_ERR_TRANSFER}},
    };
    write_offer(sim::FirmwareFolder{});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_); });
        sim::WatchConfig config = watch_.config();
        config.reboot_ms = c.reboot_ms;
        watch_.set_config(config);
        const std::uint64_t start = platform::clock().now_ms();
        ASSERT_TRUE(Run());
        EXPECT_EQ(host_.outcome(), c.outcome) << host_.describe();
        const std::size_t polls = count("Read addres 0 (128B)");
        EXPECT_GE(polls, c.polls);
        EXPECT_LE(polls, c.deadline ? c.polls + 1 : c.polls);
        EXPECT_EQ(count("60sec timeout"), c.deadline ? 1u : 0u);
        EXPECT_EQ(count("Fwupd, reconnect watch OK"), 1u);
        EXPECT_LT(platform::clock().now_ms() - start, 120'000u) << "bounded";
    }
}

TEST_F(FirmwareTaskTest, ProgramUpdateAckIsAwaitedUntilTheReconnectionDeadline) {
    struct Case {
        const char* legend;
        std::optional<std::uint32_t> ack_after_ms;  // none: never acknowledged
        bool updated;
    };
    const Case cases[] = {
        {"acknowledged after 15 s", 15'000, true},
        {"acknowledged after 60 s", 60'000, true},
        {"silent", std::nullopt, false},
        {"acknowledged after 71 s: too late", 71'000, false},
    };
    const sim::WrittenFirmwareFolder offer = write_offer(sim::FirmwareFolder{});
    const Bytes& body = offer.body;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        watch_.with_flash([&](sim::Flash& flash) {
            flash.store(0, directory_);
            for (std::uint32_t s = 2; s <= 32; ++s) flash.erase_sector(s * kSector);
        });
        watch_.clear_faults();
        Fault fault =
            Fault::on_command(c.ack_after_ms ? FaultKind::delay : FaultKind::silence, 0x28);
        fault.delay_ms = c.ack_after_ms.value_or(0);
        watch_.add_fault(fault);
        start();
        ASSERT_TRUE(test::run_until([&] { return watch_.received_count(0x28) > 0; }, 3'600'000));
        const std::uint64_t requested_at = platform::clock().now_ms();
        ASSERT_TRUE(test::run_until_task_ends(3'600'000));
        const std::uint64_t waited = platform::clock().now_ms() - requested_at;
        if (c.updated) {
            EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_UPDATED}))
                << host_.describe();
            EXPECT_EQ(watch_.read_flash(0x2000, 0x1E000),
                      Bytes(body.begin() + 0x2000, body.begin() + 0x20000));
            EXPECT_TRUE(watch_.last_update() && watch_.last_update()->program_sum_ok());
            EXPECT_EQ(count("Prog Update AcK"), 1u);
        } else {
            // Progress 100, then the error as the last word, at the deadline.
            const Codes codes = host_.codes();
            ASSERT_GE(codes.size(), 2u);
            EXPECT_EQ(codes.back(), static_cast<UINT>(SDK_ERR_TRANSFER)) << host_.describe();
            EXPECT_EQ(codes[codes.size() - 2], static_cast<UINT>(SDK_MSG_PROGRESS));
            EXPECT_EQ(host_.notifications()[codes.size() - 2].progress(), 100.0f);
            EXPECT_GE(waited, 70'000u);
            EXPECT_LT(waited, 71'000u);
            EXPECT_EQ(writes_in_sector(2), 0u) << "no program sector without the watch's consent";
            EXPECT_EQ(count("Prog Update AcK"), 0u);
        }
        EXPECT_FALSE(line_.is_open()) << "the port was not released";
    }
}

// Answers the question with the task window's Cancel button, if it can be pressed.
class CancellingPresenter : public ui::Presenter {
  public:
    void window_shown(const ui::TaskDisplay& display) override { task_window = display.window(); }
    void window_hidden(const ui::TaskDisplay&) override {}
    void window_updated(const ui::TaskDisplay&) override {}
    void task_ended(const ui::TaskDisplay&) override {}
    void confirm_shown(const ui::CConfirmDlg& dialog) override {
        ++questions;
        question = dialog.window();
        asked_at = platform::clock().now_ms();
        // The host has more to do later: its loop never goes idle, so a
        // question left open would wait for that.
        platform::virtual_clock()->schedule(asked_at + 600'000, [] {});
        cancel_usable = platform::is_window_enabled(task_window);
        if (cancel_usable) {
            platform::post_message(task_window, platform::kWmCommand, 2, 0);
        } else {
            platform::post_message(dialog.window(), platform::kWmCommand, 7, 0);
        }
    }
    HWND task_window = nullptr;
    HWND question = nullptr;
    bool cancel_usable = false;
    int questions = 0;
    std::uint64_t asked_at = 0;
};

TEST_F(FirmwareTaskTest, CancelWhileTheQuestionIsOpenEndsTheTask) {
    write_offer(sim::FirmwareFolder{});
    ui::set_forced_confirm_answer(0);
    auto presenter = std::make_shared<CancellingPresenter>();
    ui::install_presenter(presenter);
    const bool ended = Run();
    ui::install_presenter(nullptr);
    ASSERT_TRUE(ended);
    EXPECT_EQ(presenter->questions, 1);
    EXPECT_TRUE(presenter->cancel_usable) << "the question disabled the task window";
    EXPECT_FALSE(platform::is_window(presenter->question));
    EXPECT_LT(platform::clock().now_ms() - presenter->asked_at, 1000u)
        << "the question outlived its task";
    // No error and no result after the close; the watch untouched.
    EXPECT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION})) << host_.describe();
    for (const auto& n : host_.notifications()) EXPECT_FALSE(n.error) << host_.describe();
    EXPECT_TRUE(platform::is_window_enabled(host_.hwnd()));
    EXPECT_FALSE(line_.is_open()) << "the port was not released";
    EXPECT_TRUE(erased_sectors().empty());
    EXPECT_FALSE(fs::exists(env_.documents_dir() / "Stride Log" / "1.32.01_VUNA0_00.ini"));

    test::HostRecorder next;
    GetWatch_Version(next.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(60'000));
    EXPECT_EQ(next.codes(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS})) << next.describe();
}

TEST_F(FirmwareTaskTest, TheStatusLogStartsAfreshAtTheConnection) {
    sim::FirmwareFolder folder;
    folder.firmware.version = "1.31.02_VUNA0_00";  // the watch's own: nothing to do
    folder.model = "73688";
    write_offer(folder);
    std::string log;
    ASSERT_TRUE(test::run_recording_status_log([&] { return Run(); }, log));
    ASSERT_EQ(host_.outcome(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_FIRMWARE_CURRENT}))
        << host_.describe();
    // The call's own lines went with the clearing; the check's lines follow.
    EXPECT_EQ(log.rfind("COM PORT : COM7 \r\n", 0), 0u) << log;
    for (const char* gone : {"FirmwareUpdate()", "Site : "})
        EXPECT_EQ(log.find(gone), std::string::npos) << gone << " in " << log;
    EXPECT_NE(log.find("Long ver : 73688:1.31.02_VUNA0_00\r\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("dll exit()\r\n")) << log;
}

}  // namespace
}  // namespace stridelog
