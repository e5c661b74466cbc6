// Host kit code including what the host kit may, the public headers: must compile.
#include "stridelog/hostkit/records.hpp"
#include "stridelog/stridelog.h"
