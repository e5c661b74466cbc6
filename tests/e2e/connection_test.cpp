// The opening of every task against a simulated watch on an in-process line,
// on the virtual clock: port walk, retries, version texts, status query, and
// the link errors a misbehaving watch causes.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"
#include "sim/inprocess_line.hpp"
#include "sim/watch.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/simulated_watch_fixture.hpp"
#include "tests/support/test_environment.hpp"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using sim::Fault;
using sim::FaultKind;

using Codes = std::vector<UINT>;
using Bytes = std::vector<std::uint8_t>;

// A watch on an in-process line, registered as a cable port.
struct SimulatedCable {
    SimulatedCable(const std::string& name, const std::string& port, sim::WatchConfig config = {})
        : port(port), watch(std::move(config)), line(watch, name) {
        sim::register_as_cable(line, port);
    }
    std::string port;
    sim::Watch watch;
    sim::InProcessLine line;
};

// The fixture's own watch is unplugged by every case, which plugs its own.
class ConnectionTest : public test::SimulatedWatchTest {
  protected:
    std::uint64_t now() { return platform::clock().now_ms(); }
    SimulatedCable& plug(const std::string& port, sim::WatchConfig config = {}) {
        cables_.push_back(std::make_unique<SimulatedCable>("c" + std::to_string(cables_.size()),
                                                           port, std::move(config)));
        return *cables_.back();
    }
    std::vector<std::unique_ptr<SimulatedCable>> cables_;
};

// An operation that ends at once after the status query without a command of
// its own: a clock set to 30 February.
void probe(HWND h) {
    SetDateTime(h, 24, 2, 30, 0, 0, 0, FALSE);
}
void get_version(HWND h) {
    GetWatch_Version(h, FALSE);
}

// The port walk, the version check, the status query and a misbehaving watch,
// seen through what one hidden call posts, what each port's watch received and
// the virtual time it took. Walks: a silent COM2 (9 s), a 250 ms pause, then
// COM3 answering (and the 500 ms closing pause) or COM3 that cannot be opened.
TEST_F(ConnectionTest, PortWalkVersionStatusAndMisbehavingWatch) {
    enum Walk { one_cable, com3_answers, com3_unopenable };
    struct Case {
        const char* legend;
        std::optional<Fault> fault = std::nullopt;
        std::string version = "Ver1.30";  // text reply, unless numeric
        std::optional<sim::NumericVersion> numeric = std::nullopt;
        void (*call)(HWND) = probe;
        Walk walk = one_cable;
    };
    const auto on = [](FaultKind kind, std::uint8_t id, int repeat = 1) {
        return Fault::on_command(kind, id, repeat);
    };
    Fault delayed = on(FaultKind::delay, 0x10);
    delayed.delay_ms = 2500;
    Fault shortened = on(FaultKind::wrong_length, 0x2C);
    shortened.length_delta = -3;  // a status reply with fewer than two status bytes
    // A frame nobody asked for, sent before the version reply.
    const auto stray = [&](Bytes payload) {
        Fault f = on(FaultKind::garbage_before, 0x10);
        f.garbage = wire::encode_frame(payload);
        return f;
    };
    const auto none = std::nullopt;
    const Case cases[] = {
        {"GetWatch_Version: the text, then the full bar", none, "Ver1.30", none, get_version},
        {"silent watch: three queries 3 s apart, then no answer", on(FaultKind::silence, 0x10, -1),
         "Ver1.30", none, get_version},
        {"COM3 answers", none, "Ver1.30", none, get_version, com3_answers},
        {"COM3 cannot be opened", none, "Ver1.30", none, get_version, com3_unopenable},
        {"Ver1.30 passes", none, "Ver1.30"},
        {"Ver1.2 passes: 1.2 as a float lies above the double 1.2", none, "Ver1.2"},
        {"Ver1.10 is too old", none, "Ver1.10"},
        {"Ver1.16 is too old", none, "Ver1.16"},
        {"Ver1.15 is too old", none, "Ver1.15"},
        {"VER1.30 is not read: unknown version refused", none, "VER1.30"},
        {"0.0 is always too old", none, "0.0"},
        {"empty text refused", none, ""},
        {"numeric 1.21 passes", none, "", sim::NumericVersion{1, 21}},
        {"numeric 0.0 refused", none, "", sim::NumericVersion{0, 0}},
        {"a silent status query: the operation starts after 3 s", on(FaultKind::silence, 0x2C)},
        {"bad checksum: the reply is dropped, the retry is answered",
         on(FaultKind::bad_checksum, 0x10)},
        {"garbage before the reply is skipped", on(FaultKind::garbage_before, 0x10)},
        {"a reply split across writes is reassembled", on(FaultKind::split, 0x10)},
        {"a late reply within the time-out is taken", delayed},
        {"a duplicated reply is posted twice, the operation starts once",
         on(FaultKind::duplicate, 0x10)},
        {"a status reply of the wrong length ends with a transfer error", shortened},
        {"a watch that disconnects is never heard again", on(FaultKind::disconnect, 0x10)},
        {"a stray write acknowledgement changes nothing", stray(Bytes(1, 0x17)), "Ver1.30", none,
         get_version},
        {"a stray erase acknowledgement", stray(Bytes(1, 0x15)), "Ver1.30", none, get_version},
        {"a stray clock acknowledgement", stray(Bytes{0x3A, 0x00}), "Ver1.30", none, get_version},
        {"a stray status reply does not skip the firmware check",
         stray(Bytes{0x2D, 0x01, 0x00, 0x00, 0x01}), "Ver1.10", none,
         [](HWND h) { GetViews(h, FALSE); }},
        {"a read reply with no read outstanding", stray(Bytes{0x13, 0x01, 0x02}), "Ver1.30", none,
         get_version},
    };
    std::string text;
    for (const auto& c : cases) {
        sim::WatchConfig config;
        config.version_text = c.version;
        config.numeric_version = c.numeric;
        platform::clear_injected();
        cables_.clear();
        host_.clear();
        if (c.walk != one_cable) {
            plug("COM2").watch.add_fault(on(FaultKind::silence, 0x10, -1));
            if (c.walk == com3_answers)
                plug("COM3", config);
            else
                platform::inject_serial_comm("\\Device\\Silabser3", "COM3", "/nonexistent/tty");
        } else {
            auto& cable = plug("COM7", config);
            if (c.fault) cable.watch.add_fault(*c.fault);
        }
        const std::uint64_t start = now();
        c.call(host_.hwnd());
        for (HWND task : sdk::task_windows_on_this_thread())
            EXPECT_FALSE(platform::is_window_visible(task)) << c.legend;
        EXPECT_TRUE(platform::is_window_enabled(host_.hwnd())) << c.legend;
        EXPECT_TRUE(test::run_until_task_ends(600'000)) << c.legend;
        text += std::string("== ") + c.legend + ": " + std::to_string(now() - start) + " ms\n" +
                test::transcript(host_);
        for (const auto& cable : cables_) {
            text += cable->port + " received:\n" + test::frames_transcript(cable->watch.received());
            EXPECT_FALSE(cable->line.is_open()) << c.legend << ": the link was released";
        }
    }
    test::expect_golden("e2e/connection", text);
}

TEST_F(ConnectionTest, FirmwareVersionIsReadTheSameInAnyLocale) {
    // A host whose locale writes 1,30 must still see Ver1.30 as 1.30.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        const std::string dir = env_.root().string() + "/locale";
        std::filesystem::create_directories(dir);
        const std::string make =
            "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(make.c_str()) == 0) {
            env_.set_env("LOCPATH", dir);
        }
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
            GTEST_SKIP() << "no locale with a decimal comma on this machine";
    }
    probe(host_.hwnd());
    EXPECT_TRUE(test::run_until_task_ends(600'000));
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(host_.codes(), (Codes{SDK_MSG_WATCH_VERSION, SDK_ERR_CLOCK_VALUE}))
        << host_.describe();
}

TEST_F(ConnectionTest, ReadFlashSectorEndsItsTaskWhenTheLoopIsQuit) {
    const UINT result = platform::register_window_message(STRIDELOG_RESULT_MESSAGE_NAME);
    HWND host = platform::create_window([&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == result) {
            if (w == SDK_MSG_WATCH_VERSION) platform::post_quit_message(0);
            platform::global_free(reinterpret_cast<void*>(l));
        }
        return 0;
    });
    ReadFlashSector(host, 3);
    EXPECT_TRUE(platform::is_window_enabled(host)) << "the host is enabled again";
    EXPECT_FALSE(sdk::task_active_on_this_thread());
    platform::Message msg;
    while (platform::peek_message(msg)) platform::dispatch_message(msg);  // the quit, consumed
    platform::destroy_window(host);
}

}  // namespace
}  // namespace stridelog
