// The points TCX and FIT draw: those with a position and a time that is a UTC
// instant, each with the distance run so far. Internal to the host kit.
#pragma once

#include <cstdint>
#include <vector>

#include "stridelog/hostkit/exporters.hpp"

namespace stridelog::hostkit {

struct TimedPoint {
    std::int64_t utc;
    const TrackPoint* point;
    double distance;  // metres from the first timed point, great-circle steps
};

std::vector<TimedPoint> timed_track(const Session& session, const LocalTime& zone);

}  // namespace stridelog::hostkit
