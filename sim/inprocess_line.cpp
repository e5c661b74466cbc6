#include "sim/inprocess_line.hpp"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "cable/cable_identity.hpp"
#include "platform/clock.hpp"
#include "platform/registry.hpp"

namespace stridelog::sim {

struct InProcessLine::State {
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        bool counted = false;  // noted as in flight on the virtual clock
    };

    std::mutex mutex;
    std::condition_variable readable;
    Watch* watch = nullptr;  // null once the line is gone
    bool open = false;
    bool connected = true;
    bool interrupted = false;
    std::deque<Chunk> chunks;
    std::size_t front_offset = 0;  // bytes of chunks.front() already handed out
    std::uint64_t discards = 0;    // discard_input() calls completed
    int handed = 0;                // counted chunks handed out, not yet released
    platform::LineSettings settings;
    std::size_t to_watch = 0;
    std::size_t from_watch = 0;

    // Delayed replies on the real clock.
    std::mutex timer_mutex;
    std::condition_variable timer_wake;
    std::multimap<std::uint64_t, std::function<void()>> timers;
    std::thread timer_thread;
    bool timer_stop = false;

    // Caller holds `mutex`.
    void release_handed() {
        if (handed > 0) platform::note_in_flight(-handed);
        handed = 0;
    }
    void release_buffered() {
        int counted = 0;
        for (const Chunk& c : chunks) counted += c.counted ? 1 : 0;
        if (counted > 0) platform::note_in_flight(-counted);
        chunks.clear();
        front_offset = 0;
    }

    void append(std::span<const std::uint8_t> bytes) {
        if (bytes.empty()) return;
        std::lock_guard lock(mutex);
        // Nobody listening: the bytes fall off the end of the cable.
        if (!open || !connected) return;
        const bool counted = platform::virtual_clock() != nullptr;
        if (counted) platform::note_in_flight(+1);
        chunks.push_back(Chunk{{bytes.begin(), bytes.end()}, counted});
        from_watch += bytes.size();
        readable.notify_all();
    }

    void go_away() {
        std::lock_guard lock(mutex);
        connected = false;
        release_buffered();
        readable.notify_all();
    }

    void add_timer(std::uint64_t due, std::function<void()> task) {
        std::lock_guard lock(timer_mutex);
        timers.emplace(due, std::move(task));
        if (!timer_thread.joinable()) timer_thread = std::thread([this] { run_timers(); });
        timer_wake.notify_all();
    }

    void run_timers() {
        std::unique_lock lock(timer_mutex);
        while (!timer_stop) {
            if (timers.empty()) {
                timer_wake.wait(lock);
                continue;
            }
            const std::uint64_t now = platform::clock().now_ms();
            auto first = timers.begin();
            if (first->first > now) {
                timer_wake.wait_for(lock, std::chrono::milliseconds(first->first - now));
                continue;
            }
            auto task = std::move(first->second);
            timers.erase(first);
            lock.unlock();
            task();
            lock.lock();
        }
    }

    void stop_timers() {
        {
            std::lock_guard lock(timer_mutex);
            timer_stop = true;
            timers.clear();
            timer_wake.notify_all();
        }
        if (timer_thread.joinable()) timer_thread.join();
    }
};

namespace {

// The SDK's end of the line.
class LineEnd final : public platform::SerialDevice {
  public:
    explicit LineEnd(std::shared_ptr<InProcessLine::State> state) : state_(std::move(state)) {}

    ~LineEnd() override {
        std::lock_guard lock(state_->mutex);
        state_->release_handed();
        state_->release_buffered();
        state_->open = false;
        state_->interrupted = false;
    }

    bool configure(const platform::LineSettings& settings, int& error) override {
        std::lock_guard lock(state_->mutex);
        if (!state_->connected) {
            error = EIO;
            return false;
        }
        state_->settings = settings;
        return true;
    }

    bool write(std::span<const std::uint8_t> bytes, std::uint32_t /*timeout_ms*/,
               std::size_t& written) override {
        written = 0;
        Watch* watch = nullptr;
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->connected || state_->watch == nullptr) return false;
            watch = state_->watch;
            state_->to_watch += bytes.size();
        }
        written = bytes.size();
        // The watch answers on this thread; its replies land in the read buffer.
        watch->feed(bytes);
        return true;
    }

    using SerialDevice::read_burst;
    long read_burst(std::span<std::uint8_t> buffer, std::uint64_t& discards) override {
        std::unique_lock lock(state_->mutex);
        // Coming back for more means the last burst has been dealt with.
        state_->release_handed();
        state_->readable.wait(lock, [&] {
            return state_->interrupted || !state_->connected || !state_->chunks.empty();
        });
        if (state_->interrupted || !state_->connected) return -1;
        discards = state_->discards;
        std::size_t n = 0;
        while (n < buffer.size() && !state_->chunks.empty()) {
            auto& front = state_->chunks.front();
            const std::size_t take =
                std::min(buffer.size() - n, front.bytes.size() - state_->front_offset);
            std::memcpy(buffer.data() + n, front.bytes.data() + state_->front_offset, take);
            n += take;
            state_->front_offset += take;
            if (state_->front_offset == front.bytes.size()) {
                if (front.counted) ++state_->handed;
                state_->chunks.pop_front();
                state_->front_offset = 0;
            }
        }
        return static_cast<long>(n);
    }

    std::uint64_t discard_input() override {
        std::lock_guard lock(state_->mutex);
        state_->release_buffered();
        return ++state_->discards;
    }

    bool input_pending() override {
        std::lock_guard lock(state_->mutex);
        return !state_->chunks.empty();
    }

    bool resume() override {
        std::lock_guard lock(state_->mutex);
        state_->interrupted = false;
        return true;
    }

    void interrupt() override {
        std::lock_guard lock(state_->mutex);
        state_->interrupted = true;
        state_->release_handed();
        state_->readable.notify_all();
    }

  private:
    std::shared_ptr<InProcessLine::State> state_;
};

std::mutex g_lines_mutex;
std::map<std::string, std::weak_ptr<InProcessLine::State>> g_lines;
std::once_flag g_backend_once;
std::atomic<unsigned> g_cable_number{0};

std::unique_ptr<platform::SerialDevice> open_state(
    const std::shared_ptr<InProcessLine::State>& state, int& error) {
    std::lock_guard lock(state->mutex);
    if (state->watch == nullptr || !state->connected) {
        error = ENODEV;
        return nullptr;
    }
    if (state->open) {
        error = EBUSY;
        return nullptr;
    }
    state->open = true;
    state->interrupted = false;
    return std::make_unique<LineEnd>(state);
}

std::unique_ptr<platform::SerialDevice> open_by_path(const std::string& path, int& error) {
    const std::string name = path.substr(std::strlen(InProcessLine::kPrefix));
    std::shared_ptr<InProcessLine::State> state;
    {
        std::lock_guard lock(g_lines_mutex);
        auto it = g_lines.find(name);
        if (it != g_lines.end()) state = it->second.lock();
    }
    if (!state) {
        error = ENOENT;
        return nullptr;
    }
    return open_state(state, error);
}

}  // namespace

InProcessLine::InProcessLine(Watch& watch, std::string name)
    : watch_(watch), name_(std::move(name)), state_(std::make_shared<State>()) {
    state_->watch = &watch_;
    {
        std::lock_guard lock(g_lines_mutex);
        auto it = g_lines.find(name_);
        if (it != g_lines.end() && !it->second.expired())
            throw std::invalid_argument("in-process line name in use: " + name_);
        g_lines[name_] = state_;
    }
    std::call_once(g_backend_once,
                   [] { platform::register_serial_backend(kPrefix, &open_by_path); });

    std::weak_ptr<State> weak = state_;
    watch_.set_output([weak](std::span<const std::uint8_t> bytes) {
        if (auto state = weak.lock()) state->append(bytes);
    });
    watch_.set_scheduler([weak](std::uint32_t delay_ms, std::function<void()> task) {
        if (auto* vc = platform::virtual_clock()) {
            vc->schedule(vc->now_ms() + delay_ms, std::move(task));
        } else if (auto state = weak.lock()) {
            state->add_timer(platform::clock().now_ms() + delay_ms, std::move(task));
        }
    });
    watch_.set_disconnect_handler([weak] {
        if (auto state = weak.lock()) state->go_away();
    });
}

InProcessLine::~InProcessLine() {
    watch_.set_output(nullptr);
    watch_.set_scheduler(nullptr);
    watch_.set_disconnect_handler(nullptr);
    state_->stop_timers();
    {
        std::lock_guard lock(state_->mutex);
        state_->watch = nullptr;
        state_->connected = false;
        state_->release_buffered();
        state_->readable.notify_all();
    }
    std::lock_guard lock(g_lines_mutex);
    auto it = g_lines.find(name_);
    if (it != g_lines.end() && it->second.lock() == state_) g_lines.erase(it);
}

std::string InProcessLine::device_path() const {
    return kPrefix + name_;
}

std::unique_ptr<platform::SerialDevice> InProcessLine::open(int& error) {
    return open_state(state_, error);
}

bool InProcessLine::is_open() const {
    std::lock_guard lock(state_->mutex);
    return state_->open;
}

void InProcessLine::disconnect() {
    state_->go_away();
}

void InProcessLine::reconnect() {
    std::lock_guard lock(state_->mutex);
    state_->connected = true;
}

bool InProcessLine::connected() const {
    std::lock_guard lock(state_->mutex);
    return state_->connected;
}

platform::LineSettings InProcessLine::settings() const {
    std::lock_guard lock(state_->mutex);
    return state_->settings;
}

std::size_t InProcessLine::bytes_to_watch() const {
    std::lock_guard lock(state_->mutex);
    return state_->to_watch;
}

std::size_t InProcessLine::bytes_from_watch() const {
    std::lock_guard lock(state_->mutex);
    return state_->from_watch;
}

void register_as_cable(const InProcessLine& line, std::string port_name) {
    const std::string value_name =
        cable::usb_identity("sim" + std::to_string(g_cable_number.fetch_add(1)));
    platform::inject_serial_comm(value_name, port_name, line.device_path());
}

}  // namespace stridelog::sim
