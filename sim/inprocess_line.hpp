// An in-process serial line between the SDK and a Watch, for tests on the
// virtual clock. The SDK opens "sim:<name>" through the serial device seam like
// any tty (exclusively); what it writes reaches the watch at once on the
// writer's thread, and the watch's replies wait in a read buffer for the SDK's
// reader.
//
// Virtual-clock accounting: every chunk of reply bytes counts as work in flight
// from the moment it is buffered until the reader comes back for more after
// taking it (or the line is interrupted or closed), so the clock never jumps
// while a reply is still on its way up to a message queue.
//
// Threads: construct and destroy on one thread while the SDK side is closed.
// The SDK side follows the SerialDevice contract. disconnect()/reconnect() may
// be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_device.hpp"
#include "sim/watch.hpp"

namespace stridelog::sim {

class InProcessLine {
  public:
    // Attaches to `watch` (its output, scheduler and disconnect hooks) and makes
    // "sim:<name>" openable. Throws std::invalid_argument when the name is taken.
    InProcessLine(Watch& watch, std::string name);
    ~InProcessLine();
    InProcessLine(const InProcessLine&) = delete;
    InProcessLine& operator=(const InProcessLine&) = delete;

    static constexpr const char* kPrefix = "sim:";

    std::string device_path() const;
    const std::string& name() const { return name_; }

    // Opens the SDK's side directly (what the serial seam does for "sim:<name>").
    // Null with EBUSY when already open, ENODEV when disconnected.
    std::unique_ptr<platform::SerialDevice> open(int& error);
    bool is_open() const;

    // The line goes away (as the disconnection fault does): reads fail, writes
    // fail, opening fails. reconnect() brings it back for a later open.
    void disconnect();
    void reconnect();
    bool connected() const;

    // Settings the SDK last applied, and bytes each way (diagnostics for tests).
    platform::LineSettings settings() const;
    std::size_t bytes_to_watch() const;
    std::size_t bytes_from_watch() const;

    struct State;

  private:
    Watch& watch_;
    std::string name_;
    std::shared_ptr<State> state_;
};

// Makes the line show up as a cable in the serial device map, under the value
// name \Device\USB#VID_04FC&PID_0201#sim<k> with the given port name (such as
// "COM7"), so port discovery finds it and opening the port reaches the line.
void register_as_cable(const InProcessLine& line, std::string port_name);

}  // namespace stridelog::sim
