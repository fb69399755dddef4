// The far end of two wired adapters for the Windows build's multicast tests
// under Wine: scripts/wine-network-test.sh makes the host's namespace (where
// Wine runs, and this helper) and the far namespace, joined by veth pairs.
//
//   multicast_far_end <far namespace path> <far address>...
//
// A MulticastMember joins the groups in the far namespace on each address
// (one per link) and reports the link each datagram came in on. The helper
// also holds a UDP socket there on each address, for the test's "send". It
// answers sim::MemberClient on a TCP port of the host namespace's loopback,
// printed as "control <port>" once the member has joined, and ends when its
// standard input closes.
#if defined(_WIN32)
#include <cstdio>

int main() {
    std::fprintf(stderr, "multicast_far_end: Linux only (it plays the network for a Windows program under Wine)\n");
    return 2;
}
#else
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/tcp_client.h"
#include "platform/udp_socket.h"
#include "sim/hex_text.h"
#include "sim/multicast_member.h"

namespace {

using rez::platform::TcpClient;
using rez::platform::UdpSocket;
using Senders = std::map<std::string, std::unique_ptr<UdpSocket>>;

bool enter(int ns) { return ::setns(ns, CLONE_NEWNET) == 0; }

// A socket on each far address, made inside the far namespace: sockets stay
// in the namespace they were made in.
bool openSenders(const std::string& farNamespace, const std::vector<std::string>& addresses, Senders& senders) {
    const int here = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int far = ::open(farNamespace.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = here >= 0 && far >= 0 && enter(far);
    for (const auto& address : addresses) {
        auto& socket = senders[address] = std::make_unique<UdpSocket>();
        ok = ok && socket->open() && socket->bindAddress(address, 0);
    }
    ok = here >= 0 && enter(here) && ok;
    if (here >= 0) ::close(here);
    if (far >= 0) ::close(far);
    return ok;
}

std::string answer(const std::string& question, const rez::sim::MulticastMember& member, Senders& senders) {
    std::istringstream in(question);
    std::string verb, from, to, hex;
    std::size_t first = 0;
    unsigned port = 0;
    if (in >> verb && verb == "from" && in >> first) {
        std::string text;
        for (const auto& r : member.receivedFrom(first))
            text += r.link + " " + std::to_string(r.port) + " " + std::to_string(r.arrival) + " " +
                    std::to_string(r.queued) + " " + rez::sim::hexOf(r.bytes) + "\n";
        return text + "end\n";
    }
    if (verb == "time") return std::to_string(rez::platform::counterNow()) + "\nend\n";
    std::vector<std::uint8_t> bytes;
    if (verb == "send" && in >> from >> to >> port >> hex && senders.count(from) != 0 && rez::sim::bytesOfHex(hex, bytes)) {
        const int n = senders[from]->sendTo(bytes.data(), static_cast<int>(bytes.size()), to, static_cast<std::uint16_t>(port));
        return n == static_cast<int>(bytes.size()) ? "sent\n" : "failed\n";
    }
    return "failed\n";
}

void serve(TcpClient& connection, const rez::sim::MulticastMember& member, Senders& senders) {
    std::string question;
    char buffer[512];
    while (question.find('\n') == std::string::npos && connection.waitReadable(2000) == 1) {
        const int n = connection.receive(buffer, sizeof buffer);
        if (n <= 0) return;
        question.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string text = answer(question.substr(0, question.find('\n')), member, senders);
    for (std::size_t sent = 0; sent < text.size();) {
        const int n = connection.send(text.data() + sent, static_cast<int>(text.size() - sent));
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

bool inputClosed() {
    pollfd input{0, POLLIN, 0};
    char byte;
    return ::poll(&input, 1, 0) == 1 && ::read(0, &byte, 1) <= 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: multicast_far_end <far namespace path> <far address>...\n");
        return 2;
    }
    const std::vector<std::string> addresses(argv + 2, argv + argc);
    rez::sim::MemberOptions options;
    options.namespacePath = argv[1];
    options.joinOn = addresses;
    rez::platform::netStartup();
    Senders senders;
    if (!openSenders(options.namespacePath, addresses, senders)) {
        std::fprintf(stderr, "multicast_far_end: no sockets on the far addresses in %s\n", argv[1]);
        return 1;
    }
    rez::sim::MulticastMember member(options);
    std::string why;
    rez::platform::TcpListener control;
    if (!member.start(why) || !control.listen(0)) {
        std::fprintf(stderr, "multicast_far_end: %s\n", why.empty() ? "no control port" : why.c_str());
        return 1;
    }
    std::printf("control %u\n", static_cast<unsigned>(control.port()));
    std::fflush(stdout);
    while (!inputClosed()) {
        TcpClient connection;
        if (control.accept(connection, 100)) serve(connection, member, senders);
    }
    return 0;
}
#endif
