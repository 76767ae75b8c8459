#include "products/survey_time.h"

#include "app/failure.h"

#include <cctype>
#include <cmath>

std::int64_t days_from_civil(int year, int month, int day) {
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

namespace {

constexpr std::int64_t kDay = 86400;

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap_year(y) ? 29 : days[m - 1];
}

// UTC dates from whose midnight one more leap second separates GPS time
// from UTC.
struct LeapDate {
    int year, month;
};
constexpr LeapDate kLeapSeconds[] = {{1981, 7}, {1982, 7}, {1983, 7}, {1985, 7}, {1988, 1}, {1990, 1},
                                     {1991, 1}, {1992, 7}, {1993, 7}, {1994, 7}, {1996, 1}, {1997, 7},
                                     {1999, 1}, {2006, 1}, {2009, 1}, {2012, 7}, {2015, 7}, {2017, 1}};

[[noreturn]] void refuse(const std::string& text, const std::string& why) {
    throw InputError("Start time \"" + text + "\" is not an ISO 8601 UTC time (YYYY-MM-DDThh:mm:ssZ): " + why + ".");
}

class Cursor {
public:
    explicit Cursor(const std::string& s) : s_(s) {}
    bool done() const { return i_ == s_.size(); }
    char peek() const { return done() ? '\0' : s_[i_]; }
    bool take(char c) {
        if (peek() != c) return false;
        ++i_;
        return true;
    }
    // Exactly n digits.
    bool digits(int n, int& out) {
        out = 0;
        for (int k = 0; k < n; ++k) {
            if (!std::isdigit(static_cast<unsigned char>(peek()))) return false;
            out = out * 10 + (s_[i_++] - '0');
        }
        return true;
    }
    double fraction() {
        double value = 0.0, scale = 0.1;
        while (std::isdigit(static_cast<unsigned char>(peek()))) {
            value += (s_[i_++] - '0') * scale;
            scale /= 10.0;
        }
        return value;
    }

private:
    const std::string& s_;
    std::size_t i_ = 0;
};

}  // namespace

int gps_utc_offset(std::int64_t unixSeconds) {
    int offset = 0;
    for (const LeapDate& d : kLeapSeconds) {
        if (unixSeconds >= days_from_civil(d.year, d.month, 1) * kDay) ++offset;
    }
    return offset;
}

SurveyStart parse_survey_start(const std::string& text) {
    Cursor c(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    double fraction = 0.0;
    if (!c.digits(4, year) || !c.take('-') || !c.digits(2, month) || !c.take('-') || !c.digits(2, day))
        refuse(text, "the date must be written YYYY-MM-DD");
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) refuse(text, "no such date");
    if (c.take('T') || c.take('t') || c.take(' ')) {
        if (!c.digits(2, hour) || !c.take(':') || !c.digits(2, minute)) refuse(text, "the time must be hh:mm[:ss]");
        if (c.take(':')) {
            if (!c.digits(2, second)) refuse(text, "the seconds must have two digits");
            if (c.take('.') || c.take(',')) fraction = c.fraction();
        }
        if (hour > 23 || minute > 59 || second > 59) refuse(text, "no such time of day");
    }
    std::int64_t offsetSeconds = 0;
    if (c.take('Z') || c.take('z')) {
    } else if (c.peek() == '+' || c.peek() == '-') {
        const int sign = c.peek() == '-' ? -1 : 1;
        c.take(c.peek());
        int oh = 0, om = 0;
        if (!c.digits(2, oh)) refuse(text, "the offset must be +hh:mm");
        c.take(':');
        if (!c.done() && !c.digits(2, om)) refuse(text, "the offset must be +hh:mm");
        if (oh > 23 || om > 59) refuse(text, "no such offset");
        offsetSeconds = sign * (oh * 3600 + om * 60);
    }
    if (!c.done()) refuse(text, "unexpected text after the time");

    const std::int64_t unix = days_from_civil(year, month, day) * kDay + hour * 3600 + minute * 60 + second -
                              offsetSeconds;
    const std::int64_t gpsEpoch = days_from_civil(1980, 1, 6) * kDay;
    if (unix < gpsEpoch) refuse(text, "times before the GPS epoch 1980-01-06 have no GPS time");

    SurveyStart start;
    const std::int64_t gpsSeconds = unix - gpsEpoch + gps_utc_offset(unix);
    start.adjustedGpsTime = static_cast<double>(gpsSeconds - 1000000000) + fraction;
    // The calendar day of the start in UTC.
    const std::int64_t days = unix / kDay;
    std::int64_t z = days + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    start.year = y;
    start.dayOfYear = static_cast<int>(days - days_from_civil(y, 1, 1) + 1);
    return start;
}
