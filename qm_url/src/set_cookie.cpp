#include "set_cookie.h"

#include <algorithm>

#include "ascii.h"

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
        if (ParseCookieDate(value, &seconds)) {
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

// The delimiters between the tokens of a cookie date.
bool IsDateDelimiter(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u == 0x09 || (u >= 0x20 && u <= 0x2f) || (u >= 0x3b && u <= 0x40) ||
           (u >= 0x5b && u <= 0x60) || (u >= 0x7b && u <= 0x7e);
}

// `least` to `most` digits at the start of `token`, followed by nothing or a non-digit.
bool LeadingNumber(std::string_view token, size_t least, size_t most, int* value,
                   size_t* used = nullptr) {
    size_t n = 0;
    int number = 0;
    while (n < token.size() && IsDigit(token[n])) {
        if (++n > most) return false;
        number = number * 10 + (token[n - 1] - '0');
    }
    if (n < least) return false;
    *value = number;
    if (used != nullptr) *used = n;
    return true;
}

// hh:mm:ss, each of one or two digits, perhaps followed by a non-digit and anything.
bool ReadTime(std::string_view token, int* hour, int* minute, int* second) {
    size_t used;
    if (!LeadingNumber(token, 1, 2, hour, &used) || used >= token.size() || token[used] != ':')
        return false;
    token.remove_prefix(used + 1);
    if (!LeadingNumber(token, 1, 2, minute, &used) || used >= token.size() || token[used] != ':')
        return false;
    token.remove_prefix(used + 1);
    return LeadingNumber(token, 1, 2, second);
}

bool ReadMonth(std::string_view token, int* month) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3) return false;
    for (int m = 0; m < 12; ++m) {
        if (EqualNoCase(token.data(), kMonths[m], 3)) {
            *month = m + 1;
            return true;
        }
    }
    return false;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysSinceEpoch(int year, int month, int day) {
    int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
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

bool ParseCookieDate(std::string_view text, int64_t* seconds) {
    bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsDateDelimiter(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !IsDateDelimiter(text[i])) ++i;
        std::string_view token = text.substr(start, i - start);
        if (token.empty()) continue;
        if (!haveTime && ReadTime(token, &hour, &minute, &second)) haveTime = true;
        else if (!haveDay && LeadingNumber(token, 1, 2, &day)) haveDay = true;
        else if (!haveMonth && ReadMonth(token, &month)) haveMonth = true;
        else if (!haveYear && LeadingNumber(token, 2, 4, &year)) haveYear = true;
    }
    if (!haveTime || !haveDay || !haveMonth || !haveYear) return false;
    if (year >= 70 && year <= 99) year += 1900;
    else if (year >= 0 && year <= 69) year += 2000;
    if (year < 1601 || hour > 23 || minute > 59 || second > 59) return false;
    if (day < 1 || day > DaysInMonth(year, month)) return false;
    *seconds = DaysSinceEpoch(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

}  // namespace qm
