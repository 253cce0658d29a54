#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/socket.h"
#include "platform/socket_address.h"
#include "platform/wait.h"

namespace qm::platform {
namespace {

enum class Ready { Read, Write, Connect };

// Waits until the socket is ready, the limit passes or a stop is requested. A connection
// attempt that fails is reported in the exception set, not the write set.
NetStatus WaitFor(SOCKET s, Ready what, const WaitLimit& limit) {
    return WaitInSlices(limit, [&](int sliceMs) {
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
    in6_addr ignored;
    return inet_pton(AF_INET, name, &ignored) == 1 || inet_pton(AF_INET6, name, &ignored) == 1;
}

bool LookupHostBlocking(const char* name, HostAddresses* addresses) {
    // A session of its own: the caller may give up and clean up its session while this
    // lookup still runs on a helper thread.
    NetSession session;
    return LookupAddresses(name, addresses);
}

Connection::~Connection() { Close(); }

void Connection::Close() {
    if (socket_ != -1) closesocket(static_cast<SOCKET>(socket_));
    socket_ = -1;
}

namespace {

// Starts a connection to `address` without waiting: the socket, or INVALID_SOCKET when it
// failed at once. *connected tells that it needs no wait.
SOCKET StartConnecting(const HostAddress& address, uint16_t port, bool* connected) {
    *connected = false;
    sockaddr_storage to;
    const int size = ToSocketAddress(address, port, &to);
    SOCKET s = socket(to.ss_family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return s;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
        if (connect(s, reinterpret_cast<sockaddr*>(&to), size) == 0) {
            *connected = true;
            return s;
        }
        if (WSAGetLastError() == WSAEWOULDBLOCK) return s;
    }
    closesocket(s);
    return INVALID_SOCKET;
}

}  // namespace

NetStatus Connection::Connect(const HostAddresses& addresses, uint16_t port,
                              const WaitLimit& limit) {
    using Clock = std::chrono::steady_clock;
    Close();
    std::vector<SOCKET> attempts;  // never more than FD_SETSIZE: one per head start
    size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    auto endAttempts = [&] {
        for (SOCKET a : attempts) closesocket(a);
        attempts.clear();
    };
    NetStatus status = WaitInSlices(limit, [&](int sliceMs) {
        // The next address, when the last one started has had its head start, or failed.
        while (next < addresses.size() && attempts.size() < FD_SETSIZE &&
               (attempts.empty() || Clock::now() >= nextStart)) {
            bool connected = false;
            SOCKET s = StartConnecting(addresses[next++], port, &connected);
            if (s == INVALID_SOCKET) continue;
            if (connected) {
                endAttempts();
                socket_ = static_cast<intptr_t>(s);
                return NetStatus::Ok;
            }
            attempts.push_back(s);
            nextStart = Clock::now() + std::chrono::milliseconds(kConnectHeadStartMs);
        }
        if (attempts.empty()) return NetStatus::Failed;  // every address refused
        long long waitMs = sliceMs;
        if (next < addresses.size())
            waitMs = std::max<long long>(
                0, std::min<long long>(waitMs, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   nextStart - Clock::now())
                                                   .count()));
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        for (SOCKET a : attempts) {
            FD_SET(a, &ready);
            FD_SET(a, &failed);
        }
        timeval tv{0, static_cast<long>(waitMs) * 1000};
        int n = select(0, nullptr, &ready, &failed, &tv);
        if (n == SOCKET_ERROR) return NetStatus::Failed;
        for (size_t i = 0; n > 0 && i < attempts.size();) {
            SOCKET a = attempts[i];
            if (FD_ISSET(a, &ready) && !FD_ISSET(a, &failed)) {
                attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
                endAttempts();
                socket_ = static_cast<intptr_t>(a);
                return NetStatus::Ok;
            }
            if (!FD_ISSET(a, &failed)) {
                ++i;
                continue;
            }
            closesocket(a);
            attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
            nextStart = Clock::now();  // a failure lets the next address start at once
        }
        return NetStatus::TimedOut;
    });
    endAttempts();
    return status;
}

NetStatus Connection::SendAll(const char* data, size_t length, const WaitLimit& silence) {
    SOCKET s = static_cast<SOCKET>(socket_);
    size_t sent = 0;
    while (sent < length) {
        if (silence.stop.requested()) return NetStatus::Stopped;
        int chunk = static_cast<int>(std::min<size_t>(length - sent, 1 << 20));
        int n = send(s, data + sent, chunk, 0);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            NetStatus waited = WaitFor(s, Ready::Write, silence);
            if (waited != NetStatus::Ok) return waited;
            continue;
        }
        return NetStatus::Failed;
    }
    return NetStatus::Ok;
}

NetStatus Connection::ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                  const WaitLimit& silence) {
    SOCKET s = static_cast<SOCKET>(socket_);
    int ask = static_cast<int>(std::min<size_t>(capacity, 1 << 20));
    for (;;) {
        if (silence.stop.requested()) return NetStatus::Stopped;
        int n = recv(s, buffer, ask, 0);
        if (n >= 0) {
            *received = static_cast<size_t>(n);
            return NetStatus::Ok;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) return NetStatus::Failed;
        NetStatus waited = WaitFor(s, Ready::Read, silence);
        if (waited != NetStatus::Ok) return waited;
    }
}

}  // namespace qm::platform
