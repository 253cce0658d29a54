#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS  // SCH_CREDENTIALS
#include <winsock2.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/tls.h"

namespace qm::platform {
namespace {

constexpr size_t kReadPiece = 16384 + 2048;  // a TLS record and its framing
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_EXTENDED_ERROR;

// Credentials that let SChannel use TLS 1.2 or newer only, and leave the certificate to us:
// its automatic check has no reasons to tell apart. SCH_CREDENTIALS is the structure that
// knows TLS 1.3; systems older than it get TLS 1.2 through SCHANNEL_CRED.
bool AcquireCredentials(CredHandle* credentials) {
    constexpr DWORD kFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    TLS_PARAMETERS parameters = {};
    parameters.grbitDisabledProtocols =
        SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS current = {};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = kFlags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    if (AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                  nullptr, &current, nullptr, nullptr, credentials,
                                  &expiry) == SEC_E_OK)
        return true;
    SCHANNEL_CRED older = {};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    older.dwFlags = kFlags;
    return AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                     nullptr, &older, nullptr, nullptr, credentials,
                                     &expiry) == SEC_E_OK;
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (const char* p = text; *p; ++p)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return wide;
}

// True when `certificate` names the address `hostName` among its alternative names.
// Some SChannel versions (Wine's) compare an address only with the DNS names.
bool NamesAddress(PCCERT_CONTEXT certificate, const char* hostName) {
    HostAddresses addresses;
    if (!IsAddressLiteral(hostName) || !LookupHostBlocking(hostName, &addresses)) return false;
    const HostAddress& address = addresses.front();
    const DWORD addressSize = address.v6 ? 16 : 4;
    PCERT_EXTENSION extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                          certificate->pCertInfo->rgExtension);
    if (extension == nullptr) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                             &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                entry.IPAddress.cbData == addressSize &&
                std::memcmp(entry.IPAddress.pbData, address.bytes, addressSize) == 0;
    }
    LocalFree(names);
    return found;
}

// The chain up to a root of the system's store, and the name, as a browser checks them.
TlsStatus VerifyServer(CtxtHandle* context, const char* hostName) {
    PCCERT_CONTEXT remote = nullptr;
    if (QueryContextAttributesA(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK ||
        remote == nullptr)
        return TlsStatus::Untrusted;
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    BOOL built = CertGetCertificateChain(nullptr, remote, nullptr, remote->hCertStore, &chainPara,
                                         0, nullptr, &chain);
    bool namesAddress = NamesAddress(remote, hostName);
    CertFreeCertificateContext(remote);
    if (!built || chain == nullptr) return TlsStatus::Untrusted;

    std::wstring name = Widen(hostName);
    HTTPSPolicyCallbackData ssl = {};
    ssl.cbStruct = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = &name[0];
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    BOOL checked = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status);
    CertFreeCertificateChain(chain);
    if (!checked) return TlsStatus::Untrusted;
    switch (status.dwError) {
        case 0: return TlsStatus::Ok;
        case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
            return namesAddress ? TlsStatus::Ok : TlsStatus::WrongHost;
        case static_cast<DWORD>(CERT_E_EXPIRED): return TlsStatus::Expired;
        default: return TlsStatus::Untrusted;
    }
}

}  // namespace

struct TlsChannel::State {
    CredHandle credentials = {};
    CtxtHandle context = {};
    bool haveCredentials = false;
    bool haveContext = false;
    std::string hostName;  // sent for SNI; empty for an address, which SNI cannot carry
    SecPkgContext_StreamSizes sizes = {};
    std::vector<char> incoming;  // received, not yet decrypted
    std::vector<char> plain;     // decrypted, not yet handed out
    size_t plainAt = 0;
    bool peerClosed = false;
    bool closeNotified = false;
    bool emptyRecordLast = false;  // the last record read held no data

    ~State() {
        if (haveContext) DeleteSecurityContext(&context);
        if (haveCredentials) FreeCredentialsHandle(&credentials);
    }
};

TlsChannel::TlsChannel(Connection& connection) : connection_(connection) {}
TlsChannel::~TlsChannel() = default;

namespace {

// Receives more bytes after what `incoming` holds. Ok with *closed set when the peer closed.
NetStatus ReceiveMore(Connection& connection, std::vector<char>& incoming, bool* closed,
                      const WaitLimit& silence) {
    size_t had = incoming.size();
    incoming.resize(had + kReadPiece);
    size_t got = 0;
    NetStatus status = connection.ReceiveSome(incoming.data() + had, kReadPiece, &got, silence);
    incoming.resize(had + (status == NetStatus::Ok ? got : 0));
    if (status == NetStatus::Ok && got == 0) *closed = true;
    return status;
}

// Sends a token SChannel made and frees it.
NetStatus SendToken(Connection& connection, SecBuffer& token, const WaitLimit& silence) {
    NetStatus sent = NetStatus::Ok;
    if (token.pvBuffer != nullptr) {
        if (token.cbBuffer > 0)
            sent = connection.SendAll(static_cast<const char*>(token.pvBuffer), token.cbBuffer,
                                      silence);
        FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
    }
    return sent;
}

// Runs handshake messages until SChannel has what it needs: the whole handshake from the
// start, or messages the server sends later (TLS 1.3 tickets, a key update).
TlsStatus Negotiate(TlsChannel::State& s, Connection& connection, const WaitLimit& silence) {
    bool needInput = !s.haveContext ? false : s.incoming.empty();
    for (;;) {
        if (needInput) {
            bool closed = false;
            NetStatus got = ReceiveMore(connection, s.incoming, &closed, silence);
            if (got != NetStatus::Ok) return FromNet(got);
            if (closed) return TlsStatus::HandshakeFailed;
        }
        SecBuffer in[2] = {};
        in[0].BufferType = SECBUFFER_TOKEN;
        in[0].pvBuffer = s.incoming.data();
        in[0].cbBuffer = static_cast<unsigned long>(s.incoming.size());
        in[1].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {};
        out[0].BufferType = SECBUFFER_TOKEN;
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
        unsigned long attributes = 0;
        SECURITY_STATUS status = InitializeSecurityContextA(
            &s.credentials, s.haveContext ? &s.context : nullptr,
            s.hostName.empty() ? nullptr : &s.hostName[0], kContextFlags, 0, 0,
            s.haveContext ? &inDesc : nullptr, 0, &s.context, &outDesc, &attributes, nullptr);
        s.haveContext = true;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        // A token goes out even with a failure: it tells the server why.
        NetStatus sent = SendToken(connection, out[0], silence);
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
            s.incoming.erase(s.incoming.begin(), s.incoming.end() - in[1].cbBuffer);
        } else if (status != SEC_E_INCOMPLETE_MESSAGE) {
            s.incoming.clear();
        }
        if (sent != NetStatus::Ok) return FromNet(sent);
        if (status == SEC_E_OK) return TlsStatus::Ok;
        if (status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS) {
            needInput = s.incoming.empty();
            continue;
        }
        return TlsStatus::HandshakeFailed;
    }
}

}  // namespace

TlsStatus TlsChannel::Handshake(const char* hostName, const WaitLimit& silence) {
    state_ = std::make_unique<State>();
    State& s = *state_;
    if (!IsAddressLiteral(hostName)) s.hostName = hostName;
    if (!AcquireCredentials(&s.credentials)) return TlsStatus::HandshakeFailed;
    s.haveCredentials = true;
    TlsStatus negotiated = Negotiate(s, connection_, silence);
    if (negotiated != TlsStatus::Ok) return negotiated;

    SecPkgContext_ConnectionInfo info = {};
    if (QueryContextAttributesA(&s.context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK ||
        (info.dwProtocol & (SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1)) != 0)
        return TlsStatus::HandshakeFailed;
    TlsStatus verified = VerifyServer(&s.context, hostName);
    if (verified != TlsStatus::Ok) return verified;
    if (QueryContextAttributesA(&s.context, SECPKG_ATTR_STREAM_SIZES, &s.sizes) != SEC_E_OK)
        return TlsStatus::HandshakeFailed;
    return TlsStatus::Ok;
}

NetStatus TlsChannel::SendAll(const char* data, size_t length, const WaitLimit& silence) {
    State& s = *state_;
    std::vector<char> record(s.sizes.cbHeader + s.sizes.cbMaximumMessage + s.sizes.cbTrailer);
    size_t sent = 0;
    while (sent < length) {
        unsigned long piece =
            static_cast<unsigned long>(std::min<size_t>(length - sent, s.sizes.cbMaximumMessage));
        std::memcpy(record.data() + s.sizes.cbHeader, data + sent, piece);
        SecBuffer buffers[4] = {};
        buffers[0] = {s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
        buffers[1] = {piece, SECBUFFER_DATA, record.data() + s.sizes.cbHeader};
        buffers[2] = {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER,
                      record.data() + s.sizes.cbHeader + piece};
        buffers[3].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&s.context, 0, &desc, 0) != SEC_E_OK) return NetStatus::Failed;
        NetStatus status = connection_.SendAll(
            record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer,
            silence);
        if (status != NetStatus::Ok) return status;
        sent += piece;
    }
    return NetStatus::Ok;
}

NetStatus TlsChannel::ReceiveSome(char* buffer, size_t capacity, size_t* received,
                                  const WaitLimit& silence) {
    State& s = *state_;
    for (;;) {
        if (s.plainAt < s.plain.size()) {
            size_t n = std::min(capacity, s.plain.size() - s.plainAt);
            std::memcpy(buffer, s.plain.data() + s.plainAt, n);
            s.plainAt += n;
            *received = n;
            return NetStatus::Ok;
        }
        s.plain.clear();
        s.plainAt = 0;

        SECURITY_STATUS status = SEC_E_INCOMPLETE_MESSAGE;
        SecBuffer buffers[4] = {};
        if (!s.incoming.empty()) {
            buffers[0] = {static_cast<unsigned long>(s.incoming.size()), SECBUFFER_DATA,
                          s.incoming.data()};
            for (int i = 1; i < 4; ++i) buffers[i].BufferType = SECBUFFER_EMPTY;
            SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
            status = DecryptMessage(&s.context, &desc, 0, nullptr);
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            // A close without TLS's own farewell reads as a close too; CloseNotified
            // tells the HTTP rules that it was not said, for a body only a close can end.
            if (s.peerClosed) {
                s.closeNotified = s.closeNotified || (s.emptyRecordLast && s.incoming.empty());
                *received = 0;
                return NetStatus::Ok;
            }
            NetStatus got = ReceiveMore(connection_, s.incoming, &s.peerClosed, silence);
            if (got != NetStatus::Ok) return got;
            continue;
        }
        if (status == SEC_I_CONTEXT_EXPIRED) {  // the server said it is done
            s.incoming.clear();
            s.peerClosed = true;
            s.closeNotified = true;
            *received = 0;
            return NetStatus::Ok;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return NetStatus::Failed;

        // The buffers point into `incoming`, which is decrypted in place.
        std::vector<char> extra;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
                const char* p = static_cast<const char*>(b.pvBuffer);
                s.plain.assign(p, p + b.cbBuffer);
            } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
                extra.assign(s.incoming.end() - b.cbBuffer, s.incoming.end());
            }
        }
        s.incoming.swap(extra);
        // Some SChannels (Wine's) report the peer's close_notify as a record without data
        // rather than as SEC_I_CONTEXT_EXPIRED. Such a record, authenticated like any other,
        // counts as the farewell only when nothing but the connection's close follows it.
        if (status == SEC_E_OK) s.emptyRecordLast = s.plain.empty() && s.incoming.empty();
        if (status == SEC_I_RENEGOTIATE) {
            // Handshake messages after the handshake: SChannel wants them through the
            // handshake call.
            TlsStatus negotiated = Negotiate(s, connection_, silence);
            if (negotiated == TlsStatus::TimedOut) return NetStatus::TimedOut;
            if (negotiated == TlsStatus::Stopped) return NetStatus::Stopped;
            if (negotiated != TlsStatus::Ok) return NetStatus::Failed;
        }
    }
}

bool TlsChannel::CloseNotified() const { return state_ != nullptr && state_->closeNotified; }

}  // namespace qm::platform
