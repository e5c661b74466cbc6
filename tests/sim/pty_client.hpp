// A plain termios client on the slave side of a pseudo-terminal, as a host
// program without the SDK would be.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "link/frame.hpp"

namespace stridelog::test {

class PtyClient {
  public:
    explicit PtyClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) return;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B115200);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~PtyClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    bool send(const std::vector<std::uint8_t>& payload) {
        const std::vector<std::uint8_t> frame = wire::encode_frame(payload);
        return ::write(fd_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    }
    // Reads until `count` frames arrived or the line is quiet for quiet_ms.
    // Returns the payloads; `gone` tells whether the line failed.
    std::vector<std::vector<std::uint8_t>> receive(std::size_t count, int quiet_ms = 2000) {
        std::vector<std::vector<std::uint8_t>> out;
        while (out.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, quiet_ms) <= 0) break;
            std::uint8_t buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                gone = true;
                break;
            }
            raw.insert(raw.end(), buffer, buffer + n);
            assembler_.feed(
                std::span(buffer, static_cast<std::size_t>(n)),
                [&](std::span<const std::uint8_t> pl) { out.emplace_back(pl.begin(), pl.end()); });
        }
        return out;
    }

    std::vector<std::uint8_t> raw;
    bool gone = false;

  private:
    int fd_ = -1;
    wire::FrameAssembler assembler_;
};

}  // namespace stridelog::test
