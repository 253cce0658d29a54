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

// Listens on `address` (IPv4, or IPv6 when it has a colon) at *port, or at a port the system
// picks when *port is 0, and stores the port; kNoSocket when it cannot. `backlog` 0 with one
// connection waiting makes an address that takes no more: their attempts go unanswered.
inline Socket Listen(const std::string& address, uint16_t* port, int backlog = 64) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    const bool v6 = address.find(':') != std::string::npos;
    Socket s = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage at{};
    socklen_t size = 0;
    if (v6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&at);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(*port);
        inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
        size = sizeof *in6;
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&at);
        in->sin_family = AF_INET;
        in->sin_port = htons(*port);
        in->sin_addr.s_addr = inet_addr(address.c_str());
        size = sizeof *in;
    }
#ifndef _WIN32
    // A port asked for again while an earlier connection to it waits out its close.
    int on = 1;
    if (s != kNoSocket && *port != 0) setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    if (s == kNoSocket || bind(s, reinterpret_cast<sockaddr*>(&at), size) != 0 ||
        listen(s, backlog) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
        if (s != kNoSocket) CloseSocket(s);
        return kNoSocket;
    }
    *port = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&at)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&at)->sin_port);
    return s;
}

}  // namespace qmtest
