// TLS in front of a test server, natively and under Wine. The first Get() of a test process
// starts qm_tlsfront (a Linux program, also from under Wine), which makes an authority and the
// server certificates below; the process then trusts that authority: OpenSSL through
// SSL_CERT_FILE, Windows through its root store (removed again when the process ends).
#pragma once

#include <cstdint>
#include <string>

namespace qmtest {

enum class Certificate {
    kValid,        // for 127.0.0.1, from the trusted authority
    kOtherHost,    // from the trusted authority, for another host name only
    kExpired,      // for 127.0.0.1, from the trusted authority, out of its validity period
    kSelfSigned,   // for 127.0.0.1, signed by itself
    kOldProtocol,  // the valid one, but over TLS 1.1 at most
};

class TlsFront {
public:
    // Null (with the reason on stderr) when the front cannot be started or trusted.
    static TlsFront* Get();

    // How a relay ends when the server behind it closes.
    enum class Closing {
        kNotify,         // with TLS close_notify, as a server that means to end does
        kWithoutNotify,  // the TCP connection alone, as a cut on the path looks
    };
    // Relays later connections to 127.0.0.1:`port`.
    bool Route(uint16_t port, Closing closing = Closing::kNotify);
    // "https://127.0.0.1:<port>" + path, served with `certificate`.
    std::string Url(Certificate certificate, const std::string& path = "/") const;

    ~TlsFront();

private:
    TlsFront() = default;
    bool Start();
    bool Trust(const std::string& pem);

    uintptr_t lifeline_ = ~uintptr_t(0);
    uint16_t ports_[5] = {};
    std::string authorityFile_;  // natively: the file SSL_CERT_FILE names
    void* store_ = nullptr;      // on Windows: the root store, and the authority in it
    const void* authority_ = nullptr;
};

}  // namespace qmtest
