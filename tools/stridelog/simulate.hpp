// --simulate: the stridelog-sim executable as a child process, announced as
// the only cable for this run through a device-map file of its own.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace stridelog_tool {

struct SimulatorOptions {
    std::string image;       // flash image the simulator loads and saves
    bool realistic = false;  // sessions, a directory and a version instead of erased flash
};

class SimulatedWatch {
  public:
    ~SimulatedWatch();  // stops the child and removes the temporary files
    SimulatedWatch(const SimulatedWatch&) = delete;
    SimulatedWatch& operator=(const SimulatedWatch&) = delete;

    const std::string& device_path() const { return device_path_; }

  private:
    friend std::unique_ptr<SimulatedWatch> start_simulated_watch(const SimulatorOptions&,
                                                                 const std::function<bool()>&,
                                                                 std::string&);
    SimulatedWatch() = default;
    void stop();

    pid_t pid_ = -1;
    int announce_fd_ = -1;  // the child's stdout
    std::string folder_;    // private temporary folder holding the device map
    std::string map_path_;
    std::string device_path_;
};

// Where stridelog-sim is looked for, in order: beside this executable, in the
// build tree's sim/ folder, then along PATH.
std::vector<std::string> simulator_candidates(const std::string& own_executable,
                                              const char* path_variable);

// Starts the simulator, points STRIDELOG_DEVICE_MAP at the file it announces
// its pseudo-terminal in, and waits (bounded) for the announcement. Null, with
// a reason, when it cannot, or when give_up() turns true meanwhile. Call before
// the first SDK call.
std::unique_ptr<SimulatedWatch> start_simulated_watch(const SimulatorOptions& options,
                                                      const std::function<bool()>& give_up,
                                                      std::string& error);

}  // namespace stridelog_tool
