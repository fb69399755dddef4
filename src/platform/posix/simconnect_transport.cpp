#include "platform/simconnect_transport.h"

#include <cerrno>

namespace rez::platform {

std::unique_ptr<SimConnectStream> openSimConnectPipe(const std::string&, int, int* error) {
    if (error != nullptr) *error = ENOENT;
    return nullptr;
}

std::string simConnectRegistryPort(IpFamily) { return {}; }

bool SimConnectListener::listenPipe(const std::string& name) {
    pipeName_ = name;
    return false;  // no such pipes here
}

std::unique_ptr<SimConnectStream> SimConnectListener::acceptPipe(int) { return nullptr; }

void SimConnectListener::closePipe() {}

}  // namespace rez::platform
