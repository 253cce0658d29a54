#include <winsock2.h>
#include <ws2tcpip.h>

#include "devtools_link.h"
#include "winutil_win32.h"

namespace pagesnap {

namespace {

// Waits until the socket can be read (or written); false when the deadline passes first.
bool WaitSocket(SOCKET s, bool forWrite, Tick deadline) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    const uint32_t left = Remaining(deadline);
    timeval timeout = {static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    const int ready = forWrite ? select(0, nullptr, &set, nullptr, &timeout)
                               : select(0, &set, nullptr, nullptr, &timeout);
    return ready == 1;
}

}  // namespace

DevToolsLink::DevToolsLink() = default;
DevToolsLink::~DevToolsLink() { Close(); }

void DevToolsLink::Close() {
    if (socket_ != kNone) closesocket(static_cast<SOCKET>(socket_));
    socket_ = kNone;
}

bool DevToolsLink::Connect(int port, Tick deadline, std::string* why) {
    Close();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *why = "could not create a socket: " + LastErrorText(WSAGetLastError());
        return false;
    }
    socket_ = static_cast<intptr_t>(s);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        *why = "could not reach the browser's DevTools port: " + LastErrorText(WSAGetLastError());
        return false;
    }
    if (!WaitSocket(s, true, deadline)) {
        *why = "the browser's DevTools port did not answer";
        return false;
    }
    int error = 0;
    int length = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    if (error != 0) {
        *why = "could not reach the browser's DevTools port: " + LastErrorText(error);
        return false;
    }
    return true;
}

bool DevToolsLink::SendAll(const std::string& bytes, Tick deadline, std::string* why) {
    const SOCKET s = static_cast<SOCKET>(socket_);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!WaitSocket(s, true, deadline)) {
            *why = "the browser did not take what was sent in time";
            return false;
        }
        int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
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
    const SOCKET s = static_cast<SOCKET>(socket_);
    if (!WaitSocket(s, false, deadline)) {
        *why = "the browser did not answer in time";
        return false;
    }
    int n = recv(s, buffer, static_cast<int>(capacity), 0);
    if (n <= 0) {
        *why = "the DevTools connection broke";
        return false;
    }
    *received = static_cast<std::size_t>(n);
    return true;
}

}  // namespace pagesnap
