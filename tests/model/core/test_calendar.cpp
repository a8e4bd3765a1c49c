// Calendar conversions against published Julian dates and a day-by-day round trip
// over 1583-2400 checked against the standard library's civil calendar.
#include <gtest/gtest.h>

#include <chrono>

#include "model/core/calendar.h"

namespace {

struct published_date {
    int year, month, day, hour, minute;
    double jd;
};

TEST(Calendar, PublishedJulianDates) {
    const published_date cases[] = {
        {2000, 1, 1, 12, 0, 2451545.0},  // J2000.0
        {1970, 1, 1, 0, 0, 2440587.5},   // the Unix epoch
        {1858, 11, 17, 0, 0, 2400000.5}, // origin of the modified Julian date
        {1582, 10, 15, 0, 0, 2299160.5}, // first day of the Gregorian calendar
        {2000, 1, 1, 0, 0, 2451544.5},
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(julian_day(c.year, c.month, c.day, c.hour, c.minute, 0.0), c.jd)
            << c.year << "-" << c.month << "-" << c.day;
}

TEST(Calendar, LeapDaysComeFromTheAlgorithm) {
    EXPECT_DOUBLE_EQ(julian_day(2000, 3, 1, 0, 0, 0.0) - julian_day(2000, 2, 28, 0, 0, 0.0), 2.0);
    EXPECT_DOUBLE_EQ(julian_day(1900, 3, 1, 0, 0, 0.0) - julian_day(1900, 2, 28, 0, 0, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(julian_day(2024, 3, 1, 0, 0, 0.0) - julian_day(2024, 2, 28, 0, 0, 0.0), 2.0);
}

TEST(Calendar, DateOfJulianDayKeepsTheAddedHundredth) {
    int y, mo, d, h, mi;
    double s;
    calendar_date(2451544.5, y, mo, d, h, mi, s);
    EXPECT_EQ(y, 2000);
    EXPECT_EQ(mo, 1);
    EXPECT_EQ(d, 1);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(mi, 0);
    EXPECT_NEAR(s, 0.01, 1e-4);

    calendar_date(2451545.25, y, mo, d, h, mi, s);
    EXPECT_EQ(y, 2000);
    EXPECT_EQ(mo, 1);
    EXPECT_EQ(d, 1);
    EXPECT_EQ(h, 18);
    EXPECT_EQ(mi, 0);
    EXPECT_NEAR(s, 0.01, 1e-4);
}

TEST(Calendar, TimeOfDayBeginsAtNoon) {
    // 11:59 belongs to the Julian day that began the previous noon.
    const double before = julian_day(2010, 6, 15, 11, 59, 0.0);
    const double after = julian_day(2010, 6, 15, 12, 0, 0.0);
    EXPECT_NEAR(after - before, 60.0 / 86400.0, 1e-9);
    EXPECT_DOUBLE_EQ(after, static_cast<double>(static_cast<long long>(after)));
}

TEST(Calendar, RoundTripEveryDayAgainstCivilCalendar) {
    using namespace std::chrono;
    const sys_days first = year{1583} / January / 1;
    const sys_days last = year{2400} / December / 31;
    int checked = 0;
    for (sys_days day = first; day <= last; day += days{1}) {
        const year_month_day ymd{day};
        const int y = static_cast<int>(ymd.year());
        const int m = static_cast<int>(static_cast<unsigned>(ymd.month()));
        const int d = static_cast<int>(static_cast<unsigned>(ymd.day()));
        // A time of day that moves through the day with the date.
        const int hour = checked % 24;
        const int minute = (checked * 7) % 60;
        const double second = (checked % 5) * 11.25;
        const double expected_jd = static_cast<double>(day.time_since_epoch().count()) + 2440587.5 +
                                   (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
        const double jd = julian_day(y, m, d, hour, minute, second);
        ASSERT_NEAR(jd, expected_jd, 1e-8) << y << "-" << m << "-" << d;

        int ry, rmo, rd, rh, rmi;
        double rs;
        calendar_date(jd, ry, rmo, rd, rh, rmi, rs);
        ASSERT_EQ(ry, y);
        ASSERT_EQ(rmo, m);
        ASSERT_EQ(rd, d);
        ASSERT_EQ(rh, hour);
        ASSERT_EQ(rmi, minute);
        ASSERT_NEAR(rs - 0.01, second, 1e-4) << y << "-" << m << "-" << d;
        ++checked;
    }
    EXPECT_EQ(checked, 298769);
}

}  // namespace
