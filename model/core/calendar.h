// Conversion between calendar dates and Julian days (the day beginning at noon),
// used by the clock, the precipitation and hydro-meteorological readers and the
// time-series readers.
#pragma once

// Days of a month (1 to 12) of a year of the Gregorian calendar.
int days_in_month(int year, int month);

// Julian day of a Gregorian date and time of day.
double julian_day(int year, int month, int day, int hour, int minute, double second);

// Calendar date and time of a Julian day. A hundredth of a second is added before
// the split so that whole seconds do not fall just below themselves.
void calendar_date(double jd, int &year, int &month, int &day, int &hour, int &minute,
                   double &second);
