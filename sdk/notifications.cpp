#include "sdk/notifications.hpp"

#include <cstring>

#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"

namespace stridelog::sdk {
namespace {

void FreeUndeliveredBlock(UINT, WPARAM, LPARAM lparam) {
    platform::global_free(reinterpret_cast<void*>(lparam));
}

}  // namespace

void PostCode(HWND host, UINT message, UINT code) {
    platform::post_message(host, message, code, 0);
}

void PostBlock(HWND host, UINT message, UINT code, std::span<const std::uint8_t> data) {
    void* block = platform::global_alloc(data.size());
    if (block == nullptr) return;
    if (!data.empty()) std::memcpy(block, data.data(), data.size());
    if (!platform::post_message(host, message, code, reinterpret_cast<LPARAM>(block),
                                &FreeUndeliveredBlock)) {
        platform::global_free(block);
    }
}

void PostText(HWND host, UINT message, UINT code, std::string_view text) {
    PostBlock(host, message, code,
              std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void PostFloat(HWND host, UINT message, UINT code, float value) {
    std::uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);  // IEEE 754 single, little-endian on our targets
    PostBlock(host, message, code, bytes);
}

}  // namespace stridelog::sdk
