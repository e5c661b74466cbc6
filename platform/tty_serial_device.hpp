// The tty backend of the serial device seam: a USB-serial cable or a
// pseudo-terminal, opened exclusively, raw 8N1 (or as configured), non-blocking
// with poll()-bounded waits.
//
// Threads: as SerialDevice. read_burst on one thread, write on another;
// interrupt() from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/serial_device.hpp"

namespace stridelog::platform {

class TtySerialDevice final : public SerialDevice {
  public:
    // Opens `path` exclusively: a second open, from this process or another,
    // fails with EBUSY. Null with errno in `error` on failure.
    static std::unique_ptr<TtySerialDevice> open(const std::string& path, int& error);
    ~TtySerialDevice() override;
    TtySerialDevice(const TtySerialDevice&) = delete;
    TtySerialDevice& operator=(const TtySerialDevice&) = delete;

    bool configure(const LineSettings& settings, int& error) override;
    // On failure errno says why: ETIMEDOUT when the time-out passed.
    bool write(std::span<const std::uint8_t> bytes, std::uint32_t timeout_ms,
               std::size_t& written) override;
    using SerialDevice::read_burst;
    long read_burst(std::span<std::uint8_t> buffer, std::uint64_t& discards) override;
    void interrupt() override;
    bool resume() override;
    std::uint64_t discard_input() override;
    bool input_pending() override;

  private:
    TtySerialDevice(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {}

    int fd_ = -1;
    // Written once by interrupt() and left readable, so a reader that arrives
    // late sees it too; drained by resume().
    int wake_fd_ = -1;
    // Taking bytes and discarding them exclude each other, so every burst is
    // either before or after a discard, never astride it.
    std::mutex input_mutex_;
    std::uint64_t discards_ = 0;  // under input_mutex_
    std::atomic<bool> interrupted_{false};
};

}  // namespace stridelog::platform
