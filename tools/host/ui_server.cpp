#include "tools/host/ui_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "engine/channel_bindings.h"
#include "engine/channel_run.h"
#include "filters/filter_parser.h"
#include "platform/local_time.h"
#include "sources/game_data_record.h"
#include "tools/host/http_server.h"

namespace rez::host {

using nlohmann::json;

namespace {

constexpr int kChannels = ProfileSettings::kChannels;
constexpr int kSlots = ProfileSettings::kSlots;
// The library's filters assume one evaluation every 2 ms.
constexpr double kSampleSeconds = 0.002;
constexpr double kStepAtSeconds = 0.5;
constexpr double kStepLengthSeconds = 5.0;
// More than 10 s of ticks even at a tick rate far above 500 a second; only
// a clock that stood still could keep more.
constexpr std::size_t kMostTicksKept = 20000;

// The game slot each channel reads and whether the input limits clamp it
// first, from the engine's own tables.
struct ChannelSource {
    int slot = -1;  // -1: the channel reads nothing (22)
    bool limited = false;
};

std::array<ChannelSource, kChannels> channelSources() {
    std::array<ChannelSource, kChannels> out{};
    auto take = [&out](const ChannelBinding& b) { out[static_cast<std::size_t>(b.channel)] = {b.slot, b.limit == 1}; };
    for (const auto& b : kBeltBindings) take(b);
    take(kWindBinding);
    for (const auto& b : kEffectBindings) take(b);
    for (const auto& b : kMotionBindings) take(b);
    return out;
}

const std::array<ChannelSource, kChannels> kChannelSources = channelSources();

std::string slotName(int slot) {
    if (slot == kBeltSum) return "belt sum";
    const char* name = gameSlotName(slot);
    return name ? name : "slot_" + std::to_string(slot);
}

std::string randomToken() {
    std::random_device device;
    std::string token;
    static const char kHex[] = "0123456789abcdef";
    for (int word = 0; word < 4; ++word) {
        const std::uint32_t bits = device();
        for (int nibble = 0; nibble < 8; ++nibble) token += kHex[(bits >> (4 * nibble)) & 0xF];
    }
    return token;
}

// Compares in a time that does not depend on where the texts differ.
bool sameToken(const std::string& given, const std::string& token) {
    if (given.size() != token.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < token.size(); ++i) diff |= static_cast<unsigned char>(given[i] ^ token[i]);
    return diff == 0;
}

std::string dumped(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return true;
}

// The fields of a request, each checked; the first fault is kept as the answer.
class Fields {
public:
    explicit Fields(const std::string& body) : j_(json::parse(body, nullptr, false)) {
        if (j_.is_discarded() || !j_.is_object()) error = "the request is not a JSON object";
    }

    bool ok() const { return error.empty(); }

    int whole(const char* name, std::initializer_list<int> allowed, int low, int high) {
        if (!ok()) return 0;
        const auto it = j_.find(name);
        if (it == j_.end() || !it->is_number_integer()) return fail(std::string(name) + " must be a whole number"), 0;
        const auto v = it->get<std::int64_t>();
        const bool inRange = allowed.size() > 0 ? std::find(allowed.begin(), allowed.end(), v) != allowed.end()
                                                : v >= low && v <= high;
        if (!inRange) return fail(std::string(name) + " " + std::to_string(v) + " is out of range"), 0;
        return static_cast<int>(v);
    }

    int profile() {
        if (!ok()) return 0;
        const auto it = j_.find("profile");
        if (it != j_.end() && it->is_string() && *it == "air") return 0;
        if (it != j_.end() && it->is_string() && *it == "ground") return 1;
        return fail("profile must be \"air\" or \"ground\""), 0;
    }

    double number(const char* name) {
        if (!ok()) return 0;
        const auto it = j_.find(name);
        if (it == j_.end() || !it->is_number() || !std::isfinite(it->get<double>()))
            return fail(std::string(name) + " must be a finite number"), 0;
        return it->get<double>();
    }

    bool flag(const char* name) {
        if (!ok()) return false;
        const auto it = j_.find(name);
        if (it == j_.end() || !it->is_boolean()) return fail(std::string(name) + " must be true or false"), false;
        return it->get<bool>();
    }

    std::string text(const char* name, bool optional = false) {
        if (!ok()) return "";
        const auto it = j_.find(name);
        if (it == j_.end() && optional) return "";
        if (it == j_.end() || !it->is_string()) return fail(std::string(name) + " must be a text"), "";
        return it->get<std::string>();
    }

    void fail(const std::string& what) {
        if (error.empty()) error = what;
    }

    std::string error;

private:
    json j_;
};

json failure(const std::string& error) { return {{"ok", false}, {"error", error}}; }

}  // namespace

bool findUiFiles(const std::string& argv0, UiFiles& out, std::string& error) {
    namespace fs = std::filesystem;
    const std::size_t cut = argv0.find_last_of("/\\");
    const std::string programDir = cut == std::string::npos ? "." : argv0.substr(0, cut);
    std::vector<std::string> roots = {".", programDir + "/../.."};
#if defined(REZ_SOURCE_DIR)
    roots.push_back(REZ_SOURCE_DIR);
#endif
    auto find = [&](const std::string& below, std::initializer_list<const char*> files) -> std::string {
        for (const std::string& root : roots) {
            const fs::path dir = fs::path(root) / below;
            bool all = true;
            std::error_code ec;
            for (const char* f : files) all = all && fs::is_regular_file(dir / f, ec);
            if (all) return fs::absolute(dir, ec).lexically_normal().string();
        }
        return "";
    };
    out.pageDir = find("tools/ui", {"index.html", "ui.js", "ui.css"});
    out.uplotDir = find("build/ui-deps/node_modules/uplot/dist", {"uPlot.iife.min.js", "uPlot.min.css"});
    if (out.pageDir.empty())
        error = "the tuning page (tools/ui/index.html, ui.js, ui.css) is not in the working directory, the source "
                "tree or two folders above this program";
    else if (out.uplotDir.empty())
        error = "uPlot (build/ui-deps/node_modules/uplot/dist/uPlot.iife.min.js and uPlot.min.css) is missing: run "
                "scripts/install-deps.sh";
    return error.empty();
}

std::string pageRecordingPath() {
    const std::string name = "recording-" + platform::localTimeText("%Y%m%d-%H%M%S") + ".csv";
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(name, ec);
    return ec ? name : path.lexically_normal().string();
}

struct UiServer::Impl {
    Impl(UiFiles f, const ProfileSettings& s) : files(std::move(f)), token(randomToken()), settings(s) {
        status.game = "No Game online";  // until the host's first status line
    }

    // --- the checks every request passes ---
    std::string refusal(const HttpRequest& req) const {
        const std::string given = req.param("token").value_or(req.header("X-Rez-Token").value_or(""));
        if (!sameToken(given, token)) return "a request without this server's token is refused";
        const std::string ours[2] = {"127.0.0.1:" + std::to_string(port), "localhost:" + std::to_string(port)};
        const std::string host = req.header("Host").value_or("");
        if (host != ours[0] && host != ours[1]) return "a request for another host name is refused";
        if (const auto origin = req.header("Origin"))
            if (*origin != "http://" + ours[0] && *origin != "http://" + ours[1])
                return "a request from another site is refused";
        return "";
    }

    static HttpResponse answer(const json& j) {
        HttpResponse res;
        res.type = "application/json";
        res.body = dumped(j);
        return res;
    }
    static HttpResponse plain(int status, const std::string& text) {
        HttpResponse res;
        res.status = status;
        res.body = text + "\n";
        return res;
    }

    HttpResponse handle(const HttpRequest& req) {
        HttpResponse res = route(req);
        // The page's own files carry the token in their address; the
        // browser is not to hand that address to anyone.
        res.headers = {{"Referrer-Policy", "no-referrer"}, {"X-Content-Type-Options", "nosniff"},
                       {"Cache-Control", "no-store"}};
        return res;
    }

    HttpResponse route(const HttpRequest& req) {
        const std::string why = refusal(req);
        if (!why.empty()) return plain(403, why);
        static const struct {
            const char* path;
            bool uplot;
            const char* file;
            const char* type;
        } statics[] = {
            {"/", false, "index.html", "text/html; charset=utf-8"},
            {"/ui.js", false, "ui.js", "text/javascript; charset=utf-8"},
            {"/ui.css", false, "ui.css", "text/css; charset=utf-8"},
            {"/uplot.iife.min.js", true, "uPlot.iife.min.js", "text/javascript; charset=utf-8"},
            {"/uplot.min.css", true, "uPlot.min.css", "text/css; charset=utf-8"},
        };
        using Edit = json (Impl::*)(Fields&);
        static const std::pair<const char*, Edit> posts[] = {
            {"/api/filter", &Impl::filter},         {"/api/enable", &Impl::enable},
            {"/api/belt", &Impl::belt},             {"/api/input-limit", &Impl::inputLimit},
            {"/api/rig-limit", &Impl::rigLimit},    {"/api/response", &Impl::response},
            {"/api/save", &Impl::save},             {"/api/record", &Impl::record},
        };
        if (req.method == "GET") {
            for (const auto& s : statics) {
                if (req.path != s.path) continue;
                // Read at each request, so an edited page shows on reload.
                const std::string path = (s.uplot ? files.uplotDir : files.pageDir) + "/" + s.file;
                HttpResponse res;
                if (!readFile(path, res.body)) return plain(404, path + " is missing (run scripts/install-deps.sh)");
                res.type = s.type;
                return res;
            }
            if (req.path == "/api/state") return answer(state());
            if (req.path == "/api/events") return events(req);
        } else if (req.method == "POST") {
            for (const auto& [path, edit] : posts) {
                if (req.path != path) continue;
                Fields fields(req.body);
                json result = fields.ok() ? (this->*edit)(fields) : json();
                return answer(fields.ok() ? result : failure(fields.error));
            }
        }
        return plain(404, req.method + " " + req.path + " is not something this server answers");
    }

    static json statusJson(const StatusView& s) {
        return {{"game", s.game},
                {"gameId", s.gameId},
                {"ticksPerSecond", s.ticksPerSecond},
                {"lowTickRate", s.lowTickRate},
                {"output", outputStateName(s.output)},
                {"fadePercent", s.fadePercent},
                {"showsBlend", reportsGroundState(s.gameId)},
                {"groundState", s.groundState},
                {"airPercent", s.airPercent},
                {"framesReceived", s.framesReceived},
                {"requests", s.requests},
                {"replies", s.replies}};
    }

    json state() const {
        std::lock_guard<std::mutex> lock(mutex);
        json j = statusJson(status);
        j["transport"] = transport;
        j["recording"] = {{"on", !recordingPath.empty()}, {"path", recordingPath}};
        json names = json::array(), slots = json::array();
        for (int s = 0; s < kSlots; ++s) names.push_back(slotName(s));
        for (const ChannelSource& c : kChannelSources) slots.push_back(c.slot);
        j["slotNames"] = names;
        j["channelSlots"] = slots;
        json filters, enabled;
        for (int p = 0; p < 2; ++p) {
            const char* key = p == 0 ? "air" : "ground";
            filters[key] = settings.filters[p];
            enabled[key] = settings.enabled[p];
        }
        json belt;
        for (int i : {1, 2, 4, 5}) belt[std::to_string(i)] = settings.beltMix[0][i];
        json input = json::array(), rig = json::array();
        for (const auto& l : settings.inputLimits) input.push_back({l.minimum, l.maximum});
        for (const auto& l : settings.rigLimits) rig.push_back({l.minimum, l.maximum});
        j["profile"] = {{"filters", filters}, {"enabled", enabled}, {"beltMix", belt}, {"inputLimits", input},
                        {"rigLimits", rig}};
        return j;
    }

    // --- the event stream ---
    struct Stream {
        std::vector<int> slots;
        std::int64_t next = 0;  // the first tick not sent yet
        std::chrono::steady_clock::time_point due;
    };

    HttpResponse events(const HttpRequest& req) {
        auto stream = std::make_shared<Stream>();
        std::stringstream list(req.param("slots").value_or(""));
        for (std::string item; std::getline(list, item, ',');) {
            char* end = nullptr;
            const long slot = std::strtol(item.c_str(), &end, 10);
            if (item.empty() || *end != '\0' || slot < 0 || slot >= kSlots)
                return plain(400, "slots: \"" + item + "\" is not a game slot 0 to 42");
            if (std::find(stream->slots.begin(), stream->slots.end(), slot) == stream->slots.end())
                stream->slots.push_back(static_cast<int>(slot));
        }
        {
            // From the next tick on: the page gathers its own window.
            std::lock_guard<std::mutex> lock(mutex);
            stream->next = ticks.empty() ? 0 : ticks.back().tick + 1;
        }
        stream->due = std::chrono::steady_clock::now();
        HttpResponse res;
        res.type = "text/event-stream";
        res.stream = [this, stream](std::string& chunk) {
            {
                std::unique_lock<std::mutex> lock(stopMutex);
                stream->due += std::chrono::milliseconds(kUiBatchMs);
                const auto now = std::chrono::steady_clock::now();
                if (stream->due < now) stream->due = now;  // a late batch does not make the next ones come early
                stopSignal.wait_until(lock, stream->due, [this] { return stopping; });
                if (stopping) return false;  // the stream ends, so the page sees the host stopped
            }
            chunk = "data: " + batch(*stream) + "\n\n";
            return true;
        };
        return res;
    }

    std::string batch(Stream& stream) const {
        std::vector<double> t;
        std::array<std::vector<double>, 6> cues;
        std::vector<std::vector<double>> picked(stream.slots.size());
        StatusView now;
        {
            std::lock_guard<std::mutex> lock(mutex);
            now = status;
            if (!ticks.empty()) {
                const std::int64_t first = ticks.front().tick;
                const auto from = static_cast<std::size_t>(std::clamp<std::int64_t>(
                    stream.next - first, 0, static_cast<std::int64_t>(ticks.size())));
                for (std::size_t i = from; i < ticks.size(); ++i) {
                    const sim::RecordedTick& k = ticks[i];
                    t.push_back(k.seconds);
                    for (int c = 0; c < 6; ++c) cues[c].push_back(k.cues[c]);
                    for (std::size_t s = 0; s < picked.size(); ++s) picked[s].push_back(k.slots[stream.slots[s]]);
                }
                stream.next = ticks.back().tick + 1;
            }
        }
        json slots = json::object();
        for (std::size_t s = 0; s < picked.size(); ++s) slots[std::to_string(stream.slots[s])] = std::move(picked[s]);
        return dumped({{"t", std::move(t)}, {"cues", cues}, {"slots", std::move(slots)}, {"state", statusJson(now)}});
    }

    // --- edits ---
    // Refused while the host rests the rig: the rest switches every channel off.
    bool resting() const {
        std::lock_guard<std::mutex> lock(mutex);
        return restingNow;
    }
    static json restingRefusal() { return failure("the host is sending the rig to rest: no more changes"); }

    json filter(Fields& f) {
        const int p = f.profile();
        const int c = f.whole("channel", {}, 0, kChannels - 1);
        // The library trims the text too; kept trimmed, it reads back from a profile file as it is.
        const std::string text = trimmed(f.text("text"));
        if (!f.ok()) return failure(f.error);
        if (!fitsProfileLine(text))
            return failure("a filter string with '#' or a line break cannot be kept in a profile file");
        std::lock_guard<std::mutex> edit(editMutex);
        if (resting()) return restingRefusal();
        if (api->setcheckFilterstring(p, c, text.c_str())) {
            std::lock_guard<std::mutex> lock(mutex);
            settings.filters[p][c] = text;
            return {{"ok", true}};
        }
        // A refused string leaves the library's outputs held until the next
        // game attaches; the channel's string installed again lets the rig
        // move on (its smoothing starts afresh).
        const std::string previous = settings.filters[p][c];
        const bool back = api->setcheckFilterstring(p, c, previous.c_str());
        return failure("the library refuses the filter string \"" + text + "\"" +
                       (back ? "; the channel keeps \"" + previous + "\", installed again so that the rig moves on"
                             : "; the channel's previous string \"" + previous +
                                   "\" was refused too, so the outputs stay held until the next game attaches"));
    }

    json enable(Fields& f) {
        const int p = f.profile();
        const int c = f.whole("channel", {}, 0, kChannels - 1);
        const bool on = f.flag("on");
        if (!f.ok()) return failure(f.error);
        std::lock_guard<std::mutex> edit(editMutex);
        if (resting()) return restingRefusal();
        api->setActiveAxis(p, c, on ? 1 : 0);
        std::lock_guard<std::mutex> lock(mutex);
        settings.enabled[p][c] = on;
        return {{"ok", true}};
    }

    json belt(Fields& f) {
        // Only the air profile's weights 1, 2, 4 and 5 make the belt sum.
        const int i = f.whole("index", {1, 2, 4, 5}, 0, 0);
        const double w = f.number("weight");
        if (!f.ok()) return failure(f.error);
        std::lock_guard<std::mutex> edit(editMutex);
        if (resting()) return restingRefusal();
        api->setBelt_Mix(0, i, w);
        std::lock_guard<std::mutex> lock(mutex);
        settings.beltMix[0][i] = w;
        return {{"ok", true}};
    }

    // `which` 0: input limit of a channel 0 to 7; 1: rig limit of a cue 0 to 5.
    json limit(Fields& f, int which) {
        const int i = which == 0 ? f.whole("channel", {}, 0, 7) : f.whole("index", {}, 0, 5);
        const double low = f.number("min"), high = f.number("max");
        // The library clamps with the minimum first: a reversed pair would pin the value to the maximum.
        if (f.ok() && low > high) f.fail("min is above max");
        if (!f.ok()) return failure(f.error);
        std::lock_guard<std::mutex> edit(editMutex);
        if (resting()) return restingRefusal();
        (which == 0 ? api->SetInputDofLimitValue : api->SetRigDofLimitValue)(i, low, high);
        std::lock_guard<std::mutex> lock(mutex);
        (which == 0 ? settings.inputLimits[i] : settings.rigLimits[i]) = {low, high};
        return {{"ok", true}};
    }
    json inputLimit(Fields& f) { return limit(f, 0); }
    json rigLimit(Fields& f) { return limit(f, 1); }

    // The chain's responses by the library's own filter code, on fresh
    // chains: a unit step, and the channel's input of the last 10 s.
    json response(Fields& f) {
        const int p = f.profile();
        const int c = f.whole("channel", {}, 0, kChannels - 1);
        const std::string text = f.text("text");
        if (!f.ok()) return failure(f.error);
        (void)p;  // both profiles' channels read the same slots
        std::shared_ptr<FilterSys> chain = parseFilterString(text);
        if (!chain->valid.load()) return failure("the library refuses the filter string \"" + trimmed(text) + "\"");
        std::vector<double> stepT, stepInput, stepY;
        const int n = static_cast<int>(std::lround(kStepLengthSeconds / kSampleSeconds));
        const int stepAt = static_cast<int>(std::lround(kStepAtSeconds / kSampleSeconds));
        for (int i = 0; i < n; ++i) {
            stepT.push_back(i * kSampleSeconds);
            stepInput.push_back(i >= stepAt ? 1.0 : 0.0);
            stepY.push_back(runChain(*chain, stepInput.back()));
        }
        const ChannelSource source = kChannelSources[static_cast<std::size_t>(c)];
        std::vector<double> t, input;
        ProfileSettings::Range range;
        if (source.slot >= 0) {
            std::lock_guard<std::mutex> lock(mutex);
            if (source.limited) range = settings.inputLimits[static_cast<std::size_t>(c)];
            for (const sim::RecordedTick& k : ticks) {
                t.push_back(k.seconds);
                input.push_back(k.slots[source.slot]);
            }
        }
        chain->resetState();
        std::vector<double> output;
        output.reserve(input.size());
        for (double& x : input) {
            // As the engine limits the channel's input before its filters.
            if (source.limited) x = limitInput(x, range.minimum, range.maximum);
            output.push_back(runChain(*chain, x));
        }
        return {{"ok", true},
                {"step", {{"t", std::move(stepT)}, {"input", std::move(stepInput)}, {"y", std::move(stepY)}}},
                {"recorded", {{"t", std::move(t)}, {"input", std::move(input)}, {"output", std::move(output)}}}};
    }

    json save(Fields& f) {
        std::string path = f.text("path", true);
        if (!f.ok()) return failure(f.error);
        if (path.empty()) path = "rezadedudid-ui.profile";
        std::string error;
        const std::string text = profileText(currentSettings(), error);
        if (text.empty()) return failure(error);
        std::error_code ec;
        const std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (ec || !out) return failure("cannot write " + (ec ? path : absolute));
        return {{"ok", true}, {"path", absolute}};
    }

    json record(Fields& f) {
        const bool on = f.flag("on");
        if (!f.ok()) return failure(f.error);
        std::unique_lock<std::mutex> lock(mutex);
        if (restingNow) return restingRefusal();
        const std::uint64_t ticket = ++recordAsks;
        recordAsked = RecordRequest{on};
        recordPending = true;
        // The host's loop comes by every 10 ms.
        if (!recordAnswered.wait_for(lock, std::chrono::seconds(5),
                                     [&] { return recordAnswers >= ticket || restingNow; }))
            return failure("the host did not take up the request");
        if (recordAnswers < ticket) return restingRefusal();
        if (!recordError.empty()) return failure(recordError);
        return {{"ok", true}, {"on", !recordingPath.empty()}, {"path", recordingPath}};
    }

    ProfileSettings currentSettings() const {
        std::lock_guard<std::mutex> lock(mutex);
        return settings;
    }

    UiFiles files;
    std::string token;
    int port = -1;
    const Api* api = nullptr;
    HttpServer server{[this](const HttpRequest& req) { return handle(req); }};

    // What the host's loop hands over, and the settings the page changed.
    mutable std::mutex mutex;
    std::deque<sim::RecordedTick> ticks;
    StatusView status;
    std::string transport;
    std::string recordingPath;
    ProfileSettings settings;
    bool restingNow = false;
    std::condition_variable recordAnswered;
    std::optional<RecordRequest> recordAsked;
    std::uint64_t recordAsks = 0, recordTaken = 0, recordAnswers = 0;
    std::string recordError;
    std::atomic<bool> recordPending{false};

    // One edit at a time, so that the library and `settings` agree.
    std::mutex editMutex;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
};

UiServer::UiServer(UiFiles files, const ProfileSettings& settings)
    : impl_(std::make_unique<Impl>(std::move(files), settings)) {}

UiServer::~UiServer() { stop(); }

bool UiServer::bind(int port, std::string& error) {
    if (!impl_->server.bind(port, error)) return false;
    impl_->port = impl_->server.port();
    return true;
}

int UiServer::port() const { return impl_->port; }
const std::string& UiServer::token() const { return impl_->token; }

std::string UiServer::address() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + "/?token=" + impl_->token;
}

void UiServer::start(const Api& api, const std::string& transport) {
    Impl& d = *impl_;
    d.api = &api;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.transport = transport;
    }
    d.server.start("ui-listen", "ui-http");
}

void UiServer::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.stopMutex);
        d.stopping = true;
    }
    d.stopSignal.notify_all();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.restingNow = true;
    }
    d.recordAnswered.notify_all();
    d.server.stop();
}

void UiServer::addTicks(const std::vector<sim::RecordedTick>& fresh) {
    if (fresh.empty()) return;
    Impl& d = *impl_;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.ticks.insert(d.ticks.end(), fresh.begin(), fresh.end());
    const double oldest = d.ticks.back().seconds - kUiHistorySeconds;
    while (!d.ticks.empty() && (d.ticks.front().seconds < oldest || d.ticks.size() > kMostTicksKept))
        d.ticks.pop_front();
}

void UiServer::setStatus(const StatusView& status) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->status = status;
}

void UiServer::setRecording(const std::string& path) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->recordingPath = path;
}

std::optional<RecordRequest> UiServer::takeRecordRequest() {
    Impl& d = *impl_;
    // The loop asks every 10 ms; mostly nothing waits, and then no lock is taken.
    if (!d.recordPending.load()) return std::nullopt;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.recordPending = false;
    // The page was told no once the rest began.
    if (d.restingNow) return std::nullopt;
    d.recordTaken = d.recordAsks;
    std::optional<RecordRequest> asked = d.recordAsked;
    d.recordAsked.reset();
    return asked;
}

void UiServer::answerRecordRequest(const std::string& path, const std::string& error) {
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.recordingPath = path;
        d.recordError = error;
        d.recordAnswers = d.recordTaken;
    }
    d.recordAnswered.notify_all();
}

void UiServer::setResting() {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->restingNow = true;
    }
    impl_->recordAnswered.notify_all();
}

std::array<ProfileSettings::Range, 6> UiServer::rigLimits() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->settings.rigLimits;
}

ProfileSettings UiServer::settings() const { return impl_->currentSettings(); }

}  // namespace rez::host
