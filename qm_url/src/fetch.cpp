#include "fetch.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ascii.h"
#include "bounded_text.h"
#include "cookie_exchange.h"
#include "decode.h"
#include "web_archive.h"

namespace qm {
namespace {

// Bytes that would end a request line early, or let a text add header lines of its own.
bool BreaksALine(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '\r' || text[i] == '\n' || text[i] == '\0') return true;
    return false;
}

// A host part may end in ":digits". Its name is what comes before; the digits must give a
// port from 1 to 65535. Anything else (a colon without digits too) is part of the name.
bool SplitPort(const char* host, size_t length, size_t* nameLength, int* port) {
    size_t colon = length;
    while (colon > 0 && host[colon - 1] >= '0' && host[colon - 1] <= '9') --colon;
    if (colon == 0 || colon == length || host[colon - 1] != ':') {
        *nameLength = length;
        return true;
    }
    *nameLength = colon - 1;
    long value = 0;
    for (size_t i = colon; i < length; ++i) {
        value = value * 10 + (host[i] - '0');
        if (value > 65535) return false;
    }
    if (value < 1) return false;
    *port = static_cast<int>(value);
    return true;
}

// The length of the scheme prefix `url` begins with (0 for none), and whether it asks for TLS.
size_t SchemePrefix(const char* url, size_t length, bool* secure) {
    *secure = StartsWithNoCase(url, length, "https://");
    if (*secure) return 8;
    return StartsWithNoCase(url, length, "http://") ? 7 : 0;
}

}  // namespace

bool BuildHttpRequest(int* port, UrlRequest* request, char* requestText, char* hostName,
                      bool* secure, const CookieJar* jar, const char* ifModifiedSince) {
    const char* url = request->url;
    int32_t urlLength = request->urlLength;
    if (url == nullptr || urlLength < 0) return false;
    size_t length = urlLength == 0 ? strnlen(url, kLongestUrl + 1) : static_cast<size_t>(urlLength);
    if (length > static_cast<size_t>(kLongestUrl)) return false;

    // Host part and path, taken verbatim.
    bool tls = false;
    size_t hostStart = SchemePrefix(url, length, &tls);
    const void* slash = std::memchr(url + hostStart, '/', length - hostStart);
    size_t hostEnd =
        slash != nullptr ? static_cast<size_t>(static_cast<const char*>(slash) - url) : length;
    const char* host = url + hostStart;
    size_t hostLength = hostEnd - hostStart;
    const char* path = slash != nullptr ? url + hostEnd : "/";
    size_t pathLength = slash != nullptr ? length - hostEnd : 1;
    if (hostLength >= kHostNameSize || pathLength >= kPathSize) return false;
    if (BreaksALine(host, hostLength) || BreaksALine(path, pathLength)) return false;

    size_t nameLength = 0;
    if (tls) *port = 443;
    if (!SplitPort(host, hostLength, &nameLength, port)) return false;
    if (nameLength == 0) return false;  // an empty name would resolve to this machine

    // The Referer line: left out when there is no referer, or it is too long.
    const char* referer = request->referer;
    bool withReferer = false;
    if (referer != nullptr) {
        if (request->refererLength == 0)
            request->refererLength = static_cast<int32_t>(std::strlen(referer));
        int32_t refererLength = request->refererLength;
        withReferer = refererLength >= 0 && refererLength < static_cast<int32_t>(kPathSize) &&
                      !BreaksALine(referer, static_cast<size_t>(refererLength));
    }

    BoundedText text(requestText, kRequestTextSize);
    text.Append("GET ");
    text.Append(path, pathLength);
    text.Append(request->useHttp10 == 0 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
    if (request->omitAccept == 0) text.Append("Accept: */*\r\n");
    if (withReferer) {
        text.Append("Referer: ");
        text.Append(referer, static_cast<size_t>(request->refererLength));
        text.Append("\r\n");
    }
    text.Append("Accept-Encoding: gzip, deflate\r\n");
    text.Append("User-Agent: Mozilla/4.0\r\n");
    text.Append("Host: ");
    text.Append(host, hostLength);
    text.Append("\r\n");
    text.Append("Connection: Keep-Alive\r\n");
    if (ifModifiedSince != nullptr && *ifModifiedSince != '\0' &&
        !BreaksALine(ifModifiedSince, std::strlen(ifModifiedSince))) {
        text.Append("If-Modified-Since: ");
        text.Append(ifModifiedSince, std::strlen(ifModifiedSince));
        text.Append("\r\n");
    }

    // The Cookie line takes as many cookies as leave room for the closing blank line.
    const size_t used = text.length() + sizeof "Cookie: \r\n\r\n";
    if (text.ok() && used < kRequestTextSize) {
        std::string cookies = CookieLineFor(jar, url, length, kRequestTextSize - used);
        if (!cookies.empty() && !BreaksALine(cookies.data(), cookies.size())) {
            text.Append("Cookie: ");
            text.Append(cookies.data(), cookies.size());
            text.Append("\r\n");
        }
    }
    text.Append("\r\n");
    if (!text.ok()) return false;

    // An IPv6 address stands in brackets in a URL; the resolver takes it without them.
    const char* name = host;
    if (nameLength > 2 && host[0] == '[' && host[nameLength - 1] == ']') {
        ++name;
        nameLength -= 2;
    }
    std::memcpy(hostName, name, nameLength);
    hostName[nameLength] = '\0';
    if (secure != nullptr) *secure = tls;
    return true;
}

FetchResult IntoBuffer(const FetchResult& result, const BodySink& body, char* output,
                       int32_t* outputLength) {
    if (!result.ok() && result.status != FetchStatus::kCut) return result;
    std::memcpy(output, body.memory().data(), body.memory().size());
    *outputLength = static_cast<int32_t>(body.memory().size());
    return body.cut() ? CutResult(body.size()) : result;
}

FetchResult FetchOnce(UrlRequest& request, RedirectPolicy policy, const FetchLimits& limits,
                      Response* response, BodySink* body, ConnectionPool* pool, CookieJar* jar,
                      WebArchive* archive, ResponseFacts* facts) {
    char requestText[kRequestTextSize] = {};
    char hostName[kHostNameSize] = {};
    int port = 80;
    bool secure = false;
    if (!BuildHttpRequest(&port, &request, requestText, hostName, &secure, jar,
                          facts != nullptr ? facts->ifModifiedSince.c_str() : nullptr))
        return FetchStatus::kBadUrl;
    std::unique_ptr<ExchangeCapture> capture = archive != nullptr ? archive->NewCapture() : nullptr;
    FetchResult result = ExchangeHttpRequest(hostName, port, secure, requestText,
                                             static_cast<int>(std::strlen(requestText)), policy,
                                             limits, response, body, pool, capture.get());
    if (facts != nullptr) {
        facts->lastModified = response->rules.LastModified();
        facts->contentType = response->rules.ContentType();
    }
    const size_t urlLength =
        request.urlLength == 0 ? std::strlen(request.url) : static_cast<size_t>(request.urlLength);
    if (archive != nullptr) archive->Record(std::string(request.url, urlLength).c_str(), *capture);
    // Whatever the status, a response whose header came may set cookies.
    if (jar != nullptr) TakeSetCookies(*jar, request.url, urlLength, *response);
    return result;
}

FetchResult FetchUrl(UrlRequest& request, char* output, int32_t* outputLength,
                     const FetchLimits& limits, CookieJar* jar) {
    Response response;
    BodySink body(FETCH_BUFFER_SIZE);
    FetchResult result =
        FetchOnce(request, RedirectPolicy::kReturn, limits, &response, &body, nullptr, jar);
    return IntoBuffer(result, body, output, outputLength);
}

FetchResult FetchFollowing(const UrlRequest& request, char* output, int32_t* outputLength,
                           char (&finalUrl)[URL_TEXT_SIZE], const FetchLimits& limits,
                           CookieJar* jar) {
    BodySink body(FETCH_BUFFER_SIZE);
    FetchResult result = FetchFollowing(request, &body, finalUrl, nullptr, limits, jar);
    return IntoBuffer(result, body, output, outputLength);
}

}  // namespace qm
