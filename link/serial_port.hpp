// The watch's serial line, opened by COM port number.
//
// Threads: one thread opens, writes and closes (the task window's); one other
// thread may block in read_burst (the link's receive thread). interrupt_read may
// be called from any thread. Writes hold the write lock for their whole
// duration; a pending read holds no lock while it waits, so neither direction
// waits for the other. Open and Close take the write lock, then the read lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "link/dcb.hpp"
#include "platform/serial_device.hpp"

namespace stridelog::link {

class CSerialPort {
  public:
    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Opens "COM<port>" (port >= 1) through the serial device map and applies
    // the line settings. False when already open (the open line is kept), when
    // the port is unknown, in use or refuses the settings.
    bool Open(int port, const DCB& dcb);
    // True when a port was open.
    bool Close();
    // Writes every byte within the time-out; `written` counts what went out.
    bool Write(const std::uint8_t* bytes, std::size_t length, std::size_t& written,
               std::uint32_t timeout_ms);
    // Waits for a burst and returns its size (at most length); -1 when
    // interrupted, closed or the line is gone. `discards`: how many
    // discard_input calls had completed when the burst was taken.
    long read_burst(std::uint8_t* buffer, std::size_t length, std::uint64_t& discards);
    long read_burst(std::uint8_t* buffer, std::size_t length) {
        std::uint64_t discards = 0;
        return read_burst(buffer, length, discards);
    }
    // Releases a pending read_burst, and fails every later one until resume_read.
    void interrupt_read();
    // Allows reading again after interrupt_read; call only with no read pending.
    bool resume_read();
    // Drops input that has arrived and not been read yet; returns how many
    // discards have completed, this one included.
    std::uint64_t discard_input();
    // Whether input has arrived that no read_burst has taken yet.
    bool input_pending() const;

    std::size_t GetBytesRead() const { return bytes_read_; }
    std::size_t GetBytesWritten() const { return bytes_written_; }
    bool is_open() const;
    // errno of the last failed Open or Write (ETIMEDOUT for a write time-out).
    int last_error() const { return last_error_; }

  private:
    mutable std::recursive_mutex write_lock_;
    mutable std::recursive_mutex read_lock_;
    // Shared so a reader keeps the device alive until its read returns, even
    // when Close runs meanwhile.
    std::shared_ptr<platform::SerialDevice> device_;
    DCB dcb_{};
    bool interrupted_ = false;       // guarded by read_lock_
    std::size_t bytes_read_ = 0;     // receive thread only
    std::size_t bytes_written_ = 0;  // writer only
    int last_error_ = 0;             // writer only
};

}  // namespace stridelog::link
