// A watch that has been used for a while: six sessions of runs and rides with
// laps, pauses, a cold start without a fix, a midnight crossing, a clock
// correction and an indoor session without track points, written through the
// workout encoder, and the set-up of watch_setup_content.hpp (paths, settings,
// views, identity). Always the same bytes, so images and tests can rely on it.
//
// Threads: pure functions; no shared state.
#pragma once

#include <vector>

#include "sim/flash.hpp"
#include "sim/workout_encoder.hpp"

namespace stridelog::sim {

inline constexpr char kRealisticLongVersion[] = "1.30.07_A12";

// The sessions as the watch recorded them, in directory order.
std::vector<SessionPlan> realistic_sessions();

// The sector allocation of the realistic content: the watch's ring has
// wrapped, so sessions run from sector 185 up and continue at sector 1. It
// stays within 1..229, so either reserved tail fits.
std::vector<std::uint8_t> realistic_sector_order();

// Writes the realistic sessions, directory, usage bitmap (with the reserved
// tail of the chosen layout), long version text and the realistic set-up
// (paths, settings, views, identity); returns what a full download must
// deliver, in directory order.
std::vector<ExpectedSession> generate_realistic_flash(Flash& flash, bool large_reserve);

}  // namespace stridelog::sim
