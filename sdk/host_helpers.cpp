// Host helpers: what the desktop platform gave a host for free (host windows,
// a message loop, the registered message numbers, freeing blocks).
#include <filesystem>
#include <string>

#include "diag/diagnostics.hpp"
#include "platform/clock.hpp"
#include "platform/global_memory.hpp"
#include "platform/registry.hpp"
#include "platform/window_system.hpp"
#include "ports/cable_ports.hpp"
#include "sdk/notifications.hpp"
#include "sdk/task_registry.hpp"
#include "stridelog/stridelog.h"

namespace platform = stridelog::platform;

namespace {

// A text for a host's buffer: cut to size - 1 bytes and terminated; its full length.
std::size_t copy_out(const std::string& text, char* buffer, std::size_t size) {
    if (buffer != nullptr && size > 0) {
        const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
        text.copy(buffer, n);
        buffer[n] = '\0';
    }
    return text.size();
}

}  // namespace

extern "C" {

STRIDELOG_API HWND Stridelog_CreateHostWindow(Stridelog_HostProc proc, void* context) {
    if (proc == nullptr) return nullptr;
    return platform::create_window([proc, context](HWND w, UINT m, WPARAM wp, LPARAM lp) {
        return proc(context, w, m, wp, lp);
    });
}

STRIDELOG_API BOOL Stridelog_DestroyHostWindow(HWND window) {
    return platform::destroy_window(window) ? TRUE : FALSE;
}

STRIDELOG_API BOOL Stridelog_IsWindowEnabled(HWND window) {
    return platform::is_window_enabled(window) ? TRUE : FALSE;
}

STRIDELOG_API void Stridelog_SetThreadMessageProc(Stridelog_HostProc proc, void* context) {
    if (proc == nullptr) {
        platform::set_thread_message_handler(nullptr);
        return;
    }
    platform::set_thread_message_handler([proc, context](const platform::Message& m) {
        proc(context, nullptr, m.message, m.wparam, m.lparam);
    });
}

STRIDELOG_API UINT Stridelog_ErrorMessageId(void) {
    return platform::register_window_message(stridelog::sdk::kErrorMessageName);
}

STRIDELOG_API UINT Stridelog_ResultMessageId(void) {
    return platform::register_window_message(stridelog::sdk::kResultMessageName);
}

STRIDELOG_API int Stridelog_PumpMessages(DWORD wait_ms) {
    int dispatched = 0;
    platform::Message msg;
    const std::uint64_t deadline = platform::clock().now_ms() + wait_ms;
    switch (platform::get_message(msg, deadline)) {
        case platform::Fetch::message:
            platform::dispatch_message(msg);
            ++dispatched;
            break;
        case platform::Fetch::quit:
            platform::post_quit_message(static_cast<int>(msg.wparam));
            return 0;
        default:
            return 0;
    }
    while (platform::peek_message(msg)) {
        if (msg.message == platform::kWmQuit) {
            platform::post_quit_message(static_cast<int>(msg.wparam));
            break;
        }
        platform::dispatch_message(msg);
        ++dispatched;
    }
    return dispatched;
}

STRIDELOG_API BOOL Stridelog_RunUntil(Stridelog_DoneFn done, void* context, DWORD timeout_ms) {
    const std::uint64_t deadline = platform::clock().now_ms() + timeout_ms;
    const bool finished = platform::run_loop_until(
        [done, context] { return done != nullptr && done(context) != 0; }, deadline);
    return finished ? TRUE : FALSE;
}

STRIDELOG_API BOOL Stridelog_TaskActive(void) {
    return stridelog::sdk::task_active_on_this_thread() ? TRUE : FALSE;
}

STRIDELOG_API void Stridelog_CancelTasks(void) {
    stridelog::sdk::cancel_all_tasks();
}

STRIDELOG_API void* Stridelog_FreeBlock(void* block) {
    return platform::global_free(block);
}

STRIDELOG_API size_t Stridelog_BlockSize(const void* block) {
    return platform::global_size(block);
}

STRIDELOG_API int Stridelog_CablePort(void) {
    return stridelog::ports::FindCablePort();
}

STRIDELOG_API size_t Stridelog_PortDevicePath(const char* port_name, char* buffer, size_t size) {
    if (port_name == nullptr) return 0;
    const auto path = platform::serial_port_device_path(port_name);
    if (!path) return 0;
    return copy_out(*path, buffer, size);
}

STRIDELOG_API size_t Stridelog_DownloadFolder(char* buffer, size_t size) {
    const std::string documents = stridelog::diag::GetPersonalFolder();
    if (documents.empty()) return 0;
    return copy_out((std::filesystem::path(documents) / "Stride Log").string(), buffer, size);
}

}  // extern "C"
