#include "simulate.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/pty_server.hpp"
#include "sim/watch.hpp"

namespace stridelog_tool {
namespace {

constexpr std::uint32_t kSimulatedBaud = 115200;
constexpr const char* kSimulatedPort = "COM40";

class PtyWatch final : public SimulatedWatch {
  public:
    ~PtyWatch() override {
        server_.stop();
        if (!map_path_.empty()) ::unlink(map_path_.c_str());
    }

    bool Start(std::string& error) {
        if (!server_.start(watch_, kSimulatedBaud)) {
            error = std::string("pseudo-terminal: ") + std::strerror(server_.last_error());
            return false;
        }
        char path[] = "/tmp/stridelog-simulate-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd < 0) {
            error = std::string("device map: ") + std::strerror(errno);
            return false;
        }
        map_path_ = path;
        const std::string line = std::string("\\Device\\USB#VID_04FC&PID_0201#sim ") +
                                 kSimulatedPort + " " + server_.slave_path() + "\n";
        const bool written =
            ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        ::close(fd);
        if (!written) {
            error = "device map: short write";
            return false;
        }
        // Only the simulated watch is a cable port for this run.
        ::setenv("STRIDELOG_DEVICE_MAP", map_path_.c_str(), 1);
        return true;
    }

    std::string device_path() const override { return server_.slave_path(); }

  private:
    stridelog::sim::Watch watch_;
    stridelog::sim::PtyServer server_;
    std::string map_path_;
};

}  // namespace

std::unique_ptr<SimulatedWatch> StartSimulatedWatch(std::string& error) {
    auto watch = std::make_unique<PtyWatch>();
    if (!watch->Start(error)) return nullptr;
    return watch;
}

}  // namespace stridelog_tool
