#pragma once
// The live tuning page: a small HTTP server on 127.0.0.1 that shows what the
// host sees (the rig cues, picked game slots, the status line's figures) and
// hands the page's edits to the library while the rig runs.
//
// Who may talk to it: every request carries a random token (query `token=`
// or header `X-Rez-Token`), its Host header names this server by address or
// as localhost, and an Origin header, when there is one, is this server's
// own. So another user's program cannot drive the rig, and neither can a web
// page elsewhere, even through a DNS name rebound to 127.0.0.1.
//
// Threads: the server answers on threads of its own. It never reads the
// library's data: the host's loop hands it each take of the snapshot
// histories and its status figures, under a mutex of this object's that the
// tick never sees. The edits go straight to the library's setter exports,
// which are made for the host's threads; the recording is opened and closed
// by the host's loop, which owns the recorder, when the page asks for it.
// The endpoints and their JSON are described in docs/ui.md.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/recording.h"
#include "tools/host/api.h"
#include "tools/host/profile.h"
#include "tools/host/status.h"

namespace rez::host {

// `--ui` without a port number.
constexpr int kDefaultUiPort = 8765;
// How much of the past the server keeps for the event streams and /api/response.
constexpr double kUiHistorySeconds = 10.0;
// The event streams send a batch this often.
constexpr int kUiBatchMs = 33;

// Where the page's files are: the page itself (tools/ui) and uPlot from
// the npm folder scripts/install-deps.sh fills.
struct UiFiles {
    std::string pageDir;   // index.html, ui.js, ui.css
    std::string uplotDir;  // uPlot.iife.min.js, uPlot.min.css
};

// Looks in the working directory, beside the program (build/<preset>/..)
// and in the source tree this program was built from. False with what is
// missing and how to get it.
bool findUiFiles(const std::string& argv0, UiFiles& out, std::string& error);

// What the page asked of the recording; the host's loop carries it out.
struct RecordRequest {
    bool on = false;
};

class UiServer {
public:
    // `settings`: what the host handed the library at start.
    UiServer(UiFiles files, const ProfileSettings& settings);
    ~UiServer();
    UiServer(const UiServer&) = delete;
    UiServer& operator=(const UiServer&) = delete;

    // Takes 127.0.0.1:`port` (0: a free port the system picks), before the
    // library is loaded. False with the reason (a port in use, say).
    bool bind(int port, std::string& error);
    int port() const;
    const std::string& token() const;
    // http://127.0.0.1:PORT/?token=TOKEN
    std::string address() const;

    // Starts answering on its own threads; `api` must stay loaded until stop().
    void start(const Api& api, const std::string& transport);
    // Ends the event streams, stops answering and joins the threads. Called
    // before the library is unloaded; also by the destructor.
    void stop();

    // --- fed by the host's loop ---
    // The ticks of one take of the histories (oldest first, with their times).
    void addTicks(const std::vector<sim::RecordedTick>& fresh);
    void setStatus(const StatusView& status);
    // The recording the host writes now (`path` empty: none).
    void setRecording(const std::string& path);
    // A start or stop the page asked for and the loop has not carried out.
    std::optional<RecordRequest> takeRecordRequest();
    // The loop's answer to it: the recording now on (empty path: none), or why not.
    void answerRecordRequest(const std::string& path, const std::string& error);
    // The host is sending the rig to rest: from now on edits are refused.
    void setResting();
    // The rig limits as the page last set them (the host judges the rest by them).
    std::array<ProfileSettings::Range, 6> rigLimits() const;
    ProfileSettings settings() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// A name for a recording the page starts: recording-YYYYMMDD-HHMMSS.csv in
// the working directory, as an absolute path.
std::string pageRecordingPath();

}  // namespace rez::host
