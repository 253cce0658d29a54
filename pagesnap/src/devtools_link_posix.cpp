#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "devtools_link.h"

namespace pagesnap {

void DevToolsLink::Close() {
    if (socket_ != kNone) close(static_cast<int>(socket_));
    socket_ = kNone;
}

int DevToolsLink::BeginConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return errno;
    socket_ = fd;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS)
        return errno;
    return 0;
}

int DevToolsLink::ConnectError() const {
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(static_cast<int>(socket_), SOL_SOCKET, SO_ERROR, &error, &length);
    return error;
}

bool DevToolsLink::Wait(bool forWrite, Tick deadline) const {
    for (;;) {
        pollfd p{static_cast<int>(socket_), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
        const int ready = poll(&p, 1, static_cast<int>(Remaining(deadline)));
        if (ready >= 0 || errno != EINTR) return ready == 1;
    }
}

long DevToolsLink::SendSome(const char* data, std::size_t length) {
    const ssize_t n = send(static_cast<int>(socket_), data, length, MSG_NOSIGNAL);
    if (n < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return n == 0 ? -1 : static_cast<long>(n);
}

long DevToolsLink::ReceiveSome(char* buffer, std::size_t capacity) {
    const ssize_t n = recv(static_cast<int>(socket_), buffer, capacity, 0);
    if (n < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return n == 0 ? -1 : static_cast<long>(n);
}

std::string DevToolsLink::ErrorText(int error) { return std::strerror(error); }

}  // namespace pagesnap
