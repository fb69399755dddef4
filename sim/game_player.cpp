#include "sim/game_player.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>
#include <system_error>

#include "platform/clock.h"
#include "platform/documents_folder.h"
#include "sim/fake_nolimits_server.h"
#include "sim/fake_simconnect_server.h"
#include "sim/game_process.h"
#include "sim/game_writers.h"
#include "sim/nolimits_motion.h"
#include "sim/udp_game_senders.h"
#include "sources/game_data_record.h"
#include "sources/game_table.h"

namespace rez::sim {

GamePlayer::~GamePlayer() = default;
Drive::~Drive() = default;

namespace {

constexpr double kG = 9.80665;
// Assetto Corsa's own factor between g and m/s².
constexpr double kAcG = 9.81;

double rad(double degrees) { return degrees * std::numbers::pi / 180.0; }
float radF(double degrees) { return static_cast<float>(rad(degrees)); }
float f(double v) { return static_cast<float>(v); }

// The car's attitude as the library's slots describe it: heading
// anticlockwise seen from above, pitch nose up, roll right side down, all in
// degrees. `m` holds the car's right, forward and up axes as columns, in a
// world whose x points east, y north and z up; the car turns by heading,
// then pitch, then roll.
struct Body {
    double m[3][3];
    // World up seen in the car's axes (right, forward, up).
    double worldUp(int axis) const { return m[2][axis]; }
};

Body bodyOf(const double* s) {
    const double h = rad(s[kYawPosition]), p = rad(s[kPitchPosition]), r = rad(s[kRollPosition]);
    const double ch = std::cos(h), sh = std::sin(h), cp = std::cos(p), sp = std::sin(p), cr = std::cos(r), sr = std::sin(r);
    // Rz(heading) * Rx(pitch) * Ry(roll), with Ry turning up towards right.
    return {{{ch * cr - sh * sp * sr, -sh * cp, ch * sr + sh * sp * cr},
             {sh * cr + ch * sp * sr, ch * cp, sh * sr - ch * sp * cr},
             {-cp * sr, sp, cp * cr}}};
}

// --- the game table as the simulator plays it -------------------------------

struct GameEntry {
    GameInfo info;
    const char* process;  // where detection looks for one, else nullptr
};

const std::vector<GameEntry>& gameEntries() {
    static const std::vector<GameEntry> entries = {
        {{"xplane", "Xplane", "UDP data sets to 127.0.0.1:4321", 50}, nullptr},
        {{"dcs", "DCS", "UDP export text to 127.0.0.1:4124, process DCS.exe", 60}, "DCS.exe"},
        {{"msfs2020", "MSFS2020", "SimConnect server on loopback TCP (SimConnect.cfg in the Documents folder), process FlightSimulator.exe", 60},
         "FlightSimulator.exe"},
        {{"assetto_corsa", "AssettoCorsa/Comp.", "shared memory Local\\acpmf_physics and Local\\acpmf_graphics (status live)", 333},
         nullptr},
        {{"raceroom", "RaceRoom", "shared memory $R3E, process RRRE64.exe", 100}, "RRRE64.exe"},
        {{"dirt_rally_2", "DirtRally2", "UDP 96-byte datagrams to 127.0.0.1:20778", 60}, nullptr},
        {{"condor_2", "Condor2", "UDP key=value text to 127.0.0.1:55278", 50}, nullptr},
        {{"f1", "F1-2023-24", "UDP motion and extended motion packets (2024 format) to 127.0.0.1:20777, process F1_24.exe", 60},
         "F1_24.exe"},
        {{"nolimits_2", "NoLimits2", "telemetry server on TCP 127.0.0.1:15151", 60}, nullptr},
        {{"project_cars_2", "PCAR2/Automobilista2", "shared memory $pcars2$ (game state playing)", 60}, nullptr},
        {{"iracing", "iRacing", "shared memory Local\\IRSDKMemMapFileName and event Local\\IRSDKDataValidEvent, process iRacingSim64DX11.exe", 60},
         "iRacingSim64DX11.exe"},
        {{"wrc", "WRC23", "UDP datagrams to 127.0.0.1:20788", 60}, nullptr},
        {{"beamng", "BeamNG", "UDP BNG1 datagrams to 127.0.0.1:4444", 100}, nullptr},
        {{"live_for_speed", "LFS", "UDP OutSim datagrams to 127.0.0.1:4123, process LFS.exe", 100}, "LFS.exe"},
        {{"rfactor_2", "rFactor2", "shared memory Local\\Rovandelix_rf2_data, process rFactor2.exe", 100}, "rFactor2.exe"},
        {{"msfs2024", "MSFS2024", "SimConnect server on loopback TCP (SimConnect.cfg in the Documents folder), process FlightSimulator2024.exe", 60},
         "FlightSimulator2024.exe"},
        {{"assetto_corsa_evo", "AssettoCorsaEvo", "shared memory Local\\acevo_pmf_physics, process AssettoCorsaEVO.exe", 333},
         "AssettoCorsaEVO.exe"},
        {{"truck_sim", "ETSM2/AMT", "shared memory SCSTelemetryExample, process eurotrucks2.exe", 60}, "eurotrucks2.exe"},
    };
    return entries;
}

// --- pieces every player has ------------------------------------------------

class PlayerBase : public GamePlayer {
public:
    explicit PlayerBase(int id) : id_(id) {}
    bool start(std::string& error) final {
        stop();
        const GameEntry& e = gameEntries()[static_cast<std::size_t>(id_)];
        // The telemetry first: a detection that sees the process must find
        // the game's data too.
        if (!open(error)) {
            stop();
            return false;
        }
        if (e.process && !process_.start(e.process, error)) {
            stop();
            return false;
        }
        return true;
    }
    void stop() final {
        process_.stop();
        close();
    }
    double rateHz() const final { return gameEntries()[static_cast<std::size_t>(id_)].info.rateHz; }

protected:
    virtual bool open(std::string& error) = 0;
    virtual void close() = 0;
    int id_;

private:
    GameProcess process_;
};

// --- shared-memory games ----------------------------------------------------

class AssettoCorsaPlayer : public PlayerBase {
public:
    explicit AssettoCorsaPlayer(int id) : PlayerBase(id) {}
    bool open(std::string& error) override {
        const bool evo = id_ == kAssettoCorsaEvo;
        writer_ = std::make_unique<AssettoCorsaWriter>(evo ? AssettoCorsaWriter::Pages::Evo : AssettoCorsaWriter::Pages::Classic);
        if (!writer_->ok()) {
            error = "cannot make the physics page";
            return false;
        }
        if (!evo) writer_->setStatus(2);  // live
        return true;
    }
    void close() override { writer_.reset(); }
    void publish(const SimState& st) override {
        if (!writer_) return;
        const double* s = st.slots;
        AcPhysics p;
        p.packetId = ++packet_;
        p.accG[0] = f(s[kLateralAccel] / kAcG);
        p.accG[1] = f(-s[kVerticaAccel] / kAcG);
        p.accG[2] = f(s[kLongituAccel] / kAcG);
        p.heading = radF(-s[kYawPosition]);
        p.pitch = radF(s[kPitchPosition]);
        p.roll = radF(-s[kRollPosition]);
        p.localAngularVel[0] = radF(s[kPitchSpeed]);
        p.localAngularVel[1] = radF(s[kYawSpeed]);
        p.localAngularVel[2] = radF(s[kRollSpeed]);
        p.localVelocity[0] = f(s[kLateralSpeed]);
        p.localVelocity[1] = f(s[kVerticaSpeed]);
        p.localVelocity[2] = f(s[kLongituSpeed]);
        writer_->publish(p);
    }

private:
    std::unique_ptr<AssettoCorsaWriter> writer_;
    std::int32_t packet_ = 0;
};

class RaceRoomPlayer : public PlayerBase {
public:
    RaceRoomPlayer() : PlayerBase(kRaceRoom) {}
    bool open(std::string& error) override {
        // The layout of the game's present versions.
        writer_ = std::make_unique<RaceRoomWriter>(RaceRoomWriter::Layout::V3_4);
        if (writer_->ok()) return true;
        error = "cannot make $R3E";
        return false;
    }
    void close() override { writer_.reset(); }
    void publish(const SimState& st) override {
        if (!writer_) return;
        const double* s = st.slots;
        R3eSample r;
        r.localVelocity[0] = -s[kLateralSpeed];
        r.localVelocity[1] = s[kVerticaSpeed];
        r.localVelocity[2] = -s[kLongituSpeed];
        r.localAcceleration[0] = -s[kLateralAccel];
        r.localAcceleration[1] = s[kVerticaAccel];
        r.localAcceleration[2] = -s[kLongituAccel];
        // Pitch, yaw, roll.
        const double angle[3] = {rad(s[kPitchPosition]), -rad(s[kYawPosition]), rad(s[kRollPosition])};
        const double accel[3] = {rad(s[kPitchAccel]), -rad(s[kYawAccel]), rad(s[kRollAccel])};
        const double rate[3] = {rad(s[kPitchSpeed]), -rad(s[kYawSpeed]), rad(s[kRollSpeed])};
        std::copy(angle, angle + 3, r.orientation);
        std::copy(accel, accel + 3, r.localRotationAccel);
        std::copy(rate, rate + 3, r.localAngularVel);
        writer_->publish(r);
    }

private:
    std::unique_ptr<RaceRoomWriter> writer_;
};

class ProjectCars2Player : public PlayerBase {
public:
    ProjectCars2Player() : PlayerBase(kProjectCars2) {}
    bool open(std::string& error) override {
        writer_ = std::make_unique<ProjectCars2Writer>();
        if (writer_->ok()) return true;
        error = "cannot make $pcars2$";
        return false;
    }
    void close() override { writer_.reset(); }
    void publish(const SimState& st) override {
        if (!writer_) return;
        const double* s = st.slots;
        Pcars2Sample p;
        p.gameState = 2;
        p.orientation[0] = radF(-s[kYawPosition]);
        p.orientation[1] = radF(s[kRollPosition]);
        p.orientation[2] = radF(s[kPitchPosition]);
        p.localVelocity[0] = f(s[kLateralSpeed]);
        p.localVelocity[1] = f(s[kLongituSpeed]);
        p.localVelocity[2] = f(s[kVerticaSpeed]);
        p.angularVelocity[0] = radF(-s[kYawSpeed]);
        p.angularVelocity[1] = radF(s[kRollSpeed]);
        p.angularVelocity[2] = radF(s[kPitchSpeed]);
        p.localAcceleration[0] = f(s[kLateralAccel]);
        p.localAcceleration[1] = f(s[kLongituAccel]);
        p.localAcceleration[2] = f(s[kVerticaAccel]);
        writer_->publish(p);
    }

private:
    std::unique_ptr<ProjectCars2Writer> writer_;
};

class IRacingPlayer : public PlayerBase {
public:
    IRacingPlayer() : PlayerBase(kIRacing) {}
    bool open(std::string& error) override {
        writer_ = std::make_unique<IRacingWriter>(std::vector<std::string>{
            "SessionTime", "Speed", "LatAccel", "LongAccel", "VertAccel", "YawRate", "RollRate", "PitchRate", "Yaw", "Roll", "Pitch"});
        if (!writer_->ok()) {
            error = "cannot make the iRacing telemetry block and event";
            return false;
        }
        writer_->setConnected(true);
        return true;
    }
    void close() override { writer_.reset(); }
    void publish(const SimState& st) override {
        if (!writer_) return;
        const double* s = st.slots;
        ++tick_;
        // iRacing's car axes: x forward, y left, z up, rotations right-handed
        // about them (Pitch is nose down, Roll right side down, Yaw
        // anticlockwise from above), angles in radians, rates in radians per
        // second. Its accelerations are what an accelerometer in the car
        // reads, gravity included: the kinematic acceleration plus world up
        // (1 g) seen in the car's axes.
        const Body b = bodyOf(s);
        const double up[3] = {b.worldUp(0), b.worldUp(1), b.worldUp(2)};  // right, forward, up
        writer_->publish(tick_, {{"SessionTime", f(tick_ / rateHz())},
                                 {"Speed", f(s[kSpeed])},
                                 {"LatAccel", f(-(s[kLateralAccel] + kG * up[0]))},
                                 {"LongAccel", f(s[kLongituAccel] + kG * up[1])},
                                 {"VertAccel", f(s[kVerticaAccel] + kG * up[2])},
                                 // The library keeps the game's radians per second in its rate slots.
                                 {"YawRate", f(s[kYawSpeed])},
                                 {"RollRate", f(s[kRollSpeed])},
                                 // ...and keeps the game's nose-down sense of the pitch rate.
                                 {"PitchRate", f(s[kPitchSpeed])},
                                 {"Yaw", radF(s[kYawPosition])},
                                 {"Roll", radF(s[kRollPosition])},
                                 {"Pitch", radF(-s[kPitchPosition])}});
    }

private:
    std::unique_ptr<IRacingWriter> writer_;
    std::int32_t tick_ = 0;
};

class RFactor2Player : public PlayerBase {
public:
    RFactor2Player() : PlayerBase(kRFactor2) {}
    bool open(std::string& error) override {
        writer_ = std::make_unique<RFactor2Writer>();
        if (writer_->ok()) return true;
        error = "cannot make Local\\Rovandelix_rf2_data";
        return false;
    }
    void close() override { writer_.reset(); }
    void publish(const SimState& st) override {
        if (!writer_) return;
        const double* s = st.slots;
        Rf2Sample r;
        r.elapsedTime = (++frame_) / rateHz();
        // The plug-in gives the car's vectors in its local axes, x left, y up,
        // z back (the car moves along -z), and the orientation as the matrix
        // whose rows turn a local vector into world x, y and z (world y up).
        // Rates are the angular velocity in the same axes, measured like the
        // matrix turns (a positive x rate lifts the nose).
        const Body b = bodyOf(s);
        auto local = [](double right, double forward, double up, double (&out)[3]) {
            out[0] = -right;
            out[1] = up;
            out[2] = -forward;
        };
        local(s[kLateralSpeed], s[kLongituSpeed], s[kVerticaSpeed], r.localVel);
        local(s[kLateralAccel], s[kLongituAccel], s[kVerticaAccel], r.localAccel);
        // (right, forward, up) to (left, up, back) turns a right-handed frame
        // into a left-handed one, so an axial vector changes sign as well.
        local(-rad(s[kPitchSpeed]), -rad(s[kRollSpeed]), -rad(s[kYawSpeed]), r.localRot);
        local(-rad(s[kPitchAccel]), -rad(s[kRollAccel]), -rad(s[kYawAccel]), r.localRotAccel);
        double axis[3][3];  // the car's left, up and back axes in world (left, up, back) axes
        for (int c = 0; c < 3; ++c) {
            const int from[3] = {0, 2, 1};  // right, up, forward columns of the body
            const double sign[3] = {-1, 1, -1};
            double world[3];
            local(b.m[0][from[c]], b.m[1][from[c]], b.m[2][from[c]], world);
            for (int i = 0; i < 3; ++i) axis[c][i] = sign[c] * world[i];
        }
        for (int row = 0; row < 3; ++row)
            for (int c = 0; c < 3; ++c) r.orientation[row][c] = axis[c][row];
        writer_->publish(r);
    }

private:
    std::unique_ptr<RFactor2Writer> writer_;
    long frame_ = 0;
};

class TruckSimPlayer : public PlayerBase {
public:
    TruckSimPlayer() : PlayerBase(kTruckSim) {}
    bool open(std::string& error) override {
        writer_ = std::make_unique<TruckSimWriter>();
        if (writer_->ok()) return true;
        error = "cannot make SCSTelemetryExample";
        return false;
    }
    void close() override { writer_.reset(); }
    void publish(const SimState& st) override {
        if (!writer_) return;
        const double* s = st.slots;
        constexpr double turn = 360.0;
        TruckSample t;
        t.running = 1;
        // The plug-in gives the heading as a part of a turn, 0 to 1.
        t.heading = f(std::fmod(std::fmod(s[kYawPosition], turn) + turn, turn) / turn);
        t.pitch = f(s[kPitchPosition] / turn);
        t.roll = f(-s[kRollPosition] / turn);
        t.speed = f(s[kSpeed]);
        t.rpm = f(s[kRpm]);
        t.linearVelocity[0] = f(s[kLateralSpeed]);
        t.linearVelocity[1] = f(s[kVerticaSpeed]);
        t.linearVelocity[2] = f(-s[kLongituSpeed]);
        t.angularVelocity[0] = f(s[kPitchSpeed] / turn);
        t.angularVelocity[1] = f(s[kYawSpeed] / turn);
        t.angularVelocity[2] = f(-s[kRollSpeed] / turn);
        t.linearAcceleration[0] = f(s[kLateralAccel]);
        t.linearAcceleration[1] = f(s[kVerticaAccel]);
        t.linearAcceleration[2] = f(-s[kLongituAccel]);
        t.angularAcceleration[0] = f(s[kPitchAccel] / turn);
        t.angularAcceleration[1] = f(s[kYawAccel] / turn);
        t.angularAcceleration[2] = f(-s[kRollAccel] / turn);
        writer_->publish(t);
    }

private:
    std::unique_ptr<TruckSimWriter> writer_;
};

// --- UDP games --------------------------------------------------------------

class UdpPlayer : public PlayerBase {
public:
    explicit UdpPlayer(int id) : PlayerBase(id) {}
    bool open(std::string&) override {
        sender_ = std::make_unique<GameSender>(id_);
        return true;
    }
    void close() override { sender_.reset(); }
    void publish(const SimState& st) override {
        if (!sender_) return;
        const double* s = st.slots;
        Motion m;
        m.lateralSpeed = s[kLateralSpeed];
        m.longitudinalSpeed = s[kLongituSpeed];
        m.verticalSpeed = s[kVerticaSpeed];
        m.lateralAccel = s[kLateralAccel];
        m.longitudinalAccel = s[kLongituAccel];
        m.verticalAccel = s[kVerticaAccel];
        // F1 and BeamNG publish accelerations without gravity, though the
        // library reads them into its with-gravity slots.
        m.accelWithGravityGiven = id_ != kF1 && id_ != kBeamNg;
        m.lateralAccelG = s[kLateralAccelG];
        m.longitudinalAccelG = s[kLongituAccelG];
        m.verticalAccelG = s[kVerticaAccelG];
        m.yaw = s[kYawPosition];
        m.pitch = s[kPitchPosition];
        m.roll = s[kRollPosition];
        m.yawRate = s[kYawSpeed];
        m.pitchRate = s[kPitchSpeed];
        m.rollRate = s[kRollSpeed];
        m.yawAccel = s[kYawAccel];
        m.pitchAccel = s[kPitchAccel];
        m.rollAccel = s[kRollAccel];
        m.speed = s[kSpeed];
        m.onGround = st.onGround;
        for (int i = 0; i < 4; ++i) m.suspension[i] = s[kFrontLeftSusp + i];
        m.gameTime = (++frame_) / rateHz();
        sender_->send(m);
    }

private:
    std::unique_ptr<GameSender> sender_;
    long frame_ = 0;
};

// --- NoLimits 2 -------------------------------------------------------------

class NoLimitsPlayer : public PlayerBase {
public:
    NoLimitsPlayer() : PlayerBase(kNoLimits2) {}
    bool open(std::string& error) override {
        server_ = std::make_unique<FakeNoLimitsServer>();
        if (server_->listening()) return true;
        error = "cannot listen on TCP port 15151";
        return false;
    }
    void close() override { server_.reset(); }
    void publish(const SimState& st) override {
        if (!server_) return;
        NoLimitsTelemetry t = noLimitsTelemetryFrom(st);
        t.state = 1;  // riding
        t.frame = ++frame_;
        server_->setCurrentTelemetry(t);
    }

private:
    std::unique_ptr<FakeNoLimitsServer> server_;
    std::int32_t frame_ = 0;
};

// --- the flight simulators --------------------------------------------------

// Puts a "SimConnect.cfg" that leads to the server into the folder where the
// library looks for the user's one, and puts back what was there before.
class SimConnectConfigFile {
public:
    bool write(const std::string& text, std::string& error) {
        namespace fs = std::filesystem;
        const std::string folder = platform::documentsFolder();
        if (folder.empty()) {
            error = "no Documents folder for SimConnect.cfg";
            return false;
        }
        std::error_code ec;
        fs::create_directories(folder, ec);
        path_ = (fs::path(folder) / "SimConnect.cfg").string();
        std::ifstream old(path_, std::ios::binary);
        hadOld_ = old.good();
        if (hadOld_) {
            std::ostringstream content;
            content << old.rdbuf();
            old_ = content.str();
        }
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) {
            error = "cannot write " + path_;
            return false;
        }
        return true;
    }
    void restore() {
        if (path_.empty()) return;
        std::error_code ec;
        if (hadOld_)
            std::ofstream(path_, std::ios::binary | std::ios::trunc) << old_;
        else
            std::filesystem::remove(path_, ec);
        path_.clear();
    }

private:
    std::string path_;
    bool hadOld_ = false;
    std::string old_;
};

class FlightSimPlayer : public PlayerBase {
public:
    explicit FlightSimPlayer(int id) : PlayerBase(id) {}
    // The user's SimConnect.cfg must come back even without stop().
    ~FlightSimPlayer() override { close(); }
    bool open(std::string& error) override {
        server_ = std::make_unique<FakeSimConnectServer>(platform::IpFamily::V4);
        if (!server_->listening()) {
            error = "cannot listen for SimConnect clients";
            return false;
        }
        return config_.write(server_->configText(), error);
    }
    void close() override {
        server_.reset();
        config_.restore();
    }
    void publish(const SimState& st) override {
        if (!server_) return;
        const double* s = st.slots;
        // The library's flight slots in the aircraft's own terms: bank is
        // read positive with the left wing down, the yaw and roll rates
        // positive turning left and dropping the right wing, the lateral and
        // vertical speeds positive to the left and down.
        Aircraft a;
        a.headingDeg = s[kYawPosition];
        a.noseUpDeg = s[kPitchPosition];
        a.rightWingDownDeg = -s[kRollPosition];
        a.pitchUpRate = s[kPitchSpeed];
        a.yawRightRate = -s[kYawSpeed];
        a.rollRightRate = s[kRollSpeed];
        const double velocity[3] = {-s[kLateralSpeed], -s[kVerticaSpeed], s[kLongituSpeed]};
        const double acceleration[3] = {s[kLateralAccel], s[kVerticaAccel], s[kLongituAccel]};
        std::copy(std::begin(velocity), std::end(velocity), a.velocity);
        std::copy(std::begin(acceleration), std::end(acceleration), a.acceleration);
        a.onGround = st.onGround;
        const auto message = FakeSimConnectServer::data(a);
        // Every client that asked for the aircraft's data gets it, once per
        // simulation frame.
        for (int c = 0; c < server_->clientCount(); ++c) {
            if (server_->clientClosed(c)) continue;
            if (!requested_[c]) {
                for (const SimConnectRequest& r : server_->requests(c))
                    if (r.id == 0xF000000Eu) requested_[c] = true;
                if (!requested_[c]) continue;
            }
            server_->send(c, message);
        }
    }

private:
    std::unique_ptr<FakeSimConnectServer> server_;
    SimConnectConfigFile config_;
    std::map<int, bool> requested_;
};

}  // namespace

const std::vector<GameInfo>& simulatedGames() {
    static const std::vector<GameInfo> games = [] {
        std::vector<GameInfo> list;
        for (const GameEntry& e : gameEntries()) list.push_back(e.info);
        return list;
    }();
    return games;
}

int gameIdOfKey(const std::string& key) {
    const auto& games = simulatedGames();
    for (std::size_t i = 0; i < games.size(); ++i)
        if (games[i].key == key) return static_cast<int>(i);
    return -1;
}

std::unique_ptr<GamePlayer> makeGamePlayer(const std::string& key, std::string& error) {
    switch (gameIdOfKey(key)) {
        case kAssettoCorsa: return std::make_unique<AssettoCorsaPlayer>(kAssettoCorsa);
        case kAssettoCorsaEvo: return std::make_unique<AssettoCorsaPlayer>(kAssettoCorsaEvo);
        case kRaceRoom: return std::make_unique<RaceRoomPlayer>();
        case kProjectCars2: return std::make_unique<ProjectCars2Player>();
        case kIRacing: return std::make_unique<IRacingPlayer>();
        case kRFactor2: return std::make_unique<RFactor2Player>();
        case kTruckSim: return std::make_unique<TruckSimPlayer>();
        case kXplane:
        case kDcs:
        case kDirtRally2:
        case kCondor2:
        case kF1:
        case kWrc23:
        case kBeamNg:
        case kLfs: return std::make_unique<UdpPlayer>(gameIdOfKey(key));
        case kNoLimits2: return std::make_unique<NoLimitsPlayer>();
        case kMsfs2020: return std::make_unique<FlightSimPlayer>(kMsfs2020);
        case kMsfs2024: return std::make_unique<FlightSimPlayer>(kMsfs2024);
        default: break;
    }
    error = "unknown game \"" + key + "\" (--list shows the games)";
    return nullptr;
}

bool playGame(GamePlayer& player, Drive& drive, double seconds, const std::atomic<bool>& stop,
              const std::function<void(double t, const SimState&)>& onPublish) {
    const double rate = player.rateHz();
    if (!(rate > 0)) return false;
    const std::int64_t frequency = platform::counterFrequency();
    const std::int64_t start = platform::counterNow();
    const double length = drive.lengthSeconds();
    SimState state;
    for (std::int64_t k = 0; !stop.load(); ++k) {
        const double t = static_cast<double>(k) / rate;
        if (t >= length || (seconds > 0 && t >= seconds)) break;
        // Wait for the frame's time on the clock; a late frame goes at once.
        const std::int64_t due = start + static_cast<std::int64_t>(t * static_cast<double>(frequency));
        for (std::int64_t now = platform::counterNow(); now < due && !stop.load(); now = platform::counterNow())
            platform::sleepNs(std::min<std::int64_t>((due - now) * 1'000'000'000 / frequency, 50'000'000));
        if (stop.load()) break;
        // A frame far behind its time (the machine was busy) is not caught
        // up in a burst: the drive moves on to the present.
        const double behind = static_cast<double>(platform::counterNow() - due) / static_cast<double>(frequency);
        if (behind > 0.1) k += static_cast<std::int64_t>(behind * rate);
        const double now = static_cast<double>(k) / rate;
        if (now >= length || (seconds > 0 && now >= seconds)) break;
        drive.at(now, state);
        player.publish(state);
        if (onPublish) onPublish(now, state);
    }
    return true;
}

}  // namespace rez::sim
