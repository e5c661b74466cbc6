// A plain termios client on the slave side of a pseudo-terminal, as a host
// program without the SDK would be.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "wire/frame.hpp"

namespace stridelog::test {

struct PtyClient {
    explicit PtyClient(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B115200);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ~PtyClient() {
        if (fd >= 0) ::close(fd);
    }
    bool ok() const { return fd >= 0; }

    bool send(const std::vector<std::uint8_t>& payload) {
        const std::vector<std::uint8_t> frame = wire::encode_frame(payload);
        return ::write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    }
    // The payloads of up to `count` frames, stopping when the line is quiet for
    // quiet_ms or fails (then `gone` is set). Every byte read is kept in `raw`.
    std::vector<std::vector<std::uint8_t>> receive(std::size_t count, int quiet_ms = 2000) {
        std::vector<std::vector<std::uint8_t>> out;
        pollfd p{fd, POLLIN, 0};
        while (out.size() < count && ::poll(&p, 1, quiet_ms) > 0) {
            std::uint8_t buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if ((gone = n <= 0)) break;
            raw.insert(raw.end(), buffer, buffer + n);
            assembler.feed(std::span(buffer, static_cast<std::size_t>(n)),
                           [&](auto pl) { out.emplace_back(pl.begin(), pl.end()); });
        }
        return out;
    }

    int fd;
    std::vector<std::uint8_t> raw;
    bool gone = false;
    wire::FrameAssembler assembler;
};

}  // namespace stridelog::test
