#include "exchange.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/socket.h"
#include "transport.h"
#include "qm_url.h"
#include "resolve.h"

namespace qm {
namespace {

struct FreeArea {
    void operator()(char* area) const { std::free(area); }
};

}  // namespace

FetchCoding ExchangeHttpRequest(const char* hostName, int port, bool secure,
                                const char* requestText, int requestLength, char* output,
                                int32_t* receivedLength, ExchangeDetails* details, int silenceLimitMs) {
    using platform::NetStatus;
    platform::NetSession session;

    platform::HostAddress address;
    if (ResolveHost(hostName, &address, silenceLimitMs) != NetStatus::Ok) return FETCH_FAILED;

    Transport connection;
    uint16_t portNumber = static_cast<uint16_t>(port != 0 ? port : secure ? 443 : 80);
    FetchStatus opened = connection.Open(address, portNumber, hostName, secure, silenceLimitMs);
    if (opened != FetchStatus::kOk) {
        if (details != nullptr) details->opened = opened;
        return FETCH_FAILED;
    }
    if (connection.SendAll(requestText, static_cast<size_t>(requestLength), silenceLimitMs) !=
        NetStatus::Ok)
        return FETCH_FAILED;

    // The whole response is kept apart until it is complete: a failed exchange leaves the
    // caller's buffer as it was. Only the received bytes are ever read, so the area is not
    // cleared: clearing 10 MiB for every picture of a crawl cost more than receiving it.
    std::unique_ptr<char, FreeArea> area(static_cast<char*>(std::malloc(FETCH_BUFFER_SIZE)));
    if (!area) return FETCH_FAILED;
    ResponseRules rules(area.get());
    size_t count = 0;
    bool cut = false;
    for (;;) {
        size_t room = std::min<size_t>(kReadSize, FETCH_BUFFER_SIZE - count);
        size_t got = 0;
        if (connection.ReceiveSome(area.get() + count, room, &got, silenceLimitMs) != NetStatus::Ok)
            return FETCH_FAILED;
        // The server has closed: every later read would return nothing as well.
        if (got == 0) break;
        count += got;
        if (rules.Update(count)) break;
        if (count == FETCH_BUFFER_SIZE) {
            cut = true;
            break;
        }
    }
    connection.Close();

    std::memcpy(output, area.get(), count);
    *receivedLength = static_cast<int32_t>(count);
    if (details != nullptr) {
        details->chunked = rules.Chunked();
        details->cutAtLimit = cut;
    }
    return rules.Coding();
}

}  // namespace qm
