// Fetching one URL: the request text, the exchange and turning the response into the body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "body_sink.h"
#include "exchange.h"
#include "fetch_status.h"
#include "qm_url.h"
#include "request_sizes.h"

namespace qm {

class CookieJar;
class ConnectionPool;
class WebArchive;

// Splits the URL, writes the request text (NUL-terminated) into `requestText`
// (kRequestTextSize bytes) and the name to resolve into `hostName` (kHostNameSize bytes), and
// stores a port written in the URL into *port (443 for an https URL without one). The scheme
// "http://" or "https://" is recognised in any letter case; *secure (when given) tells
// which. May store the measured referer length into request->refererLength. False when the
// URL cannot be used. The texts the request points at are read without probing. The Cookie
// line carries the system store's cookies and those of `jar` (when given) for the URL. With
// an `ifModifiedSince` date (as HttpDate writes it) the request asks for the body only when
// it changed since then: a 304 answer comes back as kHttpStatus.
bool BuildHttpRequest(int* port, UrlRequest* request, char* requestText, char* hostName,
                      bool* secure = nullptr, const CookieJar* jar = nullptr,
                      const char* ifModifiedSince = nullptr);

// What a fetch asks of the response and learns of it: the body only if it changed since
// `ifModifiedSince` (HttpDate's form; empty: whatever the date), and the final response's
// Last-Modified date and Content-Type.
struct ResponseFacts {
    std::string ifModifiedSince;
    int64_t lastModified = -1;  // seconds since 1970; -1 when none was given
    std::string contentType;    // as it came; empty when none was given
};

// One request and its response (no redirect followed) into `response`, its body decoded
// into `body`, for a request whose texts may be read as they stand. A redirect response is
// complete at its header with RedirectPolicy::kFollow. With a `jar`, the request carries its
// cookies for the URL, and the response's Set-Cookie fields go into it. With an `archive`,
// the exchange is recorded there as it went, failed or not.
// With `facts`, the request carries its condition, and what the response says goes into it.
FetchResult FetchOnce(UrlRequest& request, RedirectPolicy policy, const FetchLimits& limits,
                      Response* response, BodySink* body, ConnectionPool* pool = nullptr,
                      CookieJar* jar = nullptr, WebArchive* archive = nullptr,
                      ResponseFacts* facts = nullptr);

// The work of qm_UrlToHtml for a request whose texts may be read as they stand (the crawl's
// own, made from its records). On success `output` starts with the body and *outputLength
// holds its length; a 3xx response is returned as it came. A body longer than
// FETCH_BUFFER_SIZE gives kCut, with its first FETCH_BUFFER_SIZE bytes in `output`. On
// failure (the limits' stop too, which ends it within 100 ms) `output` and *outputLength are
// left as they were.
FetchResult FetchUrl(UrlRequest& request, char* output, int32_t* outputLength,
                     const FetchLimits& limits, CookieJar* jar = nullptr);

// The most redirects one fetch follows.
constexpr int kMostRedirects = MOST_REDIRECTS;

// FetchUrl following 301, 302, 303, 307 and 308 redirects, at most kMostRedirects of them,
// each Location resolved against the URL it answered. Every hop is one FetchOnce with the
// same request but its URL, and the cookies of `jar` (which may be null). `finalUrl` receives
// the URL whose response is the body.
FetchResult FetchFollowing(const UrlRequest& request, char* output, int32_t* outputLength,
                           char (&finalUrl)[URL_TEXT_SIZE], const FetchLimits& limits,
                           CookieJar* jar = nullptr);
// The same into `body`, over the connections of `pool` (which may be null), each hop recorded
// in `archive` when there is one, and asked with the `facts` condition when that is given.
FetchResult FetchFollowing(const UrlRequest& request, BodySink* body,
                           char (&finalUrl)[URL_TEXT_SIZE], ConnectionPool* pool,
                           const FetchLimits& limits, CookieJar* jar = nullptr,
                           WebArchive* archive = nullptr, ResponseFacts* facts = nullptr);

// A body fetched into memory with `result`, as far as the caller's buffer holds it, copied
// to `output`: kCut, with the first FETCH_BUFFER_SIZE bytes, for a longer one. A failure
// copies nothing.
FetchResult IntoBuffer(const FetchResult& result, const BodySink& body, char* output,
                       int32_t* outputLength);

}  // namespace qm
