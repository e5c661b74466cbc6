// The frame on the wire, pinned from bytes written out by hand: the SDK and the
// simulator build and cut frames with this same code, so a fault here would go
// unseen between them.
#include "wire/frame.hpp"

#include <gtest/gtest.h>

#include "tests/support/golden.hpp"
#include "tests/support/wire_helpers.hpp"
#include "wire/message_ids.hpp"

namespace stridelog::test {
namespace {

const Bytes kVersionRequest = hex("A0A2 0001 10 0010 B0B3");
const Bytes kStatusRequest = hex("A0A2 0001 2C 002C B0B3");

// Each payload and its frame are a line of the golden file: a sum of 40000
// loses bit 15, 32768 is 0, a length of 256 uses the high byte.
TEST(FrameEncoding, PayloadToExactBytes) {
    std::string text;
    for (const Bytes& payload : {hex("10"), Bytes{}, hex("12 00D001 80"), hex("2E 0C0304"),
                                 Bytes(160, 250), Bytes(256, 128)}) {
        const Bytes frame = wire::encode_frame(payload);
        text += "[" + bytes_text(payload, 8) + "] -> " + bytes_text(std::span(frame).first(4)) +
                " ... " + bytes_text(std::span(frame).last(4)) + "\n";
        EXPECT_EQ(Bytes(frame.begin() + 4, frame.end() - 4), payload);
        Bytes out(frame.size(), 0xEE);
        EXPECT_EQ(wire::encode_frame(payload, out), frame.size()) << "exact fit";
        EXPECT_EQ(out, frame);
        Bytes small(frame.size() - 1, 0xEE);
        EXPECT_EQ(wire::encode_frame(payload, small), 0u) << "one byte short";
        EXPECT_EQ(small, Bytes(frame.size() - 1, 0xEE)) << "nothing written";
    }
    expect_golden("wire/encoded", text);
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
// and must yield the same payloads; each stream and its payloads are a line of
// the golden file.
TEST(FrameAssembler, BytesToPayloadsWholeBytewiseAndSplitAnywhere) {
    const Bytes streams[] = {
        kVersionRequest, cat({kVersionRequest, kStatusRequest}),
        cat({hex("00 FF B3 A0 11 B0 B3"), kVersionRequest}),  // garbage, a trailer and A0 11
        cat({hex("A0"), kVersionRequest, kStatusRequest}),    // A0 A0 A2 loses its frame
        cat({hex("A1A2 0001 10 0010 B0B3"), kStatusRequest}),
        cat({hex("A0A3 0001 10 0010 B0B3"), kStatusRequest}), hex("A0A2 0001 10 0011 B0B3"),
        hex("A0A2 0001 10 0110 B0B3"),
        hex("A0A2 0001 10 8010 B0B3"),  // bit 15 set is not the checksum
        cat({hex("A0A2 0001 10 0010 B0B4"), kStatusRequest}),
        cat({hex("A0A2 0001 10 0010 B1B3"), kStatusRequest}),
        hex("A0A2 0005 12 00D0"),  // ends inside a frame
        hex("A0A2 0001"),
        // Shorter than announced: swallows the next one's start.
        cat({hex("A0A2 0005 10 0010 B0B3"), kStatusRequest, kVersionRequest}),
        hex("A0A2 0000 0000 B0B3"),
        cat({hex("A0A2 00C8"), Bytes(200, 1), hex("00C8 B0B3")}),  // the longest accepted
        cat({hex("A0A2 00C9"), Bytes(201, 1), hex("00C9 B0B3"), kStatusRequest}),
        cat({hex("A0A2 0101"), kVersionRequest}),
        cat({hex("A0A2 0009"), kVersionRequest, hex("02C6 B0B3")}),  // a frame inside a payload
    };
    std::string text;
    for (const Bytes& stream : streams) {
        const std::vector<Bytes> payloads = feed_in_pieces(stream, {});
        text += "[" + bytes_text(stream, 24) + "] ->";
        for (const Bytes& p : payloads) text += " [" + bytes_text(p, 24) + "]";
        text += "\n";
        std::vector<std::size_t> every;
        for (std::size_t i = 1; i < stream.size(); ++i) every.push_back(i);
        EXPECT_EQ(feed_in_pieces(stream, every), payloads) << "byte by byte";
        for (std::size_t cut = 1; cut < stream.size(); ++cut)
            ASSERT_EQ(feed_in_pieces(stream, {cut}), payloads) << "cut at " << cut;
    }
    expect_golden("wire/assembled", text);
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
