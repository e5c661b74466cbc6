// Message ids of the watch protocol, written once for the SDK and the simulator.
#pragma once

#include <cstdint>

namespace stridelog::wire {

// Commands are even, replies the next odd id.
namespace watch_id {
inline constexpr std::uint8_t kGetVersion = 0x10;
inline constexpr std::uint8_t kVersionReply = 0x11;
inline constexpr std::uint8_t kReadMemory = 0x12;
inline constexpr std::uint8_t kReadReply = 0x13;
inline constexpr std::uint8_t kEraseSector = 0x14;
inline constexpr std::uint8_t kEraseReply = 0x15;
inline constexpr std::uint8_t kWriteMemory = 0x16;
inline constexpr std::uint8_t kWriteReply = 0x17;
inline constexpr std::uint8_t kUnused19 = 0x19;
inline constexpr std::uint8_t kUnused1B = 0x1B;
inline constexpr std::uint8_t kUnused1D = 0x1D;
inline constexpr std::uint8_t kUnused1F = 0x1F;
inline constexpr std::uint8_t kUnused21 = 0x21;
inline constexpr std::uint8_t kAck23 = 0x23;
inline constexpr std::uint8_t kPrepareWrite = 0x24;
inline constexpr std::uint8_t kPrepareWriteReply = 0x25;
inline constexpr std::uint8_t kProgramUpdate = 0x28;
inline constexpr std::uint8_t kProgramUpdateReply = 0x29;
inline constexpr std::uint8_t kGetStatus = 0x2C;
inline constexpr std::uint8_t kStatusReply = 0x2D;
inline constexpr std::uint8_t kSetExpiryDate = 0x2E;
inline constexpr std::uint8_t kSetExpiryDateReply = 0x2F;
inline constexpr std::uint8_t kSetClock = 0x39;
inline constexpr std::uint8_t kSetClockReply = 0x3A;
inline constexpr std::uint8_t kUnusedF0 = 0xF0;
}  // namespace watch_id

}  // namespace stridelog::wire
