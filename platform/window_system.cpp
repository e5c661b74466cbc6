#include "platform/window_system.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/clock.hpp"

namespace stridelog::platform {
namespace {

constexpr std::uint64_t kNoTime = std::numeric_limits<std::uint64_t>::max();
// How long a loop on the virtual clock waits in real time for in-flight work.
constexpr auto kInFlightPoll = std::chrono::microseconds(200);

struct Timer {
    HWND window;
    UINT_PTR id;
    std::uint32_t period;
    std::uint64_t due;
};

struct ThreadQueue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Message> posted;
    std::vector<Timer> timers;
    std::function<void(const Message&)> thread_handler;

    ~ThreadQueue() {
        for (const auto& m : posted)
            if (m.drop) m.drop(m.message, m.wparam, m.lparam);
    }
};

struct WindowRecord {
    HWND handle = nullptr;
    std::shared_ptr<ThreadQueue> queue;
    std::thread::id owner;
    WindowProc proc;
    HWND parent = nullptr;
    bool enabled = true;
    bool visible = false;
    bool destroying = false;
    std::string text;
};

// Process-wide tables, built on first use: windows may be created and names
// registered from static constructors of other modules.
struct Tables {
    std::mutex mutex;  // guards windows and every WindowRecord's plain fields
    std::unordered_map<HWND, std::shared_ptr<WindowRecord>> windows;
    std::uintptr_t next_handle = 0x10000;

    std::mutex names_mutex;
    std::map<std::string, UINT> names;
    UINT next_name = kFirstRegisteredMessage;
};

Tables& tables() {
    static Tables* t = new Tables;  // never destroyed: windows may outlive static destruction
    return *t;
}

std::shared_ptr<ThreadQueue>& this_queue() {
    thread_local std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
    return queue;
}

std::shared_ptr<WindowRecord> find(HWND window) {
    std::lock_guard lock(tables().mutex);
    auto it = tables().windows.find(window);
    return it == tables().windows.end() ? nullptr : it->second;
}

std::shared_ptr<WindowRecord> find_own(HWND window) {
    auto record = find(window);
    if (record && record->owner != std::this_thread::get_id()) return nullptr;
    return record;
}

bool alive(HWND window) {
    std::lock_guard lock(tables().mutex);
    return tables().windows.count(window) != 0;
}

void drop_all(std::vector<Message>& dropped) {
    for (const auto& m : dropped)
        if (m.drop) m.drop(m.message, m.wparam, m.lparam);
    dropped.clear();
}

}  // namespace

HWND create_window(WindowProc proc, HWND parent) {
    auto record = std::make_shared<WindowRecord>();
    record->queue = this_queue();
    record->owner = std::this_thread::get_id();
    record->proc = std::move(proc);
    record->parent = parent;
    std::lock_guard lock(tables().mutex);
    record->handle = reinterpret_cast<HWND>(tables().next_handle);
    tables().next_handle += 0x10;  // handles are never reused, so a stale one is never a window
    tables().windows.emplace(record->handle, record);
    return record->handle;
}

bool destroy_window(HWND window) {
    auto record = find_own(window);
    if (!record) return false;
    {
        std::lock_guard lock(tables().mutex);
        if (record->destroying) return false;
        record->destroying = true;
    }
    std::vector<HWND> children;
    {
        std::lock_guard lock(tables().mutex);
        for (const auto& [handle, other] : tables().windows)
            if (other->parent == window) children.push_back(handle);
    }
    for (HWND child : children) destroy_window(child);

    record->proc(window, kWmDestroy, 0, 0);
    {
        std::lock_guard lock(tables().mutex);
        tables().windows.erase(window);
    }
    std::vector<Message> dropped;
    {
        auto& q = *record->queue;
        std::lock_guard lock(q.mutex);
        std::erase_if(q.timers, [&](const Timer& t) { return t.window == window; });
        for (auto it = q.posted.begin(); it != q.posted.end();) {
            if (it->hwnd == window) {
                dropped.push_back(*it);
                it = q.posted.erase(it);
            } else {
                ++it;
            }
        }
    }
    drop_all(dropped);
    // The procedure may delete the object behind it here; the copy keeps the callable alive.
    WindowProc proc = record->proc;
    proc(window, kWmNcDestroy, 0, 0);
    return true;
}

bool is_window(HWND window) {
    return window && alive(window);
}

std::size_t window_count_on_this_thread() {
    const auto me = std::this_thread::get_id();
    std::lock_guard lock(tables().mutex);
    return static_cast<std::size_t>(
        std::count_if(tables().windows.begin(), tables().windows.end(),
                      [&](const auto& kv) { return kv.second->owner == me; }));
}

bool post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, DropFn drop) {
    std::shared_ptr<ThreadQueue> queue;
    if (window == nullptr) {
        queue = this_queue();
    } else {
        auto record = find(window);
        if (!record) return false;
        queue = record->queue;
    }
    {
        std::lock_guard lock(queue->mutex);
        queue->posted.push_back(Message{window, message, wparam, lparam, drop});
    }
    queue->wake.notify_all();
    return true;
}

LRESULT send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto record = find_own(window);
    if (!record) return 0;
    WindowProc proc = record->proc;
    return proc(window, message, wparam, lparam);
}

UINT register_window_message(std::string_view name) {
    if (name.empty()) return 0;
    std::string key(name);
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::lock_guard lock(tables().names_mutex);
    auto [it, inserted] = tables().names.emplace(key, tables().next_name);
    if (inserted) ++tables().next_name;
    return it->second;
}

bool set_timer(HWND window, UINT_PTR id, std::uint32_t period_ms) {
    auto record = find_own(window);
    if (!record) return false;
    const std::uint64_t due = clock().now_ms() + period_ms;
    auto& q = *record->queue;
    {
        std::lock_guard lock(q.mutex);
        auto it = std::find_if(q.timers.begin(), q.timers.end(),
                               [&](const Timer& t) { return t.window == window && t.id == id; });
        if (it != q.timers.end()) {
            it->period = period_ms;
            it->due = due;
        } else {
            q.timers.push_back(Timer{window, id, period_ms, due});
        }
    }
    q.wake.notify_all();
    return true;
}

bool kill_timer(HWND window, UINT_PTR id) {
    auto record = find_own(window);
    if (!record) return false;
    auto& q = *record->queue;
    std::lock_guard lock(q.mutex);
    return std::erase_if(q.timers,
                         [&](const Timer& t) { return t.window == window && t.id == id; }) != 0;
}

bool has_timer(HWND window, UINT_PTR id) {
    auto record = find(window);
    if (!record) return false;
    auto& q = *record->queue;
    std::lock_guard lock(q.mutex);
    return std::any_of(q.timers.begin(), q.timers.end(),
                       [&](const Timer& t) { return t.window == window && t.id == id; });
}

bool enable_window(HWND window, bool enable) {
    auto record = find(window);
    if (!record) return false;
    std::lock_guard lock(tables().mutex);
    record->enabled = enable;
    return true;
}

bool is_window_enabled(HWND window) {
    auto record = find(window);
    if (!record) return false;
    std::lock_guard lock(tables().mutex);
    return record->enabled;
}

bool show_window(HWND window, bool show) {
    auto record = find(window);
    if (!record) return false;
    std::lock_guard lock(tables().mutex);
    record->visible = show;
    return true;
}

bool is_window_visible(HWND window) {
    auto record = find(window);
    if (!record) return false;
    std::lock_guard lock(tables().mutex);
    return record->visible;
}

bool set_window_text(HWND window, std::string_view text) {
    auto record = find(window);
    if (!record) return false;
    std::lock_guard lock(tables().mutex);
    record->text.assign(text);
    return true;
}

std::string get_window_text(HWND window) {
    auto record = find(window);
    if (!record) return {};
    std::lock_guard lock(tables().mutex);
    return record->text;
}

namespace {

// Takes the next live posted message, or the earliest due timer. Called with the lock held.
bool take_ready(ThreadQueue& q, Message& msg, std::vector<Message>& dropped, std::uint64_t now,
                std::uint64_t& next_timer) {
    while (!q.posted.empty()) {
        Message m = q.posted.front();
        q.posted.pop_front();
        if (m.hwnd != nullptr && !alive(m.hwnd)) {
            dropped.push_back(m);
            continue;
        }
        msg = m;
        return true;
    }
    next_timer = kNoTime;
    Timer* earliest = nullptr;
    for (auto& t : q.timers)
        if (!earliest || t.due < earliest->due) earliest = &t;
    if (earliest && earliest->due <= now) {
        msg = Message{earliest->window, kWmTimer, earliest->id, 0, nullptr};
        earliest->due = now + earliest->period;
        return true;
    }
    if (earliest) next_timer = earliest->due;
    return false;
}

}  // namespace

Fetch get_message(Message& msg, std::uint64_t deadline_ms) {
    auto& q = *this_queue();
    std::vector<Message> dropped;
    for (;;) {
        std::unique_lock lock(q.mutex);
        const std::uint64_t now = clock().now_ms();
        std::uint64_t next_timer = kNoTime;
        const bool ready = take_ready(q, msg, dropped, now, next_timer);
        if (!dropped.empty()) {
            lock.unlock();
            drop_all(dropped);
            lock.lock();
        }
        if (ready) return msg.message == kWmQuit ? Fetch::quit : Fetch::message;
        if (now >= deadline_ms) return Fetch::timeout;

        if (VirtualClock* vc = virtual_clock()) {
            if (vc->in_flight() > 0) {
                q.wake.wait_for(lock, kInFlightPoll);
                continue;
            }
            const std::uint64_t next = std::min(next_timer, vc->next_scheduled());
            if (next == kNoTime) return Fetch::idle;
            lock.unlock();
            vc->advance_to(std::min(next, deadline_ms));
            continue;
        }
        const std::uint64_t wake_at = std::min(next_timer, deadline_ms);
        if (wake_at == kNoTime) {
            q.wake.wait(lock);
        } else {
            q.wake.wait_for(lock, std::chrono::milliseconds(wake_at - now));
        }
    }
}

bool peek_message(Message& msg) {
    auto& q = *this_queue();
    std::vector<Message> dropped;
    bool ready;
    {
        std::lock_guard lock(q.mutex);
        std::uint64_t next_timer = kNoTime;
        ready = take_ready(q, msg, dropped, clock().now_ms(), next_timer);
    }
    drop_all(dropped);
    return ready;
}

LRESULT dispatch_message(const Message& msg) {
    if (msg.hwnd == nullptr) {
        std::function<void(const Message&)> handler;
        {
            auto& q = *this_queue();
            std::lock_guard lock(q.mutex);
            handler = q.thread_handler;
        }
        if (handler) {
            handler(msg);
        } else if (msg.drop) {
            msg.drop(msg.message, msg.wparam, msg.lparam);
        }
        return 0;
    }
    auto record = find_own(msg.hwnd);
    if (!record) {
        if (msg.drop) msg.drop(msg.message, msg.wparam, msg.lparam);
        return 0;
    }
    WindowProc proc = record->proc;
    return proc(msg.hwnd, msg.message, msg.wparam, msg.lparam);
}

void post_quit_message(int exit_code) {
    post_message(nullptr, kWmQuit, static_cast<WPARAM>(exit_code), 0);
}

void set_thread_message_handler(std::function<void(const Message&)> handler) {
    auto& q = *this_queue();
    std::lock_guard lock(q.mutex);
    q.thread_handler = std::move(handler);
}

bool run_loop_until(const std::function<bool()>& done, std::uint64_t deadline_ms) {
    Message msg;
    while (!done()) {
        switch (get_message(msg, deadline_ms)) {
            case Fetch::message:
                dispatch_message(msg);
                break;
            case Fetch::quit:
                post_quit_message(static_cast<int>(msg.wparam));
                return false;
            case Fetch::timeout:
            case Fetch::idle:
                return done();
        }
    }
    return true;
}

}  // namespace stridelog::platform
