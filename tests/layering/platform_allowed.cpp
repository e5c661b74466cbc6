// Platform code including what platform code may: must compile.
#include "cable/cable_identity.hpp"
#include "platform/clock.hpp"
