// Private messages from the watch link's receive thread (and the task window
// itself) to the task window. wParam/lParam as noted; "owns" means the
// message carries a payload its receiver takes (link/owned_payload.hpp).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/owned_payload.hpp"
#include "stridelog/win_types.h"
#include "wire/message_ids.hpp"

namespace stridelog::link {

inline constexpr UINT WM_LINK_BAD_REPLY = 0xbd2;  // lParam: the reply's id byte
inline constexpr UINT WM_LINK_VERSION = 0xbd4;    // wParam: owns the version text
inline constexpr UINT WM_LINK_READ_DATA = 0xbd7;  // wParam: destination, lParam: count copied
inline constexpr UINT WM_LINK_WRITE_ACK = 0xbd8;  // lParam: write count
inline constexpr UINT WM_LINK_ERASE_ACK = 0xbd9;
inline constexpr UINT WM_LINK_ACK_23 = 0xbe1;
inline constexpr UINT WM_LINK_PREPARE_ACK = 0xbe2;
inline constexpr UINT WM_LINK_PROGRAM_ACK = 0xbe3;
inline constexpr UINT WM_LINK_STATUS = 0xbe4;  // wParam: owns the status bytes, lParam: their count
inline constexpr UINT WM_LINK_EXPIRY_ACK = 0xbe5;
inline constexpr UINT WM_LINK_CLOCK_ACK = 0xbe6;     // wParam: the reply's status byte
inline constexpr UINT WM_READ_CHUNK_STORED = 0xc34;  // posted by the task window to itself
// Posted to the host window when a sector-write step finds no open link.
inline constexpr UINT WM_NO_LINK_FOR_WRITE = 0xcaa;

// The acknowledgements of the commands an operation sends itself, which the
// task window hands to the running operation: the message, the reply it
// stands for, and whether wParam carries the reply's status byte. A new
// command with a plain acknowledgement needs only its row here.
struct OperationAcknowledgement {
    UINT message;
    std::uint8_t reply_id;
    bool status_in_wparam;
};
inline constexpr std::array<OperationAcknowledgement, 3> kOperationAcknowledgements{{
    {WM_LINK_EXPIRY_ACK, wire::watch_id::kSetExpiryDateReply, false},
    {WM_LINK_PROGRAM_ACK, wire::watch_id::kProgramUpdateReply, false},
    {WM_LINK_CLOCK_ACK, wire::watch_id::kSetClockReply, true},
}};

// The payloads of the two replies that carry data.
inline constexpr link::PayloadMessage<std::string> kVersionTextMessage{WM_LINK_VERSION};
inline constexpr link::PayloadMessage<std::vector<std::uint8_t>> kStatusBytesMessage{
    WM_LINK_STATUS};

// Registered message the parser posts with every text version reply.
inline constexpr const char* kLowLevelMessageName = "Stride_Log_LowLevel";

}  // namespace stridelog::link
