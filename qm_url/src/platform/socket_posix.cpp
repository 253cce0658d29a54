#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket.h"
#include "platform/socket_address.h"
#include "platform/wait.h"

namespace qm::platform {
namespace {

// Waits for `events` on fd until the limit passes or a stop is requested.
NetStatus WaitFor(int fd, short events, const WaitLimit& limit) {
    return WaitInSlices(limit, [&](int sliceMs) {
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
    in6_addr ignored;
    return inet_pton(AF_INET, name, &ignored) == 1 || inet_pton(AF_INET6, name, &ignored) == 1;
}

bool LookupHostBlocking(const char* name, HostAddresses* addresses) {
    return LookupAddresses(name, addresses);
}

Connection::~Connection() { Close(); }

void Connection::Close() {
    if (socket_ >= 0) close(static_cast<int>(socket_));
    socket_ = -1;
}

namespace {

// Starts a connection to `address` without waiting: the socket, or -1 when it failed at
// once. *connected tells that it needs no wait.
int StartConnecting(const HostAddress& address, uint16_t port, bool* connected) {
    *connected = false;
    sockaddr_storage to;
    const int size = ToSocketAddress(address, port, &to);
    int fd = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), size) == 0) {
        *connected = true;
        return fd;
    }
    if (errno == EINPROGRESS || errno == EINTR) return fd;
    close(fd);
    return -1;
}

}  // namespace

NetStatus Connection::Connect(const HostAddresses& addresses, uint16_t port,
                              const WaitLimit& limit) {
    using Clock = std::chrono::steady_clock;
    Close();
    std::vector<pollfd> attempts;
    size_t next = 0;
    Clock::time_point nextStart = Clock::now();
    auto endAttempts = [&] {
        for (const pollfd& a : attempts) close(a.fd);
        attempts.clear();
    };
    NetStatus status = WaitInSlices(limit, [&](int sliceMs) {
        // The next address, when the last one started has had its head start, or failed.
        while (next < addresses.size() && (attempts.empty() || Clock::now() >= nextStart)) {
            bool connected = false;
            int fd = StartConnecting(addresses[next++], port, &connected);
            if (fd < 0) continue;
            if (connected) {
                endAttempts();
                socket_ = fd;
                return NetStatus::Ok;
            }
            attempts.push_back(pollfd{fd, POLLOUT, 0});
            nextStart = Clock::now() + std::chrono::milliseconds(kConnectHeadStartMs);
        }
        if (attempts.empty()) return NetStatus::Failed;  // every address refused
        int waitMs = sliceMs;
        if (next < addresses.size()) {
            auto untilNext = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 nextStart - Clock::now()).count();
            waitMs = static_cast<int>(std::max<long long>(0, std::min<long long>(waitMs, untilNext)));
        }
        for (pollfd& a : attempts) a.revents = 0;
        int n = poll(attempts.data(), attempts.size(), waitMs);
        if (n < 0 && errno != EINTR) return NetStatus::Failed;
        for (size_t i = 0; n > 0 && i < attempts.size();) {
            if (attempts[i].revents == 0) {
                ++i;
                continue;
            }
            int error = 0;
            socklen_t size = sizeof error;
            int fd = attempts[i].fd;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
                attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
                endAttempts();
                socket_ = fd;
                return NetStatus::Ok;
            }
            close(fd);
            attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
            nextStart = Clock::now();  // a failure lets the next address start at once
        }
        return NetStatus::TimedOut;
    });
    endAttempts();
    return status;
}

NetStatus Connection::SendAll(const char* data, size_t length, const WaitLimit& silence) {
    size_t sent = 0;
    while (sent < length) {
        if (silence.stop.requested()) return NetStatus::Stopped;
        ssize_t n = send(static_cast<int>(socket_), data + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && WouldBlock(errno)) {
            NetStatus waited = WaitFor(static_cast<int>(socket_), POLLOUT, silence);
            if (waited != NetStatus::Ok) return waited;
            continue;
        }
        return NetStatus::Failed;
    }
    return NetStatus::Ok;
}

NetStatus Connection::ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                  const WaitLimit& silence) {
    for (;;) {
        if (silence.stop.requested()) return NetStatus::Stopped;
        ssize_t n = recv(static_cast<int>(socket_), buffer, capacity, 0);
        if (n >= 0) {
            *received = static_cast<size_t>(n);
            return NetStatus::Ok;
        }
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) return NetStatus::Failed;
        NetStatus waited = WaitFor(static_cast<int>(socket_), POLLIN, silence);
        if (waited != NetStatus::Ok) return waited;
    }
}

}  // namespace qm::platform
