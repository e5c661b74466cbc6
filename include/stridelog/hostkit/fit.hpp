/**
 * @file stridelog/hostkit/fit.hpp
 * @brief A decoded session as a FIT activity file, the binary format most
 * training software imports.
 *
 * Pure: the bytes are returned, the caller writes them.
 *
 * The file holds, in this order: file_id (an activity, manufacturer
 * "development"), a timer start event, one record per point that has a
 * position and a valid time (the points TCX draws), a timer stop_all event,
 * one lap and one session covering the whole track (the watch's lap records
 * carry no times a reader could use), and the activity. Times are UTC through
 * LocalTime, as in the other formats, written as FIT timestamps (seconds since
 * kFitEpoch); the activity's local_timestamp keeps the watch's own clock.
 * Distances sum the great-circle distances between the positions, as TCX does.
 * A session without such points gets the header's start as its times (else
 * 2000-01-01T00:00:00Z) and no positions.
 *
 * @par Threads
 * No shared state.
 */
#pragma once

#include <cstdint>
#include <vector>

#include "stridelog/hostkit/exporters.hpp"
#include "stridelog/hostkit/records.hpp"

namespace stridelog::hostkit {

/// 1989-12-31T00:00:00Z, where FIT's date_time counts from, in seconds since 1970 UTC.
constexpr std::int64_t kFitEpoch = 631065600;

/**
 * @brief Writes a session as a FIT activity file.
 * @param session the session
 * @param zone the zone the watch's times are read in
 * @return the whole file: header, messages and CRC
 */
std::vector<std::uint8_t> write_fit(const Session& session, const LocalTime& zone);

}  // namespace stridelog::hostkit
