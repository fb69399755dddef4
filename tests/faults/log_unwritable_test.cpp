// The Documents folder cannot be written: the diagnostic log fails on
// standard error, and the game port and the controller's UDP replies, whose
// code logs every step, work as before.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "rezadedudid.h"
#include "platform/environment.h"
#include "platform/udp_socket.h"
#include "sim/multicast_member.h"
#include "sim/udp_game_senders.h"
#include "tests/faults/fault_util.h"

namespace rez {
namespace {

namespace fs = std::filesystem;

// A Documents folder nobody may write into. Permission bits do not hold back
// an administrator, so when they would not, the read-only process folder
// takes its place.
class ReadOnlyDocuments {
public:
    ReadOnlyDocuments() : saved_(platform::environmentVariable("REZ_DOCUMENTS_DIR")) {
        root_ = fs::temp_directory_path() / ("rez_ro_docs_" + std::to_string(platform::counterNow()));
        fs::create_directories(root_);
        fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
        path_ = root_;
        if (std::ofstream(root_ / "probe").good()) path_ = "/proc";
        platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", platformPath(path_));
    }
    ~ReadOnlyDocuments() {
        saved_ ? platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", *saved_)
               : platform::unsetEnvironmentVariable("REZ_DOCUMENTS_DIR");
        std::error_code ignored;
        fs::permissions(root_, fs::perms::owner_all, ignored);
        fs::remove_all(root_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    static std::string platformPath(const fs::path& p) {
#if defined(_WIN32)
        // Wine reaches the Linux file system through drive Z:.
        if (p.string().front() == '/') return "Z:" + p.string();
#endif
        return p.string();
    }
    std::optional<std::string> saved_;
    fs::path root_, path_;
};

TEST(UnwritableDocuments, LoggingFailsQuietlyAndTheNetworkCodeWorks) {
    ReadOnlyDocuments documents;
    linkFlags().reset();
    mailbox().clearAll();
    testing::internal::CaptureStderr();

#if !defined(_WIN32)
    // The controller's replies over UDP: the listen thread logs as it goes.
    // It hears only the wired adapter's subnet, so the controller plays in a
    // namespace of its own; that forks, so before any thread of ours starts.
    // (Under Wine the listener would take the machine's own adapter, where
    // tests send nothing.)
    const sim::NetworkRun run = sim::runInNetwork([](sim::MulticastMember&) -> std::string {
        const std::uint16_t port = 53241 + 9;
        setUDPport(port);
        std::thread listener([] { startUPDListenThread(); });
        platform::netStartup();
        platform::UdpSocket controller;
        const std::vector<std::uint8_t> reply = {0xF9, 0xF9, 0x03, 0, 0x01, 0, 0x0A, 0x0D};
        const bool arrived = controller.open() && faults::eventually([&] {
            controller.sendTo(reply.data(), static_cast<int>(reply.size()), "10.9.0.1", port);
            return newMessagemmf() == 1;
        });
        std::vector<std::uint8_t> got(kMaxMessageLength);
        const int length = arrived ? readMessagemmf(got.data()) : 0;
        got.resize(8);
        stopREZadEdudid_Thread();
        listener.join();
        platform::netCleanup();
        if (!arrived) return "no reply reached the host";
        return length == 8 && got == reply ? "" : "the reply changed on its way";
    });
    if (run.outcome != sim::NetworkRun::NoNamespace) {
        EXPECT_EQ(run.text, "") << "outcome " << run.outcome;
    }
#endif

    // A UDP game through the engine: its port logs when it opens.
    sim::Motion motion;
    motion.yaw = 21;
    sim::GameStream stream(kDirtRally2, motion);
    ASSERT_TRUE(stream.waitUntilSending());
    auto engine = std::make_unique<GamesourceEngine>();
    faults::keepOnly(engine->sources, {kDirtRally2});
    engine->startThread();
    engine->setMotionSystemReady(1);
    EXPECT_TRUE(faults::eventually(
        [&] {
            for (const AccelerationSnapshot& s : engine->takeAccelerationHistory())
                if (std::fabs(s.values[kYawPosition] - 21) < 1e-3) return true;
            return false;
        },
        20000))
        << "the game's samples reach the engine";

    engine->stopThread();
    stream.stop();
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("Failed to open log file\n"), std::string::npos) << printed.substr(0, 300);
    EXPECT_NE(printed.find("Log failed: Unable to write to log file.\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(documents.path() / "rovandelix" / "errorlog.txt"));
    linkFlags().reset();
    mailbox().clearAll();
}

}  // namespace
}  // namespace rez
