// TLS on top of a connected Connection: OpenSSL on Linux, SChannel on Windows. The chain and
// the host name are always verified against the system's trust store, with TLS 1.2 or newer
// and the host name sent for SNI. Every wait is the Connection's own, so the silence limit
// and stop requests hold here as they do for plain connections.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/socket.h"

namespace qm::platform {

enum class TlsStatus {
    Ok,
    Failed,           // the connection broke
    TimedOut,         // the silence limit passed
    Stopped,          // a stop was requested
    HandshakeFailed,  // no common protocol, a bad message, or the server gave up
    Untrusted,        // the chain does not end in a trusted authority
    Expired,          // a certificate of the chain is out of its validity period
    WrongHost,        // the certificate is not for the host name asked for
};

// What a wait of the connection under the channel means for the channel.
inline TlsStatus FromNet(NetStatus status) {
    switch (status) {
        case NetStatus::Ok: return TlsStatus::Ok;
        case NetStatus::TimedOut: return TlsStatus::TimedOut;
        case NetStatus::Stopped: return TlsStatus::Stopped;
        case NetStatus::Failed: break;
    }
    return TlsStatus::Failed;
}

class TlsChannel {
public:
    explicit TlsChannel(Connection& connection);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Runs the handshake with `hostName` (a name or a dotted IPv4 address) and verifies the
    // server's certificate for it.
    TlsStatus Handshake(const char* hostName, const WaitLimit& silence);
    NetStatus SendAll(const char* data, size_t length, const WaitLimit& silence);
    // As Connection::ReceiveSome: 0 bytes when the peer has closed, whether or not it said
    // so in TLS first (CloseNotified tells which).
    NetStatus ReceiveSome(char* buffer, size_t capacity, size_t* received,
                          const WaitLimit& silence);
    // True once the peer has ended the stream with TLS close_notify: only then is the end
    // of the data the peer's own and not a cut by the network or someone on the path.
    bool CloseNotified() const;

    struct State;  // each system's own

private:
    Connection& connection_;
    std::unique_ptr<State> state_;
};

}  // namespace qm::platform
