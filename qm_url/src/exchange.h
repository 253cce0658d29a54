// One HTTP exchange: connect, send the request, collect the whole response.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fetch_status.h"
#include "platform/stop_token.h"
#include "qm_url.h"
#include "response.h"

namespace qm {

// A single read asks for at most this many bytes.
constexpr int kReadSize = 10240;
// A connection on which nothing happens for this long has failed.
constexpr int kSilenceLimitMs = 60000;

// The limits of one fetch: each wait ends after `silenceMs` without progress, the whole
// fetch, redirects included, by its deadline, and everything once `stop` is raised.
class FetchLimits {
public:
    using Clock = std::chrono::steady_clock;
    FetchLimits(int silenceMs, int totalMs, StopToken stop)
        : silenceMs_(silenceMs),
          deadline_(Clock::now() + std::chrono::milliseconds(totalMs)),
          stop_(stop) {}
    // The limit of the next wait: the silence limit, or less when the deadline is nearer;
    // 0 ms once it has passed.
    WaitLimit NextWait() const;
    const StopToken& stop() const { return stop_; }

private:
    int silenceMs_;
    Clock::time_point deadline_;
    StopToken stop_;
};

// The limits every fetch of a call runs under, ended by `stop`; tests give shorter ones.
inline FetchLimits DefaultFetchLimits(StopToken stop) {
    return FetchLimits(kSilenceLimitMs, FETCH_TIME_LIMIT_SECONDS * 1000, stop);
}

struct FreeArea {
    void operator()(char* area) const { std::free(area); }
};

class BodySink;
class ConnectionPool;
class ExchangeCapture;

// A received response: its header in a receive area of its own (up to kHeaderRoom bytes),
// through which the body passes, decoded into the body sink as it comes.
struct Response {
    std::unique_ptr<char, FreeArea> area;
    size_t capacity = 0;  // bytes the area has room for; it grows as the header arrives
    size_t count = 0;     // bytes received
    ResponseRules rules{nullptr, RedirectPolicy::kReturn};
};

// Resolves hostName, connects to `port` (0 meaning 80, or 443 when `secure`), over TLS when
// `secure`, sends the request text and reads the response until the rules find it complete,
// its body (chunks joined, codings undone and checked to their ends) into `body`, which is
// cleared first. The response's header stays in `response`. On failure (or a stop request)
// the result says why; a body that `body` cut short is complete, and not kept alive.
// With a `pool`, a connection kept there is used first (and the request sent again on a new
// one when it turns out closed), names are resolved once, and a connection the response
// leaves usable is kept for the next request; without one, the connection ends here.
// With a `capture`, the request sent and the response's bytes as they came go into it (those
// of the attempt that counted, when a kept connection turned out closed).
FetchResult ExchangeHttpRequest(const char* hostName, int port, bool secure,
                                const char* requestText, int requestLength, RedirectPolicy policy,
                                const FetchLimits& limits, Response* response, BodySink* body,
                                ConnectionPool* pool = nullptr, ExchangeCapture* capture = nullptr);

}  // namespace qm
