#pragma once
// Plays any of the 18 supported games: a player publishes a state of the
// vehicle the way that game publishes its telemetry (its shared memory, its
// datagrams to its port, its telemetry server, a SimConnect server), shows
// the game's process where detection looks for one, and is fed by a drive
// (a scripted one or a recording) at the game's own rate.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rez::sim {

// The vehicle as the library sees it: the 43 slots in the library's units,
// as the readers leave them (slot 0 and 42 are not published by any game).
// A player encodes the slots its game supplies into the game's own fields,
// so that the game's reader gives those slots back.
struct SimState {
    double slots[43] = {};
    // On the ground: the flight simulators' ground flag. X-Plane reports it
    // through its gear forces (the suspension slots); when those are all 0,
    // this gives each gear a load.
    bool onGround = false;
};

struct GameInfo {
    std::string key;   // lower case, for the command line
    std::string name;  // the name the library gives the game
    std::string how;   // how it is played: blocks, port, server, process
    double rateHz = 0;
};

// All 18, in game id order.
const std::vector<GameInfo>& simulatedGames();
// The game id of a key, or -1.
int gameIdOfKey(const std::string& key);

class GamePlayer {
public:
    virtual ~GamePlayer();
    // Publishes nothing yet but makes the game visible (blocks, server,
    // process); false with the reason in `error`.
    virtual bool start(std::string& error) = 0;
    virtual void publish(const SimState& s) = 0;
    // Closes blocks, sockets and the process; publish must not follow.
    virtual void stop() = 0;
    virtual double rateHz() const = 0;
};

std::unique_ptr<GamePlayer> makeGamePlayer(const std::string& key, std::string& error);

class Drive {
public:
    virtual ~Drive();
    // The state at `seconds` from the start; continuous in time.
    virtual void at(double seconds, SimState& out) = 0;
    // Scripted drives go on for ever (infinity), lap after lap; a recording
    // lasts as long as its rows.
    virtual double lengthSeconds() const = 0;
};

// "default" (the game's kind: a drive, a flight or a ride), "drive",
// "flight", "ride", "step" (unit step at 1 s on `slot`, a slot name such as
// "lateral_accel_g" or "slot_42"), or the path of a recording.
std::unique_ptr<Drive> makeDrive(const std::string& nameOrRecordingPath, const std::string& gameKey,
                                 std::string& error, const std::string& slot = "");
// Whether `name` is one of the scripted drives' names above (a recording
// goes by its path instead).
bool isDriveName(const std::string& name);
inline constexpr const char* kDriveNames = "default, drive, flight, ride or step";

// Runs a started player with a drive at the player's rate until `stop` is
// set, the drive ends or `seconds` have passed (0: no limit); the player is
// left started. `onPublish` (optional) sees each state right after it was
// published, with its time on the drive. False only for a player without a
// rate.
bool playGame(GamePlayer& player, Drive& drive, double seconds, const std::atomic<bool>& stop,
              const std::function<void(double t, const SimState&)>& onPublish);

}  // namespace rez::sim
