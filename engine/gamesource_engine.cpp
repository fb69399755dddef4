#include "engine/gamesource_engine.h"

#include <cmath>
#include <system_error>

#include "platform/clock.h"
#include "platform/priority.h"

namespace rez {

GamesourceEngine::GamesourceEngine() {
    // Room for the full histories up front, so the tick does not allocate.
    calculationHistory.reserve(kHistoryLimit);
    accelerationHistory.reserve(kHistoryLimit);
}

GamesourceEngine::~GamesourceEngine() {
    // The host is expected to stop the thread before unloading. If it did
    // not, joining here could deadlock on the system's loader lock, so the
    // thread is asked to stop, given a moment to finish its pass, and let go.
    running.store(false);
    if (thread.joinable()) {
        for (int i = 0; i < 200 && !bodyFinished.load(); ++i) platform::sleepMs(1);
        thread.detach();
    }
}

GamesourceEngine& theEngine() {
    static GamesourceEngine engine;
    return engine;
}

void GamesourceEngine::startThread() {
    std::lock_guard<std::mutex> lock(threadControlMutex);
    if (running.load()) return;
    running.store(true);
    stopped.store(false);
    bodyFinished.store(false);
    std::thread worker([this] { threadBody(); });  // a failure throws resource_unavailable_try_again
    thread = std::move(worker);
}

bool GamesourceEngine::stopThread() {
    std::lock_guard<std::mutex> lock(threadControlMutex);
    running.store(false);
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id())
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
        thread.join();
        thread = std::thread();
    }
    return stopped.exchange(true);
}

void GamesourceEngine::threadBody() {
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
    bodyFinished.store(true);
}

bool GamesourceEngine::loopPass() {
    if (!gameConnected.load()) {
        if (sources.detectGame() == 1 && sources.openGameSource() == 1) {
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
