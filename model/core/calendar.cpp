// Calendar dates and Julian days, by the Gregorian calendar algorithm of the
// Collected Algorithms of the ACM no. 199 with integer division. Used by the run
// set-up, the clock, the precipitation and the time-series readers.
#include "model/core/calendar.h"

int days_in_month(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

double julian_day(int year, int month, int day, int hour, int minute, double second) {
    const double s = hour * 3600.0 + minute * 60.0 + second;
    const long long a = month < 3 ? 1 : 0;
    const long long y = year - a;
    const long long m = a == 1 ? month + 9 : month - 3;
    const long long c = y / 100;
    const long long ya = y - 100 * c;
    const long long n = 146097 * c / 4 + 1461 * ya / 4 + (153 * m + 2) / 5 + day;
    if (s >= 43200.0) return (s - 43200.0) / 3600.0 / 24.0 + static_cast<double>(n + 1721119);
    return (s + 43200.0) / 3600.0 / 24.0 + static_cast<double>(n + 1721118);
}

void calendar_date(double jd, int &year, int &month, int &day, int &hour, int &minute,
                   double &second) {
    // Days beyond about a million years either side (or not a number) are held at
    // that bound, so that the integer parts below cannot overflow.
    constexpr double jd_bound = 4.0e8;
    const double held = jd >= -jd_bound && jd <= jd_bound ? jd : jd > 0.0 ? jd_bound : -jd_bound;
    const double v = held + 1.1574074074074074e-7;  // a hundredth of a second
    long long j = static_cast<long long>(v);
    double f = v - static_cast<double>(j);
    if (f >= 0.5) {
        f -= 0.5;
        j += 1;
    } else {
        f += 0.5;
    }
    j -= 1721119;
    const long long y = (4 * j - 1) / 146097;
    long long d = (4 * j - 1 - 146097 * y) / 4;
    const long long t = (4 * d + 3) / 1461;
    d = (4 * d + 3 - 1461 * t + 4) / 4;
    const long long m = (5 * d - 3) / 153;
    day = static_cast<int>((5 * d - 3 - 153 * m + 5) / 5);
    long long yr = 100 * y + t;
    if (m >= 10) {
        month = static_cast<int>(m - 9);
        yr += 1;
    } else {
        month = static_cast<int>(m + 3);
    }
    year = static_cast<int>(yr);
    double s = f * 24.0 * 3600.0;
    hour = static_cast<int>(s / 3600.0);
    s -= 3600.0 * hour;
    minute = static_cast<int>(s / 60.0);
    second = s - 60.0 * minute;
}
