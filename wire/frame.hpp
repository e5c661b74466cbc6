// The watch's frame, identical in both directions:
//   A0 A2 | length (16-bit BE) | payload (first byte: message id) | checksum (15-bit BE) | B0 B3
// Shared by the SDK and the watch simulator: it is the wire format, nothing more.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace stridelog::wire {

inline constexpr std::uint8_t kStart1 = 0xA0;
inline constexpr std::uint8_t kStart2 = 0xA2;
inline constexpr std::uint8_t kEnd1 = 0xB0;
inline constexpr std::uint8_t kEnd2 = 0xB3;
inline constexpr std::size_t kHeaderSize = 4;   // start pair + length
inline constexpr std::size_t kTrailerSize = 4;  // checksum + end pair
inline constexpr std::size_t kOverhead = kHeaderSize + kTrailerSize;
// Longest payload the watch may send; longer announcements are dropped.
inline constexpr std::size_t kMaxReceivePayload = 200;
// The sender writes the length in one byte.
inline constexpr std::size_t kMaxSendPayload = 255;
inline constexpr std::size_t kAssemblyBufferSize = 256;

// Sum of the bytes modulo 32768.
std::uint16_t compute_checksum(std::span<const std::uint8_t> bytes);

// Writes the frame of `payload` into `out` (payload.size() + 8 bytes) and returns
// its length, or 0 when out is too small.
std::size_t encode_frame(std::span<const std::uint8_t> payload, std::span<std::uint8_t> out);
std::vector<std::uint8_t> encode_frame(std::span<const std::uint8_t> payload);

// Cuts a byte stream back into payloads. Fed any number of bytes at a time;
// hands each payload whose header, length, checksum and trailer agree to the
// callback, as a span into its own buffer (valid during the call). Every
// malformed input returns it to hunting for A0 A2. No I/O, no allocation.
class FrameAssembler {
  public:
    template <class OnPayload>
    void feed(std::span<const std::uint8_t> bytes, OnPayload&& on_payload) {
        for (std::uint8_t b : bytes)
            if (push(b))
                on_payload(
                    std::span<const std::uint8_t>(buffer_.data() + kHeaderSize, expected_done_));
    }

    // Frames handed on and frames dropped for a bad checksum or trailer (diagnostics).
    std::size_t frames() const { return frames_; }
    std::size_t rejected() const { return rejected_; }
    void reset();

  private:
    static constexpr std::uint16_t kUnknown = 0xFFFF;
    // True when b completed a valid frame whose payload length is expected_done_.
    bool push(std::uint8_t b);

    std::array<std::uint8_t, kAssemblyBufferSize> buffer_{};
    std::uint16_t count_ = 0;
    std::uint16_t expected_ = kUnknown;
    std::uint16_t expected_done_ = 0;
    std::size_t frames_ = 0;
    std::size_t rejected_ = 0;
};

}  // namespace stridelog::wire
