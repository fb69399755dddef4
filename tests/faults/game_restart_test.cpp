// A shared-memory game quits while the engine ticks on its telemetry, and is
// started again: the engine lets the dead session go and takes the new one.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/game_writers.h"
#include "tests/faults/fault_util.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"

namespace rez {
namespace {

// One session of a game: its process where detection asks for one, and a
// thread publishing a fresh sample every 5 ms whose counters (packet number,
// tick, elapsed time) start again from the beginning, as a restarted game's do.
class Session {
public:
    // `publish(n)` writes sample n of the session; it runs on the thread.
    Session(const char* exe, std::function<void(long)> publish) : publish_(std::move(publish)) {
        if (exe != nullptr) process_ = std::make_unique<test::ChildGame>(exe);
        thread_ = std::thread([this] {
            for (long n = 1; running_; ++n) {
                publish_(n);
                platform::sleepMs(5);
            }
        });
    }
    ~Session() {
        running_ = false;
        thread_.join();
    }
    bool processStarted() const { return !process_ || process_->started(); }

private:
    std::function<void(long)> publish_;
    std::unique_ptr<test::ChildGame> process_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

// Whether the engine lets a quit game go. iRacing stays attached by design
// and follows the next session; on Windows the reader's own handle keeps a
// quit game's block alive, so games that read any block while it is there
// are not let go there.
enum class Quit { LetGo, LetGoOnLinux, Kept };

struct Game {
    int id;
    int slot;  // where the session's marker shows, as its magnitude
    Quit quit;
    // Starts a session whose samples carry `marker` in that slot.
    std::function<std::unique_ptr<Session>(double marker)> start;
};

std::vector<Game> games() {
    using std::make_shared;
    using std::make_unique;
    auto ac = [](sim::AssettoCorsaWriter::Pages pages, const char* exe) {
        return [pages, exe](double marker) {
            auto w = make_shared<sim::AssettoCorsaWriter>(pages);
            w->setStatus(2);
            return make_unique<Session>(exe, [w, marker](long n) {
                sim::AcPhysics s;
                s.packetId = static_cast<std::int32_t>(n);
                s.localVelocity[2] = static_cast<float>(marker);
                w->publish(s);
            });
        };
    };
    return {
        {kAssettoCorsa, kLongituSpeed, Quit::LetGo, ac(sim::AssettoCorsaWriter::Pages::Classic, nullptr)},
        {kAssettoCorsaEvo, kLongituSpeed, Quit::LetGo, ac(sim::AssettoCorsaWriter::Pages::Evo, "AssettoCorsaEVO.exe")},
        {kRaceRoom, kLongituSpeed, Quit::LetGoOnLinux,
         [](double marker) {
             auto w = make_shared<sim::RaceRoomWriter>();
             return make_unique<Session>("RRRE64.exe", [w, marker](long) {
                 sim::R3eSample s;
                 s.localVelocity[2] = marker;
                 w->publish(s);
             });
         }},
        {kProjectCars2, kLongituSpeed, Quit::LetGoOnLinux,
         [](double marker) {
             auto w = make_shared<sim::ProjectCars2Writer>();
             return make_unique<Session>(nullptr, [w, marker](long) {
                 sim::Pcars2Sample s;
                 s.localVelocity[1] = static_cast<float>(marker);
                 w->publish(s);
             });
         }},
        {kIRacing, kLongituAccelG, Quit::Kept,
         [](double marker) {
             auto w = make_shared<sim::IRacingWriter>(std::vector<std::string>{"LongAccel"});
             w->setConnected(true);
             return make_unique<Session>("iRacingSim64DX11.exe", [w, marker](long n) {
                 w->publish(static_cast<std::int32_t>(n), {{"LongAccel", static_cast<float>(marker)}});
             });
         }},
        {kRFactor2, kLongituSpeed, Quit::LetGo,
         [](double marker) {
             auto w = make_shared<sim::RFactor2Writer>();
             return make_unique<Session>("rFactor2.exe", [w, marker](long n) {
                 sim::Rf2Sample s;
                 s.elapsedTime = 0.005 * static_cast<double>(n);
                 s.localVel[2] = marker;
                 w->publish(s);
             });
         }},
        {kTruckSim, kLongituSpeed, Quit::LetGoOnLinux,
         [](double marker) {
             auto w = make_shared<sim::TruckSimWriter>();
             return make_unique<Session>("eurotrucks2.exe", [w, marker](long) {
                 sim::TruckSample s;
                 s.linearVelocity[2] = static_cast<float>(marker);
                 w->publish(s);
             });
         }},
    };
}

TEST(GameRestart, EngineLetsTheQuitSessionGoAndTakesTheNewOne) {
    for (const Game& game : games()) {
        SCOPED_TRACE(gameName(game.id));
        test::removeGameNames();
        auto engine = std::make_unique<GamesourceEngine>();
        faults::keepOnly(engine->sources, {game.id});
        engine->startThread();
        engine->setMotionSystemReady(1);
        auto shows = [&](double marker) {
            return faults::eventually(
                [&] {
                    for (const AccelerationSnapshot& s : engine->takeAccelerationHistory())
                        if (std::fabs(std::fabs(s.values[game.slot]) - marker) < 1e-3) return true;
                    return false;
                },
                20000);
        };

        auto session = game.start(11.0);
        ASSERT_TRUE(session->processStarted());
        ASSERT_TRUE(faults::eventually([&] { return engine->gameConnected.load(); }, 20000));
        EXPECT_EQ(engine->sources.presentGame(), game.id);
        EXPECT_TRUE(shows(11.0)) << "the first session drives the engine";

        // The game quits: its process and its block go.
        session.reset();
#if defined(_WIN32)
        const bool letGo = game.quit == Quit::LetGo;
#else
        const bool letGo = game.quit != Quit::Kept;
#endif
        if (letGo) {
            EXPECT_TRUE(faults::eventually([&] { return !engine->gameConnected.load(); }, 30000))
                << "the engine lets a quit game go";
        }

        session = game.start(22.0);
        ASSERT_TRUE(session->processStarted());
        EXPECT_TRUE(shows(22.0)) << "the restarted game drives the engine again";
        EXPECT_EQ(engine->sources.presentGame(), game.id);
        engine->stopThread();
        session.reset();
    }
}

}  // namespace
}  // namespace rez
