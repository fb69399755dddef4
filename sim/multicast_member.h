#pragma once
// A network controller for the multicast sender to talk to, for tests,
// benchmarks and the host program (Linux only; Windows programs reach one
// through MemberClient).
//
// runInNetwork runs a scenario in a child process with a network namespace,
// a sysfs and a loopback of its own. In that namespace the wired adapter is
// e1 (10.9.0.1/24), one end of a veth pair; the other end, e2 (10.9.0.2),
// lives in a second namespace where a MulticastMember joins the default
// group 232.11.12.14 (port 51324) and 239.1.2.3 (port 5000). The member keeps
// every datagram with the time it took it off its socket (and the kernel's
// time of its arrival there), and, when asked
// to, answers the host the way a motion controller does: to the identity
// request and the version request, by unicast to the sender's address on
// the host's listen port, so the listen thread there turns live.
//
// It can also join the groups in a namespace made beforehand, on several
// links of its own (MemberOptions::namespacePath): the far ends of two
// wired adapters, which tells the adapter the sender chose by the link the
// frames came in on. tests/helpers/multicast_far_end.cpp serves it so to a
// Windows test under Wine.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rez::sim {

// A datagram as the member took it (the Windows tests get the same from
// the member across the namespace).
struct Received {
    std::uint16_t port;               // the group's port it came to: 51324 or 5000
    std::vector<std::uint8_t> bytes;  // the whole datagram
    std::int64_t arrival;             // platform counter (CLOCK_MONOTONIC) right after the member's recv
    // When the kernel queued it to the member's socket, on the same counter
    // (0 when the kernel gave no stamp): apart from `arrival` by however long
    // the member waited to be scheduled.
    std::int64_t queued;
    bool answered;                    // the member sent an answer to it
    std::string link;                 // the member's link it came in on
};

// A member served by tests/helpers/multicast_far_end, seen from a program in
// another namespace (the Windows host under Wine): the helper answers on a
// TCP port of that program's loopback, one question a connection, and
// closes it after its answer:
//   "from N"                 -> "<link> <port> <arrival> <queued> <hex bytes>"
//                               for each datagram from the Nth on, then "end"
//                               (times in nanoseconds on the far end's clock)
//   "time"                   -> "<ns>", "end": the far end's clock now
//   "send FROM TO PORT HEX"  -> "sent" or "failed": the far end sends the
//                               bytes from its address FROM to TO:PORT
class MemberClient {
public:
    // The helper scripts/wine-network-test.sh started, by the port it passes
    // in REZ_TEST_MULTICAST_FAR_END; none outside that script.
    static std::optional<MemberClient> fromEnvironment();
    explicit MemberClient(std::uint16_t controlPort) : port_(controlPort) {}

    // From now on received() gives only what comes after this call; false
    // when the helper gave no whole answer.
    bool markNow();
    // What came since the mark, its times moved onto this process's counter
    // scale; only differences between them mean anything unless the clocks
    // were matched.
    std::vector<Received> received();
    // Relates the far end's clock to this process's counter by the answer to
    // "time" that came back soonest (its midpoint taken as the far end's
    // reading); from then on received() gives times on this counter. The
    // round trip it was measured in, in counter ticks, or -1.
    std::int64_t matchClocks();
    bool send(const std::string& from, const std::string& to, std::uint16_t port,
              const std::vector<std::uint8_t>& bytes) const;

private:
    bool ask(const std::string& question, std::vector<std::string>& lines) const;
    // Appends the datagrams from the `first` on to `into`; false as for ask.
    bool receivedFrom(std::size_t first, std::vector<Received>& into) const;

    std::uint16_t port_;
    std::size_t first_ = 0;
    std::vector<Received> got_;
    std::int64_t offset_ = 0;  // far end's counter less ours, in our ticks
};

}  // namespace rez::sim

#if !defined(_WIN32)

#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace rez::sim {

struct MemberOptions {
    // The version it reports to a version request (F9 F9 02 ..), as
    // major * 100 + minor; 0 (the default) leaves the host unanswered.
    int version = 0;
    // The host's listen port, where answers go.
    std::uint16_t listenPort = 53241;
    // A network namespace made beforehand (a path such as /run/netns/NAME)
    // whose links are up and addressed; the member joins the groups there on
    // each address of `joinOn`. Empty: the member makes its own namespace
    // and the veth pair e1/e2 and joins on 10.9.0.2.
    std::string namespacePath;
    std::vector<std::string> joinOn;
};

class MulticastMember {
public:
    enum class Trailer { Checksum, Marker, Bad };

    struct Counts {
        std::uint64_t datagrams = 0;
        std::uint64_t checksummed = 0;  // whose last two bytes are the CRC-16 of the rest, low byte first
        std::uint64_t marked = 0;       // ending in the end marker 0x0A 0x0D instead
        std::uint64_t bad = 0;          // neither (or shorter than 3 bytes)
        std::uint64_t answers = 0;      // answers the member sent to the host
    };

    explicit MulticastMember(const MemberOptions& options = {}) : options_(options) {}
    ~MulticastMember();
    MulticastMember(const MulticastMember&) = delete;
    MulticastMember& operator=(const MulticastMember&) = delete;

    // Makes the veth pair and the member's namespace and waits until the
    // wired side is up (or enters the namespace made beforehand and joins
    // there). Call in a namespace made for it (runInNetwork does), before
    // the caller starts threads of its own: it forks. False with `why` set
    // on failure.
    bool start(std::string& why);

    std::vector<Received> received() const;
    // Datagrams from index `first` on.
    std::vector<Received> receivedFrom(std::size_t first) const;
    std::size_t count() const;
    Counts counts() const;

    static Trailer trailerOf(const std::vector<std::uint8_t>& datagram);

private:
    void readRecords(int fd);

    MemberOptions options_;
    pid_t pid_ = -1;
    int go_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    Counts counts_;
};

struct NetworkRun {
    enum Outcome {
        Ran,            // the scenario ran; `text` is what it returned
        NoNamespace,    // no namespace could be made here (not root, no unshare); `text` says why
        MemberFailed,   // the namespace was made but the member did not start; `text` says why
        ChildFailed,    // the child died or ended the process; `text` says how
    } outcome;
    std::string text;
};

// Runs `scenario` in a child process with a network and mount namespace of
// its own (loopback up, a fresh sysfs) and a started member; returns what it
// returned. The child's output is flushed before it ends.
NetworkRun runInNetwork(const std::function<std::string(MulticastMember&)>& scenario, const MemberOptions& options = {});

}  // namespace rez::sim

#endif
