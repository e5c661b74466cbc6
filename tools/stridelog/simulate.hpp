// --simulate: a simulated watch on a pseudo-terminal, registered as the cable
// port for this run through a device-map file of its own.
#pragma once

#include <memory>
#include <string>

namespace stridelog_tool {

class SimulatedWatch {
  public:
    virtual ~SimulatedWatch() = default;
    virtual std::string device_path() const = 0;
};

// Starts the simulator and points STRIDELOG_DEVICE_MAP at a file naming its
// pseudo-terminal; null (with a reason) when it cannot start.
std::unique_ptr<SimulatedWatch> StartSimulatedWatch(std::string& error);

}  // namespace stridelog_tool
