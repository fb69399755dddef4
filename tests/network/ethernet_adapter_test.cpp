// The choice of the wired adapter, on adapters made for the test in a network
// namespace of its own (Linux), and on whatever the system lists (Windows).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "network/ethernet_adapter.h"
#include "tests/network/log_folder.h"

#if !defined(_WIN32)
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

namespace rez {
namespace {

using test::LogFolder;

#if !defined(_WIN32)

struct Outcome {
    char kind = 'F';  // 'O' ran, 'S' namespaces unavailable, 'F' set-up failed
    std::string text;  // the result, or why not
};

// Runs the choice in a child with a network namespace and a sysfs of its own,
// after the set-up commands; the log goes to the folder the parent set.
Outcome chooseInNamespace(const std::vector<std::string>& setup, const std::string& sysfsOverride) {
    int fds[2];
    if (::pipe(fds) != 0) return {'F', "pipe"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        auto report = [&](char kind, const std::string& text) {
            std::string message = kind + text;
            (void)!::write(fds[1], message.data(), message.size());
            ::_exit(0);
        };
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
            report('S', std::string("no network namespace: ") + std::strerror(errno));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
            report('S', std::string("no sysfs of its own: ") + std::strerror(errno));
        for (const auto& command : setup)
            if (std::system(command.c_str()) != 0) report('F', "set-up failed: " + command);
        if (!sysfsOverride.empty()) ::setenv("REZ_SYSFS_NET_DIR", sysfsOverride.c_str(), 1);
        ErrorLog log("error_log.txt");
        // With its subnet, by which the listener tells the controller's network.
        const WiredAdapter chosen = choosePreferredEthernetAdapter(log);
        report('O', chosen.found() ? chosen.text + "/" + std::to_string(chosen.prefixLength) : "");
    }
    ::close(fds[1]);
    Outcome outcome{'F', "the child reported nothing"};
    std::string got;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!got.empty()) outcome = {got[0], got.substr(1)};
    return outcome;
}

const std::string kStart = "[INFO] Starting GetPreferredEthernetAdapter routine.";
const std::string kActive = "[INFO] Adapter is active and of type Ethernet.";
const std::string kSkip = "[INFO] Adapter is either inactive or not of type Ethernet. Skipping.";
std::string examining(const std::string& name) { return "[INFO] Examining adapter: " + name; }
std::string lower(int metric) {
    return "[INFO] Adapter has lower metric (" + std::to_string(metric) + "). Selecting this adapter.";
}

// A veth pair made as "name e2 ... peer name e1" lists e1 before e2.
const std::string kPair = "ip link add name e2 type veth peer name e1 && ip link set e1 up && ip link set e2 up";

TEST(EthernetAdapter, ChoosesTheActiveWiredAdapterWithTheStrictlyLowestMetric) {
    struct Case {
        const char* what;
        std::vector<std::string> setup;
        bool fakeWirelessE1;  // e1 shows a wireless entry in a stand-in sysfs
        std::vector<std::string> log;
        std::string result;
    };
    const std::vector<Case> cases = {
        {"metrics 25 then 5: the 5 wins, its first IPv4 address",
         {kPair, "ip addr add 10.1.0.1/24 dev e1 metric 25", "ip addr add 10.2.0.1/16 dev e2 metric 5",
          "ip addr add 10.3.0.1/24 dev e2 metric 9"},
         false,
         {kStart, examining("lo"), kSkip, examining("e1"), kActive, lower(25), examining("e2"), kActive, lower(5),
          "[INFO] Best adapter selected: e2 with metric: 5", "[INFO] Selected adapter IP: 10.2.0.1"},
         "10.2.0.1/16"},
        {"equal metrics: the first listed stays",
         {kPair, "ip addr add 10.1.0.1/24 dev e1 metric 7", "ip addr add 10.2.0.1/24 dev e2 metric 7"},
         false,
         {kStart, examining("lo"), kSkip, examining("e1"), kActive, lower(7), examining("e2"), kActive,
          "[INFO] Best adapter selected: e1 with metric: 7", "[INFO] Selected adapter IP: 10.1.0.1"},
         "10.1.0.1/24"},
        {"loopback, a tunnel and a wired adapter whose link is down",
         {"ip tuntap add dev t0 mode tun && ip link set t0 up && ip addr add 10.5.0.1/24 dev t0",
          "ip link add name e2 type veth peer name e1 && ip link set e2 up", "ip addr add 10.1.0.1/24 dev e2"},
         false,
         {kStart, examining("lo"), kSkip, examining("t0"), kSkip, examining("e1"), kSkip, examining("e2"), kSkip,
          "[ERROR] No suitable adapter found."},
         ""},
        {"the best adapter has an IPv4 route but only IPv6 addresses",
         {kPair, "ip -6 addr add fd00::1/64 dev e1 nodad", "ip route add 10.9.0.0/24 dev e1 metric 3"},
         false,
         {kStart, examining("lo"), kSkip, examining("e1"), kActive, lower(3), examining("e2"), kActive,
          "[INFO] Best adapter selected: e1 with metric: 3"},
         ""},
        {"a wireless adapter is passed over however good its metric",
         {kPair, "ip addr add 10.1.0.1/24 dev e1 metric 1"},
         true,
         {kStart, examining("lo"), kSkip, examining("e1"), kSkip, examining("e2"), kActive,
          "[ERROR] No suitable adapter found."},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogFolder folder;
        std::vector<std::string> setup = {"ip link set lo up"};
        setup.insert(setup.end(), c.setup.begin(), c.setup.end());
        std::string sysfs;
        if (c.fakeWirelessE1) {
            // No namespace can make a wireless device, so a copy of the real
            // sysfs entries stands in, with e1 marked wireless.
            sysfs = (folder.root() / "sysfs").string();
            setup.push_back("for i in /sys/class/net/*; do n=${i##*/}; mkdir -p " + sysfs + "/$n && cat $i/type > " +
                            sysfs + "/$n/type && cat $i/operstate > " + sysfs + "/$n/operstate; done && mkdir " +
                            sysfs + "/e1/wireless");
        }
        const Outcome outcome = chooseInNamespace(setup, sysfs);
        if (outcome.kind == 'S') GTEST_SKIP() << outcome.text;
        ASSERT_EQ(outcome.kind, 'O') << outcome.text;
        EXPECT_EQ(outcome.text, c.result);
        EXPECT_EQ(folder.entries(), c.log);
    }
}

#else

// Wine lists the adapters it sees; whatever they are, each is examined and
// judged, and the end of the log agrees with the result.
TEST(EthernetAdapter, ListsAndJudgesTheSystemsAdapters) {
    LogFolder folder;
    std::string result;
    {
        ErrorLog log("error_log.txt");
        result = GetPreferredEthernetAdapter(log);
    }
    const auto entries = folder.entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries.front(), "[INFO] Starting GetPreferredEthernetAdapter routine.");
    std::size_t examined = 0;
    for (std::size_t i = 1; i + 1 < entries.size(); ++i) {
        if (entries[i].rfind("[INFO] Examining adapter: ", 0) != 0) continue;
        ++examined;
        EXPECT_TRUE(entries[i + 1] == "[INFO] Adapter is active and of type Ethernet." ||
                    entries[i + 1] == "[INFO] Adapter is either inactive or not of type Ethernet. Skipping.")
            << entries[i + 1];
    }
    EXPECT_GT(examined, 0u) << "loopback at least is listed";
    if (result.empty())
        EXPECT_TRUE(entries.back() == "[ERROR] No suitable adapter found." ||
                    entries.back().rfind("[INFO] Best adapter selected: ", 0) == 0)
            << entries.back();
    else
        EXPECT_EQ(entries.back(), "[INFO] Selected adapter IP: " + result);
}

#endif

}  // namespace
}  // namespace rez
