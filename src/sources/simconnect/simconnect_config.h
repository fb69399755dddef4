#pragma once
// Where the flight simulator's SimConnect server is reached, as the user's
// "SimConnect.cfg" files say, with the registry's port numbers for TCP.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/simconnect_transport.h"

namespace rez {

inline constexpr std::uint32_t kSmallestMaxReceiveSize = 41088;

enum class SimConnectProtocol { Pipe, IPv4, IPv6 };

struct SimConnectConfig {
    SimConnectProtocol protocol = SimConnectProtocol::Pipe;
    std::string address;  // empty: not given
    std::string port;     // TCP port, or the pipe's name; empty: not given
    std::uint32_t maxReceiveSize = kSmallestMaxReceiveSize;
    bool disableNagle = false;
};

// Reads "SimConnect.cfg" in each folder, in the order given; a later file
// overrides an earlier one key by key. Section "SimConnect" for index 0, else
// "SimConnect.<index>". A TCP protocol without a port takes registryPort's.
SimConnectConfig readSimConnectConfig(const std::vector<std::string>& folders, unsigned index,
                                      const std::function<std::string(platform::IpFamily)>& registryPort);

// The same from the files' texts, in the same order (what the fuzzer feeds).
SimConnectConfig parseSimConnectConfig(const std::vector<std::string>& texts, unsigned index,
                                       const std::function<std::string(platform::IpFamily)>& registryPort);

// The folders looked in, in order: common documents, the user's documents,
// the current directory (folders the system does not have are left out).
std::vector<std::string> simConnectConfigFolders();

}  // namespace rez
