// The frame codec as the receive thread uses it: every stream below is fed
// whole, byte by byte, and cut in two at every position, and must yield the
// same payloads each way.
#include <gtest/gtest.h>

#include "link/frame.hpp"
#include "link/watch_link.hpp"
#include "tests/link/link_fixtures.hpp"

namespace stridelog::test {
namespace {

Bytes repeat(std::uint8_t value, std::size_t count) {
    return Bytes(count, value);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kVersionRequest = hex("A0A2 0001 10 0010 B0B3");
const Bytes kStatusRequest = hex("A0A2 0001 2C 002C B0B3");

struct AssemblerCase {
    const char* legend;
    Bytes stream;
    std::vector<Bytes> payloads;
};

std::vector<AssemblerCase> assembler_cases() {
    // 200 bytes of 0x01 sum to 0x00C8, 201 to 0x00C9.
    const Bytes longest = concat({hex("A0A2 00C8"), repeat(0x01, 200), hex("00C8 B0B3")});
    const Bytes too_long = concat({hex("A0A2 00C9"), repeat(0x01, 201), hex("00C9 B0B3")});
    return {
        {"one frame", kVersionRequest, {hex("10")}},
        {"two frames back to back, in order",
         concat({kVersionRequest, kStatusRequest}),
         {hex("10"), hex("2C")}},
        {"garbage, a trailer and A0 11 before the frame are skipped",
         concat({hex("00 FF B3 A0 11 B0 B3"), kVersionRequest}),
         {hex("10")}},
        {"A0 A0 A2 loses its frame; the next one survives",
         concat({hex("A0"), kVersionRequest, kStatusRequest}),
         {hex("2C")}},
        {"wrong checksum: nothing", hex("A0A2 0001 10 0011 B0B3"), {}},
        {"checksum bit 15 set is not the checksum", hex("A0A2 0001 10 8010 B0B3"), {}},
        {"wrong trailer drops the frame, hunting resumes",
         concat({hex("A0A2 0001 10 0010 B0B4"), kStatusRequest}),
         {hex("2C")}},
        {"empty payload is handed on empty", hex("A0A2 0000 0000 B0B3"), {Bytes{}}},
        {"200 payload bytes accepted", longest, {repeat(0x01, 200)}},
        {"201 announced: header dropped, next frame kept",
         concat({too_long, kStatusRequest}),
         {hex("2C")}},
        {"length high byte set: dropped", concat({hex("A0A2 0101"), kVersionRequest}), {hex("10")}},
        {"frame inside a frame's payload is not a frame",
         concat({hex("A0A2 0009"), hex("A0A2 0001 10 0010 B0B3"), hex("02C6 B0B3")}),
         {hex("A0A2 0001 10 0010 B0B3")}},
    };
}

std::vector<Bytes> feed_in_pieces(const Bytes& stream, const std::vector<std::size_t>& cuts) {
    wire::FrameAssembler assembler;
    std::vector<Bytes> out;
    std::size_t from = 0;
    auto take = [&](std::size_t to) {
        assembler.feed(
            std::span(stream.data() + from, to - from),
            [&](std::span<const std::uint8_t> p) { out.emplace_back(p.begin(), p.end()); });
        from = to;
    };
    for (std::size_t cut : cuts) take(cut);
    take(stream.size());
    return out;
}

TEST(FrameAssembler, SameResultWholeBytewiseAndSplitAnywhere) {
    for (const auto& c : assembler_cases()) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(feed_in_pieces(c.stream, {}), c.payloads);
        std::vector<std::size_t> every;
        for (std::size_t i = 1; i < c.stream.size(); ++i) every.push_back(i);
        EXPECT_EQ(feed_in_pieces(c.stream, every), c.payloads) << "byte by byte";
        for (std::size_t cut = 1; cut < c.stream.size(); ++cut)
            ASSERT_EQ(feed_in_pieces(c.stream, {cut}), c.payloads) << "cut at " << cut;
    }
}

TEST(FrameEncoding, ChecksumAndLayout) {
    struct Case {
        const char* legend;
        Bytes payload;
        std::uint16_t checksum;
    };
    const Case cases[] = {
        {"one byte", hex("10"), 0x0010},
        {"sum 40000 wraps at 32768", repeat(250, 160), 0x1C40},
        {"sum exactly 32768 is 0", repeat(128, 256), 0x0000},
        {"empty", Bytes{}, 0x0000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(CWatchLink::ComputeChecksum(c.payload.data(), c.payload.size()), c.checksum);
        if (c.payload.size() > wire::kMaxSendPayload) continue;
        const Bytes frame = wire::encode_frame(c.payload);
        const Bytes expected = concat({hex("A0A2"),
                                       {0x00, static_cast<std::uint8_t>(c.payload.size())},
                                       c.payload,
                                       {static_cast<std::uint8_t>(c.checksum >> 8),
                                        static_cast<std::uint8_t>(c.checksum & 0xFF)},
                                       hex("B0B3")});
        EXPECT_EQ(frame, expected);
    }
    EXPECT_EQ(wire::encode_frame(hex("10")), kVersionRequest);
}

}  // namespace
}  // namespace stridelog::test
