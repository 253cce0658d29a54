#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/connect_race.h"
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

// Connection attempts over BSD sockets, for RaceToConnect.
struct PosixAttempts {
    using Socket = int;

    bool Start(const sockaddr_storage& to, int size, int* fd, bool* connected) {
        *fd = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (*fd < 0) return false;
        if (connect(*fd, reinterpret_cast<const sockaddr*>(&to), size) == 0) {
            *connected = true;
            return true;
        }
        if (errno == EINPROGRESS || errno == EINTR) return true;
        close(*fd);
        return false;
    }

    bool Wait(const std::vector<int>& attempts, int ms, std::vector<Attempt>* outcomes) {
        polls.clear();
        for (int fd : attempts) polls.push_back(pollfd{fd, POLLOUT, 0});
        int n = poll(polls.data(), polls.size(), ms);
        if (n < 0) return errno == EINTR;
        for (size_t i = 0; n > 0 && i < polls.size(); ++i) {
            if (polls[i].revents == 0) continue;
            int error = 0;
            socklen_t size = sizeof error;
            bool ok =
                getsockopt(polls[i].fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
            (*outcomes)[i] = ok ? Attempt::kConnected : Attempt::kFailed;
        }
        return true;
    }

    void Close(int fd) { close(fd); }

    std::vector<pollfd> polls;
};

}  // namespace

NetStatus Connection::Connect(const HostAddresses& addresses, uint16_t port,
                              const WaitLimit& limit) {
    Close();
    PosixAttempts system;
    int fd = -1;
    NetStatus status = RaceToConnect(system, addresses, port, limit, addresses.size(), &fd);
    if (status == NetStatus::Ok) socket_ = fd;
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
        if (n == 0 || !WouldBlock(errno)) return NetStatus::Failed;
        NetStatus waited = WaitFor(static_cast<int>(socket_), POLLOUT, silence);
        if (waited != NetStatus::Ok) return waited;
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
