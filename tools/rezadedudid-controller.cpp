// rezadedudid-controller: a motion controller emulated on a pseudo-terminal,
// for a host that runs elsewhere on this machine (the Windows host under
// Wine, whose COM port is mapped to the terminal's device).
//
//   rezadedudid-controller [--report PORT] [--version N]
//
// Prints "device PATH" (the terminal's device, for the COM port mapping)
// and "report PORT" (where the host asks what arrived, on 127.0.0.1), then
// answers the link's identity and version requests and keeps every frame
// until its standard input closes or it is stopped (Ctrl-C, SIGTERM).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/serial_port.h"
#include "sim/emulated_controller.h"
#include "tools/host/controller_report.h"

int main(int argc, char** argv) {
#if defined(_WIN32)
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "rezadedudid-controller: runs on Linux, beside a host under Wine\n");
    return 2;
#else
    unsigned long reportPort = 0, version = 328;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        char* end = nullptr;
        unsigned long* target = a == "--report" ? &reportPort : a == "--version" ? &version : nullptr;
        if (target && i + 1 < argc && (*target = std::strtoul(argv[i + 1], &end, 10), *end == '\0') &&
            (target != &reportPort || reportPort <= 65535)) {
            ++i;
            continue;
        }
        std::fprintf(stderr, "rezadedudid-controller: unknown or incomplete option \"%s\"\n"
                             "usage: rezadedudid-controller [--report PORT] [--version N]\n", a.c_str());
        return 2;
    }
    rez::sim::EmulatedController controller;
    controller.setVersion(static_cast<int>(version));
    std::string why;
    if (!controller.open(why)) {
        std::fprintf(stderr, "rezadedudid-controller: no line: %s\n", why.c_str());
        return 1;
    }
    std::error_code ec;
    const auto device = std::filesystem::canonical(
        rez::platform::serialDeviceFolder() + "/com" + controller.portName().substr(3), ec);
    if (ec) {
        std::fprintf(stderr, "rezadedudid-controller: cannot find the terminal of %s: %s\n",
                     controller.portName().c_str(), ec.message().c_str());
        return 1;
    }
    rez::host::ControllerReportServer server(controller);
    if (!server.listen(static_cast<std::uint16_t>(reportPort), why)) {
        std::fprintf(stderr, "rezadedudid-controller: %s\n", why.c_str());
        return 1;
    }
    std::printf("device %s\nreport %u\n", device.c_str(), static_cast<unsigned>(server.port()));
    std::fflush(stdout);

    rez::platform::catchStopRequests();
    std::atomic<bool> inputClosed{false};
    std::thread input([&] {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        inputClosed = true;
    });
    input.detach();  // a blocking read of the terminal cannot be called off
    server.serve([&] { return inputClosed.load() || rez::platform::stopRequests() > 0; });
    const auto c = controller.counts();
    std::fprintf(stderr, "rezadedudid-controller: %llu frames, %llu with a bad trailer\n",
                 static_cast<unsigned long long>(c.frames), static_cast<unsigned long long>(c.badChecksums));
    return 0;
#endif
}
