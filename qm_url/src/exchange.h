// One HTTP exchange: connect, send the request, collect the whole response.
#pragma once

#include <cstdint>

#include "fetch_status.h"
#include "response.h"

namespace qm {

// A single read asks for at most this many bytes.
constexpr int kReadSize = 10240;
// A connection on which nothing happens for this long has failed.
constexpr int kSilenceLimitMs = 60000;

// What the exchange learnt besides the coding.
struct ExchangeDetails {
    bool chunked = false;     // the body is sent in chunks
    bool cutAtLimit = false;  // the response filled the receive area and was cut there
    FetchStatus opened = FetchStatus::kOk;  // why the connection could not be made
};

// Resolves hostName, connects to `port` (0 meaning 80, or 443 when `secure`) over TLS when
// `secure`, sends the request text and reads the
// response until it is complete. On a completed exchange every received byte, header
// included, is copied to `output` and their number stored in *receivedLength; on failure
// (or a stop request) neither is touched. A 404 without a content coding copies the
// response and still returns FETCH_FAILED.
FetchCoding ExchangeHttpRequest(const char* hostName, int port, bool secure,
                                const char* requestText, int requestLength, char* output,
                                int32_t* receivedLength, ExchangeDetails* details, int silenceLimitMs = kSilenceLimitMs);

}  // namespace qm
