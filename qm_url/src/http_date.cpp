#include "http_date.h"

#include <cstdio>

namespace qm {

std::string HttpDate(int64_t unixSeconds) {
    // 253402300800 is 10000-01-01T00:00:00Z.
    if (unixSeconds < 0 || unixSeconds >= int64_t{253402300800}) return std::string();
    static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
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
