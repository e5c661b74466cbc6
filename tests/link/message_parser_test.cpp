// The reply parser as the task window sees it: each reply payload is handed to
// ParseMessage and the messages that reach the owner window are compared.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/watch_link.hpp"
#include "tests/link/link_fixtures.hpp"

namespace stridelog::test {
namespace {

Bytes text_reply(const std::string& text) {
    Bytes out(text.size() + 1, 0x11);
    for (std::size_t i = 0; i < text.size(); ++i) out[i + 1] = static_cast<std::uint8_t>(text[i]);
    return out;
}

LinkMessage msg(UINT m, WPARAM w = 0, LPARAM l = 0) {
    return {m, w, l, {}, {}};
}
LinkMessage version(const std::string& text) {
    return {WM_LINK_VERSION, 0, 0, text, {}};
}
LinkMessage status(Bytes block) {
    const auto size = static_cast<LPARAM>(block.size());
    return {WM_LINK_STATUS, 0, size, {}, std::move(block)};
}
LinkMessage bad(std::uint8_t id) {
    return msg(WM_LINK_BAD_REPLY, 0, id);
}

class MessageParser : public ::testing::Test {
  protected:
    std::vector<LinkMessage> parse(const Bytes& payload) {
        owner.messages().clear();
        link.ParseMessage(payload.data(), static_cast<std::uint16_t>(payload.size()));
        owner.pump();
        return owner.messages();
    }
    OwnerWindow owner;
    CWatchLink link{owner.hwnd()};
};

TEST_F(MessageParser, RepliesBecomeTheirMessages) {
    const LinkMessage low_level = msg(owner.low_level(), WM_LINK_VERSION, 0);
    struct Case {
        const char* legend;
        Bytes payload;
        std::vector<LinkMessage> expected;
    };
    const Case cases[] = {
        {"numeric version: two LE numbers", hex("11 0100 1500"), {version("1.21")}},
        {"numeric version 0.0", hex("11 0000 0000"), {version("0.0")}},
        {"text version, announced low-level too",
         text_reply("Ver1.23"),
         {version("Ver1.23"), low_level}},
        {"one-byte version reply: empty text", hex("11"), {version(""), low_level}},
        {"three text bytes are not numeric", text_reply("V12"), {version("V12"), low_level}},
        {"text read up to its first NUL", hex("11 41 00 42 43 44 45"), {version("A"), low_level}},
        {"text of 40 characters cut to 31",
         text_reply(std::string(40, 'x')),
         {version(std::string(31, 'x')), low_level}},
        {"erase ack", hex("15"), {msg(WM_LINK_ERASE_ACK)}},
        {"erase ack too long", hex("15 00"), {bad(0x15)}},
        {"ack 0x23", hex("23"), {msg(WM_LINK_ACK_23)}},
        {"prepare-write ack", hex("25"), {msg(WM_LINK_PREPARE_ACK)}},
        {"prepare-write ack too long", hex("25 01"), {bad(0x25)}},
        {"program-update ack, bare", hex("29"), {msg(WM_LINK_PROGRAM_ACK)}},
        {"program-update ack, any length", hex("29 01 02 03"), {msg(WM_LINK_PROGRAM_ACK)}},
        {"status of 2 bytes", hex("2D 01 02"), {status(hex("01 02"))}},
        {"status of 4 bytes", hex("2D 01 02 03 FF"), {status(hex("01 02 03 FF"))}},
        {"status of 1 byte is bad", hex("2D 01"), {bad(0x2D)}},
        {"status with no bytes is bad", hex("2D"), {bad(0x2D)}},
        {"expiry ack", hex("2F"), {msg(WM_LINK_EXPIRY_ACK)}},
        {"expiry ack too long", hex("2F 00"), {bad(0x2F)}},
        {"clock ack carries its status byte", hex("3A 00"), {msg(WM_LINK_CLOCK_ACK, 0)}},
        {"clock ack status 7", hex("3A 07"), {msg(WM_LINK_CLOCK_ACK, 7)}},
        {"clock ack without status byte", hex("3A"), {bad(0x3A)}},
        {"clock ack too long", hex("3A 00 00"), {bad(0x3A)}},
        {"0x19 of 6 bytes: nothing", hex("19 01 02 03 04 05"), {}},
        {"0x19 of another length", hex("19"), {bad(0x19)}},
        {"0x1B bare: nothing", hex("1B"), {}},
        {"0x1D bare: nothing", hex("1D"), {}},
        {"0x1F bare: nothing", hex("1F"), {}},
        {"0x21 bare: nothing", hex("21"), {}},
        {"0xF0 bare: nothing", hex("F0"), {}},
        {"0xF0 too long", hex("F0 00"), {bad(0xF0)}},
        {"unknown id", hex("42 01 02"), {}},
        {"read reply with no read outstanding", hex("13 00"), {bad(0x13)}},
        {"empty payload", Bytes{}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(parse(c.payload), c.expected);
    }
}

TEST_F(MessageParser, ReadReplyCopiesIntoRecordedDestinationOnlyWhenCountMatches) {
    std::uint8_t area[256];
    std::memset(area, 0xEE, sizeof area);
    // No port: nothing is sent, but the destination and count are recorded.
    EXPECT_FALSE(link.ReadMemory(0x1D000, 128, area));

    Bytes short_reply{0x13};
    for (int i = 0; i < 127; ++i) short_reply.push_back(static_cast<std::uint8_t>(i));
    EXPECT_EQ(parse(short_reply), std::vector<LinkMessage>{bad(0x13)});
    EXPECT_EQ(area[0], 0xEE) << "a wrong-length reply copies nothing";

    Bytes reply{0x13};
    for (int i = 0; i < 128; ++i) reply.push_back(static_cast<std::uint8_t>(i * 3));
    EXPECT_EQ(parse(reply), std::vector<LinkMessage>{
                                msg(WM_LINK_READ_DATA, reinterpret_cast<WPARAM>(area), 128)});
    EXPECT_EQ(Bytes(area, area + 128), Bytes(reply.begin() + 1, reply.end()));
    EXPECT_EQ(area[128], 0xEE) << "nothing past the count";

    Bytes long_reply = reply;
    long_reply.push_back(0);
    EXPECT_EQ(parse(long_reply), std::vector<LinkMessage>{bad(0x13)});
}

TEST_F(MessageParser, WriteAckCarriesTheLastWriteCount) {
    const Bytes data(128, 0x5A);
    EXPECT_FALSE(link.WriteMemory(0x2000, 128, data.data()));  // no port: recorded, not sent
    EXPECT_EQ(parse(hex("17")), std::vector<LinkMessage>{msg(WM_LINK_WRITE_ACK, 0, 128)});
    EXPECT_EQ(parse(hex("17 00")), std::vector<LinkMessage>{bad(0x17)});
}

TEST(MessageParserOwnership, OwnedPayloadsAreFreedWhenNeverDelivered) {
    // Run under the address sanitizer: a leak of the version text or the status
    // block fails the run.
    auto* owner = new OwnerWindow;
    CWatchLink link(owner->hwnd());
    const Bytes replies[] = {text_reply("Ver1.30"), hex("11 0100 1500"), hex("2D 01 02 03")};
    for (const auto& r : replies) link.ParseMessage(r.data(), static_cast<std::uint16_t>(r.size()));
    owner->destroy();              // queued messages are discarded with their payloads
    for (const auto& r : replies)  // and posting to a window that is gone frees at once
        link.ParseMessage(r.data(), static_cast<std::uint16_t>(r.size()));
    owner->pump();
    EXPECT_TRUE(owner->messages().empty());
    delete owner;
}

}  // namespace
}  // namespace stridelog::test
