// FirmwareUpdate as a host sees it: a simulated watch on an in-process line on
// the virtual clock, a real FTP server on loopback serving the update folder
// the simulator's generator writes. The notifications, the order of the
// sectors written, the flash the watch is left with, and the refusals that
// must come before the watch is touched.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "platform/window_system.hpp"
#include "sim/firmware_image.hpp"
#include "tests/ui/recording_presenter.hpp"
#include "tests/update/update_task_fixture.hpp"

namespace stridelog {
namespace {

namespace fs = std::filesystem;
using sim::Fault;
using sim::FaultKind;
using test::Bytes;
using test::Codes;

constexpr std::uint32_t kSector = 4096;

// A watch at `version` (1.31.02: with workouts, paths and views).
Bytes directory_at(const std::string& version = "1.31.02_VUNA0_00") {
    return test::directory_sector(7, 1, version);
}

class FirmwareTaskTest : public test::UpdateTaskTest {
  protected:
    void SetUp() override {
        UpdateTaskTest::SetUp();
        store(0, directory_);
        sim::WatchConfig config = watch_.config();
        config.reboot_ms = 5000;
        watch_.set_config(config);
        ui::set_forced_confirm_answer(6);
    }
    void TearDown() override {
        ui::set_forced_confirm_answer(0);
        UpdateTaskTest::TearDown();
    }

    // Writes the update folder `remote` on the server.
    void offer(const sim::FirmwareFolder& folder = {}, const std::string& remote = "fw") {
        fs::create_directories(server_.root() / remote);
        std::string error;
        EXPECT_TRUE(
            sim::write_firmware_folder((server_.root() / remote).string(), folder, nullptr, &error))
            << error;
    }
    void run(const char16_t* fifth = u"", BOOL show = TRUE) {
        host_.clear();
        watch_.clear_received();
        FirmwareUpdate(host_.hwnd(), server_address().c_str(), u"user", u"pass", u"fw", fifth, show,
                       60'000, TRUE);
        run_task(3'600'000);
    }
    bool downloaded(const char* name) const {
        return fs::exists(env_.documents_dir() / "Stride Log" / name);
    }

    Bytes directory_ = directory_at();
};

// The notifications, every frame the watch received (the written bytes by
// digest), what changed in the directory and in sector 255, and the files
// fetched over the one login.
TEST_F(FirmwareTaskTest, BothImageVersionsUpdateTheWatchByteForByte) {
    for (const auto header : {sim::FirmwareHeader::v1_1, sim::FirmwareHeader::v1_0}) {
        const bool language = header == sim::FirmwareHeader::v1_1;
        SCOPED_TRACE(language ? "header 1.1, language block" : "header 1.0, program only");
        store(0, directory_);
        sim::FirmwareFolder folder;
        folder.firmware.header = header;
        folder.settings = {1, 3, 7, 50};  // clamped: 0x83, 0, 40
        folder.history = {{"1.31.03", {"fixes"}}, {"1.32.01", {"new"}}};
        // The 1.0 file from the code's folder (the wex0 rule), with no question shown.
        offer(folder, language ? "fw" : "fw/VUNA0");
        ui::set_forced_confirm_answer(language ? 6 : 7);  // 7 would say No, were it asked
        const Bytes sector255 = watch_.read_flash(255 * kSector, kSector);
        const std::size_t log_before = server_.log().size();
        run(language ? u"" : u"wex0", language);
        ASSERT_TRUE(watch_.last_update());
        EXPECT_TRUE(watch_.last_update()->boot_sum_ok() && watch_.last_update()->program_sum_ok());
        const std::string log = server_.log().substr(log_before);
        std::string fetched;
        for (auto at = log.find("<- "); at != std::string::npos; at = log.find("<- ", at + 1))
            if (log.compare(at + 3, 5, "RETR ") == 0 || log.compare(at + 3, 5, "USER ") == 0)
                fetched += log.substr(at + 3, log.find('\n', at) - at - 2);
        test::expect_golden(
            language ? "update/firmware_header_1_1" : "update/firmware_header_1_0",
            transcript() + test::changes_text(directory_, watch_.read_flash(0, kSector)) +
                test::changes_text(sector255, watch_.read_flash(255 * kSector, kSector)) + fetched);
    }
}

// Each refusal and what the host and the watch saw in the golden file: a
// result or an error, never an erase or a program update, and the status log.
TEST_F(FirmwareTaskTest, NothingIsWrittenUnlessEverythingChecksOut) {
    using Folder = sim::FirmwareFolder;
    auto damage = [](sim::FirmwareDamage d) { return [d](Folder& f) { f.firmware.damage = d; }; };
    const auto as_is = [](Folder&) {};
    const struct {
        const char* legend;
        std::function<void(Folder&)> arrange;
        const char* description = nullptr;  // the server's own, written over the generator's
    } cases[] = {
        {"same version",
         [](Folder& f) { f.firmware.version = "1.31.02_VUNA0_00", f.model = "73688"; }},
        // Offered where a 1.0 watch would look; this one never looks.
        {"watch version unreadable",
         [this](Folder& f) { store(0, directory_at("garbage")), f.model = "73521"; }},
        {"not a fw2 file", [](Folder& f) { f.extension = "bin"; }},
        {"wrong size", damage(sim::FirmwareDamage::wrong_size)},
        {"wrong checksum", damage(sim::FirmwareDamage::wrong_checksum)},
        {"short file", damage(sim::FirmwareDamage::short_file)},
        {"1.1 header on a program-only file", [](Folder& f) { f.firmware.file_size = 131328; }},
        {"no description on the server", [](Folder& f) { f.model = "99999"; }},
        {"no settings file on the server", [](Folder& f) { f.with_settings = false; }},
        {"description without an offer", as_is, "[Method1]\r\nHistory=h.txt\r\n"},
        {"offer without a size", as_is, "[Method1]\r\n0=1.32.01_VUNA0_00.fw2\r\n"},
        {"offer naming a file outside the folder", as_is,
         "[Method1]\r\n0=1.32.01_VUNA0_00/../../x.fw2,151808\r\n"},
    };
    std::string text;
    for (const auto& c : cases) {
        fs::remove_all(server_.root() / "fw");
        fs::remove_all(env_.documents_dir());
        store(0, directory_);
        Folder folder;
        c.arrange(folder);
        offer(folder);
        if (c.description)
            std::ofstream(server_.root() / "fw" / "73688_VUNA0_00.txt") << c.description;
        const std::string log = logged([&] { run(); });
        text += std::string("== ") + c.legend + "\n" + transcript() + log;
    }
    test::expect_golden("update/firmware_refusals", text);
}

TEST_F(FirmwareTaskTest, DecliningTheQuestionEndsWithoutANotification) {
    sim::FirmwareFolder folder;
    folder.history = {
        {"1.31.01", {"old"}}, {"1.31.03", {"fixes a", "fixes b"}}, {"1.32.01", {"new"}}};
    offer(folder);
    ui::set_forced_confirm_answer(0);
    // Reads the question as a person would, then answers No: the newer
    // sections of the history only, in file order, each with its notes.
    std::string question;
    auto presenter = std::make_shared<test::RecordingPresenter>();
    presenter->on_confirm = [&](const ui::CConfirmDlg& dialog) {
        question = dialog.title() + "\n" + dialog.control_text(6006) + "\n" +
                   dialog.control_text(6008) + "\n";
        platform::post_message(dialog.window(), platform::kWmCommand, 7, 0);
    };
    ui::install_presenter(presenter);
    run();
    ui::install_presenter(nullptr);
    std::erase(question, '\r');
    test::expect_golden("update/firmware_declined", question + transcript());
    EXPECT_TRUE(downloaded("73688_VUNA0_00.txt"));
    EXPECT_FALSE(downloaded("1.32.01_VUNA0_00.fw2"));
}

TEST_F(FirmwareTaskTest, ReconnectionAndAcknowledgementWaitUntilTheDeadline) {
    const struct {
        const char* legend;
        std::uint32_t reboot_ms = 5000;
        std::optional<std::uint32_t> ack_after_ms = 0;  // none: never acknowledged
    } cases[] = {
        {"acknowledged after 15 s", 5000, 15'000},
        {"acknowledged after 60 s", 5000, 60'000},
        {"never acknowledged", 5000, std::nullopt},
        {"acknowledged after 71 s: too late", 5000, 71'000},
        {"back before the first poll"},
        {"answers the second poll", 31'500},
        {"back after the deadline", 75'000},
        {"never back", sim::WatchConfig::kNeverBack},  // last: it leaves the watch away
    };
    offer();
    std::string text;
    for (const auto& c : cases) {
        watch_.with_flash([&](sim::Flash& flash) {
            flash.store(0, directory_);
            for (std::uint32_t s = 2; s <= 32; ++s) flash.erase_sector(s * kSector);
        });
        sim::WatchConfig config = watch_.config();
        config.reboot_ms = c.reboot_ms;
        watch_.set_config(config);
        watch_.clear_faults();
        Fault fault =
            Fault::on_command(c.ack_after_ms ? FaultKind::delay : FaultKind::silence, 0x28);
        fault.delay_ms = c.ack_after_ms.value_or(0);
        if (c.ack_after_ms != 0u) watch_.add_fault(fault);
        const std::uint64_t begin = platform::clock().now_ms();
        const std::string log = logged([&] { run(); });
        text += std::string("== ") + c.legend + ", " +
                std::to_string(platform::clock().now_ms() - begin) + " ms\n" + transcript() + log;
        EXPECT_FALSE(line_.is_open()) << "the port was not released";
    }
    test::expect_golden("update/firmware_reconnection", text);
}

// Answers the question with the task window's Cancel button, if it can be pressed.
class CancellingPresenter : public test::RecordingPresenter {
  public:
    void window_shown(const ui::TaskDisplay& display) override { task_window = display.window(); }
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
    offer();
    ui::set_forced_confirm_answer(0);
    auto presenter = std::make_shared<CancellingPresenter>();
    ui::install_presenter(presenter);
    run();
    ui::install_presenter(nullptr);
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
    EXPECT_EQ(watch_.received_count(0x14), 0u);
    EXPECT_FALSE(downloaded("1.32.01_VUNA0_00.ini"));

    test::HostRecorder next;
    GetWatch_Version(next.hwnd(), FALSE);
    ASSERT_TRUE(test::run_until_task_ends(60'000));
    EXPECT_EQ(next.codes(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_PROGRESS})) << next.describe();
}

}  // namespace
}  // namespace stridelog
