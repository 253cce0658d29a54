#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include "platform/tls.h"

namespace qm::platform {
namespace {

// The largest TLS record and its framing: one socket read fills at most one of them.
constexpr size_t kRecordSize = 16384 + 2048;

// One context for the process, made once and never changed: loading the system's trust store
// costs more than a small fetch. OpenSSL reads SSL_CERT_FILE and SSL_CERT_DIR when it loads it.
SSL_CTX* ClientContext() {
    static SSL_CTX* const context = [] {
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        if (made == nullptr) return made;
        SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
        SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_default_verify_paths(made);
        SSL_CTX_set_mode(made, SSL_MODE_AUTO_RETRY);
        return made;
    }();
    return context;
}

TlsStatus FromVerifyResult(long result) {
    switch (result) {
        case X509_V_OK: return TlsStatus::HandshakeFailed;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: return TlsStatus::WrongHost;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID: return TlsStatus::Expired;
        default: return TlsStatus::Untrusted;
    }
}

}  // namespace

// OpenSSL talks to two memory buffers; this side moves their bytes over the connection, so
// that every wait is the connection's own.
struct TlsChannel::State {
    SSL* ssl = nullptr;
    BIO* in = nullptr;   // bytes from the server, for OpenSSL
    BIO* out = nullptr;  // bytes from OpenSSL, for the server
    bool peerClosed = false;
    bool closeNotified = false;
    char record[kRecordSize];

    ~State() {
        if (ssl != nullptr) SSL_free(ssl);  // frees both buffers with it
    }
};

TlsChannel::TlsChannel(Connection& connection) : connection_(connection) {}
TlsChannel::~TlsChannel() = default;

namespace {

NetStatus Flush(Connection& connection, BIO* out, const WaitLimit& silence) {
    char* pending = nullptr;
    long length = BIO_get_mem_data(out, &pending);
    if (length <= 0) return NetStatus::Ok;
    NetStatus sent = connection.SendAll(pending, static_cast<size_t>(length), silence);
    (void)BIO_reset(out);
    return sent;
}

// Feeds what the server sends next to OpenSSL. Ok with *closed set when it has closed.
NetStatus Fill(Connection& connection, BIO* in, char* area, bool* closed,
               const WaitLimit& silence) {
    size_t got = 0;
    NetStatus status = connection.ReceiveSome(area, kRecordSize, &got, silence);
    if (status != NetStatus::Ok) return status;
    if (got == 0) {
        *closed = true;
        return NetStatus::Ok;
    }
    BIO_write(in, area, static_cast<int>(got));
    return NetStatus::Ok;
}

}  // namespace

TlsStatus TlsChannel::Handshake(const char* hostName, const WaitLimit& silence) {
    SSL_CTX* context = ClientContext();
    if (context == nullptr) return TlsStatus::HandshakeFailed;
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.ssl = SSL_new(context);
    if (s.ssl == nullptr) return TlsStatus::HandshakeFailed;
    s.in = BIO_new(BIO_s_mem());
    s.out = BIO_new(BIO_s_mem());
    if (s.in == nullptr || s.out == nullptr) {
        BIO_free(s.in);
        BIO_free(s.out);
        return TlsStatus::HandshakeFailed;
    }
    SSL_set_bio(s.ssl, s.in, s.out);
    SSL_set_connect_state(s.ssl);

    // An address is checked against the certificate's addresses and is not sent for SNI.
    X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
    if (IsAddressLiteral(hostName)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(param, hostName) != 1) return TlsStatus::HandshakeFailed;
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (X509_VERIFY_PARAM_set1_host(param, hostName, 0) != 1 ||
            SSL_set_tlsext_host_name(s.ssl, hostName) != 1)
            return TlsStatus::HandshakeFailed;
    }

    for (;;) {
        ERR_clear_error();
        int result = SSL_do_handshake(s.ssl);
        NetStatus flushed = Flush(connection_, s.out, silence);
        if (result == 1) return FromNet(flushed);
        int error = SSL_get_error(s.ssl, result);
        if (error != SSL_ERROR_WANT_READ) {
            long verified = SSL_get_verify_result(s.ssl);
            ERR_clear_error();
            return FromVerifyResult(verified);
        }
        if (flushed != NetStatus::Ok) return FromNet(flushed);
        bool closed = false;
        NetStatus filled = Fill(connection_, s.in, s.record, &closed, silence);
        if (filled != NetStatus::Ok) return FromNet(filled);
        if (closed) return TlsStatus::HandshakeFailed;
    }
}

NetStatus TlsChannel::SendAll(const char* data, size_t length, const WaitLimit& silence) {
    State& s = *state_;
    size_t sent = 0;
    while (sent < length) {
        int piece = static_cast<int>(std::min<size_t>(length - sent, 1 << 20));
        ERR_clear_error();
        int n = SSL_write(s.ssl, data + sent, piece);
        // Memory buffers take every byte: a write either succeeds or the channel is broken.
        if (n <= 0) return NetStatus::Failed;
        sent += static_cast<size_t>(n);
        NetStatus flushed = Flush(connection_, s.out, silence);
        if (flushed != NetStatus::Ok) return flushed;
    }
    return NetStatus::Ok;
}

NetStatus TlsChannel::ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                  const WaitLimit& silence) {
    State& s = *state_;
    int ask = static_cast<int>(std::min<size_t>(capacity, 1 << 20));
    for (;;) {
        ERR_clear_error();
        int n = SSL_read(s.ssl, buffer, ask);
        if (n > 0) {
            *received = static_cast<size_t>(n);
            return NetStatus::Ok;
        }
        int error = SSL_get_error(s.ssl, n);
        // Key updates and the like want an answer.
        NetStatus flushed = Flush(connection_, s.out, silence);
        if (flushed != NetStatus::Ok) return flushed;
        if (error == SSL_ERROR_ZERO_RETURN) {  // the server said it is done
            s.closeNotified = true;
            *received = 0;
            return NetStatus::Ok;
        }
        if (error != SSL_ERROR_WANT_READ) return NetStatus::Failed;
        // A close without TLS's own farewell reads as a close too; CloseNotified tells the
        // HTTP rules that it was not said, for a body that only a close can end.
        if (s.peerClosed) {
            *received = 0;
            return NetStatus::Ok;
        }
        NetStatus filled = Fill(connection_, s.in, s.record, &s.peerClosed, silence);
        if (filled != NetStatus::Ok) return filled;
    }
}

bool TlsChannel::CloseNotified() const { return state_ != nullptr && state_->closeNotified; }

}  // namespace qm::platform
