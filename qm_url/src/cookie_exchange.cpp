#include "cookie_exchange.h"

#include <chrono>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "ascii.h"
#include "cookie_jar.h"
#include "exchange.h"
#include "platform/cookie.h"
#include "request_sizes.h"

namespace qm {
namespace {

// Adds a cookie ("name=value") to `line` when it fits in `room` with its separator.
void AddCookie(std::string_view cookie, size_t room, std::string* line) {
    size_t length = (line->empty() ? 0 : 2) + cookie.size();
    if (line->size() + length > room) return;
    if (!line->empty()) *line += "; ";
    line->append(cookie.data(), cookie.size());
}

bool BreaksALine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

int64_t CookieClock() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::string CookieLineFor(const CookieJar* jar, const char* url, size_t urlLength, size_t room) {
    std::string line;
    std::unordered_set<std::string> names;
    CookieUrl to;
    if (jar != nullptr && SplitCookieUrl(std::string_view(url, urlLength), &to)) {
        for (const auto& [name, value] : jar->CookiesFor(to, CookieClock())) {
            AddCookie(name + "=" + value, room, &line);
            names.insert(name);
        }
    }
    // The store's cookies come as "a=1; b=2". The jar's cookie of the same name goes in its
    // place: the one the site set last, or the one the caller chose.
    std::string stored;
    if (!platform::LookupCookies(url, kStoredCookiesSize, &stored)) return line;
    std::string_view rest(stored);
    if (BreaksALine(rest)) return line;
    while (!rest.empty()) {
        size_t end = rest.find(';');
        std::string_view pair = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        if (pair.empty()) continue;
        if (names.count(std::string(pair.substr(0, pair.find('=')))) == 0)
            AddCookie(pair, room, &line);
    }
    return line;
}

void TakeSetCookies(CookieJar& jar, const char* url, size_t urlLength, const Response& response) {
    const size_t headerEnd = response.rules.BodyStart();
    if (headerEnd == 0 || response.area == nullptr) return;
    CookieUrl from;
    if (!SplitCookieUrl(std::string_view(url, urlLength), &from)) return;

    // The area may hold interim responses (100, 103) before the final one: only the fields
    // after the last status line count.
    const char* data = response.area.get();
    std::vector<std::string_view> fields;
    for (size_t at = 0; at < headerEnd;) {
        const void* lf = std::memchr(data + at, '\n', headerEnd - at);
        size_t end =
            lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - data) : headerEnd;
        std::string_view line(data + at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.compare(0, 5, "HTTP/") == 0) {
            fields.clear();
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || !IsWordNoCase(line.data(), colon, "set-cookie"))
            continue;
        fields.push_back(line.substr(colon + 1));
    }
    const int64_t now = CookieClock();
    for (std::string_view field : fields) jar.Receive(from, field, now);
}

}  // namespace qm
