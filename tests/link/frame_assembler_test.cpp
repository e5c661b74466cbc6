// The frame codec as the receive thread uses it: every stream is fed whole, byte
// by byte, and cut in two at every position, and must yield the same payloads.
#include <gtest/gtest.h>

#include "wire/frame.hpp"
#include "link/watch_link.hpp"
#include "tests/link/link_fixtures.hpp"

namespace stridelog::test {
namespace {

const Bytes kVersionRequest = hex("A0A2 0001 10 0010 B0B3");
const Bytes kStatusRequest = hex("A0A2 0001 2C 002C B0B3");

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
    // 200 bytes of 0x01 sum to 0x00C8, 201 to 0x00C9.
    const struct {
        const char* legend;
        Bytes stream;
        std::vector<Bytes> payloads;
    } cases[] = {
        {"one frame", kVersionRequest, {hex("10")}},
        {"two frames in order", cat({kVersionRequest, kStatusRequest}), {hex("10"), hex("2C")}},
        {"garbage, a trailer and A0 11 are skipped",
         cat({hex("00 FF B3 A0 11 B0 B3"), kVersionRequest}),
         {hex("10")}},
        {"A0 A0 A2 loses its frame; the next survives",
         cat({hex("A0"), kVersionRequest, kStatusRequest}),
         {hex("2C")}},
        {"wrong checksum: nothing", hex("A0A2 0001 10 0011 B0B3"), {}},
        {"checksum bit 15 set is not the checksum", hex("A0A2 0001 10 8010 B0B3"), {}},
        {"wrong trailer drops the frame, hunting resumes",
         cat({hex("A0A2 0001 10 0010 B0B4"), kStatusRequest}),
         {hex("2C")}},
        {"empty payload is handed on empty", hex("A0A2 0000 0000 B0B3"), {Bytes{}}},
        {"200 payload bytes accepted",
         cat({hex("A0A2 00C8"), Bytes(200, 1), hex("00C8 B0B3")}),
         {Bytes(200, 1)}},
        {"201 announced: header dropped, next frame kept",
         cat({hex("A0A2 00C9"), Bytes(201, 1), hex("00C9 B0B3"), kStatusRequest}),
         {hex("2C")}},
        {"length high byte set: dropped", cat({hex("A0A2 0101"), kVersionRequest}), {hex("10")}},
        {"frame inside a frame's payload is not a frame",
         cat({hex("A0A2 0009"), kVersionRequest, hex("02C6 B0B3")}),
         {kVersionRequest}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(feed_in_pieces(c.stream, {}), c.payloads);
        std::vector<std::size_t> every;
        for (std::size_t i = 1; i < c.stream.size(); ++i) every.push_back(i);
        EXPECT_EQ(feed_in_pieces(c.stream, every), c.payloads) << "byte by byte";
        for (std::size_t cut = 1; cut < c.stream.size(); ++cut)
            ASSERT_EQ(feed_in_pieces(c.stream, {cut}), c.payloads) << "cut at " << cut;
    }
}

TEST(FrameEncoding, ChecksumIsTheByteSumModulo32768) {
    const Bytes sum_40000(160, 250);
    EXPECT_EQ(wire::compute_checksum(sum_40000), 0x1C40);
    const Bytes sum_32768(256, 128);
    EXPECT_EQ(wire::compute_checksum(sum_32768), 0);
    EXPECT_EQ(wire::encode_frame(sum_40000), cat({hex("A0A2 00A0"), sum_40000, hex("1C40 B0B3")}));
}

}  // namespace
}  // namespace stridelog::test
