// Ctrl-C and SIGTERM: a task in progress is ended through its task end (which
// releases the port) instead of the process dying with the port held.
#pragma once

#include <atomic>
#include <csignal>
#include <thread>

namespace stridelog_tool {

class InterruptWatcher {
  public:
    // Blocks SIGINT and SIGTERM in the calling thread, so every thread started
    // afterwards inherits the mask and only the watcher takes them. Call first
    // thing in main, before any thread exists.
    static void block_signals();

    InterruptWatcher();
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    bool interrupted() const { return signal_.load() != 0; }
    // While held, a first signal only warns (the task goes on) and a second
    // one interrupts: for work that must not stop half done. A signal warned
    // about counts as an interruption once the hold ends.
    void hold(bool held);
    // 128 + the signal's number, the status a shell reports for it.
    int exit_status() const { return 128 + signal_.load(); }

  private:
    void run();

    std::atomic<int> signal_{0};
    std::atomic<bool> held_{false};
    std::atomic<int> pending_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace stridelog_tool
