#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/connect_race.h"
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

// Connection attempts over Winsock, for RaceToConnect. A select waits for FD_SETSIZE
// sockets at the most; an attempt that fails is reported in its exception set.
struct WinsockAttempts {
    using Socket = SOCKET;

    bool Start(const sockaddr_storage& to, int size, SOCKET* s, bool* connected) {
        *s = socket(to.ss_family, SOCK_STREAM, 0);
        if (*s == INVALID_SOCKET) return false;
        u_long nonBlocking = 1;
        if (ioctlsocket(*s, FIONBIO, &nonBlocking) == 0) {
            if (connect(*s, reinterpret_cast<const sockaddr*>(&to), size) == 0) {
                *connected = true;
                return true;
            }
            if (WSAGetLastError() == WSAEWOULDBLOCK) return true;
        }
        closesocket(*s);
        return false;
    }

    bool Wait(const std::vector<SOCKET>& attempts, int ms, std::vector<Attempt>* outcomes) {
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        for (SOCKET a : attempts) {
            FD_SET(a, &ready);
            FD_SET(a, &failed);
        }
        timeval tv{0, static_cast<long>(ms) * 1000};
        int n = select(0, nullptr, &ready, &failed, &tv);
        if (n == SOCKET_ERROR) return false;
        for (size_t i = 0; n > 0 && i < attempts.size(); ++i) {
            if (FD_ISSET(attempts[i], &failed)) (*outcomes)[i] = Attempt::kFailed;
            else if (FD_ISSET(attempts[i], &ready)) (*outcomes)[i] = Attempt::kConnected;
        }
        return true;
    }

    void Close(SOCKET s) { closesocket(s); }
};

}  // namespace

NetStatus Connection::Connect(const HostAddresses& addresses, uint16_t port,
                              const WaitLimit& limit) {
    Close();
    WinsockAttempts system;
    SOCKET s = INVALID_SOCKET;
    NetStatus status = RaceToConnect(system, addresses, port, limit, FD_SETSIZE, &s);
    if (status == NetStatus::Ok) socket_ = static_cast<intptr_t>(s);
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
        if (n != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK) return NetStatus::Failed;
        NetStatus waited = WaitFor(s, Ready::Write, silence);
        if (waited != NetStatus::Ok) return waited;
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
