// Writes the starting corpus of every fuzzer into fuzz/corpus/<fuzzer>/: the
// well-formed inputs the tests' own stand-ins produce (each game's datagrams
// and blocks, the NoLimits 2 and SimConnect servers' messages, controller
// replies), so a campaign starts from inputs the code takes and mutates them
// from there. Filter strings and SimConnect.cfg texts are added by
// scripts/fuzz-seeds.sh from the tests' sources.
//
//   make_fuzz_seeds <corpus folder>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "controller/crc16.h"
#include "controller/frame_parser.h"
#include "platform/shared_memory.h"
#include "sim/fake_nolimits_server.h"
#include "sim/fake_simconnect_server.h"
#include "sim/game_writers.h"
#include "sim/udp_game_senders.h"
#include "sources/game_table.h"
#include "sources/shm/assetto_corsa_reader.h"
#include "sources/shm/iracing_reader.h"
#include "sources/shm/pcars2_reader.h"
#include "sources/shm/raceroom_reader.h"
#include "sources/shm/rfactor2_reader.h"
#include "sources/shm/truck_sim_reader.h"

namespace fs = std::filesystem;
using namespace rez;
using namespace rez::sim;
using Bytes = std::vector<unsigned char>;

namespace {

fs::path root;
int written = 0;

void seed(const std::string& fuzzer, const std::string& name, const Bytes& bytes) {
    const fs::path dir = root / fuzzer;
    fs::create_directories(dir);
    std::FILE* file = std::fopen((dir / ("seed_" + name)).string().c_str(), "wb");
    if (!file) return;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    ++written;
}

// The bytes a game's block holds now, read back as the reader would map it.
Bytes blockBytes(const char* name, std::size_t size) {
    platform::SharedMemory block;
    if (!block.openExisting(name, platform::MapAccess::Read) || !block.map(platform::MapAccess::Read, size)) return {};
    return Bytes(block.data(), block.data() + size);
}

Bytes picked(unsigned char pick, Bytes rest) {
    rest.insert(rest.begin(), pick);
    return rest;
}

const std::vector<Motion>& motions() {
    static const std::vector<Motion> all = [] {
        Motion rest;
        Motion cornering;
        cornering.lateralSpeed = 0.8, cornering.longitudinalSpeed = 31, cornering.verticalSpeed = -0.2;
        cornering.lateralAccel = 7.5, cornering.longitudinalAccel = -3.1, cornering.verticalAccel = 0.6;
        cornering.yaw = 95, cornering.pitch = -2.5, cornering.roll = 4;
        cornering.yawRate = 22, cornering.pitchRate = 1.5, cornering.rollRate = -3;
        cornering.yawAccel = 12, cornering.pitchAccel = -4, cornering.rollAccel = 2;
        cornering.speed = 31, cornering.gameTime = 12.5, cornering.f1PlayerCar = 3;
        Motion landed = cornering;
        landed.onGround = true;
        return std::vector<Motion>{rest, cornering, landed};
    }();
    return all;
}

void udpGames() {
    const std::map<int, const char*> fuzzers = {
        {kXplane, "fuzz_udp_xplane"}, {kLfs, "fuzz_udp_lfs"}, {kF1, "fuzz_udp_f1"},
        {kDirtRally2, "fuzz_udp_dirt_rally2"}, {kWrc23, "fuzz_udp_wrc"}, {kBeamNg, "fuzz_udp_beamng"},
        {kDcs, "fuzz_udp_dcs"}, {kCondor2, "fuzz_udp_condor2"}};
    for (const auto& [id, fuzzer] : fuzzers) {
        int n = 0;
        for (const Motion& m : motions())
            for (const Bytes& datagram : gameDatagrams(id, m)) seed(fuzzer, std::to_string(n++), datagram);
    }
}

void sharedMemoryGames() {
    const char* fuzzer = "fuzz_shm_blocks";
    AcPhysics ac;
    ac.packetId = 7, ac.accG[0] = 0.4f, ac.accG[2] = -0.2f, ac.heading = 1.2f, ac.pitch = 0.05f, ac.roll = -0.03f;
    ac.localAngularVel[1] = 0.3f, ac.localVelocity[2] = 30.0f;
    {
        AssettoCorsaWriter game;
        game.setStatus(kAcStatusLive);
        game.publish(ac);
        Bytes bytes = blockBytes(kAcPhysicsName, kAcPhysicsSize);
        const Bytes graphics = blockBytes(kAcGraphicsName, kAcGraphicsSize);
        bytes.insert(bytes.end(), graphics.begin(), graphics.end());
        seed(fuzzer, "assetto_corsa", picked(0, bytes));
    }
    {
        AssettoCorsaWriter game(AssettoCorsaWriter::Pages::Evo);
        game.publish(ac);
        seed(fuzzer, "assetto_corsa_evo", picked(1, blockBytes(kAcEvoPhysicsName, kAcEvoPhysicsSize)));
    }
    R3eSample r3e;
    r3e.localVelocity[2] = 30, r3e.localAcceleration[0] = 4, r3e.orientation[1] = 1.1, r3e.localAngularVel[1] = 0.2;
    const std::pair<RaceRoomWriter::Layout, const char*> layouts[] = {
        {RaceRoomWriter::Layout::V3_2, "3_2"}, {RaceRoomWriter::Layout::V3_3, "3_3"}, {RaceRoomWriter::Layout::V3_4, "3_4"}};
    for (const auto& [layout, name] : layouts) {
        RaceRoomWriter game(layout);
        game.publish(r3e);
        seed(fuzzer, std::string("raceroom_") + name, picked(2, blockBytes(kR3eName, 43996)));
    }
    {
        ProjectCars2Writer game;
        Pcars2Sample s;
        s.orientation[0] = 0.8f, s.localVelocity[1] = 25, s.localAcceleration[0] = 3, s.angularVelocity[2] = 0.1f;
        game.publish(s);
        seed(fuzzer, "project_cars2", picked(3, blockBytes(kPcars2Name, 20576)));
    }
    {
        RFactor2Writer game;
        Rf2Sample s;
        s.elapsedTime = 3.5, s.localVel[2] = -28, s.localAccel[0] = 2, s.localRot[1] = 0.2;
        game.publish(s);
        seed(fuzzer, "rfactor2", picked(4, blockBytes(kRf2Name, kRf2Size)));
    }
    {
        TruckSimWriter game;
        TruckSample s;
        s.heading = 0.25f, s.speed = 22, s.rpm = 1400, s.linearVelocity[2] = -22, s.linearAcceleration[0] = 1.5f;
        game.publish(s);
        seed(fuzzer, "truck_sim", picked(5, blockBytes(kTruckBlockName, kTruckBlockSize)));
    }
    {
        const std::vector<std::string> variables = {"LatAccel", "LongAccel", "VertAccel", "YawRate", "RollRate",
                                                    "PitchRate", "Yaw", "Roll", "Pitch"};
        IRacingWriter game(variables);
        game.setConnected(true);
        game.publish(1, {{"LatAccel", 3.5f}, {"Yaw", 1.2f}, {"Pitch", 0.04f}, {"YawRate", 0.3f}});
        game.publish(2, {{"LatAccel", 3.6f}, {"Yaw", 1.21f}, {"Pitch", 0.05f}, {"YawRate", 0.31f}});
        seed("fuzz_iracing_header", "three_buffers", blockBytes(kIRacingMapName, game.size()));
    }
}

void servers() {
    NoLimitsTelemetry riding;
    riding.state = 1, riding.frame = 1200, riding.speed = 18.5f, riding.position = {10, 22, -4};
    seed("fuzz_nolimits_reply", "telemetry", telemetryReply(riding));
    seed("fuzz_nolimits_reply", "idle", telemetryReply(NoLimitsTelemetry{}));

    const double values[15] = {120, 2, -0.5, 1.2, 0.03, -0.02, 0.01, 0.002, -0.001, 3, 0.2, -9.6, 0.1, 0.05, 0.4};
    // Two control bytes first: the receive size and how the stream is cut.
    Bytes stream = {0, 17};
    const Bytes messages =
        joined({FakeSimConnectServer::openReply(), FakeSimConnectServer::data(values, 0, 0),
                FakeSimConnectServer::event(2, 1), FakeSimConnectServer::data(values, 1, 1),
                FakeSimConnectServer::exception(3, 4, 1), FakeSimConnectServer::quit()});
    stream.insert(stream.end(), messages.begin(), messages.end());
    seed("fuzz_simconnect_stream", "session", stream);
}

void controllerReplies() {
    Bytes stream;
    for (const ShortFrame& reply : kIdentityReplies) stream.insert(stream.end(), reply.begin(), reply.end());
    stream.insert(stream.end(), kIdentityRequest.begin(), kIdentityRequest.end());
    seed("fuzz_parse_frames", "identity_replies", stream);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <corpus folder>\n");
        return 2;
    }
    root = argv[1];
    udpGames();
    sharedMemoryGames();
    servers();
    controllerReplies();
    std::printf("make_fuzz_seeds: %d seeds under %s\n", written, root.string().c_str());
    return written > 0 ? 0 : 1;
}
