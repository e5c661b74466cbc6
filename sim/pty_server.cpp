#include "sim/pty_server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <vector>

namespace stridelog::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;
using Nanoseconds = std::chrono::nanoseconds;

// A UART frame: start bit, 8 data bits, stop bit.
constexpr std::uint64_t kBitsPerByte = 10;
// Paced replies are written in pieces of about this much wire time.
constexpr Nanoseconds kPaceGrain = std::chrono::microseconds(500);
constexpr std::size_t kReadSize = 4096;

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyServer::~PtyServer() {
    stop();
}

bool PtyServer::start(Watch& watch, std::uint32_t baud) {
    if (thread_.joinable()) {
        last_error_ = EBUSY;
        return false;
    }
    auto fail = [this] {
        last_error_ = errno;
        close_fd(master_fd_);
        close_fd(slave_fd_);
        close_fd(stop_fd_);
        return false;
    };
    master_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_fd_ < 0) return fail();
    if (::grantpt(master_fd_) != 0 || ::unlockpt(master_fd_) != 0) return fail();
    char name[128];
    if (::ptsname_r(master_fd_, name, sizeof name) != 0) return fail();
    slave_path_ = name;
    slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_fd_ < 0) return fail();
    // Raw line: no echo, no translation of CR/NL, every byte as it comes.
    termios tio{};
    if (::tcgetattr(slave_fd_, &tio) != 0) return fail();
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave_fd_, TCSANOW, &tio) != 0) return fail();
    if (::fcntl(master_fd_, F_SETFL, ::fcntl(master_fd_, F_GETFL) | O_NONBLOCK) != 0) return fail();
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd_ < 0) return fail();

    watch_ = &watch;
    baud_ = baud;
    serving_ = true;
    thread_ = std::thread([this] { serve(); });
    return true;
}

void PtyServer::stop() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(stop_fd_, &one, sizeof one);
        thread_.join();
    }
    serving_ = false;
    if (watch_ != nullptr) {
        watch_->set_output(nullptr);
        watch_->set_scheduler(nullptr);
        watch_->set_disconnect_handler(nullptr);
        watch_ = nullptr;
    }
    close_fd(master_fd_);
    close_fd(slave_fd_);
    close_fd(stop_fd_);
}

void PtyServer::serve() {
    // Sleeps end close to their deadline; the default 50 us slack would show up
    // in paced timing.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // A watch has a processor of its own: where the system allows it, this
    // thread takes the lowest real-time priority, so that a busy machine slows
    // the host side, as it would with a real watch, and not the watch's
    // replies. Elsewhere it runs as any thread. It only ever waits in ppoll.
    sched_param priority{};
    priority.sched_priority = ::sched_get_priority_min(SCHED_FIFO);
    ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority);

    const bool paced = baud_ != 0;
    const Nanoseconds byte_time =
        paced ? Nanoseconds(kBitsPerByte * 1'000'000'000ULL / baud_) : Nanoseconds(0);
    const std::size_t pace_chunk =
        paced ? std::max<std::size_t>(1, static_cast<std::size_t>(kPaceGrain / byte_time)) : 0;

    struct Pending {
        TimePoint ready;
        std::vector<std::uint8_t> bytes;
    };
    std::deque<Pending> rx;  // paced: received bytes waiting for their wire time
    TimePoint rx_line_free = TimePoint::min();
    std::deque<std::uint8_t> tx;                // reply bytes not yet written
    TimePoint tx_line_free = TimePoint::min();  // paced: when the last byte written has left
    std::multimap<TimePoint, std::function<void()>> timers;
    bool disconnect = false;
    bool broken = false;

    watch_->set_output([&](std::span<const std::uint8_t> bytes) {
        if (paced && tx.empty()) tx_line_free = std::max(tx_line_free, SteadyClock::now());
        tx.insert(tx.end(), bytes.begin(), bytes.end());
    });
    watch_->set_scheduler([&](std::uint32_t delay_ms, std::function<void()> task) {
        timers.emplace(SteadyClock::now() + std::chrono::milliseconds(delay_ms), std::move(task));
    });
    watch_->set_disconnect_handler([&] { disconnect = true; });

    // Writes what the pty takes now; false when the master is unusable.
    auto write_some = [&](std::size_t limit) {
        std::uint8_t buffer[kReadSize];
        std::size_t n = std::min({limit, tx.size(), sizeof buffer});
        std::copy_n(tx.begin(), n, buffer);
        for (;;) {
            const ssize_t w = ::write(master_fd_, buffer, n);
            if (w >= 0) {
                tx.erase(tx.begin(), tx.begin() + w);
                return static_cast<std::size_t>(w);
            }
            if (errno == EINTR) continue;
            if (errno != EAGAIN) broken = true;
            return std::size_t{0};
        }
    };

    while (!disconnect && !broken) {
        TimePoint now = SteadyClock::now();
        while (!timers.empty() && timers.begin()->first <= now) {
            auto task = std::move(timers.begin()->second);
            timers.erase(timers.begin());
            task();
        }
        while (!rx.empty() && rx.front().ready <= now && !disconnect) {
            Pending p = std::move(rx.front());
            rx.pop_front();
            watch_->feed(p.bytes);
        }
        if (disconnect) break;

        bool want_output = false;
        TimePoint wake = TimePoint::max();
        if (!tx.empty()) {
            if (!paced) {
                write_some(tx.size());
                want_output = !tx.empty();
            } else {
                // Each piece goes out when its last byte would have left the UART;
                // deadlines are absolute so late wake-ups do not add up.
                for (;;) {
                    const std::size_t k = std::min(pace_chunk, tx.size());
                    const TimePoint due = tx_line_free + byte_time * static_cast<long>(k);
                    if (due > SteadyClock::now()) {
                        wake = std::min(wake, due);
                        break;
                    }
                    const std::size_t w = write_some(k);
                    tx_line_free += byte_time * static_cast<long>(w);
                    if (w < k) {
                        want_output = !broken;
                        break;
                    }
                    if (tx.empty()) break;
                }
            }
        }
        if (broken) break;
        if (!timers.empty()) wake = std::min(wake, timers.begin()->first);
        if (!rx.empty()) wake = std::min(wake, rx.front().ready);

        pollfd fds[2] = {{master_fd_, static_cast<short>(POLLIN | (want_output ? POLLOUT : 0)), 0},
                         {stop_fd_, POLLIN, 0}};
        timespec timeout{};
        timespec* timeout_ptr = nullptr;
        if (wake != TimePoint::max()) {
            const auto left = std::max(Nanoseconds(0), wake - SteadyClock::now());
            timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            timeout_ptr = &timeout;
        }
        const int r = ::ppoll(fds, 2, timeout_ptr, nullptr);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        if (fds[0].revents & (POLLERR | POLLNVAL)) break;
        if (fds[0].revents & POLLIN) {
            std::uint8_t buffer[kReadSize];
            const ssize_t n = ::read(master_fd_, buffer, sizeof buffer);
            if (n > 0) {
                if (paced) {
                    now = SteadyClock::now();
                    // The request's bytes arrive one after another on the wire.
                    const TimePoint start = std::max(now, rx_line_free);
                    rx_line_free = start + byte_time * n;
                    rx.push_back(Pending{rx_line_free, {buffer, buffer + n}});
                } else {
                    watch_->feed(
                        std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                break;  // EIO would mean nobody holds the slave; slave_fd_ rules it out
            }
        }
    }
    watch_->set_output(nullptr);
    watch_->set_scheduler(nullptr);
    watch_->set_disconnect_handler(nullptr);
    if (disconnect || broken) {
        // The cable is pulled: the SDK's reads fail from now on.
        close_fd(master_fd_);
        close_fd(slave_fd_);
    }
    serving_ = false;
}

}  // namespace stridelog::sim
