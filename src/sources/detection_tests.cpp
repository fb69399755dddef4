#include "sources/detection_tests.h"

#include "core/console.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/udp_socket.h"

namespace rez {

bool processTest(std::initializer_list<const char*> exeNames) {
    for (const char* name : exeNames)
        if (platform::isProcessRunning(name)) return true;
    return false;
}

bool existingMappingTest(const std::string& name) {
    platform::SharedMemory mapping;
    return mapping.openExisting(name, platform::MapAccess::Read);  // closed again by the destructor
}

bool createOrOpenMappingTest(const std::string& name, std::size_t size,
                             const std::function<bool(const unsigned char*, std::size_t)>& check) {
    platform::SharedMemory mapping;
    if (!mapping.openReadOnlyOrCreate(name, size)) return false;
    if (!mapping.map(platform::MapAccess::Read, size)) return false;
    return !check || check(mapping.data(), mapping.viewSize());
}

int probeUdpPort(std::uint16_t port) {
    const int startError = platform::netStartup();
    if (startError != 0) {
        consolePrint("WSAStartup failed with error: %d\n", startError);
        return 0;
    }
    int result = 0;
    {
        platform::UdpSocket socket;
        if (!socket.open()) {
            consolePrint("socket failed with error: %ld\n", static_cast<long>(platform::lastSocketError()));
        } else if (!socket.setNonBlocking()) {
            consolePrint("ioctl Socket failed with error: %ld\n", static_cast<long>(platform::lastSocketError()));
        } else if (!socket.bindAny(port)) {
            consolePrint("bind socket failed with error: %ld\n", static_cast<long>(platform::lastSocketError()));
        } else if (socket.waitReadable(20) == 1) {
            unsigned char datagram[5045];
            std::string sender;
            if (socket.receiveFrom(datagram, sizeof datagram, &sender) < 0)
                consolePrint("Recv failed: %ld\n", static_cast<long>(platform::lastSocketError()));
            result = 1;
        }
        if (socket.isOpen() && !socket.close())
            consolePrint("Closesocket failed with error: %d\n", platform::lastSocketError());
    }
    platform::netCleanup();
    return result;
}

}  // namespace rez
