#include "http_date.h"

#include <cstdio>

#include "ascii.h"

namespace qm {
namespace {

const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The delimiters between the tokens of a date.
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
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kMonthDays[month - 1];
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

bool ParseHttpDate(std::string_view text, int64_t* seconds) {
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

std::string HttpDate(int64_t unixSeconds) {
    // 253402300800 is 10000-01-01T00:00:00Z.
    if (unixSeconds < 0 || unixSeconds >= int64_t{253402300800}) return std::string();
    const int64_t days = unixSeconds / 86400, second = unixSeconds % 86400;
    // The civil date of a day count, with years starting on 1 March (Hinnant's method).
    const int64_t z = days + 719468, era = z / 146097, dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t m = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * m + 2) / 5 + 1);
    const int month = static_cast<int>(m < 10 ? m + 3 : m - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    char text[32];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[days % 7], day,
                  kMonths[month - 1], year, static_cast<int>(second / 3600),
                  static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
    return text;
}

}  // namespace qm
