#include "tools/host/status.h"

#include <cmath>

namespace rez::host {

OutputState outputState(bool gameOnline, bool resting, double fadePercent, double previousFade, bool outputsAtRest) {
    if (resting) {
        // Without a game the engine sends nothing more: what the rig got last is where it stays.
        const bool done = outputsAtRest && (fadePercent >= 100.0 || !gameOnline);
        return done ? OutputState::AtRest : OutputState::ToRest;
    }
    if (!gameOnline) return OutputState::Off;
    if (fadePercent >= 100.0) return OutputState::Live;
    // A paused game restarts the fade on every tick, so it never climbs.
    return fadePercent <= previousFade ? OutputState::Held : OutputState::FadingIn;
}

bool reportsGroundState(int gameId) {
    // X-Plane, Microsoft Flight Simulator 2020 and 2024.
    return gameId == 0 || gameId == 2 || gameId == 15;
}

bool tickRateLow(double ticksPerSecond, double secondsOnline) {
    // The first second after the game is found counts the ticks of a part
    // of a second only.
    return secondsOnline >= 2.0 && ticksPerSecond < kLowTicksPerSecond;
}

bool controllerSilent(int requests, int replies) { return requests >= kUnansweredRequests && replies == 0; }

const char* outputStateName(OutputState state) {
    switch (state) {
        case OutputState::Off: return "no output";
        case OutputState::FadingIn: return "fading in";
        case OutputState::Held: return "held (paused)";
        case OutputState::Live: return "live";
        case OutputState::ToRest: return "to rest";
        case OutputState::AtRest: return "at rest";
    }
    return "";
}

namespace {

std::string outputText(const StatusView& v) {
    if (v.output != OutputState::FadingIn && v.output != OutputState::ToRest) return outputStateName(v.output);
    char text[32];
    std::snprintf(text, sizeof text, "%s %3.0f%%", outputStateName(v.output), v.fadePercent);
    return text;
}

std::string fitted(std::string line) {
    // Every field has a bounded width at any value a run can reach; this only
    // keeps an absurd one (a rig limit in the thousands) from wrapping the line.
    if (line.size() > kStatusWidth) line.resize(kStatusWidth);
    return line;
}

}  // namespace

std::array<std::string, 2> formatStatus(const StatusView& v) {
    char text[256];
    std::snprintf(text, sizeof text, "[%6.1f s] %-12.20s %3.0f t/s%s jit %5.3f ms  %-14s", v.seconds, v.game.c_str(),
                  v.ticksPerSecond, v.lowTickRate ? " LOW" : "    ", v.jitterMs, outputText(v).c_str());
    std::string first = text;
    if (reportsGroundState(v.gameId)) {
        std::snprintf(text, sizeof text, "  %s: air %3.0f%%", v.groundState == 1 ? "ground" : "flying", v.airPercent);
        first += text;
    }
    first += "  ticks " + std::to_string(v.ticks);

    double rig[6];
    // Rounded here so that a cue a hair below zero does not show as -0.0.
    for (int i = 0; i < 6; ++i) rig[i] = std::round(static_cast<double>(v.rig[i]) * 10.0) / 10.0 + 0.0;
    std::snprintf(text, sizeof text, "lat %6.1f lon %6.1f ver %6.1f yaw %6.1f roll %6.1f pit %6.1f", rig[0], rig[1],
                  rig[2], rig[3], rig[4], rig[5]);
    std::string second = text;
    if (v.framesReceived >= 0) second += "  recv " + std::to_string(v.framesReceived);
    second += v.silentController ? "  NO ANSWER " : "  acked ";
    second += std::to_string(v.replies) + "/" + std::to_string(v.requests);
    return {fitted(first), fitted(second)};
}

void StatusPrinter::show(double seconds, const std::array<std::string, 2>& lines) {
    if (terminal_) {
        // Back to the start of the first line, then each line over the old
        // one, the rest of the old one erased.
        std::fprintf(out_, "%s%s\x1b[K\r\n%s\x1b[K", drawn_ ? "\r\x1b[1A" : "", lines[0].c_str(), lines[1].c_str());
        drawn_ = true;
    } else {
        if (seconds - lastPlain_ < 1.0) return;
        lastPlain_ = seconds;
        std::fprintf(out_, "%s\n%s\n", lines[0].c_str(), lines[1].c_str());
    }
    std::fflush(out_);
}

void StatusPrinter::note(const std::string& line) {
    // In a terminal the note goes where the status stood (erased to the end
    // of the screen); the next status is drawn fresh below it.
    if (drawn_) std::fprintf(out_, "\r\x1b[1A\x1b[J");
    drawn_ = false;
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void StatusPrinter::finish() {
    if (drawn_) std::fprintf(out_, "\n");
    drawn_ = false;
    std::fflush(out_);
}

}  // namespace rez::host
