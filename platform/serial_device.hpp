// One open serial line. The Linux backend drives a tty (a USB-serial cable or a
// pseudo-terminal); other backends (the in-process watch simulator) register a
// path prefix and plug into the same seam.
//
// Threads: one thread writes (and closes by destroying), another may block in
// read_burst; interrupt() may be called from any thread to release that reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace stridelog::platform {

struct LineSettings {
    std::uint32_t baud_rate = 115200;
    std::uint8_t byte_size = 8;
    std::uint8_t parity = 0;     // 0: none
    std::uint8_t stop_bits = 0;  // 0: one stop bit
    bool dtr = true;
    bool rts = false;
};

class SerialDevice {
  public:
    virtual ~SerialDevice() = default;
    // Applies the line settings; false with errno-style `error` when refused.
    virtual bool configure(const LineSettings& settings, int& error) = 0;
    // Writes every byte or gives up at the time-out; `written` counts what went out.
    virtual bool write(std::span<const std::uint8_t> bytes, std::uint32_t timeout_ms,
                       std::size_t& written) = 0;
    // Waits until at least one byte has arrived and returns what has arrived, at
    // most buffer.size() bytes, without waiting for more. Returns -1 once
    // interrupted or when the line is gone. `discards` receives how many
    // discard_input() calls had completed when the bytes were taken, so a
    // reader can tell bytes that were waiting before a discard (and escaped it)
    // from bytes that arrived after it.
    virtual long read_burst(std::span<std::uint8_t> buffer, std::uint64_t& discards) = 0;
    long read_burst(std::span<std::uint8_t> buffer) {
        std::uint64_t discards = 0;
        return read_burst(buffer, discards);
    }
    // Makes every read_burst, pending or later, return -1 at once.
    virtual void interrupt() = 0;
    // Undoes interrupt() so reading can start again; called only while no
    // read_burst is pending. False when the backend cannot (the default).
    virtual bool resume() { return false; }
    // Drops whatever has arrived and not yet been read; returns how many
    // discards have completed, this one included (0: the backend cannot discard).
    virtual std::uint64_t discard_input() { return 0; }
    // Whether bytes have arrived that no read_burst has taken yet (false when
    // the backend cannot tell).
    virtual bool input_pending() { return false; }
};

using SerialOpener =
    std::function<std::unique_ptr<SerialDevice>(const std::string& path, int& error)>;

// Opens the device exclusively. Paths with a registered prefix go to that
// backend; everything else is a tty path. Null with errno-style `error` on failure.
std::unique_ptr<SerialDevice> open_serial_device(const std::string& path, int& error);

void register_serial_backend(const std::string& prefix, SerialOpener opener);

}  // namespace stridelog::platform
