#include "sim/multicast_member.h"

#include "sim/hex_text.h"

#if !defined(_WIN32)

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "controller/crc16.h"
#include "platform/clock.h"

namespace rez::sim {

namespace {

// What the member passes to its parent before each datagram: destination
// port, length, whether it answered, its arrival on the counter, the
// kernel's stamp of it and the name of the link it came in on.
constexpr std::size_t kHeader = 24 + IF_NAMESIZE;
constexpr std::size_t kLargestDatagram = 2048;

bool readAll(int fd, void* to, std::size_t count) {
    auto* p = static_cast<unsigned char*>(to);
    while (count > 0) {
        const ssize_t n = ::read(fd, p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const void* from, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(from);
    while (count > 0) {
        const ssize_t n = ::write(fd, p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool waitUntil(bool (*condition)(), int ms) {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (!condition()) {
        if (platform::counterNow() > deadline) return false;
        platform::sleepMs(5);
    }
    return true;
}

bool wiredSideUp() {
    std::ifstream state("/sys/class/net/e1/operstate");
    std::string text;
    return std::getline(state, text) && text == "up";
}

// One socket for the group's port, joined on each of the member's addresses.
int joined(std::uint16_t port, const char* group, const std::vector<std::string>& addresses) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) ::_exit(1);
    for (const auto& address : addresses) {
        ip_mreq join{};
        ::inet_pton(AF_INET, group, &join.imr_multiaddr);
        if (::inet_pton(AF_INET, address.c_str(), &join.imr_interface) != 1 ||
            ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            ::_exit(1);
    }
    // A burst while the parent is slow to read must not cost datagrams here.
    const int room = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    return fd;
}

std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> frame) {
    const std::uint16_t crc = crc16(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
    return frame;
}

// What a controller answers to a short frame: its identity (value 1) to the
// identity request, its version to the version request; nothing to the rest.
std::vector<std::uint8_t> answerTo(const std::uint8_t* d, std::size_t n, int version) {
    if (version <= 0 || n != 8 || d[0] != 0xF9 || d[1] != 0xF9) return {};
    if (MulticastMember::trailerOf(std::vector<std::uint8_t>(d, d + n)) == MulticastMember::Trailer::Bad) return {};
    if (d[2] == 0x01 && d[3] == 0 && d[4] == 0 && d[5] == 0) return withChecksum({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0, 0});
    if (d[2] == 0x02)
        return withChecksum({0xF9, 0xF9, 0x02, 0x00, static_cast<std::uint8_t>(version % 100),
                             static_cast<std::uint8_t>(version / 100), 0, 0});
    return {};
}

bool enterNamespace(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) ::close(fd);
    return entered;
}

[[noreturn]] void memberProcess(const MemberOptions& options, int ready, int go, int data) {
    char byte = 0;
    const bool own = options.namespacePath.empty();
    if (own ? ::unshare(CLONE_NEWNET) != 0 : !enterNamespace(options.namespacePath)) ::_exit(1);
    if (::write(ready, "r", 1) != 1) ::_exit(1);
    if (own && (::read(go, &byte, 1) != 1 ||
                std::system("ip link set lo up && ip addr add 10.9.0.2/24 dev e2 && ip link set e2 up") != 0))
        ::_exit(1);
    const std::vector<std::string> addresses = own ? std::vector<std::string>{"10.9.0.2"} : options.joinOn;
    pollfd fds[3] = {{joined(51324, "232.11.12.14", addresses), POLLIN, 0},
                     {joined(5000, "239.1.2.3", addresses), POLLIN, 0},
                     {go, POLLIN, 0}};
    const std::uint16_t ports[2] = {51324, 5000};
    const int answering = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (answering < 0) ::_exit(1);
    if (::write(ready, "j", 1) != 1) ::_exit(1);
    for (;;) {
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            ::_exit(1);
        }
        if (fds[2].revents) ::_exit(0);  // the parent closed its end
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents) continue;
            unsigned char record[kHeader + kLargestDatagram];
            sockaddr_in from{};
            iovec space{record + kHeader, kLargestDatagram};
            alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(in_pktinfo))];
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &space;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(fds[i].fd, &message, 0);
            const std::int64_t arrival = platform::counterNow();
            if (n < 0) continue;
            // The kernel stamps on the wall clock; moved onto the counter
            // (CLOCK_MONOTONIC in nanoseconds here) by the two clocks'
            // difference now.
            std::int64_t queued = 0;
            char link[IF_NAMESIZE] = {};
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    ::if_indextoname(static_cast<unsigned>(info.ipi_ifindex), link);
                }
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp{}, wall{}, steady{};
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    ::clock_gettime(CLOCK_REALTIME, &wall);
                    ::clock_gettime(CLOCK_MONOTONIC, &steady);
                    auto ns = [](const timespec& t) { return t.tv_sec * 1'000'000'000LL + t.tv_nsec; };
                    queued = ns(stamp) + (ns(steady) - ns(wall));
                }
            }
            bool answered = false;
            const auto answer = answerTo(record + kHeader, static_cast<std::size_t>(n), options.version);
            if (!answer.empty()) {
                sockaddr_in host = from;
                host.sin_port = htons(options.listenPort);
                answered = ::sendto(answering, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&host),
                                    sizeof host) == static_cast<ssize_t>(answer.size());
            }
            std::memset(record, 0, kHeader);
            record[0] = static_cast<unsigned char>(ports[i] & 0xFF);
            record[1] = static_cast<unsigned char>(ports[i] >> 8);
            record[2] = static_cast<unsigned char>(n & 0xFF);
            record[3] = static_cast<unsigned char>(n >> 8);
            record[4] = answered ? 1 : 0;
            std::memcpy(record + 8, &arrival, sizeof arrival);
            std::memcpy(record + 16, &queued, sizeof queued);
            std::memcpy(record + 24, link, IF_NAMESIZE);
            if (!writeAll(data, record, kHeader + static_cast<std::size_t>(n))) ::_exit(1);
        }
    }
}

}  // namespace

MulticastMember::Trailer MulticastMember::trailerOf(const std::vector<std::uint8_t>& datagram) {
    const std::size_t n = datagram.size();
    if (n < 3) return Trailer::Bad;
    const std::uint16_t crc = crc16(datagram.data(), n - 2);
    if (datagram[n - 2] == (crc & 0xFF) && datagram[n - 1] == (crc >> 8)) return Trailer::Checksum;
    if (datagram[n - 2] == 0x0A && datagram[n - 1] == 0x0D) return Trailer::Marker;
    return Trailer::Bad;
}

bool MulticastMember::start(std::string& why) {
    int ready[2], go[2], data[2];
    if (::pipe(ready) || ::pipe(go) || ::pipe(data)) return why = "pipe", false;
    pid_ = ::fork();
    if (pid_ < 0) return why = "fork", false;
    if (pid_ == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        ::close(data[0]);
        memberProcess(options_, ready[1], go[0], data[1]);
    }
    ::close(ready[1]);
    ::close(go[0]);
    ::close(data[1]);
    go_ = go[1];
    reader_ = std::thread([this, fd = data[0]] { readRecords(fd); });
    char byte = 0;
    const bool inNamespace = ::read(ready[0], &byte, 1) == 1 && byte == 'r';
    if (!inNamespace) {
        ::close(ready[0]);
        return why = "member: no namespace " + options_.namespacePath, false;
    }
    if (!options_.namespacePath.empty()) {
        // Links and addresses are the namespace maker's.
        const bool joinedThere = ::read(ready[0], &byte, 1) == 1 && byte == 'j';
        ::close(ready[0]);
        if (!joinedThere) return why = "member did not join the groups", false;
        return true;
    }
    const std::string pair = "ip link add e1 type veth peer name e2 netns " + std::to_string(pid_) +
                             " && ip addr add 10.9.0.1/24 dev e1 && ip link set e1 up"
                             " && ip route add 224.0.0.0/4 dev e1";
    if (std::system(pair.c_str()) != 0) {
        ::close(ready[0]);
        return why = "set-up failed: " + pair, false;
    }
    const bool joinedGroups = ::write(go_, "g", 1) == 1 && ::read(ready[0], &byte, 1) == 1 && byte == 'j';
    ::close(ready[0]);
    if (!joinedGroups) return why = "member did not join the groups", false;
    // The wired side counts as up only once the kernel has seen the carrier,
    // which it does a while after both ends are up.
    if (!waitUntil(wiredSideUp, 20000)) return why = "e1 never came up", false;
    return true;
}

void MulticastMember::readRecords(int fd) {
    unsigned char head[kHeader];
    while (readAll(fd, head, kHeader)) {
        Received got{static_cast<std::uint16_t>(head[0] | head[1] << 8), std::vector<std::uint8_t>(head[2] | head[3] << 8), 0, 0,
                     head[4] != 0, std::string(reinterpret_cast<const char*>(head + 24), ::strnlen(reinterpret_cast<const char*>(head + 24), IF_NAMESIZE))};
        std::memcpy(&got.arrival, head + 8, sizeof got.arrival);
        std::memcpy(&got.queued, head + 16, sizeof got.queued);
        if (!readAll(fd, got.bytes.data(), got.bytes.size())) break;
        const Trailer trailer = trailerOf(got.bytes);
        std::lock_guard<std::mutex> use(mutex_);
        ++counts_.datagrams;
        if (trailer == Trailer::Checksum) ++counts_.checksummed;
        if (trailer == Trailer::Marker) ++counts_.marked;
        if (trailer == Trailer::Bad) ++counts_.bad;
        if (got.answered) ++counts_.answers;
        received_.push_back(std::move(got));
    }
    ::close(fd);
}

MulticastMember::~MulticastMember() {
    if (go_ >= 0) ::close(go_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    if (reader_.joinable()) reader_.join();
}

std::vector<Received> MulticastMember::received() const {
    std::lock_guard<std::mutex> use(mutex_);
    return received_;
}

std::vector<Received> MulticastMember::receivedFrom(std::size_t first) const {
    std::lock_guard<std::mutex> use(mutex_);
    if (first >= received_.size()) return {};
    return std::vector<Received>(received_.begin() + static_cast<std::ptrdiff_t>(first), received_.end());
}

std::size_t MulticastMember::count() const {
    std::lock_guard<std::mutex> use(mutex_);
    return received_.size();
}

MulticastMember::Counts MulticastMember::counts() const {
    std::lock_guard<std::mutex> use(mutex_);
    return counts_;
}

NetworkRun runInNetwork(const std::function<std::string(MulticastMember&)>& scenario, const MemberOptions& options) {
    int fds[2];
    if (::pipe(fds) != 0) return {NetworkRun::ChildFailed, "pipe"};
    std::fflush(nullptr);  // or the child would write what is buffered once more
    const pid_t child = ::fork();
    if (child < 0) return {NetworkRun::ChildFailed, "fork"};
    if (child == 0) {
        ::close(fds[0]);
        auto report = [&](const std::string& text) {
            std::fflush(nullptr);
            (void)writeAll(fds[1], text.data(), text.size());
            ::_exit(0);
        };
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
            report(std::string("S") + std::strerror(errno));
        // Games on loopback reach the engine in here.
        if (std::system("ip link set lo up") != 0) report("Sloopback would not come up (is ip there?)");
        std::string why;
        std::string result;
        {
            MulticastMember member(options);
            result = member.start(why) ? "O" + scenario(member) : "F" + why;
        }
        report(result);
    }
    ::close(fds[1]);
    std::string got;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) return {NetworkRun::ChildFailed, "the child died (signal " + std::to_string(WTERMSIG(status)) + ")"};
    if (WEXITSTATUS(status) != 0)
        return {NetworkRun::ChildFailed, "the child ended the process with " + std::to_string(WEXITSTATUS(status))};
    if (got.empty()) return {NetworkRun::ChildFailed, "the child reported nothing"};
    const std::string text = got.substr(1);
    switch (got[0]) {
        case 'S': return {NetworkRun::NoNamespace, text};
        case 'F': return {NetworkRun::MemberFailed, text};
        default: return {NetworkRun::Ran, text};
    }
}

}  // namespace rez::sim

#endif

#include <cstdlib>
#include <sstream>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/tcp_client.h"
#include "platform/udp_socket.h"

namespace rez::sim {

bool MemberClient::ask(const std::string& question, std::vector<std::string>& lines) const {
    lines.clear();
    if (platform::netStartup() != 0) return false;
    std::string text;
    {
        platform::TcpClient connection;
        const std::string line = question + "\n";
        if (connection.open() && connection.setNonBlocking() && connection.connect("127.0.0.1", port_, 5000) &&
            connection.send(line.data(), static_cast<int>(line.size())) == static_cast<int>(line.size())) {
            // The answer ends when the helper closes the connection.
            char buffer[4096];
            while (connection.waitReadable(5000) == 1) {
                const int n = connection.receive(buffer, sizeof buffer);
                if (n <= 0) break;
                text.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    platform::netCleanup();
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return !lines.empty() && (lines.back() == "end" || lines.back() == "sent");
}

bool MemberClient::receivedFrom(std::size_t first, std::vector<Received>& into) const {
    std::vector<std::string> lines;
    if (!ask("from " + std::to_string(first), lines)) return false;
    lines.pop_back();
    const long double scale = static_cast<long double>(platform::counterFrequency()) / 1e9L;
    for (const auto& line : lines) {
        std::istringstream in(line);
        Received r{0, {}, 0, 0, false, {}};
        std::string hex;
        if (!(in >> r.link >> r.port >> r.arrival >> r.queued >> hex) || !bytesOfHex(hex, r.bytes)) return false;
        r.arrival = static_cast<std::int64_t>(static_cast<long double>(r.arrival) * scale) - offset_;
        if (r.queued != 0) r.queued = static_cast<std::int64_t>(static_cast<long double>(r.queued) * scale) - offset_;
        into.push_back(std::move(r));
    }
    return true;
}

std::optional<MemberClient> MemberClient::fromEnvironment() {
    const auto text = platform::environmentVariable("REZ_TEST_MULTICAST_FAR_END");
    if (!text || text->empty()) return std::nullopt;
    return MemberClient(static_cast<std::uint16_t>(std::strtoul(text->c_str(), nullptr, 10)));
}

std::int64_t MemberClient::matchClocks() {
    const long double scale = static_cast<long double>(platform::counterFrequency()) / 1e9L;
    std::int64_t best = -1;
    for (int i = 0; i < 20; ++i) {
        std::vector<std::string> lines;
        const std::int64_t before = platform::counterNow();
        if (!ask("time", lines) || lines.size() != 2) return -1;
        const std::int64_t after = platform::counterNow();
        if (best < 0 || after - before < best) {
            best = after - before;
            offset_ = static_cast<std::int64_t>(static_cast<long double>(std::strtoll(lines[0].c_str(), nullptr, 10)) * scale) -
                      (before + (after - before) / 2);
        }
    }
    return best;
}

bool MemberClient::markNow() {
    got_.clear();
    if (!receivedFrom(0, got_)) return false;
    first_ = got_.size();
    got_.clear();
    return true;
}

std::vector<Received> MemberClient::received() {
    receivedFrom(first_ + got_.size(), got_);
    return got_;
}

bool MemberClient::send(const std::string& from, const std::string& to, std::uint16_t port,
                        const std::vector<std::uint8_t>& bytes) const {
    std::vector<std::string> lines;
    return ask("send " + from + " " + to + " " + std::to_string(port) + " " + hexOf(bytes), lines);
}

}  // namespace rez::sim
