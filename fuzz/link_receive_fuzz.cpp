// Arbitrary bytes from the line through the frame assembler and the reply
// parser, the way the receive thread handles them. The parser's messages are
// delivered and freed, so a leak or an overrun shows up.
#include "fuzz_target.hpp"
#include "link/link_messages.hpp"
#include "link/watch_link.hpp"
#include "platform/window_system.hpp"
#include "wire/frame.hpp"

using namespace stridelog;

FUZZ_TARGET(input) {
    static HWND owner = platform::create_window([](HWND, UINT message, WPARAM wparam, LPARAM) {
        // Take what the messages carry, as the task window's handlers do.
        if (!link::kVersionTextMessage.drop_if_carried(message, wparam))
            link::kStatusBytesMessage.drop_if_carried(message, wparam);
        return LRESULT{0};
    });
    static std::uint8_t destination[256];
    link::CWatchLink link(owner);
    // The first byte chooses the outstanding read count, so read replies of
    // every length meet both the accepting and the refusing path.
    if (!input.empty()) link.ReadMemory(0, static_cast<std::uint8_t>(input[0] % 200), destination);
    wire::FrameAssembler assembler;
    assembler.feed(input, [&](std::span<const std::uint8_t> payload) {
        link.ParseMessage(payload.data(), static_cast<std::uint16_t>(payload.size()));
    });
    platform::Message msg;
    while (platform::peek_message(msg)) platform::dispatch_message(msg);
}
