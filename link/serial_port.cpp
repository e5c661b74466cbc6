#include "link/serial_port.hpp"

#include <cerrno>
#include <cstdio>
#include <span>
#include <string>

#include "platform/registry.hpp"

namespace stridelog::link {
namespace {

platform::LineSettings line_settings(const DCB& dcb) {
    platform::LineSettings s;
    s.baud_rate = dcb.BaudRate;
    s.byte_size = dcb.ByteSize;
    s.parity = dcb.Parity;
    s.stop_bits = dcb.StopBits;
    s.dtr = dcb.fDtrControl == DTR_CONTROL_ENABLE;
    s.rts = dcb.fRtsControl == RTS_CONTROL_ENABLE;
    return s;
}

}  // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort() {
    Close();
}

bool CSerialPort::Open(int port, const DCB& dcb) {
    std::scoped_lock write(write_lock_);
    std::scoped_lock read(read_lock_);
    if (port < 1) {
        last_error_ = EINVAL;
        return false;
    }
    if (device_) {
        last_error_ = EBUSY;
        return false;
    }
    dcb_ = dcb;
    char name[24];
    std::snprintf(name, sizeof name, "COM%d", port);
    const auto path = platform::serial_port_device_path(name);
    if (!path) {
        last_error_ = ENOENT;
        return false;
    }
    int error = 0;
    std::unique_ptr<platform::SerialDevice> device = platform::open_serial_device(*path, error);
    if (!device) {
        last_error_ = error != 0 ? error : EIO;
        return false;
    }
    if (!device->configure(line_settings(dcb_), error)) {
        last_error_ = error != 0 ? error : EINVAL;
        return false;  // the device closes as it goes out of scope
    }
    device_ = std::move(device);
    interrupted_ = false;
    bytes_read_ = 0;
    bytes_written_ = 0;
    return true;
}

bool CSerialPort::Close() {
    std::shared_ptr<platform::SerialDevice> device;
    {
        std::scoped_lock write(write_lock_);
        std::scoped_lock read(read_lock_);
        device.swap(device_);
        // A reader still waiting on it must not wait forever.
        if (device) device->interrupt();
    }
    return device != nullptr;
}

bool CSerialPort::Write(const std::uint8_t* bytes, std::size_t length, std::size_t& written,
                        std::uint32_t timeout_ms) {
    written = 0;
    std::scoped_lock lock(write_lock_);
    if (!device_ || bytes == nullptr || length == 0) return false;
    errno = 0;
    const bool ok = device_->write(std::span(bytes, length), timeout_ms, written);
    bytes_written_ = written;
    if (!ok) last_error_ = errno != 0 ? errno : EIO;
    return ok;
}

long CSerialPort::read_burst(std::uint8_t* buffer, std::size_t length, std::uint64_t& discards) {
    std::shared_ptr<platform::SerialDevice> device;
    {
        std::scoped_lock lock(read_lock_);
        if (!device_ || interrupted_ || buffer == nullptr || length == 0) return -1;
        device = device_;
    }
    const long n = device->read_burst(std::span(buffer, length), discards);
    if (n >= 0) bytes_read_ = static_cast<std::size_t>(n);
    return n;
}

void CSerialPort::interrupt_read() {
    std::scoped_lock lock(read_lock_);
    interrupted_ = true;
    if (device_) device_->interrupt();
}

std::uint64_t CSerialPort::discard_input() {
    std::shared_ptr<platform::SerialDevice> device;
    {
        std::scoped_lock lock(read_lock_);
        device = device_;
    }
    return device ? device->discard_input() : 0;
}

bool CSerialPort::input_pending() const {
    std::shared_ptr<platform::SerialDevice> device;
    {
        std::scoped_lock lock(read_lock_);
        device = device_;
    }
    return device && device->input_pending();
}

bool CSerialPort::resume_read() {
    std::scoped_lock lock(read_lock_);
    if (!device_) return false;
    if (!interrupted_) return true;
    if (!device_->resume()) return false;
    interrupted_ = false;
    return true;
}

bool CSerialPort::is_open() const {
    std::scoped_lock lock(read_lock_);
    return device_ != nullptr;
}

}  // namespace stridelog::link
