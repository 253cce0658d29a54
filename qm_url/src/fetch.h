// Fetching one URL: the request text, the exchange and turning the response into the body.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exchange.h"
#include "qm_url.h"

namespace qm {

constexpr size_t kRequestTextSize = 1024;  // the whole request text and its NUL
constexpr size_t kHostNameSize = 256;      // the host part: 255 characters and a NUL
constexpr size_t kPathSize = 256;          // the path, and the referer copy
constexpr size_t kCookieSize = 1024;       // what the cookie lookup may return
constexpr int32_t kLongestUrl = 1024;      // the most URL characters a request may use

// Splits the URL, writes the request text (NUL-terminated) into `requestText`
// (kRequestTextSize bytes) and the name to resolve into `hostName` (kHostNameSize bytes), and
// stores a port written in the URL into *port (443 for an https URL without one). The scheme
// "http://" or "https://" is recognised in any letter case; *secure (when given) tells
// which. May store the measured referer length into request->refererLength. False when the
// URL cannot be used. The texts the request points at are read without probing.
bool BuildHttpRequest(int* port, UrlRequest* request, char* requestText, char* hostName,
                      bool* secure = nullptr);

// The work of qm_UrlToHtml for a request whose texts may be read as they stand (the crawl's
// own, made from its records), without clearing a stop request. On success `output` starts
// with the body and *outputLength holds its length. A stop request ends it within 100 ms
// with false, leaving `output` and *outputLength as they were.
bool FetchUrl(UrlRequest& request, char* output, int32_t* outputLength,
              int silenceLimitMs = kSilenceLimitMs);

// FetchUrl for a request a caller passed in: what it points at is probed first.
bool FetchCallersRequest(UrlRequest& request, char* output, int32_t* outputLength);

}  // namespace qm
