#include "engine/gamesource_engine.h"

#include <cmath>
#include <system_error>

#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "core/console.h"
#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/thread_name.h"
#include "sources/game_table.h"

namespace rez {

GamesourceEngine::GamesourceEngine() {
    // Room for the full histories up front, so the tick does not allocate.
    calculationHistory.reserve(kHistoryLimit);
    accelerationHistory.reserve(kHistoryLimit);
}

GamesourceEngine::~GamesourceEngine() {
    running.store(false);
    if (thread.isCurrentThread())
        thread.release();
    else
        thread.join();
}

namespace {

// Owns the library's engine and tears it down in an order of its own.
//
// - The mailbox, the link flags and the reader families' own state (the
//   flight simulators' client list, the roller coaster's ride), which the
//   tick and the readers' teardown use, are built before the engine, so
//   that (function-local statics being destroyed in reverse order of
//   construction) they outlive it.
// - Linux exit() runs this destructor while the game-source thread still
//   runs: it is stopped (detection looks at `running` between its tests, a
//   tick lasts 2 ms) and joined before anything it uses goes away. Its
//   reference to the library is kept, since dropping the last one here would
//   unmap the code that is running. A dlclose by the host cannot get here
//   while the thread runs: the thread holds the library (platform/module.h).
// - Windows FreeLibrary: the thread holds the library while it runs, so when
//   the last reference goes it has already ended (or this is the thread
//   itself, in its final FreeLibraryAndExitThread); nothing waits under the
//   loader lock. The fan's sending thread was joined when the game-source
//   thread ended.
// - Windows process exit: every other thread is already gone, perhaps inside
//   a lock. Nothing is stopped, joined or destroyed; the system reclaims it all.
class EngineOwner {
public:
    EngineOwner() {
        linkFlags();
        mailbox();
        buildReaderFamilyState();
        engine_ = new GamesourceEngine();
    }
    ~EngineOwner() {
        if (platform::processEnding()) return;
        engine_->stopForTeardown();
        delete engine_;
    }
    EngineOwner(const EngineOwner&) = delete;
    EngineOwner& operator=(const EngineOwner&) = delete;
    GamesourceEngine& engine() { return *engine_; }

private:
    GamesourceEngine* engine_ = nullptr;
};

}  // namespace

GamesourceEngine& theEngine() {
    static EngineOwner owner;
    return owner.engine();
}

void GamesourceEngine::startThread() {
    std::lock_guard<std::mutex> lock(threadControlMutex);
    if (running.load()) return;
    running.store(true);
    stopped.store(false);
    std::string whyNot;
    if (!thread.start(&GamesourceEngine::threadEntry, this, threadStackBytes, whyNot)) {
        // Back to "not started", so that a later start can try again.
        running.store(false);
        stopped.store(true);
        consolePrint("Gamesource thread could not be started: %s\n", whyNot.c_str());
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), whyNot);
    }
}

bool GamesourceEngine::stopThread() {
    std::lock_guard<std::mutex> lock(threadControlMutex);
    running.store(false);
    if (thread.joinable()) {
        if (thread.isCurrentThread())
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
        thread.join();
    }
    return stopped.exchange(true);
}

void GamesourceEngine::stopForTeardown() {
    running.store(false);
    if (thread.isCurrentThread()) {
        // The thread's own final release of the library ended up here; its
        // body is over, and a host thread may hold the control lock.
        thread.release();
        return;
    }
    std::lock_guard<std::mutex> lock(threadControlMutex);
    thread.join(false);
    stopped.store(true);
}

void GamesourceEngine::threadEntry(void* engine) { static_cast<GamesourceEngine*>(engine)->threadBody(); }

void GamesourceEngine::threadBody() {
    platform::nameThisThread("rez-engine");
    platform::requestTimerResolution();
    platform::raiseProcessPriority();
    platform::raiseThreadPriority();
    tickClock.precise.store(1);
    try {
        resetGameSource();
        sources.clearAllFlags();
    } catch (...) {
    }
    tickClock.restart();
    while (running.load()) {
        bool skipFinalSleep = false;
        try {
            skipFinalSleep = loopPass();
        } catch (...) {
            // A reader that throws must not take the host down with
            // std::terminate; the pass is simply over.
        }
        if (!skipFinalSleep) platform::sleepNs(1'000'000);
    }
    gameConnected.store(false);
    try {
        wind.stop();
    } catch (...) {
    }
}

bool GamesourceEngine::loopPass() {
    if (!gameConnected.load()) {
        if (sources.detectGame(&running) == 1 && sources.openGameSource() == 1) {
            gameConnected.store(true);
            tickClock.restart();
            outputsSuppressed.store(false);
        }
        return false;
    }
    if (!motionSystemReady.load()) {
        platform::sleepNs(1'000'000);
        return false;
    }
    return processingTick();
}

bool GamesourceEngine::processingTick() {
    if (sources.readGameSample() == 1)
        readFailCount = 0;
    else
        ++readFailCount;
    if (frozenCount > kFrozenAfterTicks) beginOutputFade();
    if (readFailCount > kLostAfterMisses) {
        resetGameSource();
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(cueMutex);
        updateProfileBlend();

        const double* slots = sources.record.slots;
        bool frozen = true;
        for (int i = 0; i < kChannelCount; ++i)
            if (!(slots[i] == previousSlots[static_cast<std::size_t>(i)])) frozen = false;
        frozenCount = frozen ? frozenCount + 1 : 0;
        for (int i = 0; i < kChannelCount; ++i) previousSlots[static_cast<std::size_t>(i)] = slots[i];

        applyOutputFadeLocked();
    }
    recordSnapshots();
    if (!outputsSuppressed.load()) sendRigOutputs();
    paceTick(tickClock);
    return false;
}

bool GamesourceEngine::openPoseBlock() {
    std::lock_guard<std::mutex> lock(poseMutex);
    // Reopening a block that is already open would drop its contents for any
    // reader that attached meanwhile; keep the open one.
    if (poseBlock.isMapped()) return true;
    if (!poseBlock.createOrOpen(poseBlockName, static_cast<std::size_t>(poseBlockSize))) return false;
    if (!poseBlock.map(platform::MapAccess::ReadWrite, static_cast<std::size_t>(poseBlockSize))) {
        poseBlock.close();
        return false;
    }
    return true;
}

void GamesourceEngine::resetGameSource() {
    sources.closeGameSource();
    openPoseBlock();
    gameConnected.store(false);
    beginOutputFade();
    outputsSuppressed.store(true);
    readFailCount = 0;
    frozenCount = 0;
    airWeight.store(1.0);
    groundWeight.store(0.0);
    activeGroundState.store(0);
    wind.pause();
}

void GamesourceEngine::beginOutputFade() {
    std::lock_guard<std::mutex> lock(cueMutex);
    beginOutputFadeLocked();
}

void GamesourceEngine::beginOutputFadeLocked() {
    outputFade.store(0.0);
    fadeStart = outputCues;
}

void GamesourceEngine::applyOutputFade() {
    std::lock_guard<std::mutex> lock(cueMutex);
    applyOutputFadeLocked();
}

void GamesourceEngine::applyOutputFadeLocked() {
    double fade = outputFade.load();
    if (!(fade < 1.0)) return;
    for (std::size_t i = 0; i < outputCues.size(); ++i) outputCues[i] = (outputCues[i] - fadeStart[i]) * fade + fadeStart[i];
    fade += tickClock.intervalMs() * (1.0 / outputFadeDurationMs);
    outputFade.store(fade > 1.0 ? 1.0 : fade);
}

void GamesourceEngine::setMotionSystemReady(int ready) {
    if (ready == 1) {
        if (!motionSystemReady.exchange(true)) beginOutputFade();
    } else if (ready == 0) {
        if (motionSystemReady.exchange(false)) beginOutputFade();
    }
}

double GamesourceEngine::transitionStatus() const {
    const double v = std::trunc(outputFade.load() * 100.0);
    return v > 100.0 ? 100.0 : v;
}

}  // namespace rez
