#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the tuning page, on Boost.Beast
// (header-only, so the Linux host and the Windows host build it alike).
//
// It is made for one person's browser on this machine: each connection gets
// a thread of its own (at most kMostHttpConnections at a time), a request
// waits at most 5 s to come in and a reply at most 2 s to go out, and stop()
// closes every connection and joins every thread. Whether a request is
// allowed, and what it gets, is the handler's to say.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rez::host {

constexpr int kMostHttpConnections = 32;
constexpr std::size_t kMostHttpBodyBytes = 1 << 20;

struct HttpRequest {
    std::string method;  // "GET", "POST", ...
    std::string path;    // the target up to its '?'
    std::vector<std::pair<std::string, std::string>> query;    // percent-decoded
    std::vector<std::pair<std::string, std::string>> headers;  // as sent
    std::string body;

    // The first header or query field of that name; header names without regard to case.
    std::optional<std::string> header(std::string_view name) const;
    std::optional<std::string> param(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::string type = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // When set, the body is sent piece by piece after the headers instead,
    // and the connection closes after it: the connection's thread calls it
    // again and again for the next piece until it answers false (or the
    // browser goes away, or stop() is called).
    std::function<bool(std::string& chunk)> stream;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

class HttpServer {
public:
    explicit HttpServer(HttpHandler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Takes 127.0.0.1:`port` (0: a free one) for this server alone: no other
    // program can listen on it beside us or take it over. False with the reason.
    bool bind(int port, std::string& error);
    int port() const;

    // Answers on threads named `listenThread` and `connectionThread`.
    void start(const char* listenThread, const char* connectionThread);
    // Closes the port and every connection, and joins the threads. A handler
    // that waits must be woken by its owner first; a stream is not called again.
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace rez::host
