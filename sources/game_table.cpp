#include "sources/game_table.h"

#include <functional>

#include "core/bytes.h"
#include "core/console.h"
#include "sources/detection_tests.h"
#include "sources/shared_memory_readers.h"

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

bool assettoCorsaTest() {
    return createOrOpenMappingTest("Local\\acpmf_graphics", 1320, [](const unsigned char* view, std::size_t size) {
        return load_le_checked<std::int32_t>(view, size, 4) == 2;
    });
}

bool raceRoomTest() {
    if (!processTest({"RRRE64.exe", "RRRE.exe"}) || !existingMappingTest("$R3E")) return false;
    consolePrint("Found RRRE.exe, mapping shared memory...\n");
    return true;
}

std::function<bool()> detectionTest(int id) {
    switch (id) {
        case kXplane: return [] { return probeUdpPort(4321) == 1; };
        case kDcs: return [] { return processTest({"DCS.exe", "DCS64.exe"}) && probeUdpPort(4124) == 1; };
        case kAssettoCorsa: return assettoCorsaTest;
        case kAssettoCorsaEvo:
            return [] { return createOrOpenMappingTest("Local\\acpmf_physics", 712) && processTest({"AssettoCorsaEVO.exe"}); };
        case kRaceRoom: return raceRoomTest;
        case kDirtRally2: return [] { return probeUdpPort(20778) == 1; };
        case kCondor2: return [] { return probeUdpPort(55278) == 1; };
        case kF1:
            return [] {
                return processTest({"F1_23.exe", "F1_23_64.exe", "F1_24.exe", "F1_24_64.exe"}) && probeUdpPort(20777) == 1;
            };
        case kProjectCars2: return [] { return existingMappingTest("$pcars2$"); };
        case kIRacing:
            return [] { return processTest({"iRacingSim64DX11.exe", "Iracing.exe"}) && existingMappingTest("Local\\IRSDKMemMapFileName"); };
        case kWrc23: return [] { return probeUdpPort(20788) == 1; };
        case kBeamNg: return [] { return probeUdpPort(4444) == 1; };
        case kLfs: return [] { return processTest({"LFS.exe", "LFS64.exe"}) && probeUdpPort(4123) == 1; };
        case kRFactor2:
            return [] { return processTest({"rFactor2.exe"}) && existingMappingTest("Local\\Rovandelix_rf2_data"); };
        case kTruckSim:
            return [] { return createOrOpenMappingTest("SCSTelemetryExample", 177) && processTest({"eurotrucks2.exe"}); };
        default:
            // The flight simulators (SimConnect) and NoLimits 2 (TCP) come with their readers.
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
    return std::make_unique<DetectOnlyReader>(detectionTest(id));
}

}  // namespace rez
