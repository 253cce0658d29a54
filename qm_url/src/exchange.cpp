#include "exchange.h"

#include <algorithm>
#include <cstring>

#include "platform/socket.h"
#include "qm_url.h"
#include "resolve.h"
#include "connection_pool.h"
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

namespace {

// The receive area starts small and doubles as the response needs: most items are far
// smaller than the most a body may have.
constexpr size_t kFirstAreaSize = 64 * 1024;

bool Grow(Response* response, size_t needed) {
    if (needed <= response->capacity) return true;
    size_t size = response->capacity == 0 ? kFirstAreaSize : response->capacity;
    while (size < needed) size *= 2;
    size = std::min(size, kHeaderRoom + FETCH_BUFFER_SIZE);
    char* grown = static_cast<char*>(std::realloc(response->area.get(), size));
    if (grown == nullptr) return false;
    (void)response->area.release();
    response->area.reset(grown);
    response->capacity = size;
    response->rules.MovedTo(grown);
    return true;
}

// What became of one attempt on one connection.
struct Attempt {
    FetchResult result;
    bool answered = false;  // a byte of the response arrived
};

// Sends the request on `connection` and reads the response into `response`.
Attempt Exchange(Transport& connection, const char* requestText, int requestLength,
                 RedirectPolicy policy, const FetchLimits& limits, Response* response) {
    using platform::NetStatus;
    Attempt attempt;
    NetStatus status =
        connection.SendAll(requestText, static_cast<size_t>(requestLength), limits.NextWaitMs());
    if (status != NetStatus::Ok) {
        attempt.result = Failed(status, FetchStatus::kConnectionFailed);
        return attempt;
    }
    ResponseRules& rules = response->rules;
    rules = ResponseRules(response->area.get(), policy);
    size_t count = 0;
    ResponseRules::Progress progress = ResponseRules::Progress::kNeedMore;
    while (progress == ResponseRules::Progress::kNeedMore) {
        size_t limit = rules.ReadLimit();
        if (count >= limit) {
            progress = rules.CutAtLimit(count);
            break;
        }
        size_t want = std::min<size_t>(kReadSize, limit - count);
        // Only the received bytes are ever read, so the area is not cleared.
        if (!Grow(response, count + want)) {
            attempt.result = FetchStatus::kNoMemory;
            return attempt;
        }
        int waitMs = limits.NextWaitMs();
        if (waitMs == 0) {
            attempt.result = FetchStatus::kTimedOut;
            return attempt;
        }
        size_t got = 0;
        status = connection.ReceiveSome(response->area.get() + count, want, &got, waitMs);
        if (status != NetStatus::Ok) {
            attempt.result = Failed(status, FetchStatus::kConnectionFailed);
            return attempt;
        }
        if (got > 0) attempt.answered = true;
        count += got;
        progress = got == 0 ? rules.Closed(count, connection.EndConfirmed()) : rules.Update(count);
    }
    response->count = count;
    attempt.result = progress == ResponseRules::Progress::kFailed ? rules.Failure()
                                                                  : FetchResult(FetchStatus::kOk);
    return attempt;
}

}  // namespace

FetchResult ExchangeHttpRequest(const char* hostName, int port, bool secure,
                                const char* requestText, int requestLength, RedirectPolicy policy,
                                const FetchLimits& limits, Response* response,
                                ConnectionPool* pool) {
    using platform::NetStatus;
    platform::NetSession session;
    uint16_t portNumber = static_cast<uint16_t>(port != 0 ? port : secure ? 443 : 80);
    const std::string key =
        pool != nullptr ? ConnectionPool::Key(secure, hostName, portNumber) : std::string();

    // The place this exchange takes among the host's connections, given back with the
    // connection when the response leaves it usable.
    std::unique_ptr<Transport> connection;
    if (pool != nullptr) {
        NetStatus acquired = pool->Acquire(key, &connection, limits.NextWaitMs());
        if (acquired != NetStatus::Ok) return Failed(acquired, FetchStatus::kTimedOut);
    }
    struct Place {
        ConnectionPool* pool;
        const std::string& key;
        std::unique_ptr<Transport>& connection;
        bool keep = false;
        ~Place() {
            if (!keep) connection.reset();  // closed before its place is free again
            if (pool != nullptr) pool->Release(key, std::move(connection));
        }
    } place{pool, key, connection};

    // A kept connection the server has closed meanwhile fails before any byte of the
    // response: the request is then sent once more, on a new connection.
    for (;;) {
        const bool reused = connection != nullptr;
        if (!reused) {
            platform::HostAddresses addresses;
            NetStatus status = ResolveHost(hostName, &addresses, limits.NextWaitMs(),
                                           pool != nullptr ? &pool->Hosts() : nullptr);
            if (status != NetStatus::Ok) return Failed(status, FetchStatus::kResolveFailed);
            connection = std::make_unique<Transport>();
            FetchStatus opened =
                connection->Open(addresses, portNumber, hostName, secure, limits.NextWaitMs());
            if (opened != FetchStatus::kOk) return opened;
        }
        Attempt attempt =
            Exchange(*connection, requestText, requestLength, policy, limits, response);
        const FetchStatus status = attempt.result.status;
        if (reused && !attempt.answered && status != FetchStatus::kStopped &&
            status != FetchStatus::kTimedOut && status != FetchStatus::kNoMemory) {
            connection.reset();
            continue;
        }
        place.keep = attempt.result.ok() && response->rules.KeepsConnection(response->count);
        return attempt.result;
    }
}

}  // namespace qm
