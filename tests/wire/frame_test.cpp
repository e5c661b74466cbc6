// The frame on the wire, pinned from bytes written out by hand: the SDK and the
// simulator build and cut frames with this same code, so a fault here would go
// unseen between them.
#include "wire/frame.hpp"

#include <gtest/gtest.h>

#include "tests/support/wire_helpers.hpp"
#include "wire/message_ids.hpp"

namespace stridelog::test {
namespace {

const Bytes kVersionRequest = hex("A0A2 0001 10 0010 B0B3");
const Bytes kStatusRequest = hex("A0A2 0001 2C 002C B0B3");

TEST(FrameEncoding, PayloadToExactBytes) {
    const struct {
        const char* legend;
        Bytes payload;
        Bytes frame;
    } cases[] = {
        {"one byte", hex("10"), kVersionRequest},
        {"empty payload", {}, hex("A0A2 0000 0000 B0B3")},
        {"read command", hex("12 00D001 80"), hex("A0A2 0005 12 00D001 80 0163 B0B3")},
        {"expiry command", hex("2E 0C0304"), hex("A0A2 0004 2E 0C0304 0041 B0B3")},
        {"sum 40000: bit 15 dropped", Bytes(160, 250),
         cat({hex("A0A2 00A0"), Bytes(160, 250), hex("1C40 B0B3")})},
        {"sum 32768 is 0; length 256 uses the high byte", Bytes(256, 128),
         cat({hex("A0A2 0100"), Bytes(256, 128), hex("0000 B0B3")})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        EXPECT_EQ(wire::encode_frame(c.payload), c.frame);
        Bytes out(c.frame.size(), 0xEE);
        EXPECT_EQ(wire::encode_frame(c.payload, out), c.frame.size()) << "exact fit";
        EXPECT_EQ(out, c.frame);
        Bytes small(c.frame.size() - 1, 0xEE);
        EXPECT_EQ(wire::encode_frame(c.payload, small), 0u) << "one byte short";
        EXPECT_EQ(small, Bytes(c.frame.size() - 1, 0xEE)) << "nothing written";
    }
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

// Every stream is fed whole, byte by byte, and cut in two at every position,
// and must yield the same payloads.
TEST(FrameAssembler, BytesToPayloadsWholeBytewiseAndSplitAnywhere) {
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
        {"wrong first start byte",
         cat({hex("A1A2 0001 10 0010 B0B3"), kStatusRequest}),
         {hex("2C")}},
        {"wrong second start byte",
         cat({hex("A0A3 0001 10 0010 B0B3"), kStatusRequest}),
         {hex("2C")}},
        {"wrong checksum: nothing", hex("A0A2 0001 10 0011 B0B3"), {}},
        {"checksum high byte wrong", hex("A0A2 0001 10 0110 B0B3"), {}},
        {"checksum bit 15 set is not the checksum", hex("A0A2 0001 10 8010 B0B3"), {}},
        {"wrong second end byte drops the frame, hunting resumes",
         cat({hex("A0A2 0001 10 0010 B0B4"), kStatusRequest}),
         {hex("2C")}},
        {"wrong first end byte", cat({hex("A0A2 0001 10 0010 B1B3"), kStatusRequest}), {hex("2C")}},
        {"stream ends inside a frame: nothing", hex("A0A2 0005 12 00D0"), {}},
        {"header alone: nothing", hex("A0A2 0001"), {}},
        {"frame shorter than announced swallows the next one's start",
         cat({hex("A0A2 0005 10 0010 B0B3"), kStatusRequest, kVersionRequest}),
         {hex("10")}},
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

// The ids are shared by both ends too; each is pinned to its byte.
TEST(MessageIds, EachIdIsItsByteOnTheWire) {
    using namespace wire::watch_id;
    const std::pair<std::uint8_t, int> ids[] = {
        {kGetVersion, 0x10},         {kVersionReply, 0x11},  {kReadMemory, 0x12},
        {kReadReply, 0x13},          {kEraseSector, 0x14},   {kEraseReply, 0x15},
        {kWriteMemory, 0x16},        {kWriteReply, 0x17},    {kUnused19, 0x19},
        {kUnused1B, 0x1B},           {kUnused1D, 0x1D},      {kUnused1F, 0x1F},
        {kUnused21, 0x21},           {kAck23, 0x23},         {kPrepareWrite, 0x24},
        {kPrepareWriteReply, 0x25},  {kProgramUpdate, 0x28}, {kProgramUpdateReply, 0x29},
        {kGetStatus, 0x2C},          {kStatusReply, 0x2D},   {kSetExpiryDate, 0x2E},
        {kSetExpiryDateReply, 0x2F}, {kSetClock, 0x39},      {kSetClockReply, 0x3A},
        {kUnusedF0, 0xF0},
    };
    for (const auto& [id, byte] : ids) EXPECT_EQ(id, byte);
}

}  // namespace
}  // namespace stridelog::test
