#include "test_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#  include <winsock2.h>
#  include <ws2tcpip.h>
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <netinet/tcp.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

namespace qmtest {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { closesocket(s); }
constexpr int kNoSignal = 0;
constexpr int kShutSend = SD_SEND;
#else
using Socket = int;
const Socket kNoSocket = -1;
void CloseSocket(Socket s) { close(s); }
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutSend = SHUT_WR;
#endif

using Clock = std::chrono::steady_clock;
constexpr int kSliceMs = 10;

// Waits up to `ms` for `s` to become readable, or writable.
bool Ready(Socket s, bool toWrite, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, toWrite ? nullptr : &set, toWrite ? &set : nullptr,
                  nullptr, &tv) > 0;
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

Request ParseHead(size_t connection, const std::string& head) {
    Request r;
    r.connection = connection;
    r.head = head;
    size_t pos = head.find("\r\n");
    std::string line = head.substr(0, pos);
    size_t space = line.find(' ');
    if (space != std::string::npos)
        r.target = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
    while (pos != std::string::npos && pos + 2 < head.size()) {
        size_t end = head.find("\r\n", pos + 2);
        std::string field = head.substr(pos + 2, end - (pos + 2));
        if (field.empty()) break;
        size_t colon = field.find(':');
        r.headers.emplace_back(field.substr(0, colon),
                               colon == std::string::npos ? "" : Trim(field.substr(colon + 1)));
        pos = end;
    }
    return r;
}

}  // namespace

Script& Script::Send(std::string bytes) {
    steps.push_back({std::move(bytes), 0});
    return *this;
}

Script& Script::Pause(int ms) {
    steps.push_back({"", ms});
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
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " +
                       (status == 200   ? "OK"
                        : status == 404 ? "Not Found"
                                        : "Status") +
                       "\r\n";
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

std::string Request::Header(const std::string& name) const {
    for (const auto& h : headers)
        if (SameNoCase(h.first, name)) return h.second;
    return "";
}

bool Request::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return SameNoCase(h.first, name); });
}

struct TestServer::State {
    std::atomic<bool> stopping{false};
    Socket listener = kNoSocket;
    std::thread acceptThread;
    mutable std::mutex mutex;
    mutable std::condition_variable ended;
    std::vector<Request> log;
    std::map<size_t, std::string> received;  // by connection, once it has ended
    std::vector<std::thread> connections;
};

TestServer::TestServer(Handler handler, uint16_t port, const std::string& address)
    : handler_(std::move(handler)),
      address_(address),
      state_(std::make_shared<State>()) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    Socket s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == kNoSocket) throw std::runtime_error("test server: no socket");
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(address.c_str());
    addr.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 64) != 0) {
        CloseSocket(s);
        throw std::runtime_error("test server: cannot listen");
    }
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    state_->listener = s;
    state_->acceptThread = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() {
    State& st = *state_;
    st.stopping = true;
    st.acceptThread.join();
    CloseSocket(st.listener);
    // Connection threads notice `stopping` within a slice; no new ones come after the
    // accept thread has ended.
    for (std::thread& c : st.connections) c.join();
#ifdef _WIN32
    WSACleanup();
#endif
}

std::string TestServer::Url(const std::string& path) const {
    return "http://" + address_ + ":" + std::to_string(port_) + path;
}

std::vector<Request> TestServer::Log() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->log;
}

std::string TestServer::Received(size_t index, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return state_->received.count(index) != 0; });
    auto it = state_->received.find(index);
    return it != state_->received.end() ? it->second : std::string();
}

size_t TestServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->connections.size();
}

void TestServer::AcceptLoop() {
    State& st = *state_;
    while (!st.stopping) {
        if (!Ready(st.listener, false, kSliceMs)) continue;
        Socket c = accept(st.listener, nullptr, nullptr);
        if (c == kNoSocket) continue;
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        std::lock_guard<std::mutex> lock(st.mutex);
        size_t index = st.connections.size();
        st.connections.emplace_back([this, c, index] { Serve(static_cast<uintptr_t>(c), index); });
    }
}

void TestServer::Serve(uintptr_t socket, size_t index) {
    State& st = *state_;
    const Socket s = static_cast<Socket>(socket);
    bool peerClosed = false;
    std::string received;

    // The client is read also while the script pauses or ends, so that its close is seen.
    auto readSome = [&](int waitMs) {
        if (peerClosed || !Ready(s, false, waitMs)) return;
        char buf[16384];
        int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
        if (n > 0) received.append(buf, static_cast<size_t>(n));
        else peerClosed = true;
    };
    auto readUntil = [&](Clock::time_point until, bool orClosed) {
        while (!st.stopping && !(orClosed && peerClosed)) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) break;
            int slice = static_cast<int>(std::min<long long>(left.count(), kSliceMs));
            if (peerClosed) std::this_thread::sleep_for(std::chrono::milliseconds(slice));
            else readSome(slice);
        }
    };

    // Each request head: up to the blank line, or whatever came before the client stopped.
    // A script that ends in KeepAlive lets the next one follow on the same connection.
    size_t consumed = 0;
    for (;;) {
        std::string head;
        while (!st.stopping && head.empty()) {
            size_t end = received.find("\r\n\r\n", consumed);
            if (end != std::string::npos) head = received.substr(consumed, end + 4 - consumed);
            else if (peerClosed) head = received.substr(consumed);
            if (!head.empty() || peerClosed) break;
            readSome(kSliceMs);
        }
        if (st.stopping || head.empty()) break;
        consumed += head.size();

        Request request = ParseHead(index, head);
        {
            std::lock_guard<std::mutex> lock(st.mutex);
            st.log.push_back(request);
        }
        Script script = handler_(request);
        bool sendFailed = false;
        for (const Script::Step& step : script.steps) {
            for (size_t sent = 0; sent < step.bytes.size() && !st.stopping && !sendFailed;) {
                if (!Ready(s, true, kSliceMs)) continue;
                int n =
                    static_cast<int>(send(s, step.bytes.data() + sent,
                                          static_cast<int>(step.bytes.size() - sent), kNoSignal));
                if (n <= 0) sendFailed = true;
                else sent += static_cast<size_t>(n);
            }
            readUntil(Clock::now() + std::chrono::milliseconds(step.pauseMs), false);
            if (st.stopping || sendFailed) break;
        }
        if (script.ending == Ending::KeepAlive && !sendFailed) continue;
        if (script.ending == Ending::StayOpen) {
            readUntil(Clock::time_point::max(), true);
        } else if (script.ending == Ending::Reset) {
            linger hard{1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
        } else {
            // An orderly close: say we are done, then take what the client still sends until
            // it closes too, so that closing does not turn into a reset.
            shutdown(s, kShutSend);
            readUntil(Clock::now() + std::chrono::seconds(2), true);
        }
        break;
    }
    CloseSocket(s);
    {
        std::lock_guard<std::mutex> lock(st.mutex);
        st.received[index] = received;
    }
    st.ended.notify_all();
}

ScriptedServer::ScriptedServer(Script script) : ScriptedServer(std::vector<Script>{script}) {}

ScriptedServer::ScriptedServer(std::vector<Script> scripts)
    : TestServer([scripts = std::move(scripts)](const Request& r) {
          if (scripts.empty()) return Script();
          return scripts[std::min(r.connection, scripts.size() - 1)];
      }) {}

struct SiteServer::Pages {
    std::mutex mutex;
    std::map<std::string, Script> byPath;
    bool keepAlive = false;
};

SiteServer::SiteServer(const std::string& address)
    : SiteServer(std::make_shared<Pages>(), address) {}

SiteServer::SiteServer(std::shared_ptr<Pages> pages, const std::string& address)
    : TestServer(
          [pages](const Request& r) {
              std::lock_guard<std::mutex> lock(pages->mutex);
              auto it = pages->byPath.find(r.target.substr(0, r.target.find('?')));
              Script script =
                  it != pages->byPath.end()
                      ? it->second
                      : Script().Send(HttpResponseWithLength(404, "not found", "text/plain"));
              if (pages->keepAlive && script.ending == Ending::Close)
                  script.ending = Ending::KeepAlive;
              return script;
          },
          0, address),
      pages_(std::move(pages)) {}

void SiteServer::Add(const std::string& path, Script script) {
    std::lock_guard<std::mutex> lock(pages_->mutex);
    pages_->byPath[path] = std::move(script);
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
    if (stallMs >= 0) script.Pause(stallMs);
    else script.Then(Ending::StayOpen);
    Add(path, script);
}

void SiteServer::KeepConnectionsAlive() {
    std::lock_guard<std::mutex> lock(pages_->mutex);
    pages_->keepAlive = true;
}

std::vector<std::string> SiteServer::RequestedTargets() const {
    std::vector<std::string> targets;
    for (const Request& r : Log()) targets.push_back(r.target);
    return targets;
}

}  // namespace qmtest
