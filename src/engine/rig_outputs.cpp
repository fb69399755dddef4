// What each tick hands to the rig: the cue frame for the controller, the
// smoothed pose for headset motion compensation and the fan byte.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "controller/mailbox.h"
#include "core/bytes.h"
#include "engine/gamesource_engine.h"
#include "engine/rig_outputs.h"

namespace rez {

namespace {

// The frame carries floats: a cue beyond a float's range goes out as the
// largest float of its sign, a NaN (which upstream guards keep from the
// cues) as 0, and a limit the host set to no number or infinity is no
// limit, so the controller is never handed a non-finite position.
float limitToRig(double cue, float lo, float hi) {
    const float x = std::isnan(cue) ? 0.0f : static_cast<float>(std::clamp<double>(cue, -FLT_MAX, FLT_MAX));
    if (lo > x && std::isfinite(lo)) return lo;
    if (hi < x && std::isfinite(hi)) return hi;
    return x;
}

}  // namespace

// The belt word is an unsigned count; a NaN (which has no integer part) sends 0.
std::uint32_t beltWord(float x) {
    if (!(x >= 0.0f)) return 0;
    if (x >= 4294967296.0f) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(x);
}

// NaN counts as stopped.
std::uint8_t fanSpeedByte(float v) {
    if (!(v >= 0.0f)) v = 0.0f;
    if (v > 100.0f) v = 100.0f;
    return static_cast<std::uint8_t>(v / 100.0f * 255.0f);
}

void GamesourceEngine::buildMotionFrame(std::array<unsigned char, 36>& frame) const {
    frame.fill(0);
    frame[0] = 0xFC;
    frame[1] = 0xFC;
    for (std::size_t i = 0; i < 6; ++i) {
        const float lo = static_cast<float>(rigLimits[i].minimum.load(std::memory_order_relaxed));
        const float hi = static_cast<float>(rigLimits[i].maximum.load(std::memory_order_relaxed));
        store_le<float>(&frame[2 + 4 * i], limitToRig(outputCues[i], lo, hi));
    }
    store_be<std::uint32_t>(&frame[26], beltWord(static_cast<float>(outputCues[10])));
    frame[34] = 0x0A;
    frame[35] = 0x0D;
}

void GamesourceEngine::sendRigOutputs() {
    std::array<unsigned char, 36> frame;
    buildMotionFrame(frame);
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        motionFrame = frame;
    }
    queueOutgoingMessage(frame);

    if (motionCancelActive.load()) {
        const double gain = motionCancelGain.load(std::memory_order_relaxed);
        const double filter = motionCancelFilter.load(std::memory_order_relaxed);
        const CueArray& out = outputCues;
        rigPose = {gain * out[0], gain * out[1], gain * out[2], gain * out[3],
                   gain * (out[4] + out[6] + out[8]), gain * (out[5] + out[7] + out[9])};
        poseCopy = rigPose;
        // A NaN or infinite cue (or a step too large for a double) would stay
        // in the smoothed pose for good; that tick leaves the value as it was.
        for (std::size_t i = 0; i < smoothedPose.size(); ++i) {
            const double next = smoothedPose[i] + (poseCopy[i] - smoothedPose[i]) / filter;
            if (std::isfinite(next)) smoothedPose[i] = next;
        }
        std::lock_guard<std::mutex> lock(poseMutex);
        if (poseBlock.isMapped() && poseBlock.viewSize() >= 48)
            for (std::size_t i = 0; i < smoothedPose.size(); ++i) store_le<double>(poseBlock.data() + 8 * i, smoothedPose[i]);
    }

    sendWindOutput();
}

void GamesourceEngine::sendWindOutput() {
    if (profiles[kProfileAir].enableFlags[21].load(std::memory_order_relaxed) == 0) return;
    const std::uint8_t speed = fanSpeedByte(static_cast<float>(outputCues[22]));
    if (wind.isRunning()) {
        fanBytes[0] = speed;
        wind.unpause();
        wind.updateBuffer(fanBytes);
    } else if (wind.isInit()) {
        wind.start();  // this tick's byte is dropped; the next one goes out
    }
}

void GamesourceEngine::activateMotionCancel(bool on) {
    if (on) {
        motionCancelActive.store(true);
        openPoseBlock();
        motionCancelFilter.store(60.0);
    } else {
        motionCancelActive.store(false);
        // The tick writes the view only under poseMutex, so it cannot be
        // unmapped under a write in progress.
        std::lock_guard<std::mutex> lock(poseMutex);
        poseBlock.close();
    }
}

void GamesourceEngine::setFilterMotionCancel(double filter) {
    // The divisor smooths only from 1 up; 0 or a NaN would turn the pose into
    // inf/NaN for good, and values below 1 overshoot and then diverge.
    if (!(filter >= 1.0) || !std::isfinite(filter)) return;
    if (motionCancelActive.load()) motionCancelFilter.store(filter);
}

void GamesourceEngine::setGainMotionCancel(double gain) {
    // A NaN or infinite gain would make every pose value non-finite.
    if (!std::isfinite(gain)) return;
    if (motionCancelActive.load()) motionCancelGain.store(gain);
}

void GamesourceEngine::setRigDofLimit(int index, double minimum, double maximum) {
    if (index < 0 || index >= kChannelCount) return;
    rigLimits[static_cast<std::size_t>(index)].minimum.store(minimum);
    rigLimits[static_cast<std::size_t>(index)].maximum.store(maximum);
}

void GamesourceEngine::copyMotionFrame(unsigned char* out) {
    std::lock_guard<std::mutex> lock(frameMutex);
    std::copy(motionFrame.begin(), motionFrame.end(), out);
}

}  // namespace rez
