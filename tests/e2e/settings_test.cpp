// GetSetting, SetSetting, GetViews and SetViews as a host sees them, against a
// simulated watch (in-process line, virtual clock) whose directory sector and
// identity block are laid out here: the notifications, the record bytes, and
// the flash the watch is left with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "sim/watch_setup_content.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
#include "tests/support/simulated_watch_fixture.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;
using Bytes = std::vector<std::uint8_t>;

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
    const auto sum = sim::settings_checksum(d.data());
    d[0] = sum[0];
    d[1] = sum[1];
    return d;
}

class SettingsTest : public test::SimulatedWatchTest {
  protected:
    void SetUp() override {
        SimulatedWatchTest::SetUp();
        directory_ = directory();
        Bytes identity(128, 0xFF);
        const std::uint8_t head[] = {12, 5, 3, 1, 'A', 'B', '1', '2', 'Q', 0};
        std::copy(std::begin(head), std::end(head), identity.begin());
        store(0, directory_);
        store(kIdentity, identity);
        store(4096, Bytes(4096, 0x5A));
    }
    void restart() {
        host_.clear();
        watch_.clear_received();
        watch_.clear_faults();
    }
    Bytes block(UINT code) const {
        const auto blocks = host_.blocks(code);
        return blocks.empty() ? Bytes{} : blocks[0];
    }
    Bytes sector0() const { return watch_.read_flash(0, 4096); }
    // The notifications and frames of the last run, and what it changed in sector 0.
    std::string run_text(const std::string& legend, const Bytes& before) const {
        return "== " + legend + "\n" + test::transcript(host_) +
               test::frames_transcript(watch_.received()) + test::changes_text(before, sector0());
    }
    Bytes get_settings() {
        restart();
        GetSetting(host_.hwnd(), FALSE);
        run_task();
        return block(SDK_MSG_SETTINGS);
    }

    Bytes directory_;
};

TEST_F(SettingsTest, GetSettingOffsetZeroFollowsTheFirmware) {
    struct Case {
        const char* legend;
        const char* text;  // stored long version; null: erased
        std::optional<sim::NumericVersion> numeric;
        std::uint8_t offset0;
    };
    const Case cases[] = {
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
        store(0, d);
        sim::WatchConfig config = watch_.config();
        config.numeric_version = c.numeric;
        watch_.set_config(config);
        const Bytes r = get_settings();
        ASSERT_EQ(r.size(), 96u) << host_.describe();
        EXPECT_EQ(r[0], c.offset0);
    }
}

// Each row reads the record, changes it, writes it (the host frees its copy as
// soon as the call returns) and reads it back. The settings record: firmware
// 1.31 from the stored text, so offset 0 is F94; the texts, the date, the used
// space (4 of 229 workout sectors) and the identity as the last 128 bytes;
// only the fields written and the checksum change, the version text ('Z') is
// not the host's. An erased F94 (3) and version texts ending early keep their
// flash bytes; the host's F94 lands in bits 0 .. 1. The views block: 45
// directory bytes, then five names of ten UTF-16 units (0xC0 and U+00DC are
// not in the watch's set: a space).
TEST_F(SettingsTest, RoundTrips) {
    struct Case {
        const char* legend;
        std::function<void(Bytes&)> prepare;  // the directory sector
        bool views;
        std::function<void(Bytes&)> edit;  // the record read
    };
    const auto settings_edit = [](Bytes& r) {
        r[0] = 1;  // F94
        r[8] = 5;  // F5: byte 5 = 0x10
        r[12] = 0x21, r[13] = 0x22, r[14] = 0x23, r[6] = 0xAB, r[7] = 0xCD;
        r[86] = 1;  // F12a
        r[95] = 0x99, r[40] = 'Z';
    };
    const auto short_texts = [](Bytes& d) {
        d[94] = 0xFF;
        // "1.31_AB", a zero, then leftovers; the 8-character field starts at byte 104.
        const Bytes text = {'1',  '.', '3', '1', '_',  'A', 'B',  0,
                            0xC3, 'z', 0,   0,   0x7F, 0,   0xFF, 'q'};
        std::copy(text.begin(), text.end(), d.begin() + 96);
    };
    const auto views_edit = [](Bytes& v) {
        for (std::size_t i = 0; i < 45; ++i) v[i] = static_cast<std::uint8_t>(i);
        const std::u16string names[] = {u"\u00DCnd", u"\u00F1and\u00FA"};
        for (std::size_t n = 0; n < 2; ++n)
            for (std::size_t i = 0; i < 10; ++i) {
                const char16_t c = i < names[n].size() ? names[n][i] : 0;
                v[45 + 40 * n + 2 * i] = static_cast<std::uint8_t>(c & 0xFF);
                v[46 + 40 * n + 2 * i] = static_cast<std::uint8_t>(c >> 8);
            }
    };
    const Case cases[] = {
        {"settings, F5 among other bits", [](Bytes& d) { d[5] = 0x37; }, false, settings_edit},
        {"settings, erased F94 and short texts", short_texts, false, [](Bytes& r) { r[0] = 1; }},
        {"views", [](Bytes&) {}, true, views_edit},
    };
    std::string text;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        Bytes before = directory_;
        c.prepare(before);
        store(0, before);
        task::reset_read_chunk_progress();  // its pacing carries over tasks
        const auto get = [&] {
            restart();
            c.views ? GetViews(host_.hwnd(), FALSE) : GetSetting(host_.hwnd(), FALSE);
            run_task();
            return block(c.views ? SDK_MSG_VIEWS : SDK_MSG_SETTINGS);
        };
        auto host_copy = std::make_unique<Bytes>(get());
        ASSERT_EQ(host_copy->size(), c.views ? 145u : 96u) << host_.describe();
        text += run_text(c.legend, before);
        c.edit(*host_copy);
        restart();
        c.views ? SetViews(host_.hwnd(), host_copy->data(), FALSE)
                : SetSetting(host_.hwnd(), host_copy->data(), FALSE);
        std::fill(host_copy->begin(), host_copy->end(), 0xEE);
        host_copy.reset();
        run_task();
        text += run_text("written", before);
        EXPECT_EQ(watch_.read_flash(4096, 4096), Bytes(4096, 0x5A)) << "sector 1 untouched";
        const Bytes written = sector0();
        get();
        text += run_text("read back", written);
    }
    test::expect_golden("e2e/settings_round_trips", text);
}

// A silent step ends with the transfer error (a write after full progress, a
// read before it). The plain acknowledgement 0x23 answers a prepare or an
// erase as their own replies do; it answers nothing else, so a write step left
// with it times out.
TEST_F(SettingsTest, FailuresAndRefusals) {
    Bytes record = get_settings();
    ASSERT_EQ(record.size(), 96u);
    record[12] = 0x31;  // B6: the byte that shows the sector was written
    const Bytes settings(96, 0), views(145, 0);
    const auto get_setting = [](HWND h) { GetSetting(h, FALSE); };
    const auto set_setting = [&](HWND h) { SetSetting(h, settings.data(), FALSE); };
    const auto set_record = [&](HWND h) { SetSetting(h, record.data(), FALSE); };
    const auto set_views = [&](HWND h) { SetViews(h, views.data(), FALSE); };
    const auto on = [](FaultKind kind, std::uint8_t id) { return Fault::on_command(kind, id); };
    const std::tuple<const char*, std::function<void(HWND)>, Fault> cases[] = {
        {"GetSetting: a silent read", get_setting, on(FaultKind::silence, 0x12)},
        {"GetViews: a silent read", [](HWND h) { GetViews(h, FALSE); },
         on(FaultKind::silence, 0x12)},
        {"SetSetting: a silent erase", set_setting, on(FaultKind::silence, 0x14)},
        {"SetViews: a silent erase", set_views, on(FaultKind::silence, 0x14)},
        {"SetSetting: a silent chunk write", set_setting, on(FaultKind::silence, 0x16)},
        {"SetSetting: 24 answered with 0x23", set_record, on(FaultKind::plain_ack, 0x24)},
        {"SetSetting: 14 answered with 0x23", set_record, on(FaultKind::plain_ack, 0x14)},
        {"SetSetting: 16 answered with 0x23", set_record, on(FaultKind::plain_ack, 0x16)},
    };
    std::string text;
    for (const auto& [legend, call, fault] : cases) {
        SCOPED_TRACE(legend);
        store(0, directory_);
        restart();
        watch_.add_fault(fault);
        call(host_.hwnd());
        run_task();
        text += run_text(legend, directory_);
    }
    test::expect_golden("e2e/settings_failures", text);
}

}  // namespace
}  // namespace stridelog
