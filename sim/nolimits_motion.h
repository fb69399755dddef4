#pragma once
// The roller-coaster simulator's telemetry for a simulated state, encoded
// from the simulator's own frames: the world's y axis is up, the quaternion
// turns car axes into world axes, in car axes x points right, y up and the
// car moves along -z, and the g-force is the specific force in g along the
// car's left, up and forward directions.
#include "sim/game_player.h"
#include "sources/tcp/nolimits_reply.h"

namespace rez::sim {

// Speed, orientation and g-force of `s` (the state and frame number are the
// caller's). The attitude is the library's: heading about the world's
// vertical (positive anticlockwise seen from above), then roll about the
// car's length (positive lifts the right side), then pitch about the car's
// width (positive lifts the nose), in degrees; the *_accel_g slots are the
// specific force in m/s² along right, forward and up.
NoLimitsTelemetry noLimitsTelemetryFrom(const SimState& s);

}  // namespace rez::sim
