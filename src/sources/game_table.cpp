#include "sources/game_table.h"

#include <functional>

#include "sources/detection_tests.h"
#include "sources/simconnect/flight_sim_reader.h"
#include "sources/shm/shared_memory_readers.h"
#include "sources/tcp/nolimits_reader.h"
#include "sources/tcp/nolimits_ride.h"
#include "sources/udp/udp_game_reader.h"

namespace rez {

namespace {

constexpr std::array<const char*, kGameCount> kNames = {
    "Xplane", "DCS", "MSFS2020", "AssettoCorsa/Comp.", "RaceRoom", "DirtRally2", "Condor2", "F1-2023-24",
    "NoLimits2", "PCAR2/Automobilista2", "iRacing", "WRC23", "BeamNG", "LFS", "rFactor2", "MSFS2024",
    "AssettoCorsaEvo", "ETSM2/AMT",
};

// A game whose reader has not been built yet: the table's detection test
// runs, attach refuses, so the game never goes online.
class DetectOnlyReader : public GameReader {
public:
    explicit DetectOnlyReader(std::function<bool()> test) : test_(std::move(test)) {}
    bool detect() override { return test_ && test_(); }
    bool attach() override { return false; }
    bool read(GameDataRecord&) override { return false; }
    void close() override {}

private:
    std::function<bool()> test_;
};

std::function<bool()> detectionTest(int id) {
    switch (id) {
        case kXplane: return [] { return probeUdpPort(4321) == 1; };
        case kDcs: return [] { return processTest({"DCS.exe", "DCS64.exe"}) && probeUdpPort(4124) == 1; };
        case kDirtRally2: return [] { return probeUdpPort(20778) == 1; };
        case kCondor2: return [] { return probeUdpPort(55278) == 1; };
        case kF1:
            return [] {
                return processTest({"F1_23.exe", "F1_23_64.exe", "F1_24.exe", "F1_24_64.exe"}) && probeUdpPort(20777) == 1;
            };
        case kWrc23: return [] { return probeUdpPort(20788) == 1; };
        case kBeamNg: return [] { return probeUdpPort(4444) == 1; };
        case kLfs: return [] { return processTest({"LFS.exe", "LFS64.exe"}) && probeUdpPort(4123) == 1; };
        default:
            // The flight simulators (SimConnect) and NoLimits 2 (TCP) come with their readers;
            // the shared-memory games are handled by makeSharedMemoryReader.
            return {};
    }
}

}  // namespace

const char* gameName(int id) {
    if (id < 0 || id >= kGameCount) return kNoGameName;
    return kNames[static_cast<std::size_t>(id)];
}

std::unique_ptr<GameReader> makeGameReader(int id) {
    if (auto reader = makeSharedMemoryReader(id)) return reader;
    if (auto reader = makeUdpGameReader(id, detectionTest(id))) return reader;
    if (auto reader = makeFlightSimReader(id)) return reader;
    if (auto reader = makeNoLimitsReader(id)) return reader;
    return std::make_unique<DetectOnlyReader>(detectionTest(id));
}

void buildReaderFamilyState() {
    buildClientState();
    noLimitsRide();
}

}  // namespace rez
