// A decoded session as a FIT activity file, the binary format most training
// software imports. Pure: the bytes are returned, the caller writes them.
//
// The file holds, in this order: file_id (an activity, manufacturer
// "development"), a timer start event, one record per point that has a
// position and a time (the points TCX draws), a timer stop_all event,
// one lap and one session covering the whole track (the watch's lap records
// carry no times a reader could use), and the activity. Times are UTC through
// LocalTime, as in the other formats; the activity's local_timestamp keeps the
// watch's own clock. Distances sum the great-circle distances between the
// positions, as TCX does.
//
// Threads: no shared state.
#pragma once

#include <cstdint>
#include <vector>

#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"

namespace stridelog::hostkit {

// 1989-12-31T00:00:00Z, where FIT's date_time counts from, in Unix seconds.
constexpr std::int64_t kFitEpoch = 631065600;

std::vector<std::uint8_t> write_fit(const Session& session, const LocalTime& zone);

}  // namespace stridelog::hostkit
