// The tuning page's server, spoken to over loopback with a Beast client
// and driving the real library's setters.
#if REZ_HAVE_UI
#include <gtest/gtest.h>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "sim/emulated_controller.h"
#include "tools/host/ui_server.h"

namespace {

using nlohmann::json;
using rez::host::ProfileSettings;
using rez::host::UiServer;
namespace fs = std::filesystem;

namespace net = boost::asio;
namespace http = boost::beast::http;
using Headers = std::vector<std::pair<std::string, std::string>>;

bool waitFor(const std::function<bool()>& condition) { return rez::sim::EmulatedController::waitUntil(condition, 10000); }

struct Reply {
    int status = 0;  // 0: no answer
    std::string body;
};

net::ip::tcp::socket connected(net::io_context& context, int port, boost::system::error_code& ec) {
    net::ip::tcp::socket socket(context);
    socket.connect({net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)}, ec);
    return socket;
}

// One request on a connection of its own, with Host as a browser sends it
// unless `headers` name another.
Reply request(int port, http::verb verb, const std::string& target, const Headers& headers, const std::string& body = "") {
    net::io_context context;
    boost::system::error_code ec;
    net::ip::tcp::socket socket = connected(context, port, ec);
    if (ec) return {};
    http::request<http::string_body> req{verb, target, 11};
    req.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    for (const auto& [name, value] : headers) req.set(name, value);
    req.body() = body;
    req.prepare_payload();
    http::write(socket, req, ec);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> res;
    if (!ec) http::read(socket, buffer, res, ec);
    if (ec) return {};
    return {static_cast<int>(res.result_int()), res.body()};
}

// A server on a free port with the real library behind it and stand-in page files.
class UiServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("rez-ui-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::create_directories(dir);
        for (const char* f : {"index.html", "ui.js", "ui.css", "uPlot.iife.min.js", "uPlot.min.css"})
            std::ofstream(dir / f) << "// " << f << "\n";
        std::string error;
        ASSERT_TRUE(library.load(REZ_LIBRARY_PATH, error)) << error;
        // The car profile (motion cancel on and tuned) and the settings a profile holds that the page does
        // not edit, so that a saved profile must carry them all.
        rez::host::Profile start;
        std::vector<std::string> errors;
        ASSERT_TRUE(rez::host::parseProfile(rez::host::defaultProfileText("assetto_corsa") +
                                                "filter ground 4 GAIN(VALUE;\t0,5)\nbelt-mix ground 42 -1e-300\n"
                                                "fan COM7 19200 7E2 20\n",
                                            "start", start, errors))
            << errors.front();
        server = std::make_unique<UiServer>(rez::host::UiFiles{dir.string(), dir.string()}, rez::host::settingsOf(start));
        ASSERT_TRUE(server->bind(0, error)) << error;
        server->start(library.api, "test");
    }
    void TearDown() override {
        server.reset();
        library.unload();
        fs::remove_all(dir);
    }

    json post(const std::string& path, const json& body) {
        const Reply res = request(server->port(), http::verb::post, path, {{"X-Rez-Token", server->token()}}, body.dump());
        EXPECT_EQ(res.status, 200) << path;
        return json::parse(res.body, nullptr, false);
    }

    fs::path dir;
    rez::host::Library library;
    std::unique_ptr<UiServer> server;
};

TEST_F(UiServerTest, RefusesRequestsWithoutTheTokenOrFromAnotherSite) {
    const std::string port = std::to_string(server->port()), token = server->token();
    const std::string wrong = std::string(token.size(), '0');
    struct Row {
        std::string path;
        Headers headers;
        int status;
    };
    const Row rows[] = {
        {"/api/state", {}, 403},
        {"/", {}, 403},
        {"/api/state?token=" + wrong, {}, 403},
        {"/api/state?token=" + token.substr(1), {}, 403},
        {"/api/state", {{"X-Rez-Token", wrong}}, 403},
        {"/api/state?token=" + token, {{"Origin", "http://evil.example"}}, 403},
        {"/api/state?token=" + token, {{"Origin", "http://127.0.0.1:1"}}, 403},
        {"/api/state?token=" + token, {{"Host", "evil.example:" + port}}, 403},  // a rebound DNS name
        {"/api/state?token=" + token, {{"Host", "127.0.0.1"}}, 403},
        {"/api/state?token=" + token, {}, 200},
        {"/api/state", {{"X-Rez-Token", token}, {"Origin", "http://127.0.0.1:" + port}}, 200},
        {"/api/state?token=" + token, {{"Host", "localhost:" + port}, {"Origin", "http://localhost:" + port}}, 200},
        {"/?token=" + token, {}, 200},
        {"/uplot.iife.min.js?token=" + token, {}, 200},
    };
    for (const Row& row : rows) {
        const Reply res = request(server->port(), http::verb::get, row.path, row.headers);
        EXPECT_EQ(res.status, row.status) << row.path << " " << (row.headers.empty() ? "" : row.headers.begin()->second);
    }
}

TEST_F(UiServerTest, AnotherServerCannotTakeAPortInUse) {
    UiServer second(rez::host::UiFiles{dir.string(), dir.string()}, ProfileSettings{});
    std::string error;
    EXPECT_FALSE(second.bind(server->port(), error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
}

TEST_F(UiServerTest, FilterStringsGoThroughTheLibrarysCheck) {
    struct Row {
        json request;
        bool ok;
        std::string error;   // the start of the refusal
        std::string filter;  // the channel's string afterwards
    };
    const Row rows[] = {
        {{{"profile", "ground"}, {"channel", 3}, {"text", " GAIN(VALUE;2) "}}, true, "", "GAIN(VALUE;2)"},
        {{{"profile", "ground"}, {"channel", 3}, {"text", "EMALP(VALUE;0.5)"}},
         false,
         "the library refuses the filter string \"EMALP(VALUE;0.5)\"; the channel keeps \"GAIN(VALUE;2)\"",
         "GAIN(VALUE;2)"},
        {{{"profile", "ground"}, {"channel", 3}, {"text", "ABS(VALUE) # x"}}, false, "a filter string with '#'",
         "GAIN(VALUE;2)"},
        {{{"profile", "ground"}, {"channel", 23}, {"text", "VALUE"}}, false, "channel 23 is out of range",
         "GAIN(VALUE;2)"},
        {{{"profile", "ground"}, {"channel", 3}, {"text", "SINUS(VALUE;1;2)"}}, true, "", "SINUS(VALUE;1;2)"},
    };
    for (const Row& row : rows) {
        const json answer = post("/api/filter", row.request);
        EXPECT_EQ(answer.value("ok", !row.ok), row.ok) << row.request;
        EXPECT_EQ(answer.value("error", "").rfind(row.error, 0), 0u) << answer;
        EXPECT_EQ(server->settings().filters[1][3], row.filter) << row.request;
    }
}

TEST_F(UiServerTest, SavedProfileReadsBackToTheSameSettings) {
    for (const auto& [path, body] : {std::pair<const char*, json>{"/api/filter", {{"profile", "air"}, {"channel", 21}, {"text", "CROP(GAIN(VALUE; 2);0;100)"}}},
                                    {"/api/enable", {{"profile", "ground"}, {"channel", 9}, {"on", false}}},
                                    {"/api/belt", {{"index", 5}, {"weight", 0.1}}},
                                    {"/api/input-limit", {{"channel", 7}, {"min", -1e-300}, {"max", 30}}},
                                    {"/api/rig-limit", {{"index", 2}, {"min", -6.000000000000001}, {"max", 6}}}})
        EXPECT_TRUE(post(path, body).value("ok", false)) << path;
    const std::string file = (dir / "saved.profile").string();
    const json saved = post("/api/save", {{"path", file}});
    ASSERT_TRUE(saved.value("ok", false)) << saved;
    rez::host::Profile read;
    std::vector<std::string> errors;
    ASSERT_TRUE(rez::host::loadProfile(file, read, errors)) << errors.front();
    const ProfileSettings now = server->settings();
    EXPECT_TRUE(rez::host::settingsOf(read) == now);
    EXPECT_EQ(now.filters[0][21], "CROP(GAIN(VALUE; 2);0;100)");
    EXPECT_FALSE(now.enabled[1][9]);
    EXPECT_EQ(now.beltMix[0][5], 0.1);
    EXPECT_EQ(now.rigLimits[2].minimum, -6.000000000000001);
}

TEST_F(UiServerTest, ResponsesComeFromTheLibrarysFilters) {
    // Ten seconds of a game whose lateral acceleration (slot 3) is 5, while
    // channel 0's input limit is +-1.
    std::vector<rez::sim::RecordedTick> ticks(5000);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        ticks[i].tick = static_cast<std::int64_t>(i);
        ticks[i].seconds = 0.002 * static_cast<double>(i);
        ticks[i].slots[3] = 5;
    }
    server->addTicks(ticks);
    ASSERT_TRUE(post("/api/input-limit", {{"channel", 0}, {"min", -1}, {"max", 1}}).value("ok", false));
    struct Row {
        int channel;
        std::string text;
        double beforeStep, atStep, after, recordedLast;
    };
    const Row rows[] = {
        {0, "GAIN(VALUE;2)", 0, 2, 2, 2},                 // limited to 1, times 2
        {0, "EMALP(VALUE;4)", 0, 0.25, 0.4375, 1},        // a fresh chain: nothing before the step
        {15, "SETVALUE(VALUE;3)", 3, 3, 3, 3},         // an effect channel reads slot 0
        {8, "GAIN(VALUE;2)", 0, 2, 2, 0},                 // roll position: nothing recorded
    };
    for (const Row& row : rows) {
        const json r = post("/api/response", {{"profile", "air"}, {"channel", row.channel}, {"text", row.text}});
        ASSERT_TRUE(r.value("ok", false)) << r;
        const auto& t = r["step"]["t"];
        const auto& y = r["step"]["y"];
        ASSERT_EQ(t.size(), 2500u);
        EXPECT_DOUBLE_EQ(t[250].get<double>(), 0.5);
        EXPECT_DOUBLE_EQ(y[249].get<double>(), row.beforeStep) << row.text;
        EXPECT_DOUBLE_EQ(y[250].get<double>(), row.atStep) << row.text;
        EXPECT_DOUBLE_EQ(y[251].get<double>(), row.after) << row.text;
        const auto& out = r["recorded"]["output"];
        ASSERT_EQ(out.size(), 5000u) << row.text;
        EXPECT_NEAR(out.back().get<double>(), row.recordedLast, 1e-6) << row.text;
    }
    const json refused = post("/api/response", {{"profile", "air"}, {"channel", 0}, {"text", "GAIN(VALUE)"}});
    EXPECT_EQ(refused.value("error", ""), "the library refuses the filter string \"GAIN(VALUE)\"");
}

TEST_F(UiServerTest, StopClosesIdleAndHalfSentConnectionsAtOnce) {
    // Without closing them, stop() would wait out each one's 5 s for a request.
    net::io_context context;
    boost::system::error_code ec;
    net::ip::tcp::socket idle = connected(context, server->port(), ec), half = connected(context, server->port(), ec);
    ASSERT_FALSE(ec) << ec.message();
    net::write(half, net::buffer(std::string("GET /api/state HTTP/1.1\r\nHost: 127.0.")));
    // Served once a request on another connection is answered: the listener has taken the two before it.
    ASSERT_EQ(request(server->port(), http::verb::get, "/api/state?token=" + server->token(), {}).status, 200);
    const auto begun = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(4));
    for (net::ip::tcp::socket* socket : {&idle, &half}) {
        char byte;
        boost::system::error_code ec;
        socket->read_some(net::buffer(&byte, 1), ec);
        EXPECT_EQ(ec, net::error::eof);
    }
}

TEST_F(UiServerTest, EventStreamCarriesNewTicksAndEndsWhenTheServerStops) {
    std::mutex mutex;
    std::string received;
    std::atomic<bool> ended{false};
    std::thread reader([&] {
        // Read as it comes, chunk framing and all: the checks look for texts inside one batch.
        net::io_context context;
        boost::system::error_code ec;
        net::ip::tcp::socket socket = connected(context, server->port(), ec);
        const std::string ask = "GET /api/events?slots=7,42&token=" + server->token() +
                                " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) + "\r\n\r\n";
        if (!ec) net::write(socket, net::buffer(ask), ec);
        char data[4096];
        while (!ec) {
            const std::size_t n = socket.read_some(net::buffer(data), ec);
            std::lock_guard<std::mutex> lock(mutex);
            received.append(data, n);
        }
        ended = true;
    });
    auto seen = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        return received.find(what) != std::string::npos;
    };
    ASSERT_TRUE(waitFor([&] { return seen("data: "); }));
    rez::sim::RecordedTick tick;
    tick.tick = 0;
    tick.seconds = 1.25;
    tick.cues[5] = -3.5;
    tick.slots[7] = 0.75;
    tick.slots[42] = 9;
    server->addTicks({tick});
    EXPECT_TRUE(waitFor([&] { return seen("\"t\":[1.25]"); }));
    EXPECT_TRUE(seen("[-3.5]]")) << received;
    EXPECT_TRUE(seen("\"slots\":{\"42\":[9.0],\"7\":[0.75]}") || seen("\"slots\":{\"42\":[9],\"7\":[0.75]}")) << received;
    const auto begun = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(3));
    EXPECT_TRUE(waitFor([&] { return ended.load(); }));
    reader.join();
}

}  // namespace
#endif
