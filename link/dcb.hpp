// Line settings record handed from the connection logic to the serial port.
#pragma once

#include <cstdint>

namespace stridelog::link {

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint8_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint8_t RTS_CONTROL_ENABLE = 1;

struct DCB {
    std::uint32_t BaudRate = 9600;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = NOPARITY;
    std::uint8_t StopBits = ONESTOPBIT;
    std::uint8_t fDtrControl = DTR_CONTROL_ENABLE;
    std::uint8_t fRtsControl = RTS_CONTROL_ENABLE;
};

}  // namespace stridelog::link
