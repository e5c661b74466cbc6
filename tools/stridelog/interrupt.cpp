#include "interrupt.hpp"

#include <pthread.h>

#include <cstdio>
#include <ctime>

#include "stridelog/stridelog.h"

namespace stridelog_tool {
namespace {

sigset_t taken_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// How often the watcher looks at its stop flag and, once interrupted, cancels
// again: a task started just after the first cancel is ended this much later.
constexpr long kTickNs = 100'000'000;

}  // namespace

void InterruptWatcher::block_signals() {
    const sigset_t set = taken_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

InterruptWatcher::InterruptWatcher() : thread_([this] { run(); }) {}

InterruptWatcher::~InterruptWatcher() {
    stop_ = true;
    thread_.join();
}

void InterruptWatcher::run() {
    const sigset_t set = taken_signals();
    while (!stop_) {
        const timespec tick{0, kTickNs};
        const int taken = sigtimedwait(&set, nullptr, &tick);
        if (taken > 0 && signal_.load() == 0) {
            if (held_.load() && pending_.load() == 0) {
                pending_ = taken;
                static constexpr char kWarning[] =
                    "\nthe watch's firmware is being written: stopping now leaves it without a "
                    "working program and without its settings; press Ctrl-C again to stop "
                    "anyway\n";
                std::fputs(kWarning, stderr);
                std::fflush(stderr);
            } else {
                signal_ = taken;
            }
        }
        // An ordinary thread, not a signal handler: the cancel may take locks.
        if (signal_.load() != 0) Stridelog_CancelTasks();
    }
}

void InterruptWatcher::hold(bool held) {
    held_ = held;
    if (!held && pending_.load() != 0 && signal_.load() == 0) signal_ = pending_.load();
}

}  // namespace stridelog_tool
