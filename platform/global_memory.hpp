// Fixed memory blocks handed to the host with notifications. A block's handle is
// its address. The live-block count lets tests prove that every block is either
// handed over and freed by the host, or freed by the SDK, never both.
//
// Threads: every function may be called from any thread.
#pragma once

#include <cstddef>

namespace stridelog::platform {

// A block of exactly `bytes` bytes (at least one byte is reserved for 0), or null.
void* global_alloc(std::size_t bytes);
// Null on success; the block itself when it is not a live block (nothing freed).
void* global_free(void* block);
// The size given at allocation, 0 when it is not a live block.
std::size_t global_size(const void* block);
std::size_t live_global_blocks();
// Test hook: the next `count` allocations fail.
void fail_next_global_allocs(int count);

}  // namespace stridelog::platform
