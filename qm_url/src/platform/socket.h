// TCP over IPv4 with waits that end: every wait gives up when its time limit passes and
// notices a stop request (qm::StopRequested) within one wait slice.
// Winsock on Windows, BSD sockets elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::platform {

enum class NetStatus {
    Ok,
    Failed,    // refused, reset, unreachable, not found
    TimedOut,  // the time limit passed without progress
    Stopped,   // a stop was requested
};

// An IPv4 address, in network byte order.
struct HostAddress {
    uint8_t bytes[4] = {};
};

// Keeps the socket library started while it lives (Winsock needs this; POSIX does not).
class NetSession {
public:
    NetSession();
    ~NetSession();
    NetSession(const NetSession&) = delete;
    NetSession& operator=(const NetSession&) = delete;
};

// Looks `name` up with the system's resolver and blocks until it answers. Safe to call on a
// thread of its own, while the caller's NetSession may already have ended.
bool LookupHostBlocking(const char* name, HostAddress* address);
// True when `name` is a dotted IPv4 literal, which resolves at once without asking anyone.
bool IsAddressLiteral(const char* name);

class Connection {
public:
    Connection() = default;
    ~Connection();  // closes the socket
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    NetStatus Connect(const HostAddress& address, uint16_t port, int timeLimitMs);
    // Sends every byte; fails when no byte can be sent for silenceLimitMs.
    NetStatus SendAll(const char* data, size_t length, int silenceLimitMs);
    // Receives 1 to `capacity` bytes, or 0 when the peer has closed its side; fails when
    // nothing arrives for silenceLimitMs.
    NetStatus ReceiveSome(char* buffer, size_t capacity, size_t* received, int silenceLimitMs);
    void Close();

private:
    intptr_t socket_ = -1;
};

}  // namespace qm::platform
