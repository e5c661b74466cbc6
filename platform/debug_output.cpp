#include "platform/debug_output.hpp"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace stridelog::platform {
namespace {

std::mutex g_mutex;
std::function<void(std::string_view)> g_sink;

}  // namespace

void debug_output(std::string_view text) {
    std::lock_guard lock(g_mutex);
    if (g_sink) {
        g_sink(text);
        return;
    }
    const char* path = std::getenv("STRIDELOG_DEBUG_FILE");
    if (path && *path) {
        if (std::FILE* f = std::fopen(path, "ab")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
            return;
        }
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void set_debug_sink(std::function<void(std::string_view)> sink) {
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
}

}  // namespace stridelog::platform
