// Socket addresses as both systems' BSD socket interfaces spell them. Included by the socket
// file of each system after its own socket headers, which give the types.
#pragma once

#include <cstring>

#include "platform/socket.h"

namespace qm::platform {

// `address` and `port` as a socket address in `to`; returns its size.
inline int ToSocketAddress(const HostAddress& address, uint16_t port, sockaddr_storage* to) {
    *to = sockaddr_storage{};
    if (address.v6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(to);
        in6->sin6_family = AF_INET6;
        std::memcpy(&in6->sin6_addr, address.bytes, 16);
        in6->sin6_port = htons(port);
        return static_cast<int>(sizeof *in6);
    }
    auto* in = reinterpret_cast<sockaddr_in*>(to);
    in->sin_family = AF_INET;
    std::memcpy(&in->sin_addr, address.bytes, 4);
    in->sin_port = htons(port);
    return static_cast<int>(sizeof *in);
}

// Every IPv4 and IPv6 address the system's resolver gives for `name`, in its order. False
// when it gives none.
inline bool LookupAddresses(const char* name, HostAddresses* addresses) {
    addresses->clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) return false;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        HostAddress address;
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            std::memcpy(address.bytes, &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr, 4);
        } else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6)) {
            address.v6 = true;
            std::memcpy(address.bytes, &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr,
                        16);
        } else {
            continue;
        }
        addresses->push_back(address);
    }
    freeaddrinfo(found);
    return !addresses->empty();
}

}  // namespace qm::platform
