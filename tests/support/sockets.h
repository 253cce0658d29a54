// Loopback sockets for the test harness, the same natively and under Wine.
#pragma once

#ifdef _WIN32
#  include <winsock2.h>
#  include <ws2tcpip.h>
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <netinet/tcp.h>
#  include <sys/select.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

#include <cstdint>
#include <string>

namespace qmtest {

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
inline void CloseSocket(Socket s) { closesocket(s); }
constexpr int kNoSignal = 0;
constexpr int kShutSend = SD_SEND;
#else
using Socket = int;
const Socket kNoSocket = -1;
inline void CloseSocket(Socket s) { close(s); }
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutSend = SHUT_WR;
#endif

// Waits up to `ms` for `s` to become readable, or writable.
inline bool Ready(Socket s, bool toWrite, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, toWrite ? nullptr : &set, toWrite ? &set : nullptr,
                  nullptr, &tv) > 0;
}

// Listens on `address` at a port the system picks, or gives kNoSocket.
inline Socket Listen(const std::string& address, uint16_t* port) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    Socket s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = inet_addr(address.c_str());
    socklen_t size = sizeof at;
    if (s == kNoSocket || bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        listen(s, 64) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
        if (s != kNoSocket) CloseSocket(s);
        return kNoSocket;
    }
    *port = ntohs(at.sin_port);
    return s;
}

}  // namespace qmtest
