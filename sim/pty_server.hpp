// Serves a Watch on a pseudo-terminal: the SDK opens slave_path() as its serial
// port. Unpaced, replies go out as fast as the pty takes them; paced, the line
// behaves like a UART at the given baud rate with 10 bits per byte in both
// directions (a request is acted on once its last byte would have arrived, and
// reply bytes leave at the wire rate).
//
// Threads: start() and stop() from one controlling thread. The serve thread
// feeds the watch and runs its delayed replies; the watch's hooks are set by
// start() and cleared by stop().
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "sim/watch.hpp"

namespace stridelog::sim {

class PtyServer {
  public:
    PtyServer() = default;
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pty and starts serving; baud 0 means unpaced. False (with
    // last_error() holding errno) when the pty cannot be set up or already runs.
    bool start(Watch& watch, std::uint32_t baud);
    std::string slave_path() const { return slave_path_; }
    // Stops serving and joins; closes the pty. Safe to call more than once.
    void stop();
    // False once stopped or after a disconnection fault closed the line.
    bool serving() const { return serving_.load(); }
    int last_error() const { return last_error_; }

  private:
    void serve();

    Watch* watch_ = nullptr;
    std::uint32_t baud_ = 0;
    int master_fd_ = -1;
    int slave_fd_ = -1;  // kept open so the master never sees a hang-up between SDK opens
    int stop_fd_ = -1;
    std::string slave_path_;
    std::thread thread_;
    std::atomic<bool> serving_{false};
    int last_error_ = 0;
};

}  // namespace stridelog::sim
