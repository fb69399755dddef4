#pragma once
// The one process-wide engine: game sources, profiles, cues, outputs,
// histories, the fan port and the game-source thread with its 2 ms tick.
#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "core/sample_clock.h"
#include "engine/channel_bindings.h"
#include "engine/motion_profile.h"
#include "rezadedudid.h"
#include "platform/module.h"
#include "platform/shared_memory.h"
#include "sources/game_source_set.h"

namespace rez {

inline constexpr int kChannelCount = 23;
inline constexpr int kHistoryLimit = 150;
inline constexpr double kOutputFadeMs = 4000.0;
inline constexpr int kLostAfterMisses = 1000;
inline constexpr int kFrozenAfterTicks = 250;

using CueArray = std::array<double, kChannelCount>;
// Set by the host while the tick reads them: single atomic values.
struct LimitPair {
    std::atomic<double> minimum{0.0};
    std::atomic<double> maximum{0.0};
};

inline constexpr int kProfileAir = 0;
inline constexpr int kProfileGround = 1;

class GamesourceEngine {
public:
    GamesourceEngine();
    ~GamesourceEngine();
    GamesourceEngine(const GamesourceEngine&) = delete;
    GamesourceEngine& operator=(const GamesourceEngine&) = delete;

    // Thread control. A thread that cannot be created leaves the engine
    // startable again; startThread prints why and throws.
    void startThread();
    bool stopThread();

    void resetGameSource();
    void beginOutputFade();
    void applyOutputFade();
    void setMotionSystemReady(int ready);

    // One pass of the thread's loop; true when the pass must not end with
    // the final sleep (a tick that ended with a reset).
    bool loopPass();
    // The processing tick; returns true when it ended with a reset.
    bool processingTick();

    // Tick steps owned by the cueing, snapshot and output code.
    void updateProfileBlend();
    void computeCues();
    double evaluateChannel(MotionProfile& profile, const ChannelBinding& binding, double weight);
    void recordSnapshots();
    void sendRigOutputs();
    void sendWindOutput();
    // Builds the cue frame from the output cues and the rig limits.
    void buildMotionFrame(std::array<unsigned char, 36>& frame) const;

    // Motion cancel and rig limits (host side).
    void activateMotionCancel(bool on);
    void setFilterMotionCancel(double filter);
    void setGainMotionCancel(double gain);
    void setRigDofLimit(int index, double minimum, double maximum);
    void copyMotionFrame(unsigned char* out);

    // Takes a whole history: the records, oldest first, and an empty history.
    std::vector<CalculationSnapshot> takeCalculationHistory();
    std::vector<AccelerationSnapshot> takeAccelerationHistory();

    // Profiles and filters (host side).
    FilterSlot* channelFilterSlot(int profile, int channel);
    bool installChannelFilter(int profile, int channel, const char* text);
    void setActiveAxis(int profile, int channel, int enable);
    void setBeltMix(int profile, int index, double weight);
    void setInputDofLimit(int channel, double minimum, double maximum);
    double airTransitionStatus() const;
    double groundTransitionStatus() const;

    // Output fade progress as a whole percent.
    double transitionStatus() const;
    // Tick period in ms.
    double tickPeriodMs() const { return tickClock.intervalMs(); }

    // --- fields, in the engine's order ---
    WindSerial wind;
    std::vector<CalculationSnapshot> calculationHistory;
    CueArray positionSnapshot{};
    std::mutex calculationMutex;
    std::vector<AccelerationSnapshot> accelerationHistory;
    std::mutex accelerationMutex;

    std::atomic<bool> gameConnected{false};
    std::atomic<bool> running{false};
    std::atomic<bool> stopped{true};
    std::atomic<bool> outputsSuppressed{true};
    std::atomic<bool> motionSystemReady{false};
    std::atomic<bool> motionCancelActive{false};

    SampleClock tickClock;
    GameSourceSet sources;

    CueArray outputCues{};
    CueArray previousSlots{};  // slots 0..22 of the last tick, for the freeze check
    CueArray fadeStart{};
    CueArray airCues{};
    CueArray groundCues{};

    // Pose block for headset motion compensation. The tick writes the view
    // under poseMutex, so switching motion cancel off cannot unmap it mid-write.
    std::array<double, 6> rigPose{};
    platform::SharedMemory poseBlock;
    std::mutex poseMutex;
    std::string poseBlockName = "Local\\motionRigPose";
    int poseBlockSize = 512;
    std::array<double, 6> poseCopy{};
    std::array<double, 6> smoothedPose{};
    std::atomic<double> motionCancelFilter{60.0};
    std::atomic<double> motionCancelGain{1.0};

    std::array<MotionProfile, 3> profiles{MotionProfile{"Profil AIR"}, MotionProfile{"Profil GROUND"},
                                          MotionProfile{"Transition"}};
    std::array<LimitPair, kChannelCount> rigLimits{};
    std::array<LimitPair, kChannelCount> inputLimits{};

    std::atomic<double> outputFade{1.0};
    double outputFadeDurationMs = kOutputFadeMs;

    bool transitionActive = false;
    std::atomic<int> activeGroundState{0};
    std::atomic<double> airWeight{1.0};
    std::atomic<double> groundWeight{0.0};
    double transitionDurationMs = 200.0;

    int readFailCount = 0;
    int frozenCount = 0;
    std::array<unsigned char, 36> motionFrame{};
    // The fan byte of a tick, handed over in one vector made once: the tick
    // must not allocate, and the port's copy-assignment reuses its room.
    std::vector<unsigned char> fanBytes = std::vector<unsigned char>(1);
    std::mutex frameMutex;  // the host copies the frame while the tick rewrites it

    platform::LibraryThread thread;
    // Stack of the game-source thread; 0 takes the system's default.
    std::size_t threadStackBytes = 0;

    // Stops and joins the thread for the library's own teardown: like
    // stopThread, but the thread's reference to the library is kept.
    void stopForTeardown();

private:
    static void threadEntry(void* engine);
    void threadBody();
    bool openPoseBlock();
    void beginOutputFadeLocked();
    void applyOutputFadeLocked();

    // Guards the cue arrays and the fade between the tick and the host's
    // setters that restart the fade; held for microseconds at a time.
    std::mutex cueMutex;

    std::mutex threadControlMutex;  // host threads may start and stop at once
};

// The library's engine, built on first use (see EngineOwner in the .cpp for
// how and in which order it is torn down).
GamesourceEngine& theEngine();

}  // namespace rez
