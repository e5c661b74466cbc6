// Shared pieces of the link tests: a real pseudo-terminal whose master side the
// test drives, and an owner window recording the link's private messages as the
// task window would receive them.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/link_messages.hpp"
#include "platform/clock.hpp"
#include "platform/window_system.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/wire_helpers.hpp"

namespace stridelog::test {

// The test holds the master; the code under test opens the slave by path.
class PtyPair {
  public:
    PtyPair() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
        path_ = name;
        ::close(slave);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() { close_master(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    const std::string& path() const { return path_; }
    void close_master() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    // Our sends are far smaller than the pty's buffer: one write takes them whole.
    bool send(const Bytes& bytes) const {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Up to `count` bytes: what arrived before the line stayed quiet for the time-out.
    Bytes receive(std::size_t count, int timeout_ms = 2000) const {
        Bytes out;
        std::uint8_t buf[4096];
        while (out.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, timeout_ms) <= 0) break;
            const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

  private:
    int master_ = -1;
    std::string path_;
};

// One private message as the owner saw it; owned payloads are copied out and
// freed as the task window's handlers free them.
struct LinkMessage {
    UINT message = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
    std::string text;  // WM_LINK_VERSION
    Bytes block;       // WM_LINK_STATUS

    bool operator==(const LinkMessage&) const = default;
};

class OwnerWindow {
  public:
    OwnerWindow() {
        low_level_ = platform::register_window_message(link::kLowLevelMessageName);
        hwnd_ = platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            if (m == platform::kWmDestroy || m == platform::kWmNcDestroy) return 0;
            LinkMessage rec{m, w, l, {}, {}};
            if (m == link::WM_LINK_VERSION) rec.text = *link::kVersionTextMessage.take(w);
            if (m == link::WM_LINK_STATUS) rec.block = *link::kStatusBytesMessage.take(w);
            // Owned payloads are copied out; a low-level message's pointer only has to be there.
            if (m == link::WM_LINK_VERSION || m == link::WM_LINK_STATUS) rec.wparam = 0;
            if (m == low_level_) rec.lparam = 0;
            messages_.push_back(rec);
            return 0;
        });
    }
    ~OwnerWindow() { destroy(); }
    void destroy() {
        if (hwnd_) platform::destroy_window(hwnd_);
        hwnd_ = nullptr;
    }
    HWND hwnd() const { return hwnd_; }
    UINT low_level() const { return low_level_; }
    std::vector<LinkMessage>& messages() { return messages_; }

    // Pumps the loop until `count` messages arrived or the time-out passed.
    bool wait_for(std::size_t count, std::uint64_t timeout_ms = 3000) {
        return run_until([&] { return messages_.size() >= count; }, timeout_ms);
    }
    void pump() { deliver_posted(); }

  private:
    HWND hwnd_ = nullptr;
    UINT low_level_ = 0;
    std::vector<LinkMessage> messages_;
};

}  // namespace stridelog::test
