#include "http_date.h"

#include <cstdio>
#include <cstring>

namespace qm {
namespace {

const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The number of `width` digits at `text`, or -1.
int Digits(const char* text, int width) {
    int n = 0;
    for (int i = 0; i < width; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

// Days from 1970-01-01 to a civil date (Hinnant's method, years starting on 1 March).
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

}  // namespace

int64_t ParseHttpDate(const char* text, size_t length) {
    // "Sun, 06 Nov 1994 08:49:37 GMT"
    if (length != 29 || std::memcmp(text + 3, ", ", 2) != 0 || text[7] != ' ' ||
        text[11] != ' ' || text[16] != ' ' || text[19] != ':' || text[22] != ':' ||
        std::memcmp(text + 25, " GMT", 4) != 0)
        return -1;
    int month = 0;
    while (month < 12 && std::memcmp(text + 8, kMonths[month], 3) != 0) ++month;
    const int day = Digits(text + 5, 2), year = Digits(text + 12, 4), hour = Digits(text + 17, 2),
              minute = Digits(text + 20, 2), second = Digits(text + 23, 2);
    if (month == 12 || day < 1 || day > 31 || year < 1970 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return -1;
    const int64_t days = DaysFromCivil(year, month + 1, day);
    // A day the month does not have (31 Feb) does not come back to itself.
    if (HttpDate(days * 86400).compare(5, 11, text + 5, 11) != 0) return -1;
    return days * 86400 + hour * 3600 + minute * 60 + second;
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
