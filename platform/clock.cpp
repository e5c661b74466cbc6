#include "platform/clock.hpp"

#include <atomic>
#include <chrono>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace stridelog::platform {
namespace {

class SteadyClock final : public Clock {
  public:
    std::uint64_t now_ms() override {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void sleep_ms(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

SteadyClock g_steady;
std::atomic<VirtualClock*> g_virtual{nullptr};

}  // namespace

struct VirtualClock::State {
    // Starts well above zero so "due = now + period" never looks like "unset".
    std::atomic<std::uint64_t> now{1'000'000};
    std::atomic<int> in_flight{0};
    mutable std::mutex mutex;
    std::multimap<std::uint64_t, std::function<void()>> scheduled;
};

std::shared_ptr<VirtualClock::State> VirtualClock::make_state() {
    return std::make_shared<State>();
}

Clock& clock() {
    if (auto* v = g_virtual.load(std::memory_order_acquire)) return *v;
    return g_steady;
}

VirtualClock* virtual_clock() {
    return g_virtual.load(std::memory_order_acquire);
}

std::uint64_t VirtualClock::now_ms() {
    return state_->now.load(std::memory_order_acquire);
}

void VirtualClock::sleep_ms(std::uint32_t ms) {
    advance_to(now_ms() + ms);
}

void VirtualClock::schedule(std::uint64_t due_ms, std::function<void()> fn) {
    std::lock_guard lock(state_->mutex);
    state_->scheduled.emplace(due_ms, std::move(fn));
}

std::uint64_t VirtualClock::next_scheduled() const {
    std::lock_guard lock(state_->mutex);
    if (state_->scheduled.empty()) return std::numeric_limits<std::uint64_t>::max();
    return state_->scheduled.begin()->first;
}

void VirtualClock::advance_to(std::uint64_t t) {
    for (;;) {
        std::function<void()> due;
        {
            std::lock_guard lock(state_->mutex);
            auto it = state_->scheduled.begin();
            if (it == state_->scheduled.end() || it->first > t) break;
            if (it->first > state_->now.load()) state_->now.store(it->first);
            due = std::move(it->second);
            state_->scheduled.erase(it);
        }
        due();
    }
    std::uint64_t current = state_->now.load();
    while (t > current && !state_->now.compare_exchange_weak(current, t)) {
    }
}

void VirtualClock::add_in_flight(int delta) {
    state_->in_flight.fetch_add(delta);
}
int VirtualClock::in_flight() const {
    return state_->in_flight.load();
}

ScopedVirtualClock::ScopedVirtualClock() : clock_(std::make_unique<VirtualClock>()) {
    g_virtual.store(clock_.get(), std::memory_order_release);
}

ScopedVirtualClock::~ScopedVirtualClock() {
    g_virtual.store(nullptr, std::memory_order_release);
}

}  // namespace stridelog::platform
