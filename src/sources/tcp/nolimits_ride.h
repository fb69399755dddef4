#pragma once
// From one telemetry reply of the roller-coaster simulator to the record:
// angles from the ride's orientation quaternion, angular rates from the turn
// since the previous sample, gravity parts by rotating gravity into the car,
// and speeds integrated from the accelerations. This source does its own
// gravity step instead of the one the other readers share.
//
// The simulator's frames: the world's y axis is up; the quaternion turns car
// axes into world axes; in car axes x points right, y up, and the car moves
// along -z; the g-force is the specific force in g along the car's left, up
// and forward directions. So the car's x is the pitch axis (a positive turn
// about it lifts the nose), y the yaw axis and z the roll axis (a positive
// turn about it lifts the right side), as the angles below take them.
#include <array>
#include <cstdint>

#include "sources/game_data_record.h"
#include "sources/tcp/nolimits_reply.h"

namespace rez {

// What the samples carry from one to the next. One for the whole process: it
// survives a close, so a frame number seen before a reconnect still counts
// as seen.
struct NoLimitsRide {
    std::int32_t lastFrame = 0;
    // Orientation of the previous new frame, normalised (x, y, z, w), and
    // when it was received (seconds); forgotten on attach, so a turn made
    // while the connection was down is no rate.
    bool hasPrevious = false;
    std::array<double, 4> previous{};
    double previousAt = 0.0;
    std::array<double, 3> rate{};   // smoothed angular rates about the car's x, y, z, rad/s
    std::array<double, 3> accel{};  // smoothed accelerations lateral, longitudinal, vertical
    std::array<double, 3> leak{};   // leaky speeds, same axes
    std::array<int, 3> still{};     // samples in a row with the smoothed acceleration near 0
};

// The process's ride state; tests reset it with `noLimitsRide() = {}`.
NoLimitsRide& noLimitsRide();

// Stores one reply's sample in `record`; `receivedAtS` is when the reply
// arrived, in seconds on a steady clock. Rates and speeds step over the time
// since the previous new frame (the simulator renders at its own rate, and a
// reply may repeat a frame); a frame without a usable previous one (the first
// after attach, or one after a hold-up) only starts the next step. False,
// with nothing written, when the reply holds no new sample: no ride under
// way (state 0), the frame already seen, or a speed, orientation or g-force
// that is not a finite number (or an orientation of no length), which would
// otherwise poison the smoothing for good.
bool applyNoLimitsTelemetry(const NoLimitsTelemetry& telemetry, double receivedAtS, GameDataRecord& record,
                            NoLimitsRide& ride);

}  // namespace rez
