#include "controller/link_flags.h"

namespace rez {

void LinkFlags::reset() noexcept {
    linkRunning = false;
    linkEnded = false;
    portConnected = false;
    serialLive = false;
    interfaceRunning = true;
    autoconnectEnabled = false;
    standardPort = 0;
    autoRepeatCount = 0;
    udpLive = false;
    udpRunning = false;
    udpEnded = false;
    udpStarted = false;
}

LinkFlags& linkFlags() noexcept {
    static LinkFlags flags;
    return flags;
}

}  // namespace rez
