// Posting host notifications: exact-size blocks, never touched after posting.
//
// Threads: the task window's thread (the caller's UI thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "stridelog/stridelog.h"

namespace stridelog::sdk {

inline constexpr const char* kErrorMessageName = STRIDELOG_ERROR_MESSAGE_NAME;
inline constexpr const char* kResultMessageName = STRIDELOG_RESULT_MESSAGE_NAME;

// Posts (host, message, code, 0).
void post_code(HWND host, UINT message, UINT code);
// Allocates a block of exactly data.size() bytes, fills it and posts it as lParam.
// When the block cannot be allocated nothing is posted. When the post fails
// (the host window is gone) or the message is discarded undelivered, the block
// is freed rather than leaked.
void post_block(HWND host, UINT message, UINT code, std::span<const std::uint8_t> data);
void post_text(HWND host, UINT message, UINT code, std::string_view text);
void post_float(HWND host, UINT message, UINT code, float value);

}  // namespace stridelog::sdk
