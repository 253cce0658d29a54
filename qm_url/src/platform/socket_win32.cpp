#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "platform/socket.h"
#include "platform/wait.h"
#include "stop.h"

namespace qm::platform {
namespace {

enum class Ready { Read, Write, Connect };

// Waits until the socket is ready, the limit passes or a stop is requested. A connection
// attempt that fails is reported in the exception set, not the write set.
NetStatus WaitFor(SOCKET s, Ready what, int limitMs) {
    return WaitInSlices(limitMs, [&](int sliceMs) {
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);
        timeval tv{0, sliceMs * 1000};
        int n = select(0, what == Ready::Read ? &ready : nullptr,
                       what == Ready::Read ? nullptr : &ready,
                       what == Ready::Connect ? &failed : nullptr, &tv);
        if (n == SOCKET_ERROR) return NetStatus::Failed;
        if (n == 0) return NetStatus::TimedOut;
        return what == Ready::Connect && FD_ISSET(s, &failed) ? NetStatus::Failed : NetStatus::Ok;
    });
}

}  // namespace

NetSession::NetSession() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

NetSession::~NetSession() { WSACleanup(); }

bool IsAddressLiteral(const char* name) {
    if (*name == '\0') return false;
    int dots = 0;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '.') ++dots;
        else if (*p < '0' || *p > '9') return false;
    }
    return dots == 3 && inet_addr(name) != INADDR_NONE;
}

bool LookupHostBlocking(const char* name, HostAddress* address) {
    // A session of its own: the caller may give up and clean up its session while this
    // lookup still runs on a helper thread.
    NetSession session;
    const hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
        host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(address->bytes, host->h_addr_list[0], 4);
    return true;
}

Connection::~Connection() { Close(); }

void Connection::Close() {
    if (socket_ != -1) closesocket(static_cast<SOCKET>(socket_));
    socket_ = -1;
}

NetStatus Connection::Connect(const HostAddress& address, uint16_t port, int timeLimitMs) {
    Close();
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return NetStatus::Failed;
    socket_ = static_cast<intptr_t>(s);
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return NetStatus::Failed;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, address.bytes, 4);
    to.sin_port = htons(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return NetStatus::Ok;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return NetStatus::Failed;
    return WaitFor(s, Ready::Connect, timeLimitMs);
}

NetStatus Connection::SendAll(const char* data, size_t length, int silenceLimitMs) {
    SOCKET s = static_cast<SOCKET>(socket_);
    size_t sent = 0;
    while (sent < length) {
        if (StopRequested()) return NetStatus::Stopped;
        int chunk = static_cast<int>(std::min<size_t>(length - sent, 1 << 20));
        int n = send(s, data + sent, chunk, 0);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            NetStatus waited = WaitFor(s, Ready::Write, silenceLimitMs);
            if (waited != NetStatus::Ok) return waited;
            continue;
        }
        return NetStatus::Failed;
    }
    return NetStatus::Ok;
}

NetStatus Connection::ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                  int silenceLimitMs) {
    SOCKET s = static_cast<SOCKET>(socket_);
    int ask = static_cast<int>(std::min<size_t>(capacity, 1 << 20));
    for (;;) {
        if (StopRequested()) return NetStatus::Stopped;
        int n = recv(s, buffer, ask, 0);
        if (n >= 0) {
            *received = static_cast<size_t>(n);
            return NetStatus::Ok;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) return NetStatus::Failed;
        NetStatus waited = WaitFor(s, Ready::Read, silenceLimitMs);
        if (waited != NetStatus::Ok) return waited;
    }
}

}  // namespace qm::platform
