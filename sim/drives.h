#pragma once
// The drives that feed the game players: scripted ones (a car lap, a flight
// with take-off and landing, a coaster ride, a unit step) and recordings.
// Every scripted drive is a smooth function of time, lap after lap, whose
// speeds, rates and accelerations are the derivatives of its positions; the
// gravity parts and the accelerations with gravity follow from roll and
// pitch the way the library derives them.
#include <memory>
#include <string>

#include "sim/game_player.h"
#include "sim/recording.h"

namespace rez::sim {

// Slot number of a name ("lateral_accel_g" ... or "slot_N"), or -1.
int slotOfName(const std::string& name);

// Gravity parts from roll and pitch, then the accelerations with gravity as
// the accelerations plus those parts; on the axis whose with-gravity slot is
// `givenWithGravity` the other way round.
void completeGravity(SimState& s, int givenWithGravity = -1);

std::unique_ptr<Drive> carDrive();
std::unique_ptr<Drive> flightDrive();
std::unique_ptr<Drive> coasterRide();
std::unique_ptr<Drive> stepDrive(int slot);
// Plays the rows back, each for its 2 ms tick; the ground flag comes from
// the gear slots (all three loaded), as X-Plane reports it.
std::unique_ptr<Drive> recordingDrive(Recording recording);

}  // namespace rez::sim
