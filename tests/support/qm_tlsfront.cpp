// qm_tlsfront LIFELINE_PORT: TLS in front of a plain test server, a Linux program that tests
// start natively and from under Wine. It makes an authority and the server certificates,
// listens once per certificate, connects to the lifeline port and says there
// "<valid> <other-host> <expired> <self-signed> <old-protocol>\n" and the authority in PEM;
// then "route <port>\n" (answered "ok\n") sends later connections to 127.0.0.1:<port>, and
// "route <port> bare\n" does the same but ends them without close_notify.
// It ends when the lifeline closes (Wine cannot wait for a Linux process), or after ten minutes.
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "sockets.h"

namespace {

constexpr int kLifetimeSeconds = 600;
constexpr int kIdleMs = 60000;
constexpr long kDay = 24 * 3600;

std::atomic<int> g_backendPort{0};
std::atomic<bool> g_bareClose{false};

void Fail(const char* what) {
    std::fprintf(stderr, "qm_tlsfront: %s\n", what);
    std::exit(1);
}

// Keeps nothing Wine or the test handed down: whoever reads our parent's output must not
// wait for us.
void Detach() {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr || X509_add_ext(cert, ext, -1) != 1) Fail("extension");
    X509_EXTENSION_free(ext);
}

// A certificate for `key`, signed by `issuerKey` (itself when `issuer` is null).
X509* MakeCertificate(EVP_PKEY* key, const char* name, X509* issuer, EVP_PKEY* issuerKey,
                      long notBefore, long notAfter, const char* altNames, bool authority) {
    static long serial = 1000;
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial + (long)getpid() * 16);
    X509_gmtime_adj(X509_getm_notBefore(cert), notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert), notAfter);
    X509_set_pubkey(cert, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    AddExtension(cert, signer, NID_subject_key_identifier, "hash");
    if (authority) {
        AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert, signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        AddExtension(cert, signer, NID_ext_key_usage, "serverAuth");
        AddExtension(cert, signer, NID_subject_alt_name, altNames);
    }
    if (issuer != nullptr) AddExtension(cert, signer, NID_authority_key_identifier, "keyid");
    if (X509_sign(cert, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) Fail("signing");
    return cert;
}

int ConnectLoopback(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return s;
    if (s >= 0) close(s);
    return -1;
}

bool SendText(int s, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = send(s, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Relays one TLS connection to the backend until either side ends. The backend's orderly
// close becomes TLS's own close (or, routed bare, a TCP close alone); its reset becomes a reset.
void Relay(SSL_CTX* ctx, int client, bool bare) {
    timeval limit{10, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, client);
    int backend = -1;
    if (SSL_accept(ssl) == 1) backend = ConnectLoopback(g_backendPort.load());
    bool reset = false, orderly = false;
    char buffer[16384];
    while (backend >= 0) {
        if (SSL_pending(ssl) == 0) {
            pollfd p[2] = {{client, POLLIN, 0}, {backend, POLLIN, 0}};
            if (poll(p, 2, kIdleMs) <= 0) break;
            if (p[1].revents != 0) {
                ssize_t n = recv(backend, buffer, sizeof buffer, 0);
                orderly = n == 0;
                reset = n < 0;
                if (n <= 0) break;
                if (SSL_write(ssl, buffer, static_cast<int>(n)) != n) break;
                continue;
            }
        }
        int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) break;
        if (!SendText(backend, std::string(buffer, static_cast<size_t>(n)))) break;
    }
    if (orderly && !bare) SSL_shutdown(ssl);
    if (backend >= 0) close(backend);
    SSL_free(ssl);
    if (reset) {
        linger hard{1, 0};  // the client sees the reset the backend gave
        setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close(client);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) Fail("usage: qm_tlsfront LIFELINE_PORT");
    Detach();
    alarm(kLifetimeSeconds);
    // A client that hangs up while a relay still writes to it ends that relay, not us.
    signal(SIGPIPE, SIG_IGN);

    EVP_PKEY* authorityKey = EVP_RSA_gen(2048);
    EVP_PKEY* serverKey = EVP_RSA_gen(2048);
    if (authorityKey == nullptr || serverKey == nullptr) Fail("keys");
    X509* authority = MakeCertificate(authorityKey, "Quillon test authority", nullptr, nullptr,
                                      -kDay, 30 * kDay, nullptr, true);
    const char* here = "IP:127.0.0.1,DNS:quillon.test";
    X509* valid =
        MakeCertificate(serverKey, "127.0.0.1", authority, authorityKey, -kDay, kDay, here, false);
    X509* otherHost = MakeCertificate(serverKey, "other.example", authority, authorityKey, -kDay,
                                      kDay, "DNS:other.example", false);
    X509* expired = MakeCertificate(serverKey, "127.0.0.1", authority, authorityKey, -3 * kDay,
                                    -2 * kDay, here, false);
    X509* selfSigned =
        MakeCertificate(serverKey, "127.0.0.1", nullptr, nullptr, -kDay, kDay, here, false);

    constexpr int kPorts = 5;
    X509* certificates[kPorts] = {valid, otherHost, expired, selfSigned, valid};
    SSL_CTX* contexts[kPorts];
    for (int i = 0; i < kPorts; ++i) {
        contexts[i] = SSL_CTX_new(TLS_server_method());
        if (contexts[i] == nullptr || SSL_CTX_use_certificate(contexts[i], certificates[i]) != 1 ||
            SSL_CTX_use_PrivateKey(contexts[i], serverKey) != 1)
            Fail("server context");
    }
    SSL_CTX* old = contexts[kPorts - 1];
    SSL_CTX_set_security_level(old, 0);
    SSL_CTX_set_cipher_list(old, "DEFAULT:@SECLEVEL=0");
    SSL_CTX_set_min_proto_version(old, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(old, TLS1_1_VERSION);
    int listeners[kPorts];
    std::string hello;
    for (int i = 0; i < kPorts; ++i) {
        uint16_t port = 0;
        listeners[i] = qmtest::Listen("127.0.0.1", &port);
        if (listeners[i] < 0) Fail("listen");
        hello += std::to_string(port) + (i < kPorts - 1 ? " " : "\n");
    }
    BIO* pem = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(pem, authority);
    char* pemText = nullptr;
    long pemLength = BIO_get_mem_data(pem, &pemText);
    hello.append(pemText, static_cast<size_t>(pemLength));

    int lifeline = ConnectLoopback(std::atoi(argv[1]));
    if (lifeline < 0 || !SendText(lifeline, hello)) Fail("lifeline");

    std::string commands;
    for (;;) {
        pollfd p[kPorts + 1];
        p[0] = {lifeline, POLLIN, 0};
        for (int i = 0; i < kPorts; ++i) p[i + 1] = {listeners[i], POLLIN, 0};
        if (poll(p, kPorts + 1, -1) < 0) continue;
        if (p[0].revents != 0) {
            char buffer[256];
            ssize_t n = recv(lifeline, buffer, sizeof buffer, 0);
            if (n <= 0) return 0;  // the test has ended
            commands.append(buffer, static_cast<size_t>(n));
            size_t end;
            while ((end = commands.find('\n')) != std::string::npos) {
                int port = 0;
                if (std::sscanf(commands.c_str(), "route %d", &port) == 1) {
                    g_bareClose = commands.compare(0, end, "route " + std::to_string(port) +
                                                               " bare") == 0;
                    g_backendPort = port;
                    SendText(lifeline, "ok\n");
                }
                commands.erase(0, end + 1);
            }
        }
        for (int i = 0; i < kPorts; ++i) {
            if (p[i + 1].revents == 0) continue;
            int client = accept(listeners[i], nullptr, nullptr);
            if (client >= 0) std::thread(Relay, contexts[i], client, g_bareClose.load()).detach();
        }
    }
}
