// Simulator code reaching into the SDK's watch link: must not compile.
#include "link/watch_link.hpp"
