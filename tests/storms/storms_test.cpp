// Start/stop storms: every thread of the library started and stopped over and
// over, in random orders, from several host threads at once, through the
// exports. Every stop must return and every loop a host lent a thread to
// must give it back; a watchdog ends the run with the seed when one hangs.
//
// REZ_STORM_CYCLES sets the cycles per storm (twenty by default, 1000
// for the full storms), REZ_STORM_SEED replays a run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controller/link_flags.h"
#include "controller/serial_link.h"
#include "engine/gamesource_engine.h"
#include "rezadedudid.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "sim/emulated_controller.h"
#include "sim/multicast_member.h"
#include "tests/support/test_reader.h"

namespace rez {
namespace {

int envInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

int cycles() { return envInt("REZ_STORM_CYCLES", 20); }

unsigned seed() {
    static const unsigned value = [] {
        const unsigned s = static_cast<unsigned>(envInt("REZ_STORM_SEED", static_cast<int>(std::random_device{}() >> 1)));
        std::printf("storm seed %u (REZ_STORM_SEED=%u replays it)\n", s, s);
        return s;
    }();
    return value;
}

// Ends the whole run when `what` has not finished within `seconds`: a hung
// stop cannot be failed any other way, and ctest must not wait for it.
class Watchdog {
public:
    Watchdog(std::string what, int seconds) : what_(std::move(what)) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
                std::fprintf(stderr, "HUNG: %s did not return within %d s (seed %u)\n", what_.c_str(), seconds, seed());
                std::fflush(stderr);
                std::_Exit(86);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

void pause(std::mt19937& rng, int maxUs) {
    const int us = std::uniform_int_distribution<int>(0, maxUs)(rng);
    if (us > 0) platform::sleepNs(us * 1000LL);
}

// A loop on a thread the host lends, with a flag that says it came back.
struct LentThread {
    std::atomic<bool> returned{false};
    std::thread thread;
    explicit LentThread(void (*loop)()) {
        thread = std::thread([this, loop] {
            loop();
            returned = true;
        });
    }
};

void runSerialLink() { startREZadEdudid_Thread(); }

// Stops until every lent loop came back. A loop whose start reached the
// library only after a stop legitimately runs on, so stops are repeated; a
// loop that never comes back is a hang.
void stopAll(std::vector<std::unique_ptr<LentThread>>& lent, const std::string& what) {
    Watchdog dog(what + ": lent threads returning after stops", 60);
    for (;;) {
        bool all = true;
        for (auto& l : lent) all = all && l->returned.load();
        if (all) break;
        stopREZadEdudid_Thread();
        platform::sleepMs(1);
    }
    for (auto& l : lent) l->thread.join();
    lent.clear();
}

// --- the game-source thread ---------------------------------------------------

TEST(Storms, EngineThreadStartsAndStopsFromSeveralHostThreads) {
    GamesourceEngine& engine = theEngine();
    ASSERT_FALSE(engine.running.load());
    engine.sources.detectPauseMs = 0;
    auto game = std::make_unique<test::TestReader>();
    test::TestReader* reader = game.get();
    reader->setSample([](GameDataRecord& record, long index) {
        record.slots[kLateralAccelG] = static_cast<double>(index % 50) / 10.0;
        return true;
    });
    for (int id = 0; id < kGameCount; ++id)
        engine.sources.setReader(id, id == kAssettoCorsa ? std::unique_ptr<GameReader>(std::move(game))
                                                         : std::make_unique<test::AbsentReader>());

    const unsigned base = seed();
    const int perThread = cycles() * 25;  // engine cycles are cheap: 25 per storm cycle
    std::vector<std::thread> hosts;
    for (int h = 0; h < 4; ++h) {
        hosts.emplace_back([h, base, perThread, reader] {
            std::mt19937 rng(base + static_cast<unsigned>(h));
            char name[32];
            for (int i = 0; i < perThread; ++i) {
                switch (std::uniform_int_distribution<int>(0, 5)(rng)) {
                    case 0:
                    case 1: startGamesource_Thread(); break;
                    case 2: {
                        Watchdog dog("stopGamesource_Thread", 30);
                        stopGamesource_Thread();
                        break;
                    }
                    case 3: setMotionsystemready(std::uniform_int_distribution<int>(0, 1)(rng)); break;
                    case 4: reader->present = std::uniform_int_distribution<int>(0, 3)(rng) != 0; break;
                    default: {
                        int count = 0;
                        getGameName(name);
                        getTransitionStatus();
                        FreeCalculationSnapshots(GetCalculationSnapshots(&count));
                        break;
                    }
                }
                pause(rng, 300);
            }
        });
    }
    for (auto& t : hosts) t.join();
    {
        Watchdog dog("the last stopGamesource_Thread", 30);
        stopGamesource_Thread();
    }
    EXPECT_TRUE(stopGamesource_Thread()) << "a thread still ran after the storm";
    EXPECT_FALSE(engine.running.load());
    setMotionsystemready(0);
}

// --- the loops on lent threads ------------------------------------------------

struct LoopCase {
    const char* name;
    bool link, listen, sender;
    bool withPort;  // a controller answers on a pseudo-terminal
};

// One storm: per cycle the chosen loops start on fresh host threads in a
// random order, the game-source thread starts or stops beside them, and a few
// host threads stop everything at once at random moments.
void loopStorm(const LoopCase& c, unsigned stormSeed) {
    std::mt19937 rng(stormSeed);
    std::vector<std::unique_ptr<LentThread>> lent;
    for (int cycle = 0; cycle < cycles(); ++cycle) {
        std::vector<void (*)()> loops;
        if (c.link) loops.push_back(runSerialLink);
        if (c.listen) loops.push_back(startUPDListenThread);
        if (c.sender) loops.push_back(startUPDMulticastSenderThread);
        std::shuffle(loops.begin(), loops.end(), rng);
        LentThread* link = nullptr;
        for (auto loop : loops) {
            lent.push_back(std::make_unique<LentThread>(loop));
            if (loop == runSerialLink) link = lent.back().get();
            pause(rng, 1500);
        }
        if (rng() % 2 != 0) startGamesource_Thread();
        if (c.link) {
            // The serial loop has entered the library before the stops come:
            // they must end it, however soon after its start they arrive.
            Watchdog dog(std::string(c.name) + ": serial loop entering", 30);
            while (serialLink().activeLoops.load() == 0 && !link->returned.load()) platform::sleepNs(20000);
        }
        // Stops right on the heels of a start, a little later, or once a
        // controller had time to answer.
        const int spread[] = {0, 100, 3000, c.withPort ? 400000 : 3000};
        const int maxUs = spread[rng() % 4];
        pause(rng, maxUs);
        std::vector<std::thread> stoppers;
        const int stopperCount = 1 + static_cast<int>(rng() % 3);
        for (int s = 0; s < stopperCount; ++s) {
            const unsigned delay = rng() % (static_cast<unsigned>(maxUs) / 4 + 1);
            stoppers.emplace_back([delay, &c] {
                platform::sleepNs(delay * 1000LL);
                Watchdog dog(std::string(c.name) + ": stopREZadEdudid_Thread", 30);
                stopREZadEdudid_Thread();
            });
        }
        if (rng() % 2 != 0) {
            Watchdog dog("stopGamesource_Thread", 30);
            stopGamesource_Thread();
        }
        for (auto& t : stoppers) t.join();
        if (c.link) {
            // Every stop came after the serial loop had entered: it is over.
            Watchdog dog(std::string(c.name) + ": serial loop ending after a stop", 30);
            while (serialLink().activeLoops.load() != 0) platform::sleepMs(1);
        }
        stopAll(lent, c.name);
    }
    Watchdog dog("stopGamesource_Thread", 30);
    stopGamesource_Thread();
}

// The host's stop often comes a moment after it lent the thread (an
// application closed right after it opened): the loop has entered the
// library but not yet begun to run.
TEST(Storms, StopOnTheHeelsOfTheSerialLoopsStartEndsIt) {
    linkFlags().reset();
    setStandartPort("COM250");
    for (int cycle = 0; cycle < cycles() * 10; ++cycle) {
        LentThread loop(runSerialLink);
        while (serialLink().activeLoops.load() == 0) std::this_thread::yield();
        {
            Watchdog dog("stopREZadEdudid_Thread right after the start", 30);
            stopREZadEdudid_Thread();
        }
        Watchdog dog("the serial loop ending after its stop", 30);
        loop.thread.join();
    }
}

#if !defined(_WIN32)
// The same for the UDP loops, whose first act is a line in the network log:
// once that line is there the loop has entered the library, and a stop from
// then on must end it. The sender reaches its loop only with a wired adapter
// to send from, so both run in a network namespace that has one.
void stopOnTheHeelsOf(void (*loop)(), const char* name) {
    namespace fs = std::filesystem;
    const fs::path documents = fs::temp_directory_path() / ("rez-storm-docs-" + std::to_string(seed()));
    fs::create_directories(documents);
    platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", documents.string());
    const fs::path log = documents / "rovandelix" / "errorlog.txt";
    auto logSize = [&] {
        std::error_code error;
        const auto size = fs::file_size(log, error);
        return error ? 0 : size;
    };
    linkFlags().reset();
    for (int cycle = 0; cycle < cycles() * 5; ++cycle) {
        const auto before = logSize();
        LentThread lent(loop);
        while (logSize() == before) std::this_thread::yield();
        {
            Watchdog dog(std::string("stopREZadEdudid_Thread right after the start of the ") + name, 30);
            stopREZadEdudid_Thread();
        }
        Watchdog dog(std::string("the ") + name + " ending after its stop", 30);
        lent.thread.join();
    }
    fs::remove_all(documents);
}

TEST(Storms, StopOnTheHeelsOfAUdpLoopsStartEndsIt) {
    const auto run = sim::runInNetwork([](sim::MulticastMember&) -> std::string {
        stopOnTheHeelsOf(startUPDListenThread, "listener");
        stopOnTheHeelsOf(startUPDMulticastSenderThread, "multicast sender");
        return "ok";
    });
    if (run.outcome == sim::NetworkRun::NoNamespace) GTEST_SKIP() << run.text;
    EXPECT_EQ(run.outcome, sim::NetworkRun::Ran) << run.text;
    EXPECT_EQ(run.text, "ok");
}
#endif

// A host stops the UDP loops and at once starts a new listener on another
// thread: the new one raises the shared run flag again. The stop must still
// return, and the listener it stopped must still end.
TEST(Storms, AStartRightAfterAStopLeavesThatStopInForce) {
    linkFlags().reset();
    for (int cycle = 0; cycle < cycles() * 2; ++cycle) {
        LentThread earlier(startUPDListenThread);
        {
            Watchdog dog("the first listener starting", 30);
            while (!linkFlags().udpStarted.load()) platform::sleepMs(1);
        }
        std::unique_ptr<LentThread> later;
        std::thread stopper([] {
            Watchdog dog("stopREZadEdudid_Thread with a listener starting after it", 30);
            stopREZadEdudid_Thread();
        });
        platform::sleepNs(50000);
        later = std::make_unique<LentThread>(startUPDListenThread);
        stopper.join();
        {
            Watchdog dog("the stopped listener ending while a later one runs", 30);
            earlier.thread.join();
        }
        std::vector<std::unique_ptr<LentThread>> rest;
        rest.push_back(std::move(later));
        stopAll(rest, "the later listener");
        linkFlags().udpStarted = false;
    }
}

TEST(Storms, LentLoopsStartAndStopInRandomOrders) {
    sim::EmulatedController controller;
    std::string why;
    const bool port = controller.open(why) && controller.hasUsbIdentity();
    const LoopCase cases[] = {
        {"serial link, no port", true, false, false, false},
        {"serial link, controller answering", true, false, false, true},
        {"UDP listen", false, true, false, false},
        {"multicast sender, no adapter", false, false, true, false},
        {"all three, controller answering", true, true, true, true},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.withPort && !port) {
            std::printf("%s: skipped, no controller line with a USB identity here (%s)\n", c.name, why.c_str());
            continue;
        }
        linkFlags().reset();
        if (c.withPort) {
            setStandartPort(controller.portName().c_str());
            enableAutoconnect();
        } else {
            setStandartPort("COM250");
            disableAutoconnect();
        }
        loopStorm(c, seed() + static_cast<unsigned>(c.name[0]) + static_cast<unsigned>(c.name[1]));
        EXPECT_EQ(serialLink().activeLoops.load(), 0);
        EXPECT_EQ(isConnected(), 0) << "a loop still runs";
    }
    disableAutoconnect();
}

#if !defined(_WIN32)
// The sender with a wired adapter to send from, and the listener beside it,
// in a network namespace of their own.
TEST(Storms, MulticastSenderWithAnAdapterStartsAndStops) {
    const unsigned s = seed();
    const auto run = sim::runInNetwork([s](sim::MulticastMember&) -> std::string {
        linkFlags().reset();
        loopStorm({"multicast sender and listener", false, true, true, false}, s);
        return "ok";
    });
    if (run.outcome == sim::NetworkRun::NoNamespace) GTEST_SKIP() << run.text;
    EXPECT_EQ(run.outcome, sim::NetworkRun::Ran) << run.text;
    EXPECT_EQ(run.text, "ok");
}
#endif

}  // namespace
}  // namespace rez
