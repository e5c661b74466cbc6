#include "platform/global_memory.hpp"

#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace stridelog::platform {
namespace {

std::mutex g_mutex;
std::unordered_map<const void*, std::size_t> g_blocks;
int g_fail_next = 0;

}  // namespace

void* global_alloc(std::size_t bytes) {
    std::lock_guard lock(g_mutex);
    if (g_fail_next > 0) {
        --g_fail_next;
        return nullptr;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block) g_blocks.emplace(block, bytes);
    return block;
}

void* global_free(void* block) {
    if (block == nullptr) return nullptr;
    {
        std::lock_guard lock(g_mutex);
        if (g_blocks.erase(block) == 0) return block;
    }
    std::free(block);
    return nullptr;
}

std::size_t global_size(const void* block) {
    std::lock_guard lock(g_mutex);
    auto it = g_blocks.find(block);
    return it == g_blocks.end() ? 0 : it->second;
}

std::size_t live_global_blocks() {
    std::lock_guard lock(g_mutex);
    return g_blocks.size();
}

void fail_next_global_allocs(int count) {
    std::lock_guard lock(g_mutex);
    g_fail_next = count;
}

}  // namespace stridelog::platform
