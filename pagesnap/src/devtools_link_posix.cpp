#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "devtools_link.h"

namespace pagesnap {

namespace {

// Waits until the socket can be read (or written); false when the deadline passes first.
bool WaitSocket(int fd, bool forWrite, Tick deadline) {
    for (;;) {
        pollfd p{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
        const int ready = poll(&p, 1, static_cast<int>(Remaining(deadline)));
        if (ready >= 0 || errno != EINTR) return ready == 1;
    }
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace

DevToolsLink::DevToolsLink() = default;
DevToolsLink::~DevToolsLink() { Close(); }

void DevToolsLink::Close() {
    if (socket_ != kNone) close(static_cast<int>(socket_));
    socket_ = kNone;
}

bool DevToolsLink::Connect(int port, Tick deadline, std::string* why) {
    Close();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *why = "could not create a socket: " + ErrorText(errno);
        return false;
    }
    socket_ = fd;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        *why = "could not reach the browser's DevTools port: " + ErrorText(errno);
        return false;
    }
    if (!WaitSocket(fd, true, deadline)) {
        *why = "the browser's DevTools port did not answer";
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        *why = "could not reach the browser's DevTools port: " + ErrorText(error);
        return false;
    }
    return true;
}

bool DevToolsLink::SendAll(const std::string& bytes, Tick deadline, std::string* why) {
    const int fd = static_cast<int>(socket_);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!WaitSocket(fd, true, deadline)) {
            *why = "the browser did not take what was sent in time";
            return false;
        }
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) {
            *why = "the DevTools connection broke while sending";
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool DevToolsLink::Receive(char* buffer, std::size_t capacity, Tick deadline, std::size_t* received,
                           std::string* why) {
    const int fd = static_cast<int>(socket_);
    for (;;) {
        if (!WaitSocket(fd, false, deadline)) {
            *why = "the browser did not answer in time";
            return false;
        }
        ssize_t n = recv(fd, buffer, capacity, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) {
            *why = "the DevTools connection broke";
            return false;
        }
        *received = static_cast<std::size_t>(n);
        return true;
    }
}

}  // namespace pagesnap
