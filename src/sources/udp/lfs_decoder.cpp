#include <cmath>
#include <cstring>

#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {

// OutSim gives its angular velocity and acceleration in the world's axes
// (x and y on the ground, z up) and the car's attitude as heading about z,
// then pitch about the car's x (its right), then roll about the car's y (its
// front), each anticlockwise seen from that axis' positive end. The cues want
// them in the car's axes: undo heading, pitch and roll in turn.
struct Axes {
    double x, y, z;
};

Axes intoCarAxes(Axes v, double heading, double pitch, double roll) {
    const double ch = std::cos(heading), sh = std::sin(heading);
    v = {ch * v.x + sh * v.y, -sh * v.x + ch * v.y, v.z};  // about z, by -heading
    const double cp = std::cos(pitch), sp = std::sin(pitch);
    v = {v.x, cp * v.y + sp * v.z, -sp * v.y + cp * v.z};  // about x, by -pitch
    const double cr = std::cos(roll), sr = std::sin(roll);
    return {cr * v.x - sr * v.z, v.y, sr * v.x + cr * v.z};  // about y, by -roll
}

}  // namespace

bool decodeLfs(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    if (length < kLfsLength || std::memcmp(bytes, "LFST", 4) != 0) return false;
    const Datagram d(bytes, length);
    const double heading = d.f32(24), pitch = d.f32(28), roll = d.f32(32);
    // In the car's axes x is its right, y its front and z its roof: rates
    // about x pitch the nose up, about y roll it, about z turn it left, the
    // same senses as pitch, roll and heading.
    const Axes rate = intoCarAxes({d.f32(12), d.f32(16), d.f32(20)}, heading, pitch, roll);
    const Axes accel = intoCarAxes({d.f32(36), d.f32(40), d.f32(44)}, heading, pitch, roll);
    SlotStores s;
    s.set(kLateralAccel, accel.x);
    s.set(kLongituAccel, accel.y);
    s.set(kVerticaAccel, accel.z);
    s.set(kPitchSpeed, degrees(rate.x));
    s.set(kRollSpeed, degrees(rate.y));
    s.set(kYawSpeed, degrees(rate.z));
    s.set(kYawPosition, degrees(heading));
    s.set(kPitchPosition, degrees(pitch));
    s.set(kRollPosition, degrees(roll));
    return s.storeInto(record);
}

}  // namespace rez
