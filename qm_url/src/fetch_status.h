// Why a fetch failed: one small status carried from the socket up to the export boundary,
// where it becomes the reason text a caller's failure callback receives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

enum class FetchStatus : int32_t {
    kOk = 0,
    kBadUrl,                // the URL cannot be used: scheme, length, host or port
    kResolveFailed,         // the host name did not resolve
    kConnectRefused,        // the connection was refused or could not be made
    kConnectionFailed,      // a send or a read failed: the connection broke or was reset
    kTimedOut,              // the silence limit or the total time limit passed
    kTlsHandshakeFailed,    // the TLS handshake failed
    kCertificateUntrusted,  // the certificate chain is not trusted (self-signed, unknown)
    kCertificateWrongHost,  // the certificate is not for this host
    kCertificateExpired,    // the certificate is out of its validity period
    kNoResponse,            // the connection ended before a whole header, or none came
    kMalformedResponse,     // the status line or the chunked framing cannot be read
    kHttpStatus,            // the final response's status is not 2xx (`httpStatus`)
    kTruncated,             // closed after `received` of the `expected` body bytes (-1: a
                            // body running to the close, closed without TLS close_notify)
    kBadContentLength,      // Content-Length unreadable: not digits, too large, or two values
    kUnsupportedCoding,     // a content or transfer coding that was not asked for (br, ...)
    kDecodingFailed,        // a gzip or deflate body does not decode
    kTooManyRedirects,      // more redirects than a crawl follows, or a loop
    kBadRedirect,           // a redirect without a usable Location
    kWriteFailed,           // the item's file could not be written
    kStopped,               // a stop was requested
    kNoMemory,              // a working area could not be had
    kItemBudgetReached,     // the save took as many items as its budget (`budget`) allows
    kByteBudgetReached,     // the save wrote as many bytes as its budget (`budget`) allows
    kTooLarge,              // the body is larger than the size limit (`budget`)
    kCut,                   // the body is longer than the caller's buffer: cut at `received`
    kReadFailed,            // a saved file could not be read
};

// A status with the numbers its text names.
struct FetchResult {
    FetchStatus status = FetchStatus::kOk;
    int32_t httpStatus = 0;  // kHttpStatus: the status code
    int64_t received = 0;    // kTruncated: body bytes that arrived
    int64_t expected = 0;    // kTruncated: body bytes the header announced
    int64_t budget = 0;      // k*BudgetReached: the budget that ran out

    FetchResult() = default;
    FetchResult(FetchStatus s) : status(s) {}  // NOLINT: a bare status is a result
    bool ok() const { return status == FetchStatus::kOk; }
};

inline FetchResult HttpStatusResult(int32_t code) {
    FetchResult r(FetchStatus::kHttpStatus);
    r.httpStatus = code;
    return r;
}

inline FetchResult TruncatedResult(int64_t received, int64_t expected) {
    FetchResult r(FetchStatus::kTruncated);
    r.received = received;
    r.expected = expected;
    return r;
}

inline FetchResult SizeLimitResult(int64_t limit) {
    FetchResult r(FetchStatus::kTooLarge);
    r.budget = limit;
    return r;
}

inline FetchResult CutResult(int64_t at) {
    FetchResult r(FetchStatus::kCut);
    r.received = at;
    return r;
}

inline FetchResult BudgetResult(FetchStatus status, int64_t budget) {
    FetchResult r(status);
    r.budget = budget;
    return r;
}

// The reason as a short English text ("HTTP status 404", "truncated after 5000 of 100000
// bytes"), NUL-terminated in `text` (`size` bytes, at least 1).
void DescribeFetchResult(const FetchResult& result, char* text, size_t size);

}  // namespace qm
