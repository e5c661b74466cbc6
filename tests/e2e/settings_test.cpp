// GetSetting, SetSetting, GetViews and SetViews as a host sees them, against a
// simulated watch (in-process line, virtual clock) whose directory sector and
// identity block are laid out here: the notifications, the record bytes, and
// the flash the watch is left with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "task/flash_transfer.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<UINT>;

constexpr std::uint32_t kIdentity = 0xFF010;

// A settings block with a valid checksum, two views named in the watch's
// character set, sectors 1 .. 4 in use, and the rest of the sector distinct.
Bytes directory() {
    Bytes d(4096);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 11 + 7);
    const char version[] = "1.31.02_VUNA0_00";
    std::copy(version, version + 16, d.begin() + 96);
    d[2] = 0x01;   // F2
    d[5] = 0x10;   // F5
    d[12] = 0x08;  // F12d, not F12a
    d[94] = 0xFE;  // F94 = 2
    d[112] = 15, d[113] = 8, d[114] = 26;
    std::fill(d.begin() + 224, d.begin() + 256, 0xFF);
    d[224] = 0xE0;  // sectors 0 .. 4
    d[254] = 0x3F, d[255] = 0x00;
    const Bytes names = {'C', 'a',  'f', 0xA5, 0,   0,   0,   0,   0,   0,   'P', 'a', 'c',
                         'e', 0,    0,   0,    0,   0,   0,   0,   0,   0,   0,   0,   0,
                         0,   0,    0,   0,    '1', '2', '3', '4', '5', '6', '7', '8', '9',
                         '0', 0xC0, 'x', 0,    0,   0,   0,   0,   0,   0,   0};
    std::copy(names.begin(), names.end(), d.begin() + 2304);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < 224; ++i) sum = static_cast<std::uint8_t>(sum + d[i]);
    d[0] = sum;
    d[1] = static_cast<std::uint8_t>(0xFF - sum);
    return d;
}

std::u16string wide(const Bytes& b, std::size_t at, std::size_t units) {
    std::u16string s;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(b[at + 2 * i] | b[at + 2 * i + 1] << 8);
        if (c == 0) break;
        s.push_back(c);
    }
    return s;
}

void put_wide(Bytes& b, std::size_t at, const std::u16string& s, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = i < s.size() ? s[i] : 0;
        b[at + 2 * i] = static_cast<std::uint8_t>(c & 0xFF);
        b[at + 2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
    }
}

bool checksum_holds(const Bytes& d) {
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < 224; ++i) sum = static_cast<std::uint8_t>(sum + d[i]);
    return d[0] == sum && d[1] == 0xFF - sum;
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        blocks_before_ = platform::live_global_blocks();
        task::reset_read_chunk_progress();
        sim::register_as_cable(line_, "COM7");
        directory_ = directory();
        Bytes identity(128, 0xFF);
        const std::uint8_t head[] = {12, 5, 3, 1, 'A', 'B', '1', '2', 'Q', 0};
        std::copy(std::begin(head), std::end(head), identity.begin());
        watch_.with_flash([&](sim::Flash& flash) {
            flash.store(0, directory_);
            flash.store(kIdentity, identity);
            flash.store(4096, Bytes(4096, 0x5A));
        });
    }
    void TearDown() override {
        EXPECT_FALSE(sdk::task_active_on_this_thread());
        EXPECT_EQ(platform::live_global_blocks(), blocks_before_) << "a block leaked";
    }
    void restart() {
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
    }
    bool run_task() { return test::run_until_task_ends(600'000); }
    Bytes make_block(UINT code) const {
        for (const auto& n : host_.notifications())
            if (n.code == code) return n.block;
        return {};
    }
    Bytes sector0() const { return watch_.read_flash(0, 4096); }
    Bytes get_settings() {
        restart();
        GetSetting(host_.hwnd(), FALSE);
        EXPECT_TRUE(run_task());
        return make_block(SDK_MSG_SETTINGS);
    }
    Bytes get_views_block() {
        restart();
        GetViews(host_.hwnd(), FALSE);
        EXPECT_TRUE(run_task());
        return make_block(SDK_MSG_VIEWS);
    }
    std::size_t write_commands() const {
        return watch_.received_count(0x24) + watch_.received_count(0x14) +
               watch_.received_count(0x16);
    }

    test::TestEnvironment env_;
    platform::ScopedVirtualClock clock_;
    test::HostRecorder host_;
    sim::Watch watch_;
    sim::InProcessLine line_{watch_, "settings"};
    Bytes directory_;
    std::size_t blocks_before_ = 0;
};

TEST_F(SettingsTest, GetSettingPostsTheRecord) {
    const Bytes r = get_settings();
    EXPECT_EQ(host_.codes_without_progress(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_SETTINGS}))
        << host_.describe();
    ASSERT_EQ(r.size(), 96u);
    const auto& d = directory_;
    // Firmware 1.31 from the stored text: extended, so offset 0 is F94.
    const Bytes head = {2, 1, 1, 0, 0, 0, d[10], d[11], 1, 0, 0, 0, d[6], d[7], d[8]};
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 15), head);
    EXPECT_EQ(wide(r, 15, 8), u"VUNA0_00");
    EXPECT_EQ(wide(r, 33, 7), u"1.31.02");
    EXPECT_EQ((Bytes{r[51], r[52], r[53]}), (Bytes{26, 8, 15}));
    float used = 0;
    std::memcpy(&used, &r[54], 4);
    EXPECT_FLOAT_EQ(used, 400.0f / 229.0f) << "4 of 229 workout sectors (status flag set)";
    EXPECT_EQ(wide(r, 58, 12), u"12050301AB12");
    EXPECT_EQ((Bytes{r[84], r[85], r[86], r[87]}), (Bytes{d[93], d[3], 0, d[17]}));
    EXPECT_TRUE(std::equal(r.begin() + 88, r.end(), d.begin() + 18));
    // The directory sector, then 128 bytes at the identity address.
    const auto reads = watch_.received();
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back(), (Bytes{0x12, 0x10, 0xF0, 0x0F, 128}));
    EXPECT_EQ(watch_.received_count(0x12), 33u);
}

TEST_F(SettingsTest, GetSettingOffsetZeroFollowsTheFirmware) {
    struct Case {
        const char* legend;
        const char* text;  // stored long version; null: erased
        std::optional<sim::NumericVersion> numeric;
        std::uint8_t offset0;
    };
    const Case cases[] = {
        {"1.31 text: F94", "1.31.02_VUNA0_00", std::nullopt, 2},
        {"1.25 PEXO0: F94", "1.25.00_PEXO0_00", std::nullopt, 2},
        {"1.25 other code: F12d", "1.25.00_VUNA0_00", std::nullopt, 1},
        {"erased text, firmware 1.45: F12d", nullptr, sim::NumericVersion{1, 45}, 1},
        {"erased text, firmware 1.35: F94", nullptr, sim::NumericVersion{1, 35}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Bytes d = directory_;
        std::fill(d.begin() + 96, d.begin() + 112, c.text ? 0 : 0xFF);
        if (c.text) std::copy(c.text, c.text + std::strlen(c.text), d.begin() + 96);
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, d); });
        sim::WatchConfig config = watch_.config();
        config.numeric_version = c.numeric;
        watch_.set_config(config);
        const Bytes r = get_settings();
        ASSERT_EQ(r.size(), 96u) << host_.describe();
        EXPECT_EQ(r[0], c.offset0);
    }
}

TEST_F(SettingsTest, SetSettingWritesSectorZeroAndReadsBack) {
    directory_[5] = 0x37;  // F5 among other bits the write discards
    watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_); });
    Bytes record = get_settings();
    ASSERT_EQ(record.size(), 96u);
    record[0] = 1;  // F94
    record[8] = 5;  // F5: byte 5 = 0x10
    record[12] = 0x21, record[13] = 0x22, record[14] = 0x23;
    record[6] = 0xAB, record[7] = 0xCD;
    record[86] = 1;  // F12a
    record[95] = 0x99;
    record[40] = 'Z';  // the version text is not the host's
    {
        Bytes host_copy = record;
        restart();
        SetSetting(host_.hwnd(), host_copy.data(), FALSE);
        // The host frees its record as soon as the call returns.
        std::fill(host_copy.begin(), host_copy.end(), 0xEE);
        host_copy.clear();
        host_copy.shrink_to_fit();
        ASSERT_TRUE(run_task());
    }
    EXPECT_EQ(host_.codes_without_progress(),
              (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_SETTINGS_WRITTEN}))
        << host_.describe();
    EXPECT_EQ(host_.notifications().back().code, static_cast<UINT>(SDK_MSG_SETTINGS_WRITTEN));
    EXPECT_EQ(watch_.received_count(0x24), 1u);
    EXPECT_EQ(watch_.received_count(0x14), 1u);
    EXPECT_EQ(watch_.received_count(0x16), 32u);

    const Bytes after = sector0();
    EXPECT_TRUE(checksum_holds(after));
    Bytes want = directory_;
    want[94] = 0xFD;
    want[5] = 0x10;
    want[6] = 0x21, want[7] = 0x22, want[8] = 0x23;
    want[10] = 0xAB, want[11] = 0xCD;
    want[12] = 0x09;
    want[25] = 0x99;
    want[0] = after[0], want[1] = after[1];
    EXPECT_EQ(after, want) << "only the fields written, and the checksum";
    EXPECT_EQ(watch_.read_flash(4096, 4096), Bytes(4096, 0x5A)) << "sector 1 untouched";

    const Bytes back = get_settings();
    ASSERT_EQ(back.size(), 96u);
    Bytes want_back = record;
    want_back[40] = 0;  // 'Z' was never the watch's
    want_back[8] = 1;   // F5 reads back as the flag
    want_back[1] = 1;
    EXPECT_EQ(back, want_back);
}

// What the host reads and writes where the flash bytes are not the tidy case:
// an extended watch whose F94 byte still reads erased, and version texts that
// end early and leave other bytes behind their zero.
TEST_F(SettingsTest, ErasedFieldAndShortTextsCarryTheirFlashBytes) {
    directory_[94] = 0xFF;
    // "1.31_AB", a zero, then leftovers; the 8-character field starts at byte 104.
    const Bytes text = {'1', '.', '3', '1', '_', 'A', 'B', 0, 0xC3, 'z', 0, 0, 0x7F, 0, 0xFF, 'q'};
    std::copy(text.begin(), text.end(), directory_.begin() + 96);
    watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_); });

    Bytes record = get_settings();
    ASSERT_EQ(record.size(), 96u) << host_.describe();
    EXPECT_EQ(record[0], 3) << "extended: bits 0 .. 1 of an erased byte";
    for (std::size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE("long text unit " + std::to_string(i));
        EXPECT_EQ(record[15 + 2 * i], text[8 + i]);
        EXPECT_EQ(record[16 + 2 * i], 0);
    }
    for (std::size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE("short text unit " + std::to_string(i));
        EXPECT_EQ(record[33 + 2 * i], text[i]);
        EXPECT_EQ(record[34 + 2 * i], 0);
    }

    record[0] = 1;
    restart();
    SetSetting(host_.hwnd(), record.data(), FALSE);
    ASSERT_TRUE(run_task());
    EXPECT_EQ(host_.notifications().back().code, static_cast<UINT>(SDK_MSG_SETTINGS_WRITTEN))
        << host_.describe();
    const Bytes after = sector0();
    EXPECT_EQ(after[94], 0xFD) << "the host's value lands in bits 0 .. 1";
    EXPECT_TRUE(checksum_holds(after));
    EXPECT_TRUE(std::equal(text.begin(), text.end(), after.begin() + 96)) << "texts untouched";
}

// The plain acknowledgement 0x23 answers a prepare or an erase as their own
// replies do; it answers nothing else, so a write step left with it times out.
TEST_F(SettingsTest, APlainAcknowledgementAnswersPrepareAndEraseOnly) {
    struct Case {
        const char* legend;
        std::uint8_t command;
        bool completes;
    };
    const Case cases[] = {
        {"prepare (0x24) answered with 0x23", 0x24, true},
        {"erase (0x14) answered with 0x23", 0x14, true},
        {"a write (0x16) answered with 0x23", 0x16, false},
    };
    Bytes record = get_settings();
    ASSERT_EQ(record.size(), 96u);
    record[12] = 0x31;  // B6: the byte that shows the sector was written
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        watch_.with_flash([&](sim::Flash& flash) { flash.store(0, directory_); });
        restart();
        Fault ack = Fault::on_command(FaultKind::plain_ack, c.command);
        watch_.add_fault(ack);
        SetSetting(host_.hwnd(), record.data(), FALSE);
        ASSERT_TRUE(run_task());
        const UINT last = host_.notifications().back().code;
        if (c.completes) {
            EXPECT_EQ(last, static_cast<UINT>(SDK_MSG_SETTINGS_WRITTEN)) << host_.describe();
            EXPECT_EQ(sector0()[6], 0x31);
        } else {
            EXPECT_EQ(last, static_cast<UINT>(SDK_ERR_TRANSFER)) << host_.describe();
        }
    }
}

TEST_F(SettingsTest, ViewsRoundTrip) {
    const Bytes views = get_views_block();
    EXPECT_EQ(host_.codes_without_progress(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_VIEWS}))
        << host_.describe();
    ASSERT_EQ(views.size(), 145u);
    Bytes want(145, 0);
    std::copy(directory_.begin() + 27, directory_.begin() + 72, want.begin());
    put_wide(want, 45, u"Café", 10);
    put_wide(want, 65, u"Pace", 10);
    put_wide(want, 105, u"1234567890", 10);
    put_wide(want, 125, u" x", 10);  // 0xC0 is not in the watch's set
    EXPECT_EQ(views, want);

    Bytes changed = views;
    for (std::size_t i = 0; i < 45; ++i) changed[i] = static_cast<std::uint8_t>(i);
    put_wide(changed, 45, u"Ünd", 10);
    put_wide(changed, 85, u"ñandú", 10);
    {
        Bytes host_copy = changed;
        restart();
        SetViews(host_.hwnd(), host_copy.data(), FALSE);
        std::fill(host_copy.begin(), host_copy.end(), 0xEE);
        ASSERT_TRUE(run_task());
    }
    EXPECT_EQ(host_.codes_without_progress(), (Codes{SDK_MSG_WATCH_VERSION, SDK_MSG_VIEWS_WRITTEN}))
        << host_.describe();
    const Bytes after = sector0();
    EXPECT_TRUE(checksum_holds(after));
    Bytes want_flash = directory_;
    std::copy(changed.begin(), changed.begin() + 45, want_flash.begin() + 27);
    const Bytes names = {'|', 'n', 'd', 0, 0, 0,    0,   0,   0,   0,    'P', 'a', 'c', 'e', 0,
                         0,   0,   0,   0, 0, 0xB5, 'a', 'n', 'd', 0xB1, 0,   0,   0,   0,   0};
    std::copy(names.begin(), names.end(), want_flash.begin() + 2304);
    want_flash[2344] = ' ';  // the 0xC0 byte read as a space is written back as one
    want_flash[0] = after[0], want_flash[1] = after[1];
    EXPECT_EQ(after, want_flash);

    Bytes want_back = changed;
    put_wide(want_back, 45, u"|nd", 10);
    EXPECT_EQ(get_views_block(), want_back);
}

TEST_F(SettingsTest, FailuresAndRefusals) {
    enum class Call { get_setting, set_setting, get_views, set_views };
    struct Case {
        const char* legend;
        Call call;
        std::optional<Fault> fault;
        bool null_record;
        UINT error;  // 0: nothing at all is posted
    };
    const Case cases[] = {
        {"GetSetting: a silent read", Call::get_setting,
         Fault::on_command(FaultKind::silence, 0x12), false, SDK_ERR_TRANSFER},
        {"GetViews: a silent read", Call::get_views, Fault::on_command(FaultKind::silence, 0x12),
         false, SDK_ERR_TRANSFER},
        {"SetSetting: a silent erase", Call::set_setting,
         Fault::on_command(FaultKind::silence, 0x14), false, SDK_ERR_TRANSFER},
        {"SetViews: a silent erase", Call::set_views, Fault::on_command(FaultKind::silence, 0x14),
         false, SDK_ERR_TRANSFER},
        {"SetSetting: a silent chunk write", Call::set_setting,
         Fault::on_command(FaultKind::silence, 0x16), false, SDK_ERR_TRANSFER},
        {"SetSetting: no record", Call::set_setting, std::nullopt, true, 0},
        {"SetViews: no record", Call::set_views, std::nullopt, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        restart();
        if (c.fault) watch_.add_fault(*c.fault);
        const Bytes record(c.call == Call::set_views ? 145 : 96, 0);
        const BYTE* data = c.null_record ? nullptr : record.data();
        switch (c.call) {
            case Call::get_setting:
                GetSetting(host_.hwnd(), FALSE);
                break;
            case Call::set_setting:
                SetSetting(host_.hwnd(), data, FALSE);
                break;
            case Call::get_views:
                GetViews(host_.hwnd(), FALSE);
                break;
            case Call::set_views:
                SetViews(host_.hwnd(), data, FALSE);
                break;
        }
        if (c.null_record) {
            test::deliver_posted();
            EXPECT_TRUE(host_.codes().empty()) << host_.describe();
            EXPECT_TRUE(watch_.received().empty());
            EXPECT_FALSE(sdk::task_active_on_this_thread());
            continue;
        }
        ASSERT_TRUE(run_task());
        EXPECT_EQ(host_.codes_without_progress(), (Codes{SDK_MSG_WATCH_VERSION, c.error}))
            << host_.describe();
        const bool write = c.call == Call::set_setting || c.call == Call::set_views;
        const auto& notes = host_.notifications();
        ASSERT_GE(notes.size(), 2u);
        // A write ends with full progress, then the error; a read the other way round.
        const auto& progress = write ? notes[notes.size() - 2] : notes.back();
        ASSERT_EQ(progress.code, static_cast<UINT>(SDK_MSG_PROGRESS)) << host_.describe();
        EXPECT_EQ(progress.progress(), 100.0f);
    }
}

}  // namespace
}  // namespace stridelog
