#include "tests/support/host_recorder.hpp"

#include <cstdio>
#include <cstring>

#include "platform/global_memory.hpp"
#include "platform/window_system.hpp"
#include "sdk/task_registry.hpp"

namespace stridelog::test {

float Notification::progress() const {
    float f = -1.0f;
    if (block.size() == sizeof f) std::memcpy(&f, block.data(), sizeof f);
    return f;
}

HostRecorder::HostRecorder() {
    error_id_ = platform::register_window_message(STRIDELOG_ERROR_MESSAGE_NAME);
    result_id_ = platform::register_window_message(STRIDELOG_RESULT_MESSAGE_NAME);
    window_ = platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        record(m, w, l);
        return 0;
    });
}

HostRecorder::~HostRecorder() {
    platform::destroy_window(window_);
}

void HostRecorder::record(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != error_id_ && message != result_id_) return;
    Notification n;
    n.error = message == error_id_;
    n.code = static_cast<UINT>(wparam);
    if (lparam != 0) {
        void* block = reinterpret_cast<void*>(lparam);
        const std::size_t size = platform::global_size(block);
        const auto* bytes = static_cast<const std::uint8_t*>(block);
        n.has_block = true;
        n.block.assign(bytes, bytes + size);
        platform::global_free(block);
    }
    notes_.push_back(std::move(n));
}

std::vector<UINT> HostRecorder::codes() const {
    std::vector<UINT> out;
    for (const auto& n : notes_) out.push_back(n.code);
    return out;
}

std::vector<UINT> HostRecorder::codes_without_progress() const {
    std::vector<UINT> out;
    for (const auto& n : notes_)
        if (n.code != SDK_MSG_PROGRESS) out.push_back(n.code);
    return out;
}

std::vector<float> HostRecorder::progress_values() const {
    std::vector<float> out;
    for (const auto& n : notes_)
        if (n.code == SDK_MSG_PROGRESS) out.push_back(n.progress());
    return out;
}

std::vector<UINT> HostRecorder::outcome() const {
    std::vector<UINT> out;
    for (const auto& n : notes_)
        if (n.code != SDK_MSG_PROGRESS && n.code != SDK_MSG_PHASE_PROGRESS) out.push_back(n.code);
    return out;
}

std::vector<float> HostRecorder::phase_progress(std::uint32_t phase) const {
    std::vector<float> out;
    for (const auto& n : notes_) {
        if (n.code != SDK_MSG_PHASE_PROGRESS || n.block.size() != 8) continue;
        std::uint32_t number = 0;
        float percent = 0;
        std::memcpy(&number, n.block.data(), 4);
        std::memcpy(&percent, n.block.data() + 4, 4);
        if (number == phase) out.push_back(percent);
    }
    return out;
}

std::vector<std::vector<std::uint8_t>> HostRecorder::blocks(UINT code) const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& n : notes_)
        if (n.code == code) out.push_back(n.block);
    return out;
}

std::string HostRecorder::describe() const {
    std::string s;
    for (const auto& n : notes_) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s%04X", s.empty() ? "" : " ", n.code);
        s += buf;
        if (n.code == SDK_MSG_PROGRESS) {
            std::snprintf(buf, sizeof buf, "(%.1f)", static_cast<double>(n.progress()));
            s += buf;
        } else if (n.has_block) {
            std::snprintf(buf, sizeof buf, "[%zu]", n.block.size());
            s += buf;
        }
    }
    return s;
}

void deliver_posted() {
    platform::Message msg;
    while (platform::peek_message(msg)) platform::dispatch_message(msg);
}

void run_for(std::uint64_t ms) {
    const std::uint64_t deadline = platform::clock().now_ms() + ms;
    platform::run_loop_until([] { return false; }, deadline);
}

bool run_until_task_ends(std::uint64_t timeout_ms) {
    const std::uint64_t deadline = platform::clock().now_ms() + timeout_ms;
    platform::Message msg;
    for (;;) {
        if (!sdk::task_active_on_this_thread()) {
            // Deliver what the task posted before it ended.
            while (platform::peek_message(msg)) platform::dispatch_message(msg);
            return true;
        }
        switch (platform::get_message(msg, deadline)) {
            case platform::Fetch::message:
                platform::dispatch_message(msg);
                break;
            case platform::Fetch::quit:
                return false;
            case platform::Fetch::timeout:
            case platform::Fetch::idle:
                return !sdk::task_active_on_this_thread();
        }
    }
}

}  // namespace stridelog::test
