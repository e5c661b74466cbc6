// Host kit code reaching into the SDK's own decoding of the watch's flash:
// must not compile (the kit reads the blocks as the public header describes them).
#include "watchdata/session_records.hpp"
