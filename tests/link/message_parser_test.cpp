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

class MessageParser : public ::testing::Test {
  protected:
    std::vector<LinkMessage> parse(const Bytes& payload) {
        owner.messages().clear();
        link.ParseMessage(payload.data(), static_cast<std::uint16_t>(payload.size()));
        owner.pump();
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
    const struct {
        const char* legend;
        Bytes payload;
        std::vector<LinkMessage> expected;
    } cases[] = {
        {"numeric version: two LE numbers", hex("11 0100 1500"), version("1.21", false)},

        {"text version, announced low-level too", text_reply("Ver1.23"), version("Ver1.23")},
        {"one-byte version reply: empty text", hex("11"), version("")},
        {"three text bytes are not numeric", text_reply("V12"), version("V12")},
        {"text read up to its first NUL", hex("11 41 00 42 43 44 45"), version("A")},
        {"40 characters cut to 31", text_reply(std::string(40, 'x')),
         version(std::string(31, 'x'))},
        {"erase ack", hex("15"), {msg(link::WM_LINK_ERASE_ACK)}},
        {"erase ack too long", hex("15 00"), {bad(0x15)}},
        {"ack 0x23", hex("23"), {msg(link::WM_LINK_ACK_23)}},
        {"prepare-write ack", hex("25"), {msg(link::WM_LINK_PREPARE_ACK)}},
        {"prepare-write ack too long", hex("25 01"), {bad(0x25)}},
        {"program-update ack, bare", hex("29"), {msg(link::WM_LINK_PROGRAM_ACK)}},
        {"program-update ack, any length", hex("29 01 02 03"), {msg(link::WM_LINK_PROGRAM_ACK)}},
        {"status of 2 bytes", hex("2D 01 02"), {{link::WM_LINK_STATUS, 0, 2, {}, hex("01 02")}}},
        {"status of 4",
         hex("2D 01 02 03 FF"),
         {{link::WM_LINK_STATUS, 0, 4, {}, hex("01 02 03 FF")}}},
        {"status of 1 byte is bad", hex("2D 01"), {bad(0x2D)}},
        {"expiry ack", hex("2F"), {msg(link::WM_LINK_EXPIRY_ACK)}},
        {"expiry ack too long", hex("2F 00"), {bad(0x2F)}},
        {"clock ack carries its status byte", hex("3A 07"), {msg(link::WM_LINK_CLOCK_ACK, 7)}},
        {"clock ack without status byte", hex("3A"), {bad(0x3A)}},
        {"clock ack too long", hex("3A 00 00"), {bad(0x3A)}},
        {"0x19 of 6 bytes: nothing", hex("19 01 02 03 04 05"), {}},
        {"0x19 of another length", hex("19"), {bad(0x19)}},
        {"0xF0 too long", hex("F0 00"), {bad(0xF0)}},
        {"unknown id", hex("42 01 02"), {}},
        {"read reply with no read outstanding changes nothing", hex("13 00"), {}},
        {"empty payload", Bytes{}, {}},
        {"write ack carries the last write's count",
         hex("17"),
         {msg(link::WM_LINK_WRITE_ACK, 0, 128)}},
        {"write ack too long", hex("17 00"), {bad(0x17)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(parse(c.payload), c.expected);
    }
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
    owner.pump();
    EXPECT_TRUE(owner.messages().empty());
}

}  // namespace
}  // namespace stridelog::test
