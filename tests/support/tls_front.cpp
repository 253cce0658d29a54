#include "tls_front.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "sockets.h"

#ifdef _WIN32
#  include <windows.h>
#  include <wincrypt.h>
#else
#  include <csignal>
#  include <spawn.h>
#  include <sys/wait.h>
extern char** environ;
#endif

namespace qmtest {
namespace {

#ifndef _WIN32
pid_t g_child = -1;
#endif

constexpr uintptr_t kNone = ~uintptr_t(0);
// Making two RSA keys takes a while on a loaded machine, the more so from under Wine.
constexpr int kStartLimitMs = 60000;

bool ReadUntil(uintptr_t s, const char* end, std::string* text, int limitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (text->find(end) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 ||
            !Ready(static_cast<Socket>(s), false, static_cast<int>(left.count())))
            return false;
        char buffer[4096];
        int n = recv(static_cast<Socket>(s), buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        text->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

bool StartProgram(uint16_t lifelinePort) {
    const std::string port = std::to_string(lifelinePort);
#ifdef _WIN32
    // Wine starts a Linux program by its path on drive Z:, but gives no handle to wait on:
    // the lifeline ends it.
    std::string path = std::string("Z:") + QM_TLSFRONT_PATH;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::string line = "qm_tlsfront " + port;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return true;
#else
    const char* argv[] = {"qm_tlsfront", port.c_str(), nullptr};
    return posix_spawn(&g_child, QM_TLSFRONT_PATH, nullptr, nullptr, const_cast<char* const*>(argv),
                       environ) == 0;
#endif
}

}  // namespace

TlsFront* TlsFront::Get() {
    static std::unique_ptr<TlsFront> front = [] {
        std::unique_ptr<TlsFront> made(new TlsFront());
        return made->Start() ? std::move(made) : nullptr;
    }();
    return front.get();
}

bool TlsFront::Start() {
    uint16_t port = 0;
    Socket listener = Listen("127.0.0.1", &port);
    const char* why = nullptr;
    if (listener == kNoSocket) why = "no lifeline socket";
    else if (!StartProgram(port)) why = "qm_tlsfront did not start";
    else if (!Ready(listener, false, kStartLimitMs)) why = "qm_tlsfront did not call";
    else lifeline_ = static_cast<uintptr_t>(accept(listener, nullptr, nullptr));
    if (listener != kNoSocket) CloseSocket(listener);

    // Its ports, then the authority in PEM.
    std::string hello;
    unsigned p[5] = {};
    if (why == nullptr &&
        (lifeline_ == kNone ||
         !ReadUntil(lifeline_, "-----END CERTIFICATE-----\n", &hello, kStartLimitMs) ||
         hello.find("-----BEGIN") == std::string::npos ||
         std::sscanf(hello.c_str(), "%u %u %u %u %u", &p[0], &p[1], &p[2], &p[3], &p[4]) != 5))
        why = "no ports and authority from qm_tlsfront";
    if (why == nullptr && !Trust(hello.substr(hello.find("-----BEGIN"))))
        why = "the authority could not be trusted";
    if (why != nullptr) {
        std::fprintf(stderr, "TLS front: %s\n", why);
        return false;
    }
    for (int i = 0; i < 5; ++i) ports_[i] = static_cast<uint16_t>(p[i]);
    return true;
}

bool TlsFront::Route(uint16_t port, Closing closing) {
    std::string command = "route " + std::to_string(port) +
                          (closing == Closing::kWithoutNotify ? " bare" : "") + "\n",
                answer;
    return send(static_cast<Socket>(lifeline_), command.data(), static_cast<int>(command.size()),
                0) == static_cast<int>(command.size()) &&
           ReadUntil(lifeline_, "\n", &answer, 10000) && answer == "ok\n";
}

std::string TlsFront::Url(Certificate certificate, const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(ports_[static_cast<int>(certificate)]) + path;
}

#ifdef _WIN32

bool TlsFront::Trust(const std::string& pem) {
    std::string der(16384, '\0');
    DWORD size = static_cast<DWORD>(der.size());
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr))
        return false;
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
    if (store == nullptr) return false;
    store_ = store;
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                          reinterpret_cast<const BYTE*>(der.data()), size,
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added))
        return false;
    authority_ = added;
    return true;
}

TlsFront::~TlsFront() {
    if (authority_ != nullptr)
        CertDeleteCertificateFromStore(static_cast<PCCERT_CONTEXT>(authority_));
    if (store_ != nullptr) CertCloseStore(static_cast<HCERTSTORE>(store_), 0);
    if (lifeline_ != kNone) CloseSocket(static_cast<Socket>(lifeline_));
}

#else

bool TlsFront::Trust(const std::string& pem) {
    const char* tmp = std::getenv("TMPDIR");
    authorityFile_ = std::string(tmp != nullptr ? tmp : "/tmp") + "/qm-test-authority-" +
                     std::to_string(getpid()) + ".pem";
    FILE* f = std::fopen(authorityFile_.c_str(), "wb");
    if (f == nullptr) return false;
    bool written = std::fwrite(pem.data(), 1, pem.size(), f) == pem.size();
    written = std::fclose(f) == 0 && written;
    return written && setenv("SSL_CERT_FILE", authorityFile_.c_str(), 1) == 0;
}

TlsFront::~TlsFront() {
    if (!authorityFile_.empty()) std::remove(authorityFile_.c_str());
    if (lifeline_ != kNone) CloseSocket(static_cast<Socket>(lifeline_));
    if (g_child > 0) {
        kill(g_child, SIGKILL);
        waitpid(g_child, nullptr, 0);
    }
}

#endif

}  // namespace qmtest
