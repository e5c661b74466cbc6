// Simulator code including what the simulator may: must compile.
#include "cable/cable_identity.hpp"
#include "platform/registry.hpp"
#include "wire/frame.hpp"
