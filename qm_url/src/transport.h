// The byte stream under the HTTP client: a plain TCP connection, or TLS over one. Both read
// and write the same way, with the same silence limit and stop checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fetch_status.h"
#include "platform/socket.h"
#include "platform/tls.h"

namespace qm {

class Transport {
public:
    Transport();
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Connects to the first of `addresses` that answers at `port` and, when `secure`, runs the
    // TLS handshake for `hostName`, whose certificate must be trusted and be for that name.
    FetchStatus Open(const platform::HostAddresses& addresses, uint16_t port, const char* hostName,
                     bool secure, const WaitLimit& silence);
    platform::NetStatus SendAll(const char* data, size_t length, const WaitLimit& silence);
    platform::NetStatus ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                    const WaitLimit& silence);
    // Once ReceiveSome has given 0 bytes: whether that end is the server's own word. A plain
    // connection has nothing more to tell; over TLS only close_notify says it.
    bool EndConfirmed() const { return !tls_ || tls_->CloseNotified(); }
    void Close();

private:
    platform::Connection connection_;
    std::unique_ptr<platform::TlsChannel> tls_;
};

}  // namespace qm
