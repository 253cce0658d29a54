#include "exchange.h"

#include <algorithm>
#include <cstring>

#include "platform/socket.h"
#include "qm_url.h"
#include "resolve.h"
#include "transport.h"

namespace qm {
namespace {

FetchResult Failed(platform::NetStatus status, FetchStatus otherwise) {
    switch (status) {
        case platform::NetStatus::TimedOut: return FetchStatus::kTimedOut;
        case platform::NetStatus::Stopped: return FetchStatus::kStopped;
        default: return otherwise;
    }
}

}  // namespace

int FetchLimits::NextWaitMs() const {
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>(left, silenceMs_));
}

FetchResult ExchangeHttpRequest(const char* hostName, int port, bool secure,
                                const char* requestText, int requestLength, RedirectPolicy policy,
                                const FetchLimits& limits, Response* response) {
    using platform::NetStatus;
    platform::NetSession session;

    platform::HostAddress address;
    NetStatus status = ResolveHost(hostName, &address, limits.NextWaitMs());
    if (status != NetStatus::Ok) return Failed(status, FetchStatus::kResolveFailed);

    Transport connection;
    uint16_t portNumber = static_cast<uint16_t>(port != 0 ? port : secure ? 443 : 80);
    FetchStatus opened =
        connection.Open(address, portNumber, hostName, secure, limits.NextWaitMs());
    if (opened != FetchStatus::kOk) return opened;
    status = connection.SendAll(requestText, static_cast<size_t>(requestLength),
                                limits.NextWaitMs());
    if (status != NetStatus::Ok) return Failed(status, FetchStatus::kConnectionFailed);

    // Only the received bytes are ever read, so the area is not cleared: clearing it for
    // every picture of a crawl cost more than receiving it.
    response->area.reset(static_cast<char*>(std::malloc(kHeaderRoom + FETCH_BUFFER_SIZE)));
    if (!response->area) return FetchStatus::kNoMemory;
    char* area = response->area.get();
    ResponseRules& rules = response->rules;
    rules = ResponseRules(area, policy);
    size_t count = 0;
    ResponseRules::Progress progress = ResponseRules::Progress::kNeedMore;
    while (progress == ResponseRules::Progress::kNeedMore) {
        size_t limit = rules.ReadLimit();
        if (count >= limit) {
            progress = rules.CutAtLimit(count);
            break;
        }
        int waitMs = limits.NextWaitMs();
        if (waitMs == 0) return FetchStatus::kTimedOut;
        size_t got = 0;
        status = connection.ReceiveSome(area + count, std::min<size_t>(kReadSize, limit - count),
                                        &got, waitMs);
        if (status != NetStatus::Ok) return Failed(status, FetchStatus::kConnectionFailed);
        count += got;
        progress = got == 0 ? rules.Closed(count) : rules.Update(count);
    }
    connection.Close();
    response->count = count;
    if (progress == ResponseRules::Progress::kFailed) return rules.Failure();
    return FetchStatus::kOk;
}

}  // namespace qm
