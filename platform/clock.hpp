// Milliseconds, sleeps and timer due times for the whole SDK.
//
// Threads: now_ms() and sleep_ms() may be called from any thread. Installing or
// removing a virtual clock (ScopedVirtualClock) is done by a test's main thread
// while no SDK thread is running.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace stridelog::platform {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint64_t now_ms() = 0;
    virtual void sleep_ms(std::uint32_t ms) = 0;
};

// The clock in force: the steady clock, unless a test installed a virtual one.
Clock& clock();

// A clock that stands still until told to move. A message loop on it jumps
// straight to the next due timer (or scheduled callback) when its queue is empty
// and nothing is in flight, so a 70-second deadline takes microseconds.
class VirtualClock final : public Clock {
  public:
    std::uint64_t now_ms() override;
    // Sleeping moves virtual time forward; it never blocks.
    void sleep_ms(std::uint32_t ms) override;

    // Runs fn on the thread that next advances the clock past due_ms.
    void schedule(std::uint64_t due_ms, std::function<void()> fn);
    // Earliest scheduled callback, or UINT64_MAX.
    std::uint64_t next_scheduled() const;
    // Moves time to t (never backwards) and runs every callback due by then.
    void advance_to(std::uint64_t t);

    // Work in flight outside the message queues (bytes on an in-process line,
    // a reader busy with them). The clock does not jump while this is nonzero.
    void add_in_flight(int delta);
    int in_flight() const;

  private:
    struct State;
    std::shared_ptr<State> state_ = make_state();
    static std::shared_ptr<State> make_state();
};

// The virtual clock in force, or null.
VirtualClock* virtual_clock();

// Counts in-flight work on the virtual clock when one is installed; no-op otherwise.
inline void note_in_flight(int delta) {
    if (auto* v = virtual_clock()) v->add_in_flight(delta);
}

class ScopedVirtualClock {
  public:
    ScopedVirtualClock();
    ~ScopedVirtualClock();
    ScopedVirtualClock(const ScopedVirtualClock&) = delete;
    ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;
    VirtualClock& operator*() { return *clock_; }
    VirtualClock* operator->() { return clock_.get(); }

  private:
    std::unique_ptr<VirtualClock> clock_;
};

}  // namespace stridelog::platform
