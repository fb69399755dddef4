#pragma once
// The drives that feed the game players: scripted ones (a car lap, a flight
// with take-off and landing, a coaster ride, a unit step) and recordings.
// Every scripted drive is a smooth function of time, lap after lap, whose
// speeds, rates and accelerations are the derivatives of its positions; the
// gravity parts and the accelerations with gravity follow from roll and
// pitch the way the library derives them.
#include <memory>
#include <mutex>
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

// Holds one attitude (degrees: heading anticlockwise from above, pitch nose
// up, roll) or turns steadily about one axis: the turning angle sweeps
// `rate` degrees per second through a 2 s sawtooth around the pose, its rate
// slot holds `rate` × `rateUnit` (the game's unit for rates), nothing else
// moves. The pose can be changed while the drive is played.
class PoseDrive : public Drive {
public:
    struct Pose {
        double heading = 0, pitch = 0, roll = 0;
        int turning = 0;  // the rate slot of the turn, 0 at rest
        double rate = 0;
    };
    // `pitchRateSign` -1: a game whose pitch rate grows with the nose going down.
    explicit PoseDrive(double rateUnit = 1.0, double pitchRateSign = 1.0) : rateUnit_(rateUnit), pitchRateSign_(pitchRateSign) {}
    void set(const Pose& pose);
    void at(double seconds, SimState& out) override;
    double lengthSeconds() const override;

private:
    double rateUnit_, pitchRateSign_;
    std::mutex mutex_;
    Pose pose_;
};
// Plays the rows back, each for its 2 ms tick; the ground flag comes from
// the gear slots (all three loaded), as X-Plane reports it.
std::unique_ptr<Drive> recordingDrive(Recording recording);

}  // namespace rez::sim
