// The reply parser as the task window sees it: each reply payload is handed to
// ParseMessage and the messages that reach the owner window are compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "link/watch_link.hpp"
#include "tests/link/link_fixtures.hpp"

namespace stridelog::test {
namespace {

Bytes text_reply(const std::string& text) {
    Bytes out(text.size() + 1, 0x11);
    std::copy(text.begin(), text.end(), out.begin() + 1);
    return out;
}
LinkMessage msg(UINT m, WPARAM w = 0, LPARAM l = 0) {
    return {m, w, l, {}, {}};
}
LinkMessage bad(std::uint8_t id) {
    return msg(link::WM_LINK_BAD_REPLY, 0, id);
}

std::vector<LinkMessage> one(const LinkMessage& m) {
    return {m};
}
const std::vector<LinkMessage> none;

class MessageParser : public ::testing::Test {
  protected:
    std::vector<LinkMessage> parse(const Bytes& payload) {
        owner.messages().clear();
        link.ParseMessage(payload.data(), static_cast<std::uint16_t>(payload.size()));
        deliver_posted();
        return owner.messages();
    }
    std::vector<LinkMessage> version(const std::string& text, bool announced = true) {
        std::vector<LinkMessage> out{{link::WM_LINK_VERSION, 0, 0, text, {}}};
        if (announced) out.push_back(msg(owner.low_level(), link::WM_LINK_VERSION));
        return out;
    }
    OwnerWindow owner;
    link::CWatchLink link{owner.hwnd()};
};

TEST_F(MessageParser, RepliesBecomeTheirMessages) {
    const Bytes data(128, 0x5A);
    ASSERT_FALSE(link.WriteMemory(0x2000, 128, data.data()));  // no port: recorded, not sent
    // A numeric version is two numbers, low byte first, and not announced
    // low-level; a text one is read up to its NUL and cut to 31 characters.
    // Acknowledgements of the wrong length are bad replies, program-update
    // ones of any length excepted; a clock acknowledgement carries its status
    // byte, a write acknowledgement the last write's count; 0x19 of 6 bytes,
    // unknown ids, empty payloads and a read reply with no read outstanding
    // give nothing.
    using namespace link;
    const std::pair<Bytes, std::vector<LinkMessage>> cases[] = {
        {hex("11 0100 1500"), version("1.21", false)},
        {text_reply("Ver1.23"), version("Ver1.23")},
        {hex("11"), version("")},
        {text_reply("V12"), version("V12")},
        {hex("11 41 00 42 43 44 45"), version("A")},
        {text_reply(std::string(40, 'x')), version(std::string(31, 'x'))},
        {hex("15"), one(msg(WM_LINK_ERASE_ACK))},
        {hex("15 00"), one(bad(0x15))},
        {hex("23"), one(msg(WM_LINK_ACK_23))},
        {hex("25"), one(msg(WM_LINK_PREPARE_ACK))},
        {hex("25 01"), one(bad(0x25))},
        {hex("29"), one(msg(WM_LINK_PROGRAM_ACK))},
        {hex("29 01 02 03"), one(msg(WM_LINK_PROGRAM_ACK))},
        {hex("2D 01 02"), one({WM_LINK_STATUS, 0, 2, {}, hex("01 02")})},
        {hex("2D 01 02 03 FF"), one({WM_LINK_STATUS, 0, 4, {}, hex("01 02 03 FF")})},
        {hex("2D 01"), one(bad(0x2D))},
        {hex("2F"), one(msg(WM_LINK_EXPIRY_ACK))},
        {hex("2F 00"), one(bad(0x2F))},
        {hex("3A 07"), one(msg(WM_LINK_CLOCK_ACK, 7))},
        {hex("3A"), one(bad(0x3A))},
        {hex("3A 00 00"), one(bad(0x3A))},
        {hex("19 01 02 03 04 05"), none},
        {hex("19"), one(bad(0x19))},
        {hex("F0 00"), one(bad(0xF0))},
        {hex("42 01 02"), none},
        {hex("13 00"), none},
        {Bytes{}, none},
        {hex("17"), one(msg(WM_LINK_WRITE_ACK, 0, 128))},
        {hex("17 00"), one(bad(0x17))}};
    for (const auto& [payload, expected] : cases) EXPECT_EQ(parse(payload), expected);
    for (std::uint8_t id : {0x1B, 0x1D, 0x1F, 0x21, 0xF0})
        EXPECT_EQ(parse({id}), std::vector<LinkMessage>{}) << "bare reply 0x" << std::hex << +id;
}

TEST_F(MessageParser, ReadReplyFillsTheRecordedDestinationOnlyWhenItsLengthMatches) {
    // No port: nothing is sent, but the destination and count are recorded.
    std::uint8_t area[256];
    std::memset(area, 0xEE, sizeof area);
    EXPECT_FALSE(link.ReadMemory(0x1D000, 128, area));
    Bytes reply{0x13};
    for (int i = 0; i < 128; ++i) reply.push_back(static_cast<std::uint8_t>(i * 3));

    EXPECT_EQ(parse(Bytes(reply.begin(), reply.end() - 1)), std::vector{bad(0x13)});
    EXPECT_EQ(area[0], 0xEE) << "a wrong-length reply copies nothing";
    EXPECT_EQ(parse(cat({reply, {0}})), std::vector{bad(0x13)});
    EXPECT_EQ(parse(reply),
              std::vector{msg(link::WM_LINK_READ_DATA, reinterpret_cast<WPARAM>(area), 128)});
    EXPECT_EQ(Bytes(area, area + 128), Bytes(reply.begin() + 1, reply.end()));
    EXPECT_EQ(area[128], 0xEE) << "nothing past the count";
}

TEST_F(MessageParser, OwnedPayloadsAreFreedWhenNeverDelivered) {
    // Under the address sanitizer a leaked version text or status block fails the run.
    const Bytes replies[] = {text_reply("Ver1.30"), hex("11 0100 1500"), hex("2D 01 02 03")};
    for (int round = 0; round < 2; ++round) {
        // First round queues them; destroying the window discards the queue with its
        // payloads. Second round posts to a window that is gone: freed at once.
        for (const auto& r : replies)
            link.ParseMessage(r.data(), static_cast<std::uint16_t>(r.size()));
        owner.destroy();
    }
    deliver_posted();
    EXPECT_TRUE(owner.messages().empty());
}

}  // namespace
}  // namespace stridelog::test
