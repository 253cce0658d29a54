#include "exchange.h"

#include <algorithm>
#include <cstring>

#include "body_sink.h"
#include "decode.h"
#include "platform/socket.h"
#include "qm_url.h"
#include "resolve.h"
#include "connection_pool.h"
#include "exchange_capture.h"
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

WaitLimit FetchLimits::NextWait() const {
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    return WaitLimit{static_cast<int>(std::clamp<long long>(left, 0, silenceMs_)), stop_};
}

namespace {

// The receive area holds the header and, past it, one read of the body at a time.
constexpr size_t kFirstAreaSize = 16 * 1024;

bool Grow(Response* response, size_t needed) {
    if (needed <= response->capacity) return true;
    size_t size = response->capacity == 0 ? kFirstAreaSize : response->capacity;
    while (size < needed) size *= 2;
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
    bool cut = false;       // the body sink took no more: the rest was not read
};

// The body's bytes as they arrive: from the receive area into the decoder, the area then
// free for the next read.
class BodyReader {
public:
    explicit BodyReader(BodySink* sink) : sink_(sink) {}

    // Takes the body bytes the area holds (it begins at offset `base`, `count` bytes came)
    // and empties the area. kFailed with `why` when the body is refused or does not decode;
    // kComplete when the sink has cut it short.
    ResponseRules::Progress Take(ResponseRules& rules, ResponseRules::Progress progress,
                                 char* area, size_t* base, size_t count, FetchResult* why) {
        using Progress = ResponseRules::Progress;
        if (!rules.Framed() || rules.IsRedirect() || progress == Progress::kFailed) return progress;
        if (!decoder_) {
            sink_->Clear();
            codings_.clear();
            for (size_t i = 0; i < rules.CodingCount(); ++i) codings_.push_back(rules.CodingAt(i));
            decoder_ = std::make_unique<BodyDecoder>(rules.Chunked(), codings_.data(),
                                                     codings_.size(), *sink_);
            fed_ = rules.BodyStart();
        }
        const size_t end = progress == Progress::kComplete
                               ? rules.BodyStart() + rules.BodyLength()
                               : rules.BodyEndSoFar(count);
        if (!sink_->AcceptsCoded(static_cast<int64_t>(end - rules.BodyStart()))) {
            *why = sink_->failure();
            return Progress::kFailed;
        }
        if (end > fed_ && !decoder_->Feed(area + (fed_ - *base), fed_ - rules.BodyStart(),
                                          end - fed_)) {
            if (sink_->cut()) {
                cut_ = true;
                return Progress::kComplete;
            }
            *why = decoder_->Refused() ? sink_->failure() : FetchResult(FetchStatus::kDecodingFailed);
            return Progress::kFailed;
        }
        fed_ = std::max(fed_, end);
        if (progress == Progress::kComplete && !decoder_->Ended()) {
            *why = FetchStatus::kDecodingFailed;  // a coded stream that ends before its end
            return Progress::kFailed;
        }
        if (progress == Progress::kNeedMore) {
            *base = count;
            rules.Slide(count, area);
        }
        return progress;
    }
    bool cut() const { return cut_; }

private:
    BodySink* sink_;
    std::vector<Coding> codings_;
    std::unique_ptr<BodyDecoder> decoder_;
    size_t fed_ = 0;
    bool cut_ = false;
};

// Sends the request on `connection` and reads the response into `response`, its body into
// `body`.
Attempt Exchange(Transport& connection, const char* requestText, int requestLength,
                 RedirectPolicy policy, const FetchLimits& limits, Response* response,
                 BodySink* body, ExchangeCapture* capture) {
    using platform::NetStatus;
    using Progress = ResponseRules::Progress;
    Attempt attempt;
    NetStatus status =
        connection.SendAll(requestText, static_cast<size_t>(requestLength), limits.NextWait());
    if (status != NetStatus::Ok) {
        attempt.result = Failed(status, FetchStatus::kConnectionFailed);
        return attempt;
    }
    if (capture != nullptr) capture->Sent(requestText, static_cast<size_t>(requestLength));
    ResponseRules& rules = response->rules;
    rules = ResponseRules(response->area.get(), policy);
    BodyReader reader(body);
    size_t count = 0, base = 0;
    Progress progress = Progress::kNeedMore;
    FetchResult why;
    while (progress == Progress::kNeedMore) {
        // While the header comes, the area keeps it all; then one read at a time.
        size_t want = rules.Framed() ? kReadSize : std::min<size_t>(kReadSize, kHeaderRoom - count);
        // Only the received bytes are ever read, so the area is not cleared.
        if (!Grow(response, count - base + want)) {
            attempt.result = FetchStatus::kNoMemory;
            return attempt;
        }
        const WaitLimit wait = limits.NextWait();
        if (wait.ms == 0) {
            attempt.result = FetchStatus::kTimedOut;
            return attempt;
        }
        size_t got = 0;
        status = connection.ReceiveSome(response->area.get() + (count - base), want, &got, wait);
        if (status != NetStatus::Ok) {
            attempt.result = Failed(status, FetchStatus::kConnectionFailed);
            return attempt;
        }
        if (got > 0) attempt.answered = true;
        if (capture != nullptr) capture->Received(response->area.get() + (count - base), got);
        count += got;
        progress = got == 0 ? rules.Closed(count, connection.EndConfirmed()) : rules.Update(count);
        progress = reader.Take(rules, progress, response->area.get(), &base, count, &why);
    }
    response->count = count;
    if (progress == Progress::kFailed) {
        attempt.result = why.ok() ? rules.Failure() : why;
        return attempt;
    }
    attempt.result = FetchStatus::kOk;
    attempt.cut = reader.cut();
    return attempt;
}

// Tells `capture` how far the attempt read its response, when not to its end.
void NoteEnd(const Attempt& attempt, const ResponseRules& rules, ExchangeCapture* capture) {
    if (capture == nullptr) return;
    const bool whole = rules.HeldWhole(static_cast<size_t>(capture->responseSize()));
    if (attempt.result.ok() && !attempt.cut && whole) return;
    switch (attempt.result.status) {
        case FetchStatus::kTimedOut: capture->Truncated("time"); break;
        case FetchStatus::kConnectionFailed:
        case FetchStatus::kTruncated: capture->Truncated("disconnect"); break;
        // The body was refused past the item's size limit or the save's budget.
        case FetchStatus::kTooLarge:
        case FetchStatus::kByteBudgetReached: capture->Truncated("length"); break;
        default:
            if (attempt.cut) capture->Truncated("length");
            else if (!whole) capture->Truncated("unspecified");
    }
}

}  // namespace

FetchResult ExchangeHttpRequest(const char* hostName, int port, bool secure,
                                const char* requestText, int requestLength, RedirectPolicy policy,
                                const FetchLimits& limits, Response* response, BodySink* body,
                                ConnectionPool* pool, ExchangeCapture* capture) {
    using platform::NetStatus;
    platform::NetSession session;
    uint16_t portNumber = static_cast<uint16_t>(port != 0 ? port : secure ? 443 : 80);
    const std::string key =
        pool != nullptr ? ConnectionPool::Key(secure, hostName, portNumber) : std::string();

    // The place this exchange takes among the host's connections, given back with the
    // connection when the response leaves it usable.
    std::unique_ptr<Transport> connection;
    if (pool != nullptr) {
        NetStatus acquired = pool->Acquire(key, &connection, limits.NextWait());
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
            NetStatus status = ResolveHost(hostName, &addresses, limits.NextWait(),
                                           pool != nullptr ? &pool->Hosts() : nullptr);
            if (status != NetStatus::Ok) return Failed(status, FetchStatus::kResolveFailed);
            connection = std::make_unique<Transport>();
            FetchStatus opened =
                connection->Open(addresses, portNumber, hostName, secure, limits.NextWait());
            if (opened != FetchStatus::kOk) return opened;
        }
        if (capture != nullptr) capture->Restart();
        Attempt attempt = Exchange(*connection, requestText, requestLength, policy, limits,
                                   response, body, capture);
        NoteEnd(attempt, response->rules, capture);
        const FetchStatus status = attempt.result.status;
        if (reused && !attempt.answered && status != FetchStatus::kStopped &&
            status != FetchStatus::kTimedOut && status != FetchStatus::kNoMemory) {
            connection.reset();
            continue;
        }
        place.keep = attempt.result.ok() && !attempt.cut &&
                     response->rules.KeepsConnection(response->count);
        return attempt.result;
    }
}

}  // namespace qm
