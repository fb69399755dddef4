// Arbitrary bytes as the shared-memory block of each game that publishes one
// (Assetto Corsa and EVO, RaceRoom in every layout it announces, Project CARS
// 2, rFactor 2, the truck simulators): the reader, attached as the engine
// attaches it, must read only inside its view and leave the record usable
// whatever the block holds, storing only finite values. The first byte picks the game; the rest is the
// block's content from its start (for Assetto Corsa the bytes after the
// physics page go to the graphics page, whose status gates the read).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "sources/game_table.h"
#include "sources/shm/assetto_corsa_reader.h"
#include "sources/shm/pcars2_reader.h"
#include "sources/shm/raceroom_reader.h"
#include "sources/shm/rfactor2_reader.h"
#include "sources/shm/shared_memory_readers.h"
#include "sources/shm/truck_sim_reader.h"

namespace {

using namespace rez;

// Larger than any view a reader maps (RaceRoom's newest layout is 43 996
// bytes), so every layout a fuzzed version number selects lies inside.
constexpr std::size_t kBlockSize = 65536;

struct Game {
    int id;
    const char* name;
    const char* second = nullptr;  // a page the read also looks at
    std::size_t firstSize = kBlockSize;
};

const Game kGames[] = {
    {kAssettoCorsa, kAcPhysicsName, kAcGraphicsName, kAcPhysicsSize},
    {kAssettoCorsaEvo, kAcEvoPhysicsName},
    {kRaceRoom, kR3eName},
    {kProjectCars2, kPcars2Name},
    {kRFactor2, kRf2Name},
    {kTruckSim, kTruckBlockName},
};

struct Attached {
    platform::SharedMemory first;
    platform::SharedMemory second;
    std::unique_ptr<GameReader> reader;
    std::size_t firstDirty = kBlockSize;
    std::size_t secondDirty = kBlockSize;
};

bool makeBlock(platform::SharedMemory& block, const char* name) {
    platform::SharedMemory::removeName(name);
    return block.createOrOpen(name, kBlockSize) && block.map(platform::MapAccess::ReadWrite, kBlockSize);
}

// RaceRoom and rFactor 2 attach only while their game runs: a shell under
// each game's executable name stands in for it while the fuzzer runs, and
// ends within a second of the fuzzer, however the fuzzer ends (a crash or a
// kill skips every exit handler), so no stand-in outlives it.
void startGameProcesses() {
    static platform::ChildProcess games[2];
    const char* names[2] = {"RRRE64.exe", "rFactor2.exe"};
    const std::string watch = "while kill -0 " + std::to_string(getpid()) + " 2>/dev/null; do sleep 1; done";
    for (int i = 0; i < 2; ++i) {
        if (!games[i].start("/bin/sh", names[i], {"-c", watch})) __builtin_trap();
        for (int tries = 0; tries < 500 && !platform::isProcessRunning(names[i]); ++tries) platform::sleepMs(10);
    }
    std::atexit([] {
        for (auto& game : games) game.kill();
    });
}

std::vector<Attached>& games() {
    static std::vector<Attached> attached = [] {
        startGameProcesses();
        std::vector<Attached> all(std::size(kGames));
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (!makeBlock(all[i].first, kGames[i].name)) __builtin_trap();
            if (kGames[i].second && !makeBlock(all[i].second, kGames[i].second)) __builtin_trap();
            // Assetto Corsa attaches only to a live session (graphics status 2).
            if (kGames[i].second) store_le<std::int32_t>(all[i].second.data() + 4, kAcStatusLive);
            all[i].reader = makeSharedMemoryReader(kGames[i].id);
            if (!all[i].reader || !all[i].reader->attach()) __builtin_trap();
        }
        // The blocks go with the fuzzer (when it ends normally): a later test
        // run must not find a game online.
        std::atexit([] {
            for (const Game& game : kGames) {
                platform::SharedMemory::removeName(game.name);
                if (game.second) platform::SharedMemory::removeName(game.second);
            }
        });
        return all;
    }();
    return attached;
}

// Copies the input in and zeroes what the previous input left behind it
// (`dirty`: how far the block holds non-zero bytes).
void fill(platform::SharedMemory& block, std::size_t& dirty, const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min(size, kBlockSize);
    if (n) std::memcpy(block.data(), data, n);
    if (dirty > n) std::memset(block.data() + n, 0, dirty - n);
    dirty = n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t pick = data[0] % std::size(kGames);
    Attached& game = games()[pick];
    ++data;
    --size;
    const std::size_t first = std::min(size, kGames[pick].firstSize);
    fill(game.first, game.firstDirty, data, first);
    if (kGames[pick].second) fill(game.second, game.secondDirty, data + first, size - first);
    GameDataRecord record;
    // Twice: the second read sees the same packet (no new sample) as a game
    // between two updates.
    game.reader->read(record);
    game.reader->read(record);
    // A reader that let go of a block it judged not ready takes it again, as
    // the engine's next pass would (a no-op while still attached).
    if (kGames[pick].id == kRaceRoom || kGames[pick].id == kRFactor2) game.reader->attach();
    // A block holding a value that is no number is no sample: nothing the
    // reader stored may be one.
    for (double v : record.slots)
        if (!std::isfinite(v)) __builtin_trap();
    return 0;
}
