// The debugger output channel: stderr, or appended to the file named by
// STRIDELOG_DEBUG_FILE. Tests may capture it instead.
//
// Threads: any thread; each call writes its text in one piece.
#pragma once

#include <functional>
#include <string_view>

namespace stridelog::platform {

// Writes the text unchanged (no line end added).
void debug_output(std::string_view text);

// Replaces the channel (tests); an empty function restores the default.
void set_debug_sink(std::function<void(std::string_view)> sink);

}  // namespace stridelog::platform
