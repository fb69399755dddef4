#pragma once
// Plays the games that send telemetry over UDP: each game's datagrams built
// from plain motion values, sent to that game's port on loopback.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/udp_socket.h"
#include "sim/udp_sender.h"

namespace rez::sim {

// One sample of a vehicle's motion in the library's own terms: vehicle-frame
// speeds (m/s) and accelerations without gravity (m/s²), angles in degrees,
// rates in degrees/s and angular accelerations in degrees/s². Each game's
// builder turns it into what that game would send, in its own frames (car or
// world axes), units and signs, and with gravity added where the game's
// accelerations include it.
struct Motion {
    double lateralSpeed = 0, longitudinalSpeed = 0, verticalSpeed = 0;
    double lateralAccel = 0, longitudinalAccel = 0, verticalAccel = 0;
    double yaw = 0, pitch = 0, roll = 0;
    double yawRate = 0, pitchRate = 0, rollRate = 0;
    double yawAccel = 0, pitchAccel = 0, rollAccel = 0;
    double speed = 0;       // X-Plane's speed record
    bool onGround = false;  // X-Plane's gear forces, when `suspension` gives none
    // Front left, front right, rear left, rear right: what the library keeps
    // in its suspension slots. X-Plane sends gear forces there (front, right
    // and left gear), DCS the front and rear left suspension.
    double suspension[4] = {};
    // Accelerations with gravity, for the games that send them: when set,
    // these go out as they are instead of the accelerations above plus the
    // gravity parts of roll and pitch (a recording replays what a game read).
    // F1 and BeamNG publish theirs without gravity, yet the library keeps them
    // in these slots: when set, these go out in their place.
    bool accelWithGravityGiven = false;
    double lateralAccelG = 0, longitudinalAccelG = 0, verticalAccelG = 0;
    double gameTime = 0;    // s, DCS's clock
    int f1PlayerCar = 0;    // the player's car in the F1 motion packet
};

// The port a UDP game sends to, by game id.
std::uint16_t gamePort(int gameId);
// The datagrams a game sends for one sample, in order (F1 sends its motion
// and extended motion packets; every other game one datagram).
std::vector<std::vector<unsigned char>> gameDatagrams(int gameId, const Motion& m);

// A datagram laid out field by field, little-endian.
class DatagramBytes {
public:
    explicit DatagramBytes(std::size_t length) : bytes_(length) {}
    DatagramBytes& f32(std::size_t offset, double value);
    DatagramBytes& u32(std::size_t offset, std::uint32_t value);
    DatagramBytes& u16(std::size_t offset, std::uint16_t value);
    DatagramBytes& u8(std::size_t offset, std::uint8_t value);
    DatagramBytes& text(std::size_t offset, const std::string& characters);
    const std::vector<unsigned char>& bytes() const { return bytes_; }
    operator const std::vector<unsigned char>&() const { return bytes_; }

private:
    std::vector<unsigned char> bytes_;
};

// Sends single datagrams to a game's port, when the test says so.
class GameSender {
public:
    explicit GameSender(int gameId);
    ~GameSender();
    bool send(const Motion& m);
    bool sendBytes(const std::vector<unsigned char>& datagram);

private:
    int gameId_;
    std::unique_ptr<platform::UdpSocket> socket_;
};

// A game streaming its current sample every `periodMs`.
class GameStream {
public:
    GameStream(int gameId, const Motion& m, int periodMs = 5);
    void set(const Motion& m);
    bool waitUntilSending(int ms = 10000) const { return sender_.waitUntilSending(ms); }
    void stop() { sender_.stop(); }

private:
    int gameId_;
    UdpSender sender_;
};

}  // namespace rez::sim
