#include "set_cookie.h"

#include <algorithm>

#include "ascii.h"
#include "http_date.h"

namespace qm {
namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsWord(std::string_view text, const char* word) {
    return IsWordNoCase(text.data(), text.size(), word);
}

// Max-Age: digits, perhaps after a minus; anything else leaves the attribute out. Seconds
// beyond any date a cookie could need are cut to that.
bool ReadMaxAge(std::string_view text, int64_t* seconds) {
    constexpr int64_t kLongest = int64_t{1} << 40;
    if (text.empty()) return false;
    const bool negative = text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return false;
    int64_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        if (value < kLongest) value = value * 10 + (c - '0');
    }
    *seconds = negative ? 0 : std::min(value, kLongest);
    return true;
}

void ReadAttribute(std::string_view name, std::string_view value, SetCookie* cookie) {
    if (value.size() > kMostAttributeBytes) return;
    if (IsWord(name, "expires")) {
        int64_t seconds;
        if (ParseHttpDate(value, &seconds)) {
            cookie->hasExpires = true;
            cookie->expires = seconds;
        }
    } else if (IsWord(name, "max-age")) {
        int64_t seconds;
        if (ReadMaxAge(value, &seconds)) {
            cookie->hasMaxAge = true;
            cookie->maxAge = seconds;
        }
    } else if (IsWord(name, "domain")) {
        if (!value.empty() && value.front() == '.') value.remove_prefix(1);
        if (value.empty()) return;
        cookie->hasDomain = true;
        cookie->domain.clear();
        for (char c : value) cookie->domain += Lower(c);
    } else if (IsWord(name, "path")) {
        // A path that is not one stands for the default path, and as the last Path it wins.
        cookie->hasPath = !value.empty() && value.front() == '/';
        cookie->path = cookie->hasPath ? std::string(value) : std::string();
    } else if (IsWord(name, "secure")) {
        cookie->secure = true;
    } else if (IsWord(name, "httponly")) {
        cookie->httpOnly = true;
    }
}

}  // namespace

bool HasControl(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    return false;
}

bool ParseSetCookie(std::string_view field, SetCookie* cookie) {
    *cookie = SetCookie();
    size_t semicolon = field.find(';');
    std::string_view pair = field.substr(0, semicolon);
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos) return false;
    std::string_view name = TrimBlanks(pair.substr(0, equals));
    std::string_view value = TrimBlanks(pair.substr(equals + 1));
    if (name.empty() || name.size() + value.size() > kMostCookieBytes) return false;
    if (HasControl(name) || HasControl(value)) return false;
    cookie->name.assign(name);
    cookie->value.assign(value);

    std::string_view rest =
        semicolon == std::string_view::npos ? std::string_view() : field.substr(semicolon + 1);
    while (!rest.empty()) {
        size_t end = rest.find(';');
        std::string_view attribute = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        size_t at = attribute.find('=');
        std::string_view attributeName = TrimBlanks(attribute.substr(0, at));
        std::string_view attributeValue = at == std::string_view::npos
                                              ? std::string_view()
                                              : TrimBlanks(attribute.substr(at + 1));
        ReadAttribute(attributeName, attributeValue, cookie);
    }
    return true;
}

}  // namespace qm
