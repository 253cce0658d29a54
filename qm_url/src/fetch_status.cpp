#include "fetch_status.h"

#include <cstdio>

namespace qm {

void DescribeFetchResult(const FetchResult& result, char* text, size_t size) {
    if (size == 0) return;
    const char* plain = nullptr;
    switch (result.status) {
        case FetchStatus::kOk: plain = "saved"; break;
        case FetchStatus::kBadUrl: plain = "unusable URL"; break;
        case FetchStatus::kResolveFailed: plain = "host name not found"; break;
        case FetchStatus::kConnectRefused: plain = "connection refused"; break;
        case FetchStatus::kConnectionFailed: plain = "connection broken"; break;
        case FetchStatus::kTimedOut: plain = "timed out"; break;
        case FetchStatus::kTlsHandshakeFailed: plain = "TLS handshake failed"; break;
        case FetchStatus::kCertificateUntrusted: plain = "certificate not trusted"; break;
        case FetchStatus::kCertificateWrongHost: plain = "certificate not for this host"; break;
        case FetchStatus::kCertificateExpired: plain = "certificate expired"; break;
        case FetchStatus::kNoResponse: plain = "no complete response"; break;
        case FetchStatus::kMalformedResponse: plain = "malformed response"; break;
        case FetchStatus::kHttpStatus:
            std::snprintf(text, size, "HTTP status %d", static_cast<int>(result.httpStatus));
            return;
        case FetchStatus::kTruncated:
            if (result.expected > 0)
                std::snprintf(text, size, "truncated after %lld of %lld bytes",
                              static_cast<long long>(result.received),
                              static_cast<long long>(result.expected));
            else if (result.expected < 0)
                std::snprintf(text, size, "truncated after %lld bytes: closed without TLS close_notify",
                              static_cast<long long>(result.received));
            else
                std::snprintf(text, size, "truncated after %lld bytes",
                              static_cast<long long>(result.received));
            return;
        case FetchStatus::kBadContentLength: plain = "invalid Content-Length"; break;
        case FetchStatus::kUnsupportedCoding: plain = "unsupported content coding"; break;
        case FetchStatus::kDecodingFailed: plain = "decoding failed"; break;
        case FetchStatus::kTooManyRedirects: plain = "too many redirects"; break;
        case FetchStatus::kBadRedirect: plain = "redirect without a usable Location"; break;
        case FetchStatus::kWriteFailed: plain = "file could not be written"; break;
        case FetchStatus::kReadFailed: plain = "file could not be read"; break;
        case FetchStatus::kStopped: plain = "stopped"; break;
        case FetchStatus::kNoMemory: plain = "out of memory"; break;
        case FetchStatus::kItemBudgetReached:
        case FetchStatus::kByteBudgetReached:
            std::snprintf(text, size, "save budget reached: %lld %s",
                          static_cast<long long>(result.budget),
                          result.status == FetchStatus::kItemBudgetReached ? "items" : "bytes");
            return;
        case FetchStatus::kTooLarge:
            std::snprintf(text, size, "larger than the size limit of %lld bytes",
                          static_cast<long long>(result.budget));
            return;
        case FetchStatus::kCut:
            std::snprintf(text, size, "cut at %lld bytes: the body is longer than the buffer",
                          static_cast<long long>(result.received));
            return;
    }
    std::snprintf(text, size, "%s", plain != nullptr ? plain : "failed");
}

}  // namespace qm
