#pragma once
// The live status: two lines of at most 100 columns, so that it fits a
// terminal of that width without wrapping. In a terminal both lines are
// redrawn in place four times a second; into a file or a pipe they are
// written plainly once a second.
//
//   [  12.3 s] Xplane       500 t/s     jit 0.012 ms  fading in  37%  ground: air  37%  ticks 6150
//   lat   -1.2 lon    6.6 ver    8.3 yaw    0.0 roll   1.2 pit    4.9  recv 6100  acked 11/12
//
// `ticks` counts the engine ticks read back from the snapshot histories;
// `recv` the cue frames that reached the controller, where the host can see
// them. A tick rate under 475 per second is marked LOW, and a controller that
// has answered none of several version requests NO ANSWER.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace rez::host {

constexpr std::size_t kStatusWidth = 100;
// Below this the rig's motion comes late and unevenly (a tick is 2 ms).
constexpr double kLowTicksPerSecond = 475;
// Version requests go out once a second: this many unanswered ones means
// nothing at the far end speaks the controller's protocol.
constexpr int kUnansweredRequests = 3;

// Where the outputs are on their way: the output fade runs from 0 to 100 %
// both when the outputs glide in to the live cues and when they glide to rest.
enum class OutputState {
    Off,       // no game: the engine sends nothing
    FadingIn,  // gliding from where they were to the live cues
    Held,      // the game is paused: the outputs hold their last values
    Live,      // the live cues
    ToRest,    // the host switched the channels off: gliding to rest
    AtRest,    // at rest, the fade done
};

// `previousFade` is the fade of the last status line: a fade that does not
// climb while the game is on means the engine holds the outputs.
OutputState outputState(bool gameOnline, bool resting, double fadePercent, double previousFade, bool outputsAtRest);
// "no output", "fading in", "held (paused)", "live", "to rest" or "at rest".
const char* outputStateName(OutputState state);

// Only X-Plane and the two Microsoft flight simulators report whether the
// aircraft is on the ground, so only they blend the air and ground profiles.
bool reportsGroundState(int gameId);

bool tickRateLow(double ticksPerSecond, double secondsOnline);
bool controllerSilent(int requests, int replies);

struct StatusView {
    double seconds = 0;
    std::string game;
    int gameId = -1;
    double ticksPerSecond = 0;
    double jitterMs = 0;      // largest |tick period - 2 ms| seen since the last line
    OutputState output = OutputState::Off;
    double fadePercent = 0;   // output fade
    int groundState = -1;     // -1 no game, 0 air, 1 ground
    double airPercent = 0;    // AIR profile weight
    float rig[6] = {};        // the six rig cues of the last frame
    std::uint64_t ticks = 0;           // ticks read back from the snapshot histories
    std::int64_t framesReceived = -1;  // at the controller; -1 when it cannot be seen
    int requests = 0, replies = 0;     // version requests sent, replies read back
    bool lowTickRate = false;
    bool silentController = false;
};

std::array<std::string, 2> formatStatus(const StatusView& v);

class StatusPrinter {
public:
    StatusPrinter(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}
    // Shows the lines; off a terminal only when a second has passed since the last ones.
    void show(double seconds, const std::array<std::string, 2>& lines);
    // A line of its own (a warning): in a terminal it takes the place of the
    // status, which is drawn again below it next time.
    void note(const std::string& line);
    // Ends the redrawn status so that later output starts on a line of its own.
    void finish();

private:
    std::FILE* out_;
    bool terminal_;
    double lastPlain_ = -1e9;
    bool drawn_ = false;  // the status stands on the last two lines of the terminal
};

}  // namespace rez::host
