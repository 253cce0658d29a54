// TCP over IPv6 and IPv4 with waits that end: every wait gives up when its time limit passes
// and notices its call's stop (the StopToken of its WaitLimit) within one wait slice.
// Winsock on Windows, BSD sockets elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/stop_token.h"

namespace qm::platform {

enum class NetStatus {
    Ok,
    Failed,    // refused, reset, unreachable, not found
    TimedOut,  // the time limit passed without progress
    Stopped,   // a stop was requested
};

// An IPv4 address (the first 4 bytes) or an IPv6 one, in network byte order.
struct HostAddress {
    bool v6 = false;
    uint8_t bytes[16] = {};
};
// Every address of a host, in the order they are to be tried.
using HostAddresses = std::vector<HostAddress>;

// How long a connection attempt runs alone before the next address is tried beside it
// (RFC 8305's recommended delay). An attempt that fails lets the next one start at once.
constexpr int kConnectHeadStartMs = 250;

// Keeps the socket library started while it lives (Winsock needs this; POSIX does not).
class NetSession {
public:
    NetSession();
    ~NetSession();
    NetSession(const NetSession&) = delete;
    NetSession& operator=(const NetSession&) = delete;
};

// Looks `name` up with the system's resolver and blocks until it answers: every IPv6 and IPv4
// address, in the order the system prefers. Safe to call on a thread of its own, while the
// caller's NetSession may already have ended.
bool LookupHostBlocking(const char* name, HostAddresses* addresses);
// True when `name` is a dotted IPv4 literal or an IPv6 one (without brackets), which
// resolves at once without asking anyone.
bool IsAddressLiteral(const char* name);

class Connection {
public:
    Connection() = default;
    ~Connection();  // closes the socket
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects to the first of `addresses` that answers, trying them in order: each attempt
    // runs alone for kConnectHeadStartMs, then the next starts beside it (happy eyeballs,
    // RFC 8305). The first connected wins; the others are closed. Failed when every address
    // refused.
    NetStatus Connect(const HostAddresses& addresses, uint16_t port, const WaitLimit& limit);
    // Sends every byte; fails when no byte can be sent for silence.
    NetStatus SendAll(const char* data, size_t length, const WaitLimit& silence);
    // Receives 1 to `capacity` bytes, or 0 when the peer has closed its side; fails when
    // nothing arrives for silence.
    NetStatus ReceiveSome(char* buffer, size_t capacity, size_t* received,
                          const WaitLimit& silence);
    void Close();

private:
    intptr_t socket_ = -1;
};

}  // namespace qm::platform
