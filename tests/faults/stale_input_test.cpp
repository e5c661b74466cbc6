// Input that was already waiting when a command went out (a late or repeated
// reply to an earlier one) is never taken as that command's reply: neither
// when it still sits unread in the line's queue, nor when the receive thread
// took it just before the command went out and parses it just after.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/watch_link.hpp"
#include "platform/registry.hpp"
#include "platform/serial_device.hpp"
#include "tests/link/link_fixtures.hpp"
#include "tests/support/test_environment.hpp"
#include "wire/frame.hpp"

namespace stridelog::test {
namespace {

link::DCB line() {
    return {.BaudRate = 115200};
}

// The owner's messages other than the low-level echo, as seen after `wait_ms`.
std::vector<LinkMessage> collect_replies(OwnerWindow& owner, std::size_t at_least, int wait_ms) {
    owner.wait_for(at_least, static_cast<std::uint64_t>(wait_ms));
    platform::clock().sleep_ms(30);  // anything that would follow the expected ones
    owner.pump();
    std::vector<LinkMessage> out;
    for (const auto& m : owner.messages())
        if (m.message != owner.low_level()) out.push_back(m);
    return out;
}

Bytes ReadReply(std::uint8_t fill, std::size_t count) {
    Bytes payload{0x13};
    payload.insert(payload.end(), count, fill);
    return payload;
}

// Every command goes out through the same discard; a read shows it best, as
// the stale reply would also be copied to the destination.
TEST(StaleInput, WaitingInTheLineQueueIsDroppedWhenTheNextCommandGoesOut) {
    TestEnvironment environment;
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    platform::inject_serial_comm("\\Device\\Serial7", "COM7", pty.path());
    OwnerWindow owner;
    link::CWatchLink link(owner.hwnd());
    ASSERT_TRUE(link.OpenPort(7, line()));
    std::uint8_t area[8] = {};

    // The receive thread is held back so the stale reply stays queued.
    link.StopReceiving();
    ASSERT_TRUE(pty.send(wire::encode_frame(ReadReply(0xEE, 8))));
    platform::clock().sleep_ms(100);  // into the line's input queue
    ASSERT_TRUE(link.ReadMemory(0x1000, 8, area));
    ASSERT_FALSE(pty.receive(1).empty()) << "the command went out";
    pty.receive(64, 50);
    link.StartReceiving();
    ASSERT_TRUE(pty.send(wire::encode_frame(ReadReply(0x42, 8))));

    const auto replies = collect_replies(owner, 1, 3000);
    ASSERT_EQ(replies.size(), 1u) << "one reply, not the stale one as well";
    EXPECT_EQ(replies[0].message, link::WM_LINK_READ_DATA);
    EXPECT_EQ(Bytes(area, area + 8), Bytes(8, 0x42));
}

// A line whose reader can be caught between taking a burst and returning it:
// the burst is stamped with the discards completed when it was taken, as a
// tty's reader stamps it, and handed over only when the test opens the gate.
class HeldLine : public platform::SerialDevice {
  public:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Bytes> arrived;  // not taken yet
        bool gated = false;
        bool holding = false;  // the reader took a burst and waits at the gate
        bool interrupted = false;
        std::uint64_t discards = 0;
    };
    explicit HeldLine(std::shared_ptr<Shared> s) : s_(std::move(s)) {}

    bool configure(const platform::LineSettings&, int&) override { return true; }
    bool write(std::span<const std::uint8_t> bytes, std::uint32_t, std::size_t& written) override {
        written = bytes.size();
        return true;
    }
    long read_burst(std::span<std::uint8_t> buffer, std::uint64_t& discards) override {
        std::unique_lock lock(s_->mutex);
        s_->changed.wait(lock, [&] { return s_->interrupted || !s_->arrived.empty(); });
        if (s_->interrupted) return -1;
        Bytes burst = std::move(s_->arrived.front());
        s_->arrived.pop_front();
        discards = s_->discards;
        s_->holding = true;
        s_->changed.notify_all();
        s_->changed.wait(lock, [&] { return s_->interrupted || !s_->gated; });
        s_->holding = false;
        if (s_->interrupted) return -1;
        const std::size_t n = std::min(buffer.size(), burst.size());
        std::copy_n(burst.begin(), n, buffer.begin());
        return static_cast<long>(n);
    }
    void interrupt() override {
        std::lock_guard lock(s_->mutex);
        s_->interrupted = true;
        s_->changed.notify_all();
    }
    std::uint64_t discard_input() override {
        std::lock_guard lock(s_->mutex);
        s_->arrived.clear();
        return ++s_->discards;
    }

  private:
    std::shared_ptr<Shared> s_;
};

TEST(StaleInput, ABurstTakenBeforeTheDiscardIsNotTheReplyToTheReadAfterIt) {
    TestEnvironment environment;
    auto shared = std::make_shared<HeldLine::Shared>();
    platform::register_serial_backend(
        "held:", [shared](const std::string&, int&) { return std::make_unique<HeldLine>(shared); });
    platform::inject_serial_comm("\\Device\\Serial8", "COM8", "held:line");
    OwnerWindow owner;
    link::CWatchLink link(owner.hwnd());
    ASSERT_TRUE(link.OpenPort(8, line()));
    auto arrive = [&](const Bytes& payload, bool gated) {
        std::unique_lock lock(shared->mutex);
        shared->gated = gated;
        shared->arrived.push_back(wire::encode_frame(payload));
        shared->changed.notify_all();
        if (gated) shared->changed.wait(lock, [&] { return shared->holding; });
    };
    auto open_gate = [&] {
        std::lock_guard lock(shared->mutex);
        shared->gated = false;
        shared->changed.notify_all();
    };

    std::uint8_t area[4] = {};
    // A late reply of an earlier read is taken by the reader...
    arrive(ReadReply(0xEE, 4), true);
    // ...the next read goes out meanwhile (its discard finds nothing left)...
    ASSERT_TRUE(link.ReadMemory(0x2000, 4, area));
    // ...and only then does the reader hand the late reply over.
    open_gate();
    auto replies = collect_replies(owner, 1, 200);
    EXPECT_TRUE(replies.empty()) << "the late reply was taken for the new read";
    EXPECT_EQ(Bytes(area, area + 4), Bytes(4, 0)) << "nothing written to the destination";

    arrive(ReadReply(0x42, 4), false);
    replies = collect_replies(owner, 1, 3000);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].message, link::WM_LINK_READ_DATA);
    EXPECT_EQ(Bytes(area, area + 4), Bytes(4, 0x42));
    link.StopReceiving();
}

}  // namespace
}  // namespace stridelog::test
