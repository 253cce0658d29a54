#include "transport.h"

namespace qm {
namespace {

FetchStatus FromConnect(platform::NetStatus status) {
    switch (status) {
        case platform::NetStatus::Ok: return FetchStatus::kOk;
        case platform::NetStatus::TimedOut: return FetchStatus::kTimedOut;
        case platform::NetStatus::Stopped: return FetchStatus::kStopped;
        case platform::NetStatus::Failed: break;
    }
    return FetchStatus::kConnectRefused;
}

FetchStatus FromHandshake(platform::TlsStatus status) {
    using platform::TlsStatus;
    switch (status) {
        case TlsStatus::Ok: return FetchStatus::kOk;
        case TlsStatus::Failed: return FetchStatus::kConnectionFailed;
        case TlsStatus::TimedOut: return FetchStatus::kTimedOut;
        case TlsStatus::Stopped: return FetchStatus::kStopped;
        case TlsStatus::HandshakeFailed: return FetchStatus::kTlsHandshakeFailed;
        case TlsStatus::Untrusted: return FetchStatus::kCertificateUntrusted;
        case TlsStatus::Expired: return FetchStatus::kCertificateExpired;
        case TlsStatus::WrongHost: return FetchStatus::kCertificateWrongHost;
    }
    return FetchStatus::kTlsHandshakeFailed;
}

}  // namespace

Transport::Transport() = default;
Transport::~Transport() { Close(); }

FetchStatus Transport::Open(const platform::HostAddresses& addresses, uint16_t port,
                            const char* hostName, bool secure, const WaitLimit& silence) {
    Close();
    FetchStatus connected = FromConnect(connection_.Connect(addresses, port, silence));
    if (connected != FetchStatus::kOk || !secure) return connected;
    tls_ = std::make_unique<platform::TlsChannel>(connection_);
    FetchStatus shaken = FromHandshake(tls_->Handshake(hostName, silence));
    if (shaken != FetchStatus::kOk) Close();
    return shaken;
}

platform::NetStatus Transport::SendAll(const char* data, size_t length, const WaitLimit& silence) {
    return tls_ ? tls_->SendAll(data, length, silence) : connection_.SendAll(data, length, silence);
}

platform::NetStatus Transport::ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                           const WaitLimit& silence) {
    return tls_ ? tls_->ReceiveSome(buffer, capacity, received, silence)
                : connection_.ReceiveSome(buffer, capacity, received, silence);
}

void Transport::Close() {
    tls_.reset();
    connection_.Close();
}

}  // namespace qm
