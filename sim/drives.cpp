#include "sim/drives.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <utility>

#include "sources/game_data_record.h"
#include "sources/game_table.h"

namespace rez::sim {

namespace {

constexpr double kG = 9.80665;
constexpr double kPi = std::numbers::pi;
constexpr double kEndless = std::numeric_limits<double>::infinity();

double deg(double radians) { return radians * 180.0 / kPi; }
double rad(double degrees) { return degrees * kPi / 180.0; }

// A smooth plateau: 0 before `a`, a half cosine up to 1 at `b`, 1 until `c`,
// a half cosine down to 0 at `d`; with its first and second derivative and
// its integral from the start.
struct Pulse {
    double a, b, c, d;

    double value(double t) const {
        if (t <= a || t >= d) return 0;
        if (t < b) return (1 - std::cos(kPi * (t - a) / (b - a))) / 2;
        if (t <= c) return 1;
        return (1 + std::cos(kPi * (t - c) / (d - c))) / 2;
    }
    double rate(double t) const {
        if (t <= a || t >= d || (t >= b && t <= c)) return 0;
        if (t < b) return kPi / (2 * (b - a)) * std::sin(kPi * (t - a) / (b - a));
        return -kPi / (2 * (d - c)) * std::sin(kPi * (t - c) / (d - c));
    }
    double accel(double t) const {
        if (t <= a || t >= d || (t >= b && t <= c)) return 0;
        if (t < b) return kPi * kPi / (2 * (b - a) * (b - a)) * std::cos(kPi * (t - a) / (b - a));
        return -kPi * kPi / (2 * (d - c) * (d - c)) * std::cos(kPi * (t - c) / (d - c));
    }
    double integral(double t) const {
        const double rise = b - a, fall = d - c;
        if (t <= a) return 0;
        if (t < b) return (t - a) / 2 - rise / (2 * kPi) * std::sin(kPi * (t - a) / rise);
        if (t <= c) return rise / 2 + (t - b);
        if (t < d) return rise / 2 + (c - b) + (t - c) / 2 + fall / (2 * kPi) * std::sin(kPi * (t - c) / fall);
        return rise / 2 + (c - b) + fall / 2;
    }
    double area() const { return integral(d); }
};

// A weighted sum of pulses, differentiated and integrated term by term.
struct Profile {
    struct Term {
        double weight;
        Pulse pulse;
    };
    std::vector<Term> terms;

    double value(double t) const { return sum(t, &Pulse::value); }
    double rate(double t) const { return sum(t, &Pulse::rate); }
    double accel(double t) const { return sum(t, &Pulse::accel); }
    double integral(double t) const { return sum(t, &Pulse::integral); }

private:
    double sum(double t, double (Pulse::*part)(double) const) const {
        double total = 0;
        for (const Term& term : terms) total += term.weight * (term.pulse.*part)(t);
        return total;
    }
};

// A bump in the road: a raised cosine of height `h` over `length` seconds.
struct Bump {
    double start, length, h;
    double position(double t) const { return inside(t) ? h * (1 - std::cos(2 * kPi * (t - start) / length)) / 2 : 0; }
    double speed(double t) const { return inside(t) ? h * kPi / length * std::sin(2 * kPi * (t - start) / length) : 0; }
    double accel(double t) const {
        return inside(t) ? h * 2 * kPi * kPi / (length * length) * std::cos(2 * kPi * (t - start) / length) : 0;
    }
    bool inside(double t) const { return t > start && t < start + length; }
};

double wrap180(double degrees) {
    double w = std::fmod(degrees + 180.0, 360.0);
    if (w < 0) w += 360.0;
    return w - 180.0;
}

// Lap-based scripted drives: the state at a time within the lap.
class LapDrive : public Drive {
public:
    explicit LapDrive(double lap) : lap_(lap) {}
    void at(double seconds, SimState& out) final {
        out = SimState{};
        lapAt(std::fmod(std::max(seconds, 0.0), lap_), out);
    }
    double lengthSeconds() const final { return kEndless; }

protected:
    virtual void lapAt(double t, SimState& out) const = 0;

private:
    double lap_;
};

// A car lap of 20 s: away from standstill, a left-right sweep at 30 m/s, a
// bump, braking to a stop.
class CarDrive : public LapDrive {
public:
    CarDrive() : LapDrive(20.0) {}

private:
    void lapAt(double t, SimState& st) const override {
        double* s = st.slots;
        const double v = accel_.integral(t), a = accel_.value(t), jerk = accel_.rate(t), snap = accel_.accel(t);
        const double r = yawRate_.value(t), r1 = yawRate_.rate(t), r2 = yawRate_.accel(t);  // rad/s and its derivatives
        // Turning takes v·r of lateral acceleration; the body rolls out of
        // the turn and squats or dives with the longitudinal acceleration.
        const double lat = v * r, lat1 = a * r + v * r1, lat2 = jerk * r + 2 * a * r1 + v * r2;
        const double rollPerAccel = -0.4, pitchPerAccel = 0.25;  // degrees per m/s²

        s[kLongituSpeed] = v;
        s[kLongituAccel] = a;
        s[kLateralSpeed] = 0.05 * lat;
        s[kLateralAccel] = lat;
        s[kVerticaSpeed] = bump_.speed(t);
        s[kVerticaAccel] = bump_.accel(t);
        s[kYawPosition] = 20.0 + deg(yawRate_.integral(t));
        s[kYawSpeed] = deg(r);
        s[kYawAccel] = deg(r1);
        s[kRollPosition] = rollPerAccel * lat;
        s[kRollSpeed] = rollPerAccel * lat1;
        s[kRollAccel] = rollPerAccel * lat2;
        s[kPitchPosition] = pitchPerAccel * a + 20.0 * bump_.position(t);
        s[kPitchSpeed] = pitchPerAccel * jerk + 20.0 * bump_.speed(t);
        s[kPitchAccel] = pitchPerAccel * snap + 20.0 * bump_.accel(t);
        // Suspension travel in m: dive, roll and the bump.
        const double dive = 0.002 * a, roll = 0.003 * lat, hit = bump_.position(t);
        s[kFrontLeftSusp] = 0.10 + dive + roll + hit;
        s[kFrontRightSusp] = 0.10 + dive - roll + hit;
        s[kRearLeftSusp] = 0.10 - dive + roll + bump_.position(t - 0.08);
        s[kRearRightSusp] = 0.10 - dive - roll + bump_.position(t - 0.08);
        s[kRpm] = 900.0 + 110.0 * v;
        s[kSpeed] = v;
        st.onGround = true;
        completeGravity(st);
    }

    // 7.5 m/s² for 4 s (on and off over 1 s): 30 m/s; then braking to 0.
    Profile accel_{{{7.5, {1, 2, 5, 6}}, {-30.0 / 3.5, {14, 14.5, 17.5, 18}}}};
    Profile yawRate_{{{0.3, {7.5, 8.5, 9.5, 10.5}}, {-0.3, {10.5, 11.5, 12.5, 13.5}}}};
    Bump bump_{6.8, 0.25, 0.04};
};

// A flight of 180 s: take-off roll, rotation and lift-off at 28 s, a climb,
// a turn out and back, the descent and the landing at 146 s, the roll-out.
class FlightDrive : public LapDrive {
public:
    FlightDrive() : LapDrive(180.0) {}

private:
    static constexpr double kLiftOff = 28.0, kTouchDown = 146.0;

    void lapAt(double t, SimState& st) const override {
        double* s = st.slots;
        const double v = accel_.integral(t), a = accel_.value(t);
        const double bank = bank_.value(t), bankRate = bank_.rate(t), bankAccel = bank_.accel(t);
        const double pitch = pitch_.value(t);
        // A coordinated turn: yaw rate g·tan(bank)/v, no side force felt.
        const double turnRate = kG * std::tan(rad(25.0)) / 63.0;  // rad/s at full bank
        const double r = turnRate * turn_.value(t), r1 = turnRate * turn_.rate(t);
        const bool ground = t < kLiftOff || t >= kTouchDown;

        s[kLongituSpeed] = v;
        s[kLongituAccel] = a;
        s[kVerticaSpeed] = touchDown_.speed(t);
        s[kYawPosition] = 90.0 + deg(turnRate * turn_.integral(t));
        s[kYawSpeed] = deg(r);
        s[kYawAccel] = deg(r1);
        s[kRollPosition] = bank;
        s[kRollSpeed] = bankRate;
        s[kRollAccel] = bankAccel;
        s[kPitchPosition] = pitch;
        s[kPitchSpeed] = pitch_.rate(t);
        s[kPitchAccel] = pitch_.accel(t);
        // Gear loads in N while on the ground, less as the wings take the
        // weight; the nose gear also feels the acceleration.
        if (ground) {
            const double lift = std::min(1.0, (v / 63.0) * (v / 63.0));
            const double nose = std::max(500.0, 9000.0 * (1 - 0.9 * lift) - 900.0 * a);
            const double main = std::max(500.0, 30000.0 * (1 - 0.9 * lift) + 450.0 * a);
            s[kFrontLeftSusp] = s[kFrontRightSusp] = nose;
            s[kRearLeftSusp] = s[kRearRightSusp] = main;
        }
        s[kRpm] = 1200.0 + 1200.0 * power_.value(t);
        s[kSpeed] = v;
        st.onGround = ground;
        completeGravity(st);
        // What the pilot feels: no side force, the load factor of the bank,
        // the pull-up at rotation and the touch-down.
        const double cosPitch = std::cos(rad(pitch)), cosBank = std::cos(rad(bank));
        s[kLateralAccel] = -s[kLateralGravi];
        s[kVerticaAccelG] = kG * cosPitch / cosBank + 2.0 * pullUp_.value(t) + touchDown_.accel(t);
        completeGravity(st, kVerticaAccelG);
    }

    Profile accel_{{{3.0, {5, 7, 26, 28}}, {-63.0 / 22.0, {150, 151, 172, 173}}}};
    Profile pitch_{{{10.0, {24, 26, 40, 45}}, {-3.0, {100, 105, 140, 146}}}};
    Profile bank_{{{25.0, {55, 59, 71, 75}}, {-25.0, {80, 84, 96, 100}}}};
    Profile turn_{{{1.0, {55, 59, 71, 75}}, {-1.0, {80, 84, 96, 100}}}};
    Profile power_{{{1.0, {4, 6, 40, 45}}}};
    Profile pullUp_{{{1.0, {25, 26, 27, 28}}}};
    Bump touchDown_{kTouchDown, 0.3, 0.08};
};

// A coaster ride of 60 s: out of the station, up the lift hill, the drop and
// its valley, a banked turn, an airtime hill, a second turn, the brakes.
class CoasterRide : public LapDrive {
public:
    CoasterRide() : LapDrive(60.0) {}

private:
    void lapAt(double t, SimState& st) const override {
        double* s = st.slots;
        const double v = accel_.integral(t), a = accel_.value(t);
        const double r = yawRate_.value(t), r1 = yawRate_.rate(t);
        s[kLongituSpeed] = v;
        s[kLongituAccel] = a;
        // The banked turns hold the riders in their seats: the pull of the
        // turn is mostly met by the bank.
        s[kLateralAccel] = -v * r;
        s[kVerticaAccel] = vertical_.value(t);
        s[kYawPosition] = wrap180(deg(yawRate_.integral(t)));
        s[kYawSpeed] = deg(r);
        s[kYawAccel] = deg(r1);
        s[kRollPosition] = bank_.value(t);
        s[kRollSpeed] = bank_.rate(t);
        s[kRollAccel] = bank_.accel(t);
        s[kPitchPosition] = pitch_.value(t);
        s[kPitchSpeed] = pitch_.rate(t);
        s[kPitchAccel] = pitch_.accel(t);
        s[kSpeed] = v;
        st.onGround = true;
        completeGravity(st);
    }

    // Out of the station to 3 m/s, 24 m/s more down the drop, braked to a
    // stop at the end.
    Profile accel_{{{3.0, {4, 5, 5, 6}}, {12.0, {24.5, 25.5, 26.5, 27.5}}, {-9.0, {54, 55, 57, 58}}}};
    Profile pitch_{{{25.0, {6, 8, 22, 24}}, {-55.0, {24, 25.5, 26.5, 28}}}};
    // Two half turns to the left: the ride ends where it began.
    Profile yawRate_{{{kPi / 8, {30, 32, 38, 40}}, {kPi / 6, {46, 48, 52, 54}}}};
    Profile bank_{{{60.0, {30, 32, 38, 40}}, {50.0, {46, 48, 52, 54}}}};
    // The pull out of the valley, the lift over the airtime hill.
    Profile vertical_{{{20.0, {27.5, 28.5, 29, 30}}, {-7.0, {42.5, 43.5, 44.5, 45.5}}}};
};

class StepDrive : public Drive {
public:
    explicit StepDrive(int slot) : slot_(slot) {}
    void at(double seconds, SimState& out) override {
        out = SimState{};
        out.slots[slot_] = seconds >= 1.0 ? 1.0 : 0.0;
        // The engine takes telemetry that stays exactly the same for half a
        // second as a paused game: it holds its outputs and fades them back
        // in later, which would spoil the response to the step. A speed
        // that no plotted channel uses keeps moving, too little to see.
        const int alive = slot_ == kLateralSpeed ? kLongituSpeed : kLateralSpeed;
        out.slots[alive] = 1e-4 * std::sin(2.0 * kPi * 7.0 * seconds);
        const bool withGravity = slot_ == kLateralAccelG || slot_ == kLongituAccelG || slot_ == kVerticaAccelG;
        completeGravity(out, withGravity ? slot_ : -1);
    }
    double lengthSeconds() const override { return kEndless; }

private:
    int slot_;
};

// Rows play at the times they were recorded, the first row's time being 0:
// a recording made on a loaded machine, whose ticks came slower than 2 ms,
// plays back at the pace the game had then, not faster.
class RecordingDrive : public Drive {
public:
    explicit RecordingDrive(Recording recording) : recording_(std::move(recording)) {
        offsets_.reserve(recording_.ticks.size());
        for (const RecordedTick& tick : recording_.ticks) offsets_.push_back(tick.seconds - recording_.ticks.front().seconds);
    }
    void at(double seconds, SimState& out) override {
        out = SimState{};
        if (recording_.ticks.empty()) return;
        // The row of the tick that was current at this time: the latest one
        // that had begun. The slack keeps a drive time computed as n x 2 ms
        // on the row stamped n x 2 ms.
        const auto after = std::upper_bound(offsets_.begin(), offsets_.end(), seconds + 1e-9);
        const std::size_t row = after == offsets_.begin() ? 0 : static_cast<std::size_t>(after - offsets_.begin()) - 1;
        const RecordedTick& tick = recording_.ticks[row];
        std::copy(std::begin(tick.slots), std::end(tick.slots), out.slots);
        out.onGround = out.slots[kFrontLeftSusp] > 0 && out.slots[kRearLeftSusp] > 0 && out.slots[kRearRightSusp] > 0;
    }
    // To the end of the last row, which lasts as long as the one before it.
    double lengthSeconds() const override {
        if (offsets_.empty()) return 0;
        const std::size_t n = offsets_.size();
        const double last = n >= 2 ? offsets_[n - 1] - offsets_[n - 2] : kNominalTickSeconds;
        return offsets_.back() + (last > 0 ? last : kNominalTickSeconds);
    }

private:
    Recording recording_;
    std::vector<double> offsets_;  // each row's time from the first row's
};

}  // namespace

int slotOfName(const std::string& name) {
    for (int slot = 1; slot <= kNamedSlotCount; ++slot)
        if (name == gameSlotName(slot)) return slot;
    if (name.rfind("slot_", 0) == 0 && name.size() > 5 && name.size() <= 7) {
        char* end = nullptr;
        const long n = std::strtol(name.c_str() + 5, &end, 10);
        if (*end == '\0' && n >= 0 && n < kGameSlotCount) return static_cast<int>(n);
    }
    return -1;
}

void completeGravity(SimState& st, int givenWithGravity) {
    double* s = st.slots;
    const double phi = rad(s[kRollPosition]), theta = rad(s[kPitchPosition]);
    s[kLongituGravi] = kG * std::sin(theta);
    s[kLateralGravi] = kG * std::cos(theta) * std::sin(phi);
    s[kVerticaGravi] = kG * std::cos(theta) * std::cos(phi);
    for (int axis : {kLateralAccel, kLongituAccel, kVerticaAccel}) {
        // accel, accel_g and gravi lie side by side.
        if (axis + 1 == givenWithGravity)
            s[axis] = s[axis + 1] - s[axis + 2];
        else
            s[axis + 1] = s[axis] + s[axis + 2];
    }
}

// A vehicle never stands perfectly still: its engine and the road shake it a
// little. Without that, a steady stretch of a scripted drive (a cruise, a
// wait at the station) would publish exactly the same sample for more than
// half a second, which the engine takes for a paused game: it holds its
// outputs and fades them back in later. A 13 Hz shake of 0.02 m/s² up and
// down, with the vertical speed that goes with it, is too small to feel.
class Shaken : public Drive {
public:
    explicit Shaken(std::unique_ptr<Drive> drive) : drive_(std::move(drive)) {}
    void at(double seconds, SimState& out) override {
        drive_->at(seconds, out);
        const double w = 2.0 * kPi * 13.0;
        const double a = 0.02 * std::sin(w * seconds);
        out.slots[kVerticaAccel] += a;
        out.slots[kVerticaAccelG] += a;
        out.slots[kVerticaSpeed] += -0.02 / w * std::cos(w * seconds);
    }
    double lengthSeconds() const override { return drive_->lengthSeconds(); }

private:
    std::unique_ptr<Drive> drive_;
};

std::unique_ptr<Drive> carDrive() { return std::make_unique<Shaken>(std::make_unique<CarDrive>()); }
std::unique_ptr<Drive> flightDrive() { return std::make_unique<Shaken>(std::make_unique<FlightDrive>()); }
std::unique_ptr<Drive> coasterRide() { return std::make_unique<Shaken>(std::make_unique<CoasterRide>()); }
void PoseDrive::set(const Pose& pose) {
    std::lock_guard<std::mutex> lock(mutex_);
    pose_ = pose;
}

void PoseDrive::at(double seconds, SimState& out) {
    out = SimState{};
    Pose pose;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pose = pose_;
    }
    const Pose* p = &pose;
    const double swept = p->rate * (std::fmod(std::max(seconds, 0.0), 2.0) - 1.0);
    out.slots[kYawPosition] = p->heading + (p->turning == kYawSpeed ? swept : 0);
    out.slots[kPitchPosition] = p->pitch + (p->turning == kPitchSpeed ? swept : 0);
    out.slots[kRollPosition] = p->roll + (p->turning == kRollSpeed ? swept : 0);
    if (p->turning) out.slots[p->turning] = p->rate * rateUnit_ * (p->turning == kPitchSpeed ? pitchRateSign_ : 1.0);
    out.onGround = true;
    completeGravity(out);
}

double PoseDrive::lengthSeconds() const { return kEndless; }

std::unique_ptr<Drive> stepDrive(int slot) { return std::make_unique<StepDrive>(slot); }
std::unique_ptr<Drive> recordingDrive(Recording recording) { return std::make_unique<RecordingDrive>(std::move(recording)); }

bool isDriveName(const std::string& name) {
    for (const char* known : {"default", "drive", "flight", "ride", "step"})
        if (name == known) return true;
    return false;
}

std::unique_ptr<Drive> makeDrive(const std::string& nameOrRecordingPath, const std::string& gameKey, std::string& error,
                                 const std::string& slot) {
    std::string name = nameOrRecordingPath;
    if (name == "default") {
        switch (gameIdOfKey(gameKey)) {
            case kXplane:
            case kDcs:
            case kMsfs2020:
            case kMsfs2024:
            case kCondor2: name = "flight"; break;
            case kNoLimits2: name = "ride"; break;
            default: name = "drive"; break;
        }
    }
    if (name == "drive") return carDrive();
    if (name == "flight") return flightDrive();
    if (name == "ride") return coasterRide();
    if (name == "step") {
        const int n = slotOfName(slot);
        if (n < 0) {
            error = slot.empty() ? "the step drive needs --slot NAME (a slot name such as lateral_accel_g, or slot_N)"
                                 : "unknown slot \"" + slot + "\" (a slot name such as lateral_accel_g, or slot_N)";
            return nullptr;
        }
        return stepDrive(n);
    }
    Recording recording;
    if (!readRecording(name, recording, error)) {
        error = "no drive \"" + name + "\" (default, drive, flight, ride, step or a recording): " + error;
        return nullptr;
    }
    if (recording.ticks.empty()) {
        error = "the recording " + name + " has no rows";
        return nullptr;
    }
    return recordingDrive(std::move(recording));
}

}  // namespace rez::sim
