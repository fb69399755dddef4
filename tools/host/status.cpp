#include "tools/host/status.h"

namespace rez::host {

std::string formatStatus(const StatusView& v) {
    const char* state = v.groundState < 0 ? "none" : (v.groundState == 0 ? "air" : "ground");
    char text[512];
    std::snprintf(text, sizeof text,
                  "[%6.1f s] %-20s %4.0f t/s jit %6.3f ms fade %3.0f%% %s %3.0f%% | lat %7.3f lon %7.3f ver %7.3f "
                  "yaw %7.3f roll %7.3f pit %7.3f | sent %llu",
                  v.seconds, v.game.c_str(), v.ticksPerSecond, v.jitterMs, v.fadePercent, state, v.airPercent,
                  static_cast<double>(v.rig[0]), static_cast<double>(v.rig[1]), static_cast<double>(v.rig[2]),
                  static_cast<double>(v.rig[3]), static_cast<double>(v.rig[4]), static_cast<double>(v.rig[5]),
                  static_cast<unsigned long long>(v.framesSent));
    std::string out = text;
    if (v.framesReceived >= 0) out += " recv " + std::to_string(v.framesReceived);
    out += " acked " + std::to_string(v.replies) + "/" + std::to_string(v.requests);
    return out;
}

void StatusPrinter::show(double seconds, const std::string& line) {
    if (terminal_) {
        std::string padded = line;
        if (padded.size() < lastWidth_) padded.append(lastWidth_ - padded.size(), ' ');
        lastWidth_ = line.size();
        std::fprintf(out_, "\r%s", padded.c_str());
    } else {
        if (seconds - lastPlain_ < 1.0) return;
        lastPlain_ = seconds;
        std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
}

void StatusPrinter::finish() {
    if (terminal_ && lastWidth_ > 0) std::fprintf(out_, "\n");
    lastWidth_ = 0;
    std::fflush(out_);
}

}  // namespace rez::host
