#include <winsock2.h>
#include <ws2tcpip.h>

#include "devtools_link.h"
#include "winutil_win32.h"

namespace pagesnap {

void DevToolsLink::Close() {
    if (socket_ != kNone) closesocket(static_cast<SOCKET>(socket_));
    socket_ = kNone;
}

int DevToolsLink::BeginConnect(int port) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return WSAGetLastError();
    socket_ = static_cast<intptr_t>(s);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return WSAGetLastError();
    return 0;
}

int DevToolsLink::ConnectError() const {
    int error = 0;
    int length = sizeof error;
    getsockopt(static_cast<SOCKET>(socket_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
               &length);
    return error;
}

bool DevToolsLink::Wait(bool forWrite, Tick deadline) const {
    const SOCKET s = static_cast<SOCKET>(socket_);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    const uint32_t left = Remaining(deadline);
    timeval timeout = {static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    const int ready = forWrite ? select(0, nullptr, &set, nullptr, &timeout)
                               : select(0, &set, nullptr, nullptr, &timeout);
    return ready == 1;
}

long DevToolsLink::SendSome(const char* data, std::size_t length) {
    const int n = send(static_cast<SOCKET>(socket_), data, static_cast<int>(length), 0);
    if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return n == 0 ? -1 : n;
}

long DevToolsLink::ReceiveSome(char* buffer, std::size_t capacity) {
    const int n = recv(static_cast<SOCKET>(socket_), buffer, static_cast<int>(capacity), 0);
    if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    return n == 0 ? -1 : n;
}

std::string DevToolsLink::ErrorText(int error) { return LastErrorText(static_cast<DWORD>(error)); }

}  // namespace pagesnap
