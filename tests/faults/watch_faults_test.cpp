// The simulated watch's newer faults, seen from the line: what goes out, in
// which writes, with which delays, and what the watch still hears. The fault
// matrix trusts these to be what their names say.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.hpp"
#include "sim/watch.hpp"
#include "tests/support/golden.hpp"
#include "wire/frame.hpp"

namespace stridelog {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::Fault;
using sim::FaultKind;

// One thing the watch did on the line, with the delay it was scheduled at.
struct Event {
    std::uint32_t delay_ms = 0;
    bool disconnect = false;
    Bytes bytes;
};

struct Line {
    explicit Line(sim::Watch& watch) : watch_(watch) {
        watch.set_output([this](std::span<const std::uint8_t> b) {
            events.push_back({current_delay, false, Bytes(b.begin(), b.end())});
        });
        watch.set_disconnect_handler([this] { events.push_back({current_delay, true, {}}); });
        watch.set_scheduler([this](std::uint32_t delay, std::function<void()> task) {
            later.push_back({delay, std::move(task)});
        });
    }
    // Sends a frame, then runs what the watch scheduled in order of delay.
    void send(const Bytes& payload) {
        const auto frame = wire::encode_frame(payload);
        current_delay = 0;
        watch_.feed(frame);
        std::stable_sort(later.begin(), later.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [delay, task] : later) {
            current_delay = delay;
            task();
        }
        later.clear();
    }

    sim::Watch& watch_;
    std::uint32_t current_delay = 0;
    std::vector<Event> events;
    std::vector<std::pair<std::uint32_t, std::function<void()>>> later;
};

std::string events_text(const std::vector<Event>& events) {
    std::string text;
    for (const Event& e : events)
        text += std::to_string(e.delay_ms) +
                " ms: " + (e.disconnect ? "line gone" : test::bytes_text(e.bytes)) + "\n";
    return text;
}

// The golden file shows what each fault puts on the line after a version query
// (0x10): each write with the delay it was scheduled at, and the line going
// away. Then a restart: the write that caused it is lost and unanswered, and
// the watch hears nothing until its 5 s are over.
TEST(SimulatedLineFaults, WhatTheLineCarries) {
    Fault bytes_1ms = Fault::on_command(FaultKind::byte_by_byte, 0x10);
    bytes_1ms.delay_ms = 1;
    Fault cut = Fault::on_command(FaultKind::disconnect, 0x10);
    cut.cut_after = 4;
    Fault cut_past_end = cut;
    cut_past_end.cut_after = 100;
    const std::pair<const char*, Fault> cases[] = {
        {"byte by byte, 1 ms apart", bytes_1ms},
        {"byte by byte without a pause: still one write each",
         Fault::on_command(FaultKind::byte_by_byte, 0x10)},
        {"line gone after four bytes of the reply", cut},
        {"line gone after the whole reply", cut_past_end},
        {"line gone before the reply", Fault::on_command(FaultKind::disconnect, 0x10)},
        {"another command is not hit", Fault::on_command(FaultKind::byte_by_byte, 0x2C)},
    };
    std::string text;
    for (const auto& [legend, fault] : cases) {
        platform::ScopedVirtualClock clock;
        sim::Watch watch;
        Line line(watch);
        watch.add_fault(fault);
        line.send({0x10});
        text += std::string("== ") + legend + "\n" + events_text(line.events);
    }

    platform::ScopedVirtualClock clock;
    sim::Watch watch;
    Line line(watch);
    Fault reboot = Fault::on_command(FaultKind::reboot, 0x16);
    reboot.delay_ms = 5000;
    watch.add_fault(reboot);
    const Bytes write{0x16, 0x00, 0x30, 0x00, 2, 0x12, 0x34};  // two bytes at 0x3000
    const auto state = [&](const char* step) {
        text += std::string("== restart: ") + step + "\n" + events_text(line.events) + "flash " +
                test::bytes_text(watch.read_flash(0x3000, 2)) + ", restarts " +
                std::to_string(watch.reboots()) + (watch.rebooting() ? ", restarting" : "") +
                ", version queries heard " + std::to_string(watch.received_count(0x10)) + "\n";
        line.events.clear();
    };
    line.send(write);
    state("the write");
    clock->advance_to(clock->now_ms() + 4999);
    line.send({0x10});
    state("a version query 4999 ms later");
    clock->advance_to(clock->now_ms() + 1);
    line.send(write);
    state("the write again 1 ms later");
    test::expect_golden("faults/line_faults", text);
}

}  // namespace
}  // namespace stridelog
