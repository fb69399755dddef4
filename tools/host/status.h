#pragma once
// The live status line: in a terminal it is redrawn in place four times a
// second; into a file or a pipe it becomes one plain line a second.
#include <cstdint>
#include <cstdio>
#include <string>

namespace rez::host {

struct StatusView {
    double seconds = 0;
    std::string game;
    double ticksPerSecond = 0;
    double jitterMs = 0;      // largest |tick period - 2 ms| seen since the last line
    double fadePercent = 0;   // output fade
    int groundState = -1;     // -1 no game, 0 air, 1 ground
    double airPercent = 0;    // AIR profile weight
    float rig[6] = {};        // the six rig cues of the last frame
    std::uint64_t framesSent = 0;      // ticks that handed a frame to the link
    std::int64_t framesReceived = -1;  // at the controller; -1 when it cannot be seen
    int requests = 0, replies = 0;     // version requests sent, replies read back
};

std::string formatStatus(const StatusView& v);

class StatusPrinter {
public:
    StatusPrinter(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
    // Shows a line; off a terminal only when a second has passed since the last one.
    void show(double seconds, const std::string& line);
    // Ends the refreshed line so that later output starts on a line of its own.
    void finish();

private:
    std::FILE* out_;
    bool terminal_;
    double lastPlain_ = -1e9;
    std::size_t lastWidth_ = 0;
};

}  // namespace rez::host
