#include "sim/udp_game_senders.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "core/bytes.h"
#include "sources/game_table.h"

namespace rez::sim {

namespace {

constexpr double kG = 9.80665;
double rad(double degrees) { return degrees * std::numbers::pi / 180.0; }

// Gravity parts on the three axes for a roll and pitch in degrees.
struct Gravity {
    double lateral, longitudinal, vertical;
};
Gravity gravity(const Motion& m, double longitudinalSign = 1.0) {
    const double phi = rad(m.roll), theta = rad(m.pitch);
    return {kG * std::cos(theta) * std::sin(phi), longitudinalSign * kG * std::sin(theta), kG * std::cos(theta) * std::cos(phi)};
}

// The accelerations with gravity that a game sends.
Gravity withGravity(const Motion& m) {
    if (m.accelWithGravityGiven) return {m.lateralAccelG, m.longitudinalAccelG, m.verticalAccelG};
    const Gravity gr = gravity(m);
    return {m.lateralAccel + gr.lateral, m.longitudinalAccel + gr.longitudinal, m.verticalAccel + gr.vertical};
}

// What a game that publishes its car's acceleration without gravity sends
// (an F1 or BeamNG car standing still reports about 0 g), though its reader
// keeps it in the with-gravity slots. A replay sends what those slots held.
Gravity publishedWithoutGravity(const Motion& m) {
    if (m.accelWithGravityGiven) return {m.lateralAccelG, m.longitudinalAccelG, m.verticalAccelG};
    return {m.lateralAccel, m.longitudinalAccel, m.verticalAccel};
}

using Vec3 = std::array<double, 3>;

// A rotation as a matrix whose columns are the turned frame's axes in the
// fixed frame's terms.
struct Rotation {
    double m[3][3];
    // Right-handed turn by `angle` radians about axis 0 (x), 1 (y) or 2 (z).
    static Rotation about(int axis, double angle) {
        Rotation r{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
        const int i = (axis + 1) % 3, j = (axis + 2) % 3;
        r.m[i][i] = std::cos(angle), r.m[i][j] = -std::sin(angle);
        r.m[j][i] = std::sin(angle), r.m[j][j] = std::cos(angle);
        return r;
    }
    Rotation operator*(const Rotation& o) const {
        Rotation r{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) r.m[i][j] += m[i][k] * o.m[k][j];
        return r;
    }
    Vec3 operator*(const Vec3& v) const {
        Vec3 r{};
        for (int i = 0; i < 3; ++i) r[static_cast<std::size_t>(i)] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
        return r;
    }
    Vec3 column(int j) const { return {m[0][j], m[1][j], m[2][j]}; }
};

DatagramBytes& vectorAt(DatagramBytes& d, std::size_t offset, const Vec3& v) {
    return d.f32(offset, v[0]).f32(offset + 4, v[1]).f32(offset + 8, v[2]);
}

std::vector<unsigned char> xplane(const Motion& m) {
    const Gravity a = withGravity(m);
    const double* s = m.suspension;
    const bool forces = s[0] != 0 || s[1] != 0 || s[2] != 0 || s[3] != 0;
    const double ground = m.onGround ? 1500.0 : 0.0;
    // Front gear, right main gear, left main gear.
    const double gear[3] = {forces ? s[0] : ground, forces ? s[3] : ground, forces ? s[2] : ground};
    const double records[][9] = {
        {3, 0, 0, 0, 0, 0, 0, 0, m.speed},
        {17, m.pitch, m.roll, -m.yaw, 0, 0, 0, 0, 0},
        {66, gear[0], gear[1], gear[2], 0, 0, 0, 0, 0},
        {135, a.lateral, a.vertical * 10.0, -a.longitudinal, m.rollRate, m.pitchRate, -m.yawRate, 0, 0},
    };
    DatagramBytes d(5 + 36 * std::size(records));
    d.text(0, "DATA*");
    for (std::size_t i = 0; i < std::size(records); ++i) {
        const std::size_t at = 5 + 36 * i;
        d.u8(at, static_cast<std::uint8_t>(records[i][0]));
        for (int f = 0; f < 8; ++f) d.f32(at + 4 + 4 * static_cast<std::size_t>(f), records[i][f + 1]);
    }
    return d.bytes();
}

std::vector<unsigned char> dcs(const Motion& m) {
    const Gravity a = withGravity(m);
    const double tokens[25] = {
        a.longitudinal / kG, a.lateral / kG, a.vertical / kG,
        m.lateralSpeed, m.longitudinalSpeed, m.verticalSpeed, rad(m.yawRate), rad(m.rollRate), rad(m.pitchRate),
        rad(m.yaw), rad(m.roll), rad(m.pitch), 0, m.suspension[0], 0, m.suspension[2], 0, 0, 0, 0, 0, 0, 0, 0, m.gameTime,
    };
    std::string line;
    char token[64];
    for (double t : tokens) {
        std::snprintf(token, sizeof token, "%.9f", t);
        if (!line.empty()) line += ' ';
        line += token;
    }
    line += '\n';
    return {line.begin(), line.end()};
}

std::vector<unsigned char> dirtRally2(const Motion& m) {
    DatagramBytes d(96);
    d.f32(24, -m.lateralAccel / kG).f32(28, m.longitudinalAccel / kG).f32(32, m.verticalAccel / kG);
    d.f32(48, rad(m.pitch)).f32(52, rad(m.pitchRate)).f32(56, rad(m.pitchAccel));
    d.f32(60, rad(m.roll)).f32(64, rad(m.rollRate)).f32(68, rad(m.rollAccel));
    d.f32(84, rad(m.yaw + 90.0)).f32(88, rad(m.yawRate)).f32(92, rad(m.yawAccel));
    return d.bytes();
}

std::vector<unsigned char> condor2(const Motion& m) {
    const struct {
        const char* key;
        double value;
    } keys[] = {
        {"pitch", rad(m.pitch)}, {"bank", rad(-m.roll)}, {"yaw", rad(m.yaw + 180.0)},
        {"ax", m.lateralAccel}, {"ay", m.longitudinalAccel}, {"az", m.verticalAccel},
        {"vx", m.lateralSpeed}, {"vy", m.longitudinalSpeed}, {"vz", m.verticalSpeed},
        {"rollrate", rad(m.rollRate)}, {"pitchrate", rad(m.pitchRate)}, {"yawrate", rad(m.yawRate)},
    };
    std::string text;
    char line[96];
    for (const auto& k : keys) {
        std::snprintf(line, sizeof line, "%s=%.9g\n", k.key, k.value);
        text += line;
    }
    return {text.begin(), text.end()};
}

std::vector<std::vector<unsigned char>> f1(const Motion& m) {
    const Gravity a = publishedWithoutGravity(m);
    DatagramBytes motion(1349);
    motion.u16(0, 2024).u8(27, static_cast<std::uint8_t>(m.f1PlayerCar)).u8(28, 255);
    const std::size_t car = 29 + 60 * static_cast<std::size_t>(m.f1PlayerCar);
    // G-forces in the car's axes, gravity left out.
    motion.f32(car + 36, -a.lateral / kG)
        .f32(car + 40, a.longitudinal / kG)
        .f32(car + 44, -a.vertical / kG)
        .f32(car + 48, rad(m.yaw))
        .f32(car + 52, rad(m.pitch))
        .f32(car + 56, rad(m.roll));
    DatagramBytes extended(237);
    extended.u16(0, 2024).f32(173, -rad(m.rollRate)).f32(177, -rad(m.pitchRate)).f32(181, -rad(m.yawRate));
    return {motion.bytes(), extended.bytes()};
}

// WRC publishes everything in the world's axes: x to the left, y up, z
// forward. The car's velocity and acceleration (the derivative of its
// velocity, so without gravity) are world vectors, and its attitude is given
// by its own left, forward and up directions as world vectors.
std::vector<unsigned char> wrc(const Motion& m) {
    // The car's left, up and forward axes start along the world's x, y and z.
    // Its heading turns it about y (turning left is a right-handed turn
    // there); the library has always read WRC's yaw as 0 with the car along
    // the world's x axis, a heading of 90 degrees. Nose up turns forward
    // towards up: a left-handed turn about the car's left axis. The roof
    // leaning to the car's left (positive roll) is a left-handed turn about
    // its forward axis.
    const Rotation car = Rotation::about(1, rad(m.yaw + 90.0)) * Rotation::about(0, -rad(m.pitch)) *
                         Rotation::about(2, -rad(m.roll));
    const Vec3 velocity = car * Vec3{m.lateralSpeed, m.verticalSpeed, m.longitudinalSpeed};
    const Vec3 acceleration = car * Vec3{m.lateralAccel, m.verticalAccel, m.longitudinalAccel};
    DatagramBytes d(128);
    vectorAt(d, 61, velocity);
    vectorAt(d, 73, acceleration);
    vectorAt(d, 85, car.column(0));   // left
    vectorAt(d, 97, car.column(2));   // forward
    vectorAt(d, 109, car.column(1));  // up
    return d.bytes();
}

// BeamNG's motion output: the car's velocity and acceleration (without
// gravity) in its own axes, angles, rates and angular accelerations in
// radians; every linear channel and the yaw run the other way round from the
// library's.
std::vector<unsigned char> beamNg(const Motion& m) {
    const Gravity a = publishedWithoutGravity(m);
    DatagramBytes d(88);
    d.text(0, "BNG1");
    d.f32(16, -m.lateralSpeed).f32(20, -m.longitudinalSpeed).f32(24, -m.verticalSpeed);
    d.f32(28, -a.lateral).f32(32, -a.longitudinal).f32(36, -a.vertical);
    d.f32(52, rad(m.roll)).f32(56, rad(m.pitch)).f32(60, -rad(m.yaw));
    d.f32(64, rad(m.rollRate)).f32(68, rad(m.pitchRate)).f32(72, -rad(m.yawRate));
    d.f32(76, rad(m.rollAccel)).f32(80, rad(m.pitchAccel)).f32(84, -rad(m.yawAccel));
    return d.bytes();
}

// Live for Speed's OutSim: the world's x and y lie on the ground, z is up.
// The car's right, front and roof axes start along x, y and z; heading turns
// it about z, then pitch about its right axis, then roll about its front
// axis, each anticlockwise seen from the axis' positive end (right-handed).
// The angular velocity and the acceleration (without gravity) are world
// vectors.
std::vector<unsigned char> lfs(const Motion& m) {
    const Rotation car = Rotation::about(2, rad(m.yaw)) * Rotation::about(0, rad(m.pitch)) * Rotation::about(1, rad(m.roll));
    const Vec3 angularVelocity = car * Vec3{rad(m.pitchRate), rad(m.rollRate), rad(m.yawRate)};
    const Vec3 acceleration = car * Vec3{m.lateralAccel, m.longitudinalAccel, m.verticalAccel};
    DatagramBytes d(280);
    d.text(0, "LFST");
    vectorAt(d, 12, angularVelocity);
    d.f32(24, rad(m.yaw)).f32(28, rad(m.pitch)).f32(32, rad(m.roll));
    vectorAt(d, 36, acceleration);
    return d.bytes();
}

}  // namespace

DatagramBytes& DatagramBytes::f32(std::size_t offset, double value) {
    store_le<float>(bytes_.data() + offset, static_cast<float>(value));
    return *this;
}
DatagramBytes& DatagramBytes::u32(std::size_t offset, std::uint32_t value) {
    store_le(bytes_.data() + offset, value);
    return *this;
}
DatagramBytes& DatagramBytes::u16(std::size_t offset, std::uint16_t value) {
    store_le(bytes_.data() + offset, value);
    return *this;
}
DatagramBytes& DatagramBytes::u8(std::size_t offset, std::uint8_t value) {
    bytes_.at(offset) = value;
    return *this;
}
DatagramBytes& DatagramBytes::text(std::size_t offset, const std::string& characters) {
    std::memcpy(bytes_.data() + offset, characters.data(), characters.size());
    return *this;
}

std::uint16_t gamePort(int gameId) {
    switch (gameId) {
        case kXplane: return 4321;
        case kDcs: return 4124;
        case kDirtRally2: return 20778;
        case kCondor2: return 55278;
        case kF1: return 20777;
        case kWrc23: return 20788;
        case kBeamNg: return 4444;
        case kLfs: return 4123;
        default: return 0;
    }
}

std::vector<std::vector<unsigned char>> gameDatagrams(int gameId, const Motion& m) {
    switch (gameId) {
        case kXplane: return {xplane(m)};
        case kDcs: return {dcs(m)};
        case kDirtRally2: return {dirtRally2(m)};
        case kCondor2: return {condor2(m)};
        case kF1: return f1(m);
        case kWrc23: return {wrc(m)};
        case kBeamNg: return {beamNg(m)};
        case kLfs: return {lfs(m)};
        default: return {};
    }
}

GameSender::GameSender(int gameId) : gameId_(gameId), socket_(std::make_unique<platform::UdpSocket>()) {
    platform::netStartup();
    socket_->open();
}

GameSender::~GameSender() {
    socket_.reset();
    platform::netCleanup();
}

bool GameSender::send(const Motion& m) {
    bool ok = true;
    for (const auto& d : gameDatagrams(gameId_, m)) ok = sendBytes(d) && ok;
    return ok;
}

bool GameSender::sendBytes(const std::vector<unsigned char>& datagram) {
    return socket_->sendTo(datagram.data(), static_cast<int>(datagram.size()), "127.0.0.1", gamePort(gameId_)) ==
           static_cast<int>(datagram.size());
}

GameStream::GameStream(int gameId, const Motion& m, int periodMs)
    : gameId_(gameId), sender_(gamePort(gameId), UdpSender::Payloads{gameDatagrams(gameId, m)}, periodMs) {}

void GameStream::set(const Motion& m) { sender_.setPayloads(gameDatagrams(gameId_, m)); }

}  // namespace rez::sim
