// The request text built from a URL and a referer: it fits its area, and every line ends in
// CR LF with no CR or LF anywhere else, so nothing in a URL can add a header or a request.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fetch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The URL, a NUL, then the referer; the first byte picks the request's flags.
    if (size < 1) return 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t cut = rest.find('\0');
    const std::string url = rest.substr(0, cut);
    const std::string referer = cut == std::string::npos ? "" : rest.substr(cut + 1);

    UrlRequest request{};
    request.url = url.c_str();
    request.urlLength = data[0] & 1 ? static_cast<int32_t>(url.size()) : 0;
    request.referer = data[0] & 2 ? referer.c_str() : nullptr;
    request.refererLength = data[0] & 4 ? static_cast<int32_t>(referer.size()) : 0;
    request.useHttp10 = (data[0] >> 3) & 1;
    request.omitAccept = (data[0] >> 4) & 1;
    char text[qm::kRequestTextSize + 1] = {}, host[qm::kHostNameSize + 1] = {};
    text[qm::kRequestTextSize] = host[qm::kHostNameSize] = '\x7f';  // must stay untouched
    int port = 0;
    if (!qm::BuildHttpRequest(&port, &request, text, host)) return 0;

    if (text[qm::kRequestTextSize] != '\x7f' || host[qm::kHostNameSize] != '\x7f') std::abort();
    const size_t length = strnlen(text, qm::kRequestTextSize);
    if (length == qm::kRequestTextSize) std::abort();  // no NUL in its area
    if (length < 4 || std::memcmp(text + length - 4, "\r\n\r\n", 4) != 0) std::abort();
    for (size_t i = 0; i < length; ++i) {
        const bool lineEnd = text[i] == '\r' && text[i + 1] == '\n';
        if (lineEnd) ++i;
        else if (text[i] == '\r' || text[i] == '\n') std::abort();
    }
    if (std::strpbrk(host, "\r\n") != nullptr) std::abort();
    return 0;
}
