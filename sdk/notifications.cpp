#include "sdk/notifications.hpp"

#include <cstring>

#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"

namespace stridelog::sdk {
namespace {

void free_undelivered_block(UINT, WPARAM, LPARAM lparam) {
    platform::global_free(reinterpret_cast<void*>(lparam));
}

}  // namespace

void post_code(HWND host, UINT message, UINT code) {
    platform::post_message(host, message, code, 0);
}

void post_block(HWND host, UINT message, UINT code, std::span<const std::uint8_t> data) {
    void* block = platform::global_alloc(data.size());
    if (block == nullptr) return;
    if (!data.empty()) std::memcpy(block, data.data(), data.size());
    if (!platform::post_message(host, message, code, reinterpret_cast<LPARAM>(block),
                                &free_undelivered_block)) {
        platform::global_free(block);
    }
}

void post_text(HWND host, UINT message, UINT code, std::string_view text) {
    post_block(host, message, code,
               std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void post_float(HWND host, UINT message, UINT code, float value) {
    std::uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);  // IEEE 754 single, little-endian on our targets
    post_block(host, message, code, bytes);
}

}  // namespace stridelog::sdk
