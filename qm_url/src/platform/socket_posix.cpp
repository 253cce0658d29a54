#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket.h"
#include "platform/wait.h"
#include "stop.h"

namespace qm::platform {
namespace {

// Waits for `events` on fd until the limit passes or a stop is requested.
NetStatus WaitFor(int fd, short events, int limitMs) {
    return WaitInSlices(limitMs, [&](int sliceMs) {
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, sliceMs);
        if (n > 0) return NetStatus::Ok;  // ready, or an error the next call will report
        if (n < 0 && errno != EINTR) return NetStatus::Failed;
        return NetStatus::TimedOut;
    });
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

NetSession::NetSession() = default;
NetSession::~NetSession() = default;

bool IsAddressLiteral(const char* name) {
    in_addr ignored;
    return inet_pton(AF_INET, name, &ignored) == 1;
}

bool LookupHostBlocking(const char* name, HostAddress* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    bool ok = false;
    if (found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in)) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        std::memcpy(address->bytes, &in->sin_addr, 4);
        ok = true;
    }
    freeaddrinfo(found);
    return ok;
}

Connection::~Connection() { Close(); }

void Connection::Close() {
    if (socket_ >= 0) close(static_cast<int>(socket_));
    socket_ = -1;
}

NetStatus Connection::Connect(const HostAddress& address, uint16_t port, int timeLimitMs) {
    Close();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return NetStatus::Failed;
    socket_ = fd;
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return NetStatus::Failed;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, address.bytes, 4);
    to.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return NetStatus::Ok;
    if (errno != EINPROGRESS && errno != EINTR) return NetStatus::Failed;

    NetStatus waited = WaitFor(fd, POLLOUT, timeLimitMs);
    if (waited != NetStatus::Ok) return waited;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return NetStatus::Failed;
    return NetStatus::Ok;
}

NetStatus Connection::SendAll(const char* data, size_t length, int silenceLimitMs) {
    size_t sent = 0;
    while (sent < length) {
        if (StopRequested()) return NetStatus::Stopped;
        ssize_t n = send(static_cast<int>(socket_), data + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && WouldBlock(errno)) {
            NetStatus waited = WaitFor(static_cast<int>(socket_), POLLOUT, silenceLimitMs);
            if (waited != NetStatus::Ok) return waited;
            continue;
        }
        return NetStatus::Failed;
    }
    return NetStatus::Ok;
}

NetStatus Connection::ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                  int silenceLimitMs) {
    for (;;) {
        if (StopRequested()) return NetStatus::Stopped;
        ssize_t n = recv(static_cast<int>(socket_), buffer, capacity, 0);
        if (n >= 0) {
            *received = static_cast<size_t>(n);
            return NetStatus::Ok;
        }
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) return NetStatus::Failed;
        NetStatus waited = WaitFor(static_cast<int>(socket_), POLLIN, silenceLimitMs);
        if (waited != NetStatus::Ok) return waited;
    }
}

}  // namespace qm::platform
