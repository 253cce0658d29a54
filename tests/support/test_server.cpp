#include "test_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#  include <winsock2.h>
#  include <ws2tcpip.h>
#else
#  include <arpa/inet.h>
#  include <fcntl.h>
#  include <netinet/in.h>
#  include <netinet/tcp.h>
#  include <poll.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

namespace qmtest {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) { closesocket(s); }
#else
using Socket = int;
const Socket kNoSocket = -1;
void CloseSocket(Socket s) { close(s); }
#endif

constexpr int kSliceMs = 10;

// Waits up to `ms` for `s` to become readable.
bool WaitReadable(Socket s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
}

bool WaitWritable(Socket s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, nullptr, &set, nullptr, &tv) > 0;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

Request ParseHead(size_t connection, const std::string& head) {
    Request r;
    r.connection = connection;
    r.head = head;
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
    if (sp1 != std::string::npos) {
        r.method = line.substr(0, sp1);
        if (sp2 != std::string::npos) {
            r.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
            r.version = line.substr(sp2 + 1);
        } else {
            r.target = line.substr(sp1 + 1);
        }
    } else {
        r.method = line;
    }
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        if (end == pos) break;
        std::string field = head.substr(pos, end - pos);
        size_t colon = field.find(':');
        if (colon != std::string::npos)
            r.headers.emplace_back(field.substr(0, colon), Trim(field.substr(colon + 1)));
        else
            r.headers.emplace_back(field, "");
        pos = end + 2;
    }
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scripts and responses

Script& Script::Send(std::string bytes) {
    steps.push_back({std::move(bytes), 0});
    return *this;
}

Script& Script::Pause(int ms) {
    steps.push_back({"", ms});
    return *this;
}

Script& Script::SendInPieces(const std::string& bytes, size_t piece, int pauseMs) {
    if (piece == 0) piece = 1;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        steps.push_back({bytes.substr(at, piece), at + piece < bytes.size() ? pauseMs : 0});
    }
    return *this;
}

Script& Script::SendSplitAt(const std::string& bytes, const std::vector<size_t>& offsets,
                            int pauseMs) {
    size_t from = 0;
    for (size_t cut : offsets) {
        cut = std::min(cut, bytes.size());
        if (cut <= from) continue;
        steps.push_back({bytes.substr(from, cut - from), pauseMs});
        from = cut;
    }
    if (from < bytes.size()) steps.push_back({bytes.substr(from), 0});
    return *this;
}

Script& Script::Then(Ending how) {
    ending = how;
    return *this;
}

std::string HttpResponse(int status, const Headers& headers, const std::string& body,
                         const std::string& reason) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " ";
    if (!reason.empty()) {
        text += reason;
    } else {
        switch (status) {
            case 200: text += "OK"; break;
            case 301: text += "Moved Permanently"; break;
            case 404: text += "Not Found"; break;
            case 500: text += "Internal Server Error"; break;
            default: text += "Status"; break;
        }
    }
    text += "\r\n";
    for (const auto& h : headers) text += h.first + ": " + h.second + "\r\n";
    text += "\r\n";
    return text + body;
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
    std::string want = Lower(name);
    for (const auto& h : headers)
        if (Lower(h.first) == want) return h.second;
    return "";
}

bool Request::HasHeader(const std::string& name) const {
    std::string want = Lower(name);
    for (const auto& h : headers)
        if (Lower(h.first) == want) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// The server

struct TestServer::State {
    std::atomic<bool> stopping{false};
    Socket listener = kNoSocket;
    std::thread acceptThread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Request> log;
    struct Connection {
        Socket socket = kNoSocket;
        std::string received;
        bool ended = false;
        std::thread thread;
    };
    std::vector<std::unique_ptr<Connection>> connections;
};

TestServer::TestServer(Handler handler, uint16_t port)
    : handler_(std::move(handler)), state_(std::make_shared<State>()) {
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
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
    Stop();
#ifdef _WIN32
    WSACleanup();
#endif
}

void TestServer::Stop() {
    State& st = *state_;
    if (st.stopping.exchange(true)) return;
    if (st.acceptThread.joinable()) st.acceptThread.join();
    CloseSocket(st.listener);
    // Connection threads notice `stopping` within a slice; no new ones appear after the
    // accept thread has ended.
    for (auto& c : st.connections)
        if (c->thread.joinable()) c->thread.join();
}

std::string TestServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<Request> TestServer::Log() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->log;
}

size_t TestServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->connections.size();
}

bool TestServer::WaitForEndedConnections(size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        size_t ended = 0;
        for (const auto& c : state_->connections) ended += c->ended ? 1 : 0;
        return ended >= count;
    });
}

std::string TestServer::Received(size_t index, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    bool ended = state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return index < state_->connections.size() && state_->connections[index]->ended;
    });
    return ended ? state_->connections[index]->received : std::string();
}

void TestServer::AcceptLoop() {
    State& st = *state_;
    while (!st.stopping) {
        if (!WaitReadable(st.listener, kSliceMs)) continue;
        Socket c = accept(st.listener, nullptr, nullptr);
        if (c == kNoSocket) continue;
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        std::lock_guard<std::mutex> lock(st.mutex);
        auto conn = std::make_unique<State::Connection>();
        conn->socket = c;
        size_t index = st.connections.size();
        State::Connection* raw = conn.get();
        st.connections.push_back(std::move(conn));
        raw->thread = std::thread([this, index, c] { Serve(index, static_cast<uintptr_t>(c)); });
        st.changed.notify_all();
    }
}

void TestServer::Serve(size_t index, uintptr_t rawSocket) {
    State& st = *state_;
    Socket s = static_cast<Socket>(rawSocket);
    bool peerClosed = false;

    auto readSome = [&](int waitMs) {
        if (peerClosed || !WaitReadable(s, waitMs)) return;
        char buf[16384];
        int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
        if (n <= 0) {
            peerClosed = true;
            return;
        }
        std::lock_guard<std::mutex> lock(st.mutex);
        st.connections[index]->received.append(buf, static_cast<size_t>(n));
    };
    auto receivedSoFar = [&] {
        std::lock_guard<std::mutex> lock(st.mutex);
        return st.connections[index]->received;
    };

    // The request head: up to the blank line, or whatever came before the client stopped.
    std::string head;
    while (!st.stopping && !peerClosed) {
        std::string got = receivedSoFar();
        size_t end = got.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = got.substr(0, end + 4);
            break;
        }
        readSome(kSliceMs);
        if (peerClosed) head = receivedSoFar();
    }

    if (!st.stopping && !head.empty()) {
        Request request = ParseHead(index, head);
        {
            std::lock_guard<std::mutex> lock(st.mutex);
            st.log.push_back(request);
            st.changed.notify_all();
        }
        Script script = handler_(request);
        bool sendFailed = false;
        for (const Script::Step& step : script.steps) {
            size_t sent = 0;
            while (sent < step.bytes.size() && !st.stopping && !sendFailed) {
                if (!WaitWritable(s, kSliceMs)) continue;
                int n = static_cast<int>(send(s, step.bytes.data() + sent,
                                              static_cast<int>(step.bytes.size() - sent),
#ifdef MSG_NOSIGNAL
                                              MSG_NOSIGNAL
#else
                                              0
#endif
                                              ));
                if (n <= 0) sendFailed = true;
                else sent += static_cast<size_t>(n);
            }
            // Pauses keep reading, so the log holds whatever the client sends meanwhile.
            auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(step.pauseMs);
            while (!st.stopping && std::chrono::steady_clock::now() < until) {
                if (peerClosed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                else readSome(1);
            }
            if (st.stopping || sendFailed) break;
        }
        if (script.ending == Ending::StayOpen) {
            while (!st.stopping && !peerClosed) readSome(kSliceMs);
        } else if (script.ending == Ending::Reset) {
            linger hard{1, 0};
            setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
        } else {
            // An orderly close: say we are done, then take what the client still sends until
            // it closes too, so that closing does not turn into a reset.
#ifdef _WIN32
            shutdown(s, SD_SEND);
#else
            shutdown(s, SHUT_WR);
#endif
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (!st.stopping && !peerClosed && std::chrono::steady_clock::now() < until)
                readSome(kSliceMs);
        }
    }
    CloseSocket(s);
    std::lock_guard<std::mutex> lock(st.mutex);
    st.connections[index]->ended = true;
    st.changed.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Scripted and site servers

ScriptedServer::ScriptedServer(Script script) : ScriptedServer(std::vector<Script>{script}) {}

ScriptedServer::ScriptedServer(std::vector<Script> scripts)
    : TestServer([scripts = std::move(scripts)](const Request& r) {
          if (scripts.empty()) return Script();
          return scripts[std::min(r.connection, scripts.size() - 1)];
      }) {}

struct SiteServer::Pages {
    std::mutex mutex;
    std::map<std::string, Script> byPath;
};

SiteServer::SiteServer() : SiteServer(std::make_shared<Pages>()) {}

SiteServer::SiteServer(std::shared_ptr<Pages> pages)
    : TestServer([pages](const Request& r) {
          std::string path = r.target.substr(0, r.target.find('?'));
          std::lock_guard<std::mutex> lock(pages->mutex);
          auto it = pages->byPath.find(path);
          if (it != pages->byPath.end()) return it->second;
          return Script().Send(HttpResponseWithLength(404, "not found", "text/plain"));
      }),
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
    size_t headLength = whole.size() - body.size();
    Script script;
    script.Send(whole.substr(0, headLength + std::min(sentBytes, body.size())));
    if (stallMs >= 0) script.Pause(stallMs);
    else script.Then(Ending::StayOpen);
    Add(path, script);
}

void SiteServer::AddSlow(const std::string& path, const std::string& body, size_t piece,
                         int pauseMs, const std::string& contentType) {
    Add(path, Script().SendInPieces(HttpResponseWithLength(200, body, contentType), piece, pauseMs));
}

std::vector<std::string> SiteServer::RequestedTargets() const {
    std::vector<std::string> targets;
    for (const Request& r : Log()) targets.push_back(r.target);
    return targets;
}

}  // namespace qmtest
