#include "test_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "sockets.h"

namespace qmtest {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSliceMs = 10;

}  // namespace

Script& Script::Send(std::string bytes) {
    steps.push_back({std::move(bytes), 0});
    return *this;
}

Script& Script::SendInPieces(const std::string& bytes, size_t piece, int pauseMs) {
    piece = std::max<size_t>(piece, 1);
    for (size_t at = 0; at < bytes.size(); at += piece)
        steps.push_back({bytes.substr(at, piece), at + piece < bytes.size() ? pauseMs : 0});
    return *this;
}

Script& Script::Then(Ending how) {
    ending = how;
    return *this;
}

std::string HttpResponse(int status, const Headers& headers, const std::string& body) {
    std::string text =
        "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK\r\n" : " Status\r\n");
    for (const auto& h : headers) text += h.first + ": " + h.second + "\r\n";
    return text + "\r\n" + body;
}

std::string HttpResponseWithLength(int status, const std::string& body,
                                   const std::string& contentType, const Headers& extraHeaders) {
    Headers headers;
    if (!contentType.empty()) headers.emplace_back("Content-Type", contentType);
    headers.emplace_back("Content-Length", std::to_string(body.size()));
    headers.insert(headers.end(), extraHeaders.begin(), extraHeaders.end());
    return HttpResponse(status, headers, body);
}

Script Redirect(int status, const std::string& location, const std::string& body) {
    return Script().Send(HttpResponse(status, {{"Location", location}}, body));
}

std::string Request::Header(const std::string& name) const {
    auto sameLetter = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    };
    for (size_t at = head.find('\n'); at != std::string::npos; at = head.find('\n', at + 1)) {
        std::string line = head.substr(at + 1, head.find('\n', at + 1) - at - 1);
        if (line.find(':') != name.size() ||
            !std::equal(name.begin(), name.end(), line.begin(), sameLetter))
            continue;
        size_t b = line.find_first_not_of(" \t\r", name.size() + 1);
        return b == std::string::npos ? "" : line.substr(b, line.find_last_not_of(" \t\r") - b + 1);
    }
    return "";
}

struct TestServer::State {
    Handler handler;
    std::string address;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    Socket listener = kNoSocket;
    std::thread acceptThread;
    mutable std::mutex mutex;
    std::vector<Request> log;
    std::vector<std::thread> connections;

    void Serve(Socket s);
};

void TestServer::State::Serve(Socket s) {
    bool peerClosed = false;
    std::string received;
    // Reads the client until `done`, the time is up or the server stops: also while the
    // script pauses or ends, so that the client's close is seen.
    auto readUntil = [&](Clock::time_point until, const std::function<bool()>& done) {
        while (!stopping && !done() && Clock::now() < until) {
            char buf[16384];
            if (peerClosed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
            } else if (Ready(s, false, kSliceMs)) {
                int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
                if (n > 0) received.append(buf, static_cast<size_t>(n));
                else peerClosed = true;
            }
        }
    };
    const auto never = Clock::time_point::max();
    auto closed = [&] { return peerClosed; };

    // Each request head runs to the blank line, or to where the client stopped sending.
    for (size_t consumed = 0;;) {
        readUntil(never, [&] {
            return peerClosed || received.find("\r\n\r\n", consumed) != std::string::npos;
        });
        size_t end = received.find("\r\n\r\n", consumed);
        Request request;
        request.head =
            received.substr(consumed, end == std::string::npos ? end : end + 4 - consumed);
        if (stopping || request.head.empty()) break;
        consumed += request.head.size();
        size_t space = request.head.find(' ');
        if (space != std::string::npos)
            request.target = request.head.substr(
                space + 1, request.head.find_first_of(" \r\n", space + 1) - space - 1);
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(request);
        }
        const Script script = handler(request);
        bool sendFailed = false;
        for (const Script::Step& step : script.steps) {
            for (size_t sent = 0; sent < step.bytes.size() && !stopping && !sendFailed;) {
                if (!Ready(s, true, kSliceMs)) continue;
                int n =
                    static_cast<int>(send(s, step.bytes.data() + sent,
                                          static_cast<int>(step.bytes.size() - sent), kNoSignal));
                if (n <= 0) sendFailed = true;
                else sent += static_cast<size_t>(n);
            }
            readUntil(Clock::now() + std::chrono::milliseconds(step.pauseMs), [] { return false; });
            if (stopping || sendFailed) break;
        }
        if (script.ending == Ending::KeepAlive && !sendFailed) continue;
        if (script.ending == Ending::StayOpen) {
            readUntil(never, closed);
        } else if (script.ending == Ending::Reset) {
            linger hard{1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
        } else {
            // Takes what the client still sends until it closes too, so that the close does
            // not turn into a reset.
            shutdown(s, kShutSend);
            readUntil(Clock::now() + std::chrono::seconds(2), closed);
        }
        break;
    }
    CloseSocket(s);
}

TestServer::TestServer(Handler handler, const std::string& address, uint16_t port)
    : state_(std::make_shared<State>()) {
    State& st = *state_;
    st.handler = std::move(handler);
    st.address = address;
    st.port = port;
    st.listener = Listen(address, &st.port);
    if (st.listener == kNoSocket) throw std::runtime_error("test server: cannot listen");
    st.acceptThread = std::thread([&st] {
        while (!st.stopping) {
            if (!Ready(st.listener, false, kSliceMs)) continue;
            Socket c = accept(st.listener, nullptr, nullptr);
            if (c == kNoSocket) continue;
            int on = 1;
            setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            std::lock_guard<std::mutex> lock(st.mutex);
            st.connections.emplace_back([&st, c] { st.Serve(c); });
        }
    });
}

TestServer::~TestServer() {
    // Connection threads see `stopping` within a slice; none start once accepting has ended.
    state_->stopping = true;
    state_->acceptThread.join();
    CloseSocket(state_->listener);
    for (std::thread& c : state_->connections) c.join();
}

uint16_t TestServer::Port() const { return state_->port; }

std::string TestServer::Url(const std::string& path) const {
    const bool v6 = state_->address.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + state_->address + "]" : state_->address) + ":" +
           std::to_string(state_->port) + path;
}

std::vector<Request> TestServer::Log() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->log;
}

std::vector<std::string> TestServer::RequestedTargets(size_t since) const {
    std::vector<std::string> targets;
    const std::vector<Request> log = Log();
    for (size_t i = since; i < log.size(); ++i) targets.push_back(log[i].target);
    std::sort(targets.begin(), targets.end());
    return targets;
}

size_t TestServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->connections.size();
}

SilentAddress::SilentAddress(const std::string& address, uint16_t port) {
    Socket listener = Listen(address, &port, 0);
    listener_ = static_cast<uintptr_t>(listener);
    waiting_ = static_cast<uintptr_t>(kNoSocket);
    if (listener == kNoSocket) return;
    Socket waiting = socket(address.find(':') != std::string::npos ? AF_INET6 : AF_INET,
                            SOCK_STREAM, 0);
    waiting_ = static_cast<uintptr_t>(waiting);
    sockaddr_storage at{};
    socklen_t size = sizeof at;
    ok_ = waiting != kNoSocket &&
          getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) == 0 &&
          connect(waiting, reinterpret_cast<sockaddr*>(&at), size) == 0;
}

SilentAddress::~SilentAddress() {
    if (static_cast<Socket>(waiting_) != kNoSocket) CloseSocket(static_cast<Socket>(waiting_));
    if (static_cast<Socket>(listener_) != kNoSocket) CloseSocket(static_cast<Socket>(listener_));
}

SiteServer::SiteServer(const std::string& address)
    : TestServer(
          [this](const Request& r) {
              std::lock_guard<std::mutex> lock(mutex);
              auto it = byPath.find(r.target.substr(0, r.target.find('?')));
              Script script =
                  it != byPath.end()
                      ? it->second
                      : Script().Send(HttpResponseWithLength(404, "not found", "text/plain"));
              if (keepAlive && script.ending == Ending::Close) script.ending = Ending::KeepAlive;
              return script;
          },
          address) {}

void SiteServer::Add(const std::string& path, Script script) {
    std::lock_guard<std::mutex> lock(mutex);
    byPath[path] = std::move(script);
}

void SiteServer::AddPage(const std::string& path, const std::string& body,
                         const std::string& contentType, const Headers& extraHeaders) {
    Add(path, Script().Send(HttpResponseWithLength(200, body, contentType, extraHeaders)));
}

void SiteServer::AddStalled(const std::string& path, const std::string& body, size_t sentBytes,
                            int stallMs, const std::string& contentType) {
    std::string whole = HttpResponseWithLength(200, body, contentType);
    Script script;
    script.Send(whole.substr(0, whole.size() - body.size() + std::min(sentBytes, body.size())));
    script.steps.push_back({"", std::max(stallMs, 0)});
    Add(path, script.Then(stallMs < 0 ? Ending::StayOpen : Ending::Close));
}

void SiteServer::KeepConnectionsAlive() {
    std::lock_guard<std::mutex> lock(mutex);
    keepAlive = true;
}

}  // namespace qmtest
