#include "platform/tty_serial_device.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "platform/clock.hpp"

namespace stridelog::platform {
namespace {

// Windows-style codes carried in LineSettings.
constexpr std::uint8_t kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3,
                       kParitySpace = 4;
constexpr std::uint8_t kStopOne = 0, kStopTwo = 2;

bool baud_constant(std::uint32_t baud, speed_t& out) {
    struct Entry {
        std::uint32_t baud;
        speed_t constant;
    };
    static constexpr Entry kTable[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
    };
    for (const auto& e : kTable)
        if (e.baud == baud) {
            out = e.constant;
            return true;
        }
    return false;
}

// Sets or clears one modem line. A pseudo-terminal has no modem lines: its
// refusal (ENOTTY, EINVAL) is not an error.
bool set_modem_line(int fd, int line, bool on, int& error) {
    for (;;) {
        if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == ENOTTY || errno == EINVAL) return true;
        error = errno;
        return false;
    }
}

std::uint64_t real_now_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::unique_ptr<TtySerialDevice> TtySerialDevice::open(const std::string& path, int& error) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // The advisory lock catches a second open even by a privileged process, for
    // which TIOCEXCL does not apply.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return nullptr;
    }
    if (!::isatty(fd)) {
        error = ENOTTY;
        ::close(fd);
        return nullptr;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        error = errno;
        ::close(fd);
        return nullptr;
    }
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        error = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TtySerialDevice>(new TtySerialDevice(fd, wake));
}

TtySerialDevice::~TtySerialDevice() {
    // The exclusive flag lives on the tty, not on this descriptor; a
    // pseudo-terminal whose master stays open would keep it.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    ::close(wake_fd_);
}

bool TtySerialDevice::configure(const LineSettings& settings, int& error) {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        error = errno;
        return false;
    }
    speed_t speed;
    if (!baud_constant(settings.baud_rate, speed)) {
        error = EINVAL;
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (settings.byte_size) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            error = EINVAL;
            return false;
    }
    switch (settings.parity) {
        case kParityNone:
            break;
        case kParityOdd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case kParityEven:
            tio.c_cflag |= PARENB;
            break;
        case kParityMark:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case kParitySpace:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            error = EINVAL;
            return false;
    }
    switch (settings.stop_bits) {
        case kStopOne:
            break;
        case kStopTwo:
            tio.c_cflag |= CSTOPB;
            break;
        default:
            error = EINVAL;
            return false;  // one and a half: no termios form
    }
    // Reads never wait in the driver: poll() does the waiting, so a burst is
    // handed on as soon as it arrives rather than on VTIME's 100 ms grain.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) {
        error = errno;
        return false;
    }
    int rc;
    do {
        rc = ::tcsetattr(fd_, TCSANOW, &tio);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = errno;
        return false;
    }
    // Whatever a previous user of the line left unread (a late reply) is not ours.
    ::tcflush(fd_, TCIOFLUSH);
    return set_modem_line(fd_, TIOCM_DTR, settings.dtr, error) &&
           set_modem_line(fd_, TIOCM_RTS, settings.rts, error);
}

bool TtySerialDevice::write(std::span<const std::uint8_t> bytes, std::uint32_t timeout_ms,
                            std::size_t& written) {
    written = 0;
    // The bound holds on the platform clock; the real-time bound keeps a
    // virtual clock (which does not move while we wait) from waiting forever.
    const std::uint64_t deadline = clock().now_ms() + timeout_ms;
    const std::uint64_t real_deadline = real_now_ms() + timeout_ms;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const std::uint64_t now = clock().now_ms();
        const std::uint64_t real_now = real_now_ms();
        if (now >= deadline || real_now >= real_deadline) {
            errno = ETIMEDOUT;
            return false;
        }
        const std::uint64_t wait = std::min(deadline - now, real_deadline - real_now);
        pollfd p{fd_, POLLOUT, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(wait));
        if (rc < 0 && errno != EINTR) return false;
        if (rc > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
            errno = EIO;
            return false;
        }
    }
    return true;
}

long TtySerialDevice::read_burst(std::span<std::uint8_t> buffer, std::uint64_t& discards) {
    for (;;) {
        if (interrupted_.load(std::memory_order_acquire)) return -1;
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        const int rc = ::poll(p, 2, -1);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (p[1].revents != 0 || interrupted_.load(std::memory_order_acquire)) return -1;
        if (p[0].revents & POLLNVAL) return -1;
        if (buffer.empty()) return 0;
        if (p[0].revents & POLLIN) {
            ssize_t n = 0;
            {
                // The descriptor does not block: input discarded since the
                // poll reads as nothing, and the loop waits again.
                std::lock_guard lock(input_mutex_);
                n = ::read(fd_, buffer.data(), buffer.size());
                discards = discards_;
            }
            if (n > 0) return static_cast<long>(n);
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (n < 0) return -1;  // EIO: the line is gone
        }
        // Hang-up with nothing left to read, or end of file: the line is gone.
        if (p[0].revents & (POLLHUP | POLLERR)) return -1;
        if (p[0].revents & POLLIN) return -1;  // readable yet empty: end of file
    }
}

void TtySerialDevice::interrupt() {
    interrupted_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    ssize_t rc;
    do {
        rc = ::write(wake_fd_, &one, sizeof one);
    } while (rc < 0 && errno == EINTR);
}

std::uint64_t TtySerialDevice::discard_input() {
    std::lock_guard lock(input_mutex_);
    ::tcflush(fd_, TCIFLUSH);
    return ++discards_;
}

bool TtySerialDevice::input_pending() {
    int queued = 0;
    return ::ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0;
}

bool TtySerialDevice::resume() {
    std::uint64_t value;
    ssize_t rc;
    do {
        rc = ::read(wake_fd_, &value, sizeof value);
    } while (rc < 0 && errno == EINTR);
    interrupted_.store(false, std::memory_order_release);
    return true;
}

}  // namespace stridelog::platform
