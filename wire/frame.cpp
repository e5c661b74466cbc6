#include "wire/frame.hpp"

namespace stridelog::wire {

std::uint16_t compute_checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint16_t>(sum & 0x7FFF);
}

std::size_t encode_frame(std::span<const std::uint8_t> payload, std::span<std::uint8_t> out) {
    const std::size_t n = payload.size();
    if (n > 0xFFFF || out.size() < n + kOverhead) return 0;
    const std::uint16_t sum = compute_checksum(payload);
    out[0] = kStart1;
    out[1] = kStart2;
    out[2] = static_cast<std::uint8_t>(n >> 8);
    out[3] = static_cast<std::uint8_t>(n & 0xFF);
    for (std::size_t i = 0; i < n; ++i) out[kHeaderSize + i] = payload[i];
    out[kHeaderSize + n] = static_cast<std::uint8_t>(sum >> 8);
    out[kHeaderSize + n + 1] = static_cast<std::uint8_t>(sum & 0xFF);
    out[kHeaderSize + n + 2] = kEnd1;
    out[kHeaderSize + n + 3] = kEnd2;
    return n + kOverhead;
}

std::vector<std::uint8_t> encode_frame(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out(payload.size() + kOverhead);
    out.resize(encode_frame(payload, out));
    return out;
}

void FrameAssembler::reset() {
    count_ = 0;
    expected_ = kUnknown;
}

bool FrameAssembler::push(std::uint8_t b) {
    buffer_[count_++] = b;
    if (expected_ != kUnknown) {
        const std::size_t total = std::size_t{expected_} + kOverhead;
        if (count_ < total) return false;
        // count_ == total: the frame is complete, good or bad; hunt again either way.
        const std::uint16_t length = expected_;
        const std::uint8_t* p = buffer_.data();
        bool valid = p[length + 6] == kEnd1 && p[length + 7] == kEnd2;
        if (valid) {
            const std::uint16_t sum =
                compute_checksum(std::span<const std::uint8_t>(p + kHeaderSize, length));
            valid = p[length + 4] == (sum >> 8) && p[length + 5] == (sum & 0xFF);
        }
        count_ = 0;
        expected_ = kUnknown;
        if (!valid) {
            ++rejected_;
            return false;
        }
        ++frames_;
        expected_done_ = length;
        return true;
    }
    if (buffer_[0] != kStart1) {
        count_ = 0;
    } else if (count_ >= 2 && buffer_[1] != kStart2) {
        count_ = 0;  // both bytes go, even when the second was itself A0
    } else if (count_ == kHeaderSize) {
        const std::uint16_t length = static_cast<std::uint16_t>(buffer_[2] << 8 | buffer_[3]);
        if (length > kMaxReceivePayload) {
            count_ = 0;
        } else {
            expected_ = length;
        }
    }
    return false;
}

}  // namespace stridelog::wire
