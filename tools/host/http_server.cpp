#include "tools/host/http_server.h"

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>

#include "platform/thread_name.h"

namespace rez::host {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

namespace {

constexpr auto kRequestWait = std::chrono::seconds(5);
constexpr auto kReplyWait = std::chrono::seconds(2);

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += c;  // a stray '%' stays as it is
        }
    }
    return out;
}

// "a=1&b=x%20y" as name/value pairs, '+' read as a space.
std::vector<std::pair<std::string, std::string>> parseQuery(std::string_view query) {
    std::vector<std::pair<std::string, std::string>> out;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (item.empty()) continue;
        const std::size_t eq = item.find('=');
        out.emplace_back(percentDecoded(item.substr(0, eq)),
                         eq == std::string_view::npos ? std::string() : percentDecoded(item.substr(eq + 1)));
    }
    return out;
}

}  // namespace

std::optional<std::string> HttpRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (sameName(n, name)) return v;
    return std::nullopt;
}

std::optional<std::string> HttpRequest::param(std::string_view name) const {
    for (const auto& [n, v] : query)
        if (n == name) return v;
    return std::nullopt;
}

// One connection, served on a thread of its own. Its operations are Beast's
// asynchronous ones run to completion on its own io_context, which is what
// gives each of them a deadline and lets stop() close it from outside.
struct Connection {
    net::io_context context;
    std::optional<beast::tcp_stream> stream;
    std::thread thread;
    std::atomic<bool> finished{false};

    // Runs one operation to its end. False when it failed, timed out or the
    // connection was closed under it.
    template <class Start>
    bool run(Start&& start) {
        error_code result = net::error::operation_aborted;
        start([&result](error_code ec, std::size_t) { result = ec; });
        context.restart();
        context.run();
        return !result;
    }

    void serve(const HttpHandler& handler, const std::atomic<bool>& stopping) {
        beast::flat_buffer buffer;
        while (!stopping) {
            http::request_parser<http::string_body> parser;
            parser.body_limit(kMostHttpBodyBytes);
            stream->expires_after(kRequestWait);
            if (!run([&](auto done) { http::async_read(*stream, buffer, parser, std::move(done)); })) break;
            const http::request<http::string_body>& in = parser.get();
            HttpRequest request;
            request.method = std::string(in.method_string());
            const std::string_view target(in.target().data(), in.target().size());
            const std::size_t mark = target.find('?');
            request.path = std::string(target.substr(0, mark));
            if (mark != std::string_view::npos) request.query = parseQuery(target.substr(mark + 1));
            for (const auto& field : in)
                request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
            request.body = in.body();
            const bool keepAlive = in.keep_alive();
            const unsigned version = in.version();

            HttpResponse reply = handler(request);
            if (stopping) break;
            if (reply.stream) {
                sendStream(reply, version, stopping);
                break;
            }
            http::response<http::string_body> out{static_cast<http::status>(reply.status), version};
            for (const auto& [n, v] : reply.headers) out.set(n, v);
            out.set(http::field::content_type, reply.type);
            out.body() = std::move(reply.body);
            out.keep_alive(keepAlive);
            out.prepare_payload();
            stream->expires_after(kReplyWait);
            if (!run([&](auto done) { http::async_write(*stream, out, std::move(done)); })) break;
            if (!keepAlive) break;
        }
        error_code ignored;
        stream->socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream->close();
    }

    // The stream's body runs until the connection closes (no length, no
    // chunks), which is how a browser reads server-sent events anyway.
    void sendStream(HttpResponse& reply, unsigned version, const std::atomic<bool>& stopping) {
        // An empty string body rather than Beast's empty_body: with the
        // latter, the MinGW build jumped into data while writing the head.
        http::response<http::string_body> head{static_cast<http::status>(reply.status), version};
        for (const auto& [n, v] : reply.headers) head.set(n, v);
        head.set(http::field::content_type, reply.type);
        head.keep_alive(false);
        stream->expires_after(kReplyWait);
        if (!run([&](auto done) { http::async_write(*stream, head, std::move(done)); })) return;
        std::string chunk;
        while (!stopping) {
            chunk.clear();
            if (!reply.stream(chunk)) return;
            if (chunk.empty()) continue;
            stream->expires_after(kReplyWait);
            if (!run([&](auto done) { net::async_write(*stream, net::buffer(chunk), std::move(done)); })) return;
        }
    }
};

struct HttpServer::Impl {
    explicit Impl(HttpHandler h) : handler(std::move(h)) {}

    void accept() {
        auto next = std::make_shared<Connection>();
        acceptor.async_accept(next->context, [this, next](error_code ec, tcp::socket socket) {
            if (ec || stopping) return;  // closed by stop()
            std::lock_guard<std::mutex> lock(mutex);
            connections.remove_if([](const std::shared_ptr<Connection>& c) {
                if (!c->finished) return false;
                c->thread.join();
                return true;
            });
            if (connections.size() >= static_cast<std::size_t>(kMostHttpConnections)) {
                error_code ignored;
                socket.close(ignored);  // too many at once: a browser opens far fewer
            } else {
                next->stream.emplace(std::move(socket));
                next->thread = std::thread([this, next] {
                    platform::nameThisThread(connectionThreadName);
                    next->serve(handler, stopping);
                    next->finished = true;
                });
                connections.push_back(next);
            }
            accept();
        });
    }

    HttpHandler handler;
    net::io_context listenContext;
    tcp::acceptor acceptor{listenContext};
    int port = -1;
    const char* connectionThreadName = "http";
    std::thread listener;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::list<std::shared_ptr<Connection>> connections;
};

HttpServer::HttpServer(HttpHandler handler) : impl_(std::make_unique<Impl>(std::move(handler))) {}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::bind(int port, std::string& error) {
    Impl& d = *impl_;
    error_code ec;
    const tcp::endpoint where(net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port));
    d.acceptor.open(where.protocol(), ec);
#if defined(_WIN32)
    // Without it another program could take the port over with SO_REUSEADDR.
    if (!ec) d.acceptor.set_option(net::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true), ec);
#else
    // A port a closed server left in TIME_WAIT can be taken again at once;
    // two listeners on one port Linux refuses without SO_REUSEPORT.
    if (!ec) d.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    if (!ec) d.acceptor.bind(where, ec);
    if (!ec) d.acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        error_code ignored;
        d.acceptor.close(ignored);
        error = port == 0 ? "no free port on 127.0.0.1 (" + ec.message() + ")"
                          : "port " + std::to_string(port) + " on 127.0.0.1 is in use (--ui PORT takes another, --ui 0 any free one)";
        return false;
    }
    d.port = d.acceptor.local_endpoint(ec).port();
    return true;
}

int HttpServer::port() const { return impl_->port; }

void HttpServer::start(const char* listenThread, const char* connectionThread) {
    Impl& d = *impl_;
    if (d.listener.joinable() || !d.acceptor.is_open()) return;
    d.connectionThreadName = connectionThread;
    d.accept();
    d.listener = std::thread([&d, listenThread] {
        platform::nameThisThread(listenThread);
        d.listenContext.run();
    });
}

void HttpServer::stop() {
    Impl& d = *impl_;
    d.stopping = true;
    if (d.listener.joinable()) {
        net::post(d.listenContext, [&d] {
            error_code ignored;
            d.acceptor.close(ignored);
        });
        d.listener.join();
    } else if (d.acceptor.is_open()) {
        error_code ignored;
        d.acceptor.close(ignored);
    }
    std::list<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        connections.swap(d.connections);
    }
    for (const auto& c : connections) {
        // Runs on the connection's own thread, in its next or current wait.
        Connection* connection = c.get();  // alive until joined below
        net::post(c->context, [connection] {
            if (connection->stream) connection->stream->close();
        });
    }
    for (const auto& c : connections) c->thread.join();
}

}  // namespace rez::host
