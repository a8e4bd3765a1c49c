// Hydro-meteorological file of a long-term run in the QAR, SAMSON and Surface
// Airways formats: the precipitation set-up scans it once for its record count and
// first and last dates; the long-term meteorology piece reads one hour per call,
// with missing values replaced and the values converted to SI units; and the
// per-cell arrays that a long-term run needs (allocated with the cell arrays).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/core/globals.h"
#include "model/input/input_readers.h"
#include "model/input/precip_setup.h"
#include "model/input/soil_input_services.h"
#include "model/input/surface_inputs.h"
#include "model/core/line_reader.h"
#include "model/core/model_state.h"

namespace {

constexpr double inches_hg_to_mbar = 1013.25 / 29.92;
constexpr double thousandths_hg_to_mbar = 33.86530748663101 / 1000.0;
constexpr double knots_to_m_s = 0.514444;
constexpr double fahrenheit_factor = 0.5555555555555556;
constexpr int qar_field_count = 11;
constexpr std::size_t ncdc_longest_line = 790;
constexpr int ncdc_elements = 7;
enum ncdc_element { dr, gr, pr, rh, tm, ts, wi };

double celsius_of_fahrenheit(double f) { return (f - 32.0) * fahrenheit_factor; }

void reset_reader(model_state &s) { s.hmet_reader = hmet_reader_state{}; }

// A date of a year of four digits, a month of 1..12, a day of that month and an
// hour of 0..24 (24 rolls to 0 of the next day); any other is refused.
bool date_in_range(const model_state &s, int year, int month, int day, int hour, int line) {
    const char *field = nullptr;
    int value = 0, high = 0;
    const char *low = "1";
    if (year < 1 || year > 9999) {
        field = "year", value = year, high = 9999;
    } else if (month < 1 || month > 12) {
        field = "month", value = month, high = 12;
    } else if (day < 1 || day > days_in_month(year, month)) {
        field = "day", value = day, high = days_in_month(year, month);
    } else if (hour < 0 || hour > 24) {
        field = "hour", value = hour, high = 23, low = "0";
    } else {
        return true;
    }
    std::printf("Error: hydro-meteorological file %s, line %d: %s %d is outside %s to %d\n",
                s.hydromet_name.c_str(), line, field, value, low, high);
    raise_printed_error();
    return false;
}

// The values a weather field can take: low..high, low itself excluded when open.
struct field_range {
    double low, high;
    bool low_open;
    const char *text;
};
constexpr field_range per_cent{0.0, 100.0, false, "0 to 100"};
constexpr field_range tenths{0.0, 10.0, false, "0 to 10"};
constexpr field_range not_negative{0.0, HUGE_VAL, false, "0 or more"};
constexpr field_range positive{0.0, HUGE_VAL, true, "more than 0"};
constexpr field_range fahrenheit{-459.67, HUGE_VAL, false, "-459.67 (absolute zero) or more"};
constexpr field_range celsius{-273.15, HUGE_VAL, false, "-273.15 (absolute zero) or more"};

// One field of a record: its value, whether it holds the missing-value code,
// and its range.
struct field_check {
    const char *name;
    double value;
    bool missing;
    field_range range;
};

// A value that is not finite, or (unless missing) one outside its range, is refused.
bool fields_in_range(const model_state &s, int line, std::initializer_list<field_check> fields) {
    for (const field_check &f : fields) {
        const double v = f.value;
        const field_range &r = f.range;
        if (!std::isfinite(v)) {
            std::printf("Error: hydro-meteorological file %s, line %d: the %s %g is not a finite "
                        "number\n",
                        s.hydromet_name.c_str(), line, f.name, v);
        } else if (f.missing || ((r.low_open ? v > r.low : v >= r.low) && v <= r.high)) {
            continue;
        } else {
            std::printf("Error: hydro-meteorological file %s, line %d: the %s %g is outside %s\n",
                        s.hydromet_name.c_str(), line, f.name, v, r.text);
        }
        raise_printed_error();
        return false;
    }
    return true;
}

// The hourly records follow one another in time: one at or before the record
// before it (whose Julian day `previous` holds; 0 before the first) is refused.
bool after_previous(const model_state &s, std::array<int, 4> date, double &previous, int line) {
    roll_hour_24(date);
    const double jd = julian_day(date[0], date[1], date[2], date[3], 0, 0.0);
    if (jd > previous) {
        previous = jd;
        return true;
    }
    std::printf("Error: hydro-meteorological file %s, line %d: the hour %04d-%02d-%02d %02d:00 "
                "does not come after the hour of the record before\n",
                s.hydromet_name.c_str(), line, date[0], date[1], date[2], date[3]);
    raise_printed_error();
    return false;
}

// A file without a single weather record would end the run before its first step.
int no_records(const model_state &s) {
    std::printf("Error: hydro-meteorological file %s holds no weather record\n",
                s.hydromet_name.c_str());
    raise_printed_error();
    return -1;
}

// ---------------------------------------------------------------- fixed columns

// Columns from..to (counted from 1) of a fixed-column line.
struct column_cutter {
    const model_state &s;
    const std::string &line;
    int line_number;
    bool ok = true;

    bool text(int from, int to, std::string &out) {
        if (!ok) return false;
        if (line.size() < static_cast<std::size_t>(to)) {
            std::printf("Error: hydro-meteorological file %s, line %d: columns %d-%d lie beyond "
                        "the end of the line\n",
                        s.hydromet_name.c_str(), line_number, from, to);
            raise_printed_error();
            return ok = false;
        }
        out = line.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1));
        return true;
    }
    void no_number(int from, int to) {
        std::printf("Error: hydro-meteorological file %s, line %d: no number in columns %d-%d\n",
                    s.hydromet_name.c_str(), line_number, from, to);
        raise_printed_error();
        ok = false;
    }
    int integer(int from, int to) {
        std::string t;
        int v = 0;
        if (text(from, to, t) && std::sscanf(t.c_str(), "%d", &v) != 1) no_number(from, to);
        return v;
    }
    double real(int from, int to) {
        std::string t;
        double v = 0.0;
        if (text(from, to, t) && std::sscanf(t.c_str(), "%lf", &v) != 1) no_number(from, to);
        return v;
    }
};

// ------------------------------------------------------------------------ QAR

struct qar_record {
    int year = 0, month = 0, day = 0, hour = 0;
    double pressure = 0.0;
    int humidity = 0, sky = 0, wind = 0, temperature = 0;
    double direct = 0.0, global = 0.0;
    std::string unread;  // the word at which a record stopped (empty: no word left)
};

// Next blank-separated word of the file, across line ends; false at its end.
bool next_word(model_state &s, std::string &word) {
    std::string &rest = s.hmet_reader.pending;
    for (;;) {
        const std::size_t b = rest.find_first_not_of(" \t\r\n\f\v");
        if (b != std::string::npos) {
            const std::size_t e = rest.find_first_of(" \t\r\n\f\v", b);
            word = rest.substr(b, e == std::string::npos ? std::string::npos : e - b);
            rest.erase(0, e == std::string::npos ? rest.size() : e);
            return true;
        }
        if (!read_line(rest, s.hydromet_file)) return false;
    }
}

bool word_int(const std::string &w, int &v) {
    char *end = nullptr;
    const long x = std::strtol(w.c_str(), &end, 10);
    if (end == w.c_str() || *end != '\0' || x < -2147483647L || x > 2147483647L) return false;
    v = static_cast<int>(x);
    return true;
}

bool word_double(const std::string &w, double &v) {
    char *end = nullptr;
    v = std::strtod(w.c_str(), &end);
    return end != w.c_str() && *end == '\0';
}

// One record of eleven fields; the number of fields read, -1 at the end of the file.
int read_qar_record(model_state &s, qar_record &r) {
    int *ints[] = {&r.year, &r.month, &r.day, &r.hour, nullptr, &r.humidity,
                   &r.sky,  &r.wind,  &r.temperature};
    double *reals[] = {&r.pressure, &r.direct, &r.global};
    std::string w;
    r.unread.clear();
    for (int k = 0; k < qar_field_count; ++k) {
        if (!next_word(s, w)) return k == 0 ? -1 : k;
        const bool ok = k == 4    ? word_double(w, *reals[0])
                        : k >= 9  ? word_double(w, *reals[k - 8])
                                  : word_int(w, *ints[k]);
        if (!ok) {
            r.unread = w;
            return k;
        }
    }
    return qar_field_count;
}

void qar_format_error(const model_state &s, const qar_record &r, int line, int fields) {
    std::printf("Error: Problem encountered in hmet_QAR file, line %d, near parameter %d\n\n", line,
                fields + 1);
    std::printf(" Format:\n1   2   3   4    5     6           7        8         9    10        11  \n"
                "Yr  Mo  Day Hr  Press. RelHumidity SkyCover WindSpeed Temp DirectRad GlobalRad\n"
                "int int int int float  int         int      int       int  float     float\n\n");
    // A record that ran out of words lacks fields; one that stopped at a word
    // holds a value that its field cannot take.
    const bool real_field = fields == 4 || fields >= 9;
    if (r.unread.empty())
        std::printf("Error: hydro-meteorological file %s, line %d: a record needs 11 fields; "
                    "the file ends after %d\n",
                    s.hydromet_name.c_str(), line, fields);
    else
        std::printf("Error: hydro-meteorological file %s, line %d: field %d, \"%s\", is not %s\n",
                    s.hydromet_name.c_str(), line, fields + 1, r.unread.c_str(),
                    real_field ? "a number" : "a whole number (fields 1-4 and 6-9 are whole numbers)");
    raise_printed_error();
}

// The date and every field of a record within what it means (missing codes aside).
bool qar_record_ok(const model_state &s, const qar_record &r, int line) {
    const auto radiation_missing = [](double v) { return std::isfinite(v) && v > 9999.9; };
    return date_in_range(s, r.year, r.month, r.day, r.hour, line) &&
           fields_in_range(
               s, line,
               {{"pressure", r.pressure, r.pressure == 999.0, positive},
                {"relative humidity", static_cast<double>(r.humidity), r.humidity == 999, per_cent},
                {"sky cover", static_cast<double>(r.sky), r.sky == 999, tenths},
                {"wind speed", static_cast<double>(r.wind), r.wind == 999, not_negative},
                {"temperature", static_cast<double>(r.temperature), r.temperature == 999,
                 fahrenheit},
                {"direct radiation", r.direct, radiation_missing(r.direct), not_negative},
                {"global radiation", r.global, radiation_missing(r.global), not_negative}});
}

int scan_qar(model_state &s) {
    int lines = 0;
    double previous = 0.0;
    qar_record r;
    for (;;) {
        const int n = read_qar_record(s, r);
        if (n == -1) break;
        if (n < qar_field_count) {
            qar_format_error(s, r, lines + 1, n);
            return -1;
        }
        if (!qar_record_ok(s, r, lines + 1) ||
            !after_previous(s, {r.year, r.month, r.day, r.hour}, previous, lines + 1))
            return -1;
        ++lines;
        if (lines == 1) s.hmet_first = {r.year, r.month, r.day, r.hour};
        s.hmet_last = {r.year, r.month, r.day, r.hour};
    }
    echo_console(s, "End of hmet_QAR file encountered after %d lines\n", lines);
    if (lines == 0) return no_records(s);
    s.hmet_line_count = lines;
    std::rewind(s.hydromet_file);
    return 0;
}

// A missing value takes the last valid one; a valid one becomes the last.
double repaired(bool missing, double value, double &last, int &count) {
    if (missing) {
        ++count;
        return last;
    }
    last = value;
    return value;
}

int read_qar(model_state &s) {
    hmet_reader_state &m = s.hmet_reader;
    qar_record r;
    const int n = read_qar_record(s, r);
    if (n == -1) return -1;
    if (n < qar_field_count) {
        qar_format_error(s, r, m.records_read + 1, n);
        return -1;
    }
    ++m.records_read;
    if (!qar_record_ok(s, r, m.records_read)) return -1;
    std::array<int, 4> date{r.year, r.month, r.day, r.hour};
    roll_hour_24(date);
    const std::size_t h = static_cast<std::size_t>(date[3]);

    hmet_hour_record &out = s.hmet_hour;
    int missing = 0;
    const double pressure = repaired(r.pressure == 999.0, r.pressure, m.pressure, missing);
    const double humidity = repaired(r.humidity == 999, r.humidity, m.humidity, missing);
    const double sky = repaired(r.sky == 999, r.sky, m.sky_cover, missing);
    const double wind = repaired(r.wind == 999, r.wind, m.wind, missing);
    const double temperature = repaired(r.temperature == 999, r.temperature, m.temperature, missing);
    const double direct = repaired(r.direct > 9999.9, r.direct, m.direct[h], missing);
    const double global = repaired(r.global > 9999.9, r.global, m.global[h], missing);
    if (!(r.global > 9999.9)) m.global_seen[h] = 1;

    out.year = date[0];
    out.month = date[1];
    out.day = date[2];
    out.hour = date[3];
    out.pressure = pressure * inches_hg_to_mbar;
    out.relative_humidity = humidity;
    out.sky_cover = sky;
    out.wind_speed = wind * knots_to_m_s;
    out.air_temperature = celsius_of_fahrenheit(temperature);
    out.direct_radiation = direct;
    out.global_radiation = global;
    out.global_given = m.global_seen[h];
    out.missing_count = missing;
    s.hmet_repair_count += missing;
    return qar_field_count;
}

// --------------------------------------------------------------------- SAMSON

// One hourly SAMSON line cut into its fields.
struct samson_line {
    std::array<int, 4> date{};
    int direct = 0, global = 0, sky = 0, humidity = 0, pressure = 0;
    double temperature = 0.0, wind = 0.0;
};

// Cuts an hourly line into its fields, the date with the year and hour-24 rules;
// a field outside what it means is refused. False after an error (reported).
bool cut_samson_line(const model_state &s, const std::string &text, int number, samson_line &l) {
    column_cutter c{s, text, number};
    int year = c.integer(2, 3);
    const int month = c.integer(5, 6), day = c.integer(8, 9), hour = c.integer(11, 12);
    l.direct = c.integer(34, 37);
    l.global = c.integer(42, 45);
    l.sky = c.integer(50, 51);
    l.temperature = c.real(56, 60);
    l.humidity = c.integer(68, 70);
    l.pressure = c.integer(72, 75);
    l.wind = c.real(80, 85);
    if (!c.ok) return false;
    constexpr field_range two_digits{0.0, 99.0, false, "0 to 99"};
    if (!fields_in_range(s, number, {{"year", static_cast<double>(year), false, two_digits}}))
        return false;
    if (year < 100) year += 1900;
    if (!date_in_range(s, year, month, day, hour, number)) return false;
    const double w = std::trunc(l.wind);
    if (!fields_in_range(
            s, number,
            {{"direct radiation", static_cast<double>(l.direct), l.direct == 9999, not_negative},
             {"global radiation", static_cast<double>(l.global), l.global == 9999, not_negative},
             {"sky cover", static_cast<double>(l.sky), l.sky == 99, tenths},
             {"temperature", l.temperature, std::trunc(10.0 * l.temperature) == 9999.0, celsius},
             {"relative humidity", static_cast<double>(l.humidity), l.humidity == 999, per_cent},
             {"pressure", static_cast<double>(l.pressure), l.pressure == 9999, positive},
             {"wind speed", l.wind, w == 99.0 || w == 9999.0, not_negative}}))
        return false;
    l.date = {year, month, day, hour};
    roll_hour_24(l.date);
    return true;
}

int scan_samson(model_state &s) {
    std::string line;
    int line_number = 1;
    if (!read_line(line, s.hydromet_file)) {
        std::printf("Error: hydro-meteorological file %s has no station header\n",
                    s.hydromet_name.c_str());
        raise_printed_error();
        return -1;
    }
    column_cutter header{s, line, line_number};
    std::string station;
    header.text(8, 29, station);
    const int lat_deg = header.integer(40, 41), lat_min = header.integer(43, 44);
    const int lon_deg = header.integer(48, 50), lon_min = header.integer(52, 53);
    if (!header.ok) return -1;
    constexpr field_range minutes{0.0, 59.0, false, "0 to 59"};
    constexpr field_range latitude{0.0, 90.0, false, "0 to 90"};
    constexpr field_range longitude{0.0, 180.0, false, "0 to 180"};
    if (!fields_in_range(s, 1,
                         {{"latitude degrees", static_cast<double>(lat_deg), false, latitude},
                          {"latitude minutes", static_cast<double>(lat_min), false, minutes},
                          {"longitude degrees", static_cast<double>(lon_deg), false, longitude},
                          {"longitude minutes", static_cast<double>(lon_min), false, minutes}}))
        return -1;
    s.hmet_station = station;
    s.hmet_latitude = lat_deg + lat_min / 60.0;
    s.hmet_longitude = lon_deg + lon_min / 60.0;
    read_line(line, s.hydromet_file);
    line_number = 2;

    // Every read counts, also the one that meets the end of the file.
    int reads = 0;
    double previous = 0.0;
    for (;;) {
        ++reads;
        if (!read_line(line, s.hydromet_file)) break;
        ++line_number;
        samson_line l;
        if (!cut_samson_line(s, line, line_number, l) ||
            !after_previous(s, l.date, previous, line_number))
            return -1;
        if (reads == 1) s.hmet_first = l.date;
        s.hmet_last = l.date;
    }
    if (reads == 1) return no_records(s);
    s.hmet_line_count = reads;
    s.hmet_reader.samson_headers_skipped = 0;
    s.hmet_reader.samson_calls = 0;
    std::rewind(s.hydromet_file);
    return 0;
}

int read_samson(model_state &s) {
    hmet_reader_state &m = s.hmet_reader;
    std::string line;
    if (!m.samson_headers_skipped) {
        read_line(line, s.hydromet_file);
        read_line(line, s.hydromet_file);
        m.samson_headers_skipped = 1;
    }
    if (++m.samson_calls >= s.hmet_line_count) return -1;
    if (!read_line(line, s.hydromet_file)) return -1;
    ++m.records_read;
    samson_line l;
    if (!cut_samson_line(s, line, m.records_read + 2, l)) return -1;
    const std::array<int, 4> &date = l.date;
    const int direct = l.direct, global = l.global, sky = l.sky, humidity = l.humidity;
    const int pressure = l.pressure;
    const double temperature = l.temperature, wind = l.wind;
    const std::size_t h = static_cast<std::size_t>(date[3]);

    // Temperature is kept as tenths and wind as hundredths, both truncated.
    int missing = 0;
    hmet_hour_record &out = s.hmet_hour;
    out.direct_radiation = repaired(direct == 9999, direct, m.direct[h], missing);
    out.global_radiation = repaired(global == 9999, global, m.global[h], missing);
    if (global != 9999) m.global_seen[h] = 1;
    out.global_given = m.global_seen[h];
    out.sky_cover = repaired(sky == 99, sky, m.sky_cover, missing);
    const double t10 = std::trunc(10.0 * temperature);
    if (t10 == 9999.0) {
        ++missing;
        out.air_temperature = m.hour_temperature[h] / 10.0;
    } else {
        m.hour_temperature[h] = t10;
        out.air_temperature = temperature;
    }
    out.relative_humidity = repaired(humidity == 999, humidity, m.hour_humidity[h], missing);
    out.pressure = repaired(pressure == 9999, pressure, m.pressure, missing);
    const double w = std::trunc(wind);
    if (w == 99.0 || w == 9999.0) {
        ++missing;
        out.wind_speed = m.wind / 100.0;
    } else {
        m.wind = std::trunc(wind * 100.0);
        out.wind_speed = wind;
    }
    out.year = date[0];
    out.month = date[1];
    out.day = date[2];
    out.hour = date[3];
    out.missing_count = missing;
    s.hmet_repair_count += missing;
    return 0;
}

// -------------------------------------------------------------- Surface Airways

int element_of(const std::string &code) {
    static const char *names[ncdc_elements] = {"DR", "GR", "PR", "RH", "TM", "TS", "WI"};
    for (int e = 0; e < ncdc_elements; ++e)
        if (code.compare(0, 2, names[e]) == 0) return e;
    return -1;
}

// Element, date and value count of a line; false after a format error. An
// unknown element gives element -1.
bool ncdc_header(const model_state &s, column_cutter &c, hmet_held_line &l) {
    std::string code;
    c.text(12, 15, code);
    l.element = c.ok ? element_of(code) : -1;
    l.year = c.integer(18, 21);
    l.month = c.integer(22, 23);
    l.day = c.integer(26, 27);
    l.count = c.integer(28, 30);
    if (!c.ok) return false;
    if (l.count < 0 || l.count > 24) {
        std::printf("Error: hydro-meteorological file %s, line %d: %d hourly values, at most 24 "
                    "are allowed\n",
                    s.hydromet_name.c_str(), c.line_number, l.count);
        raise_printed_error();
        return false;
    }
    return date_in_range(s, l.year, l.month, l.day, 0, c.line_number);
}

// Columns of the value of hour k - 1 (k = 1..24).
int value_first_column(int k) { return 31 + 12 * (k - 1) + 5; }

// The raw values 1..count of a line of a known element, each within what its
// element means unless it holds the missing-value code; false after an error.
bool ncdc_raw_values(const model_state &s, column_cutter &c, const hmet_held_line &l,
                     std::array<int, 25> &raw) {
    static const char *names[ncdc_elements] = {"direct radiation", "global radiation", "pressure",
                                               "relative humidity", "temperature", "sky cover",
                                               "wind"};
    static const field_range ranges[ncdc_elements] = {not_negative, not_negative, positive,
                                                      per_cent,     fahrenheit,   not_negative,
                                                      not_negative};
    const std::size_t e = static_cast<std::size_t>(l.element);
    for (int k = 1; k <= l.count; ++k) {
        const int v = c.integer(value_first_column(k), value_first_column(k) + 4);
        if (!c.ok) return false;
        const bool missing = l.element == ts   ? v / 100 == 999
                             : l.element == wi ? v % 1000 == 999
                                               : v == 99999;
        if (!fields_in_range(s, c.line_number,
                             {{names[e], static_cast<double>(v), missing, ranges[e]}}))
            return false;
        raw[static_cast<std::size_t>(k)] = v;
    }
    return true;
}

// Reads and cuts the next line, replacing missing values; false at the end of
// the file or after an error (error_record then fatal).
bool read_ncdc_line(model_state &s, hmet_held_line &l, int &missing) {
    hmet_reader_state &m = s.hmet_reader;
    std::string line;
    for (;;) {
        if (!read_line(line, s.hydromet_file)) return false;
        ++m.records_read;
        column_cutter c{s, line, m.records_read};
        if (!ncdc_header(s, c, l)) return false;
        if (l.element >= 0) {
            std::array<int, 25> raws{};
            if (!ncdc_raw_values(s, c, l, raws)) return false;
            for (int k = 1; k <= l.count; ++k) {
                const std::size_t kk = static_cast<std::size_t>(k), h = kk - 1;
                const int raw = raws[kk];
                double &v = l.values[kk];
                switch (l.element) {
                case dr: v = repaired(raw == 99999, raw, m.direct[h], missing); break;
                case gr:
                    v = repaired(raw == 99999, raw, m.global[h], missing);
                    if (raw != 99999) m.global_seen[h] = 1;
                    break;
                case pr: v = repaired(raw == 99999, raw, m.pressure, missing); break;
                case rh: v = repaired(raw == 99999, raw, m.hour_humidity[h], missing); break;
                case tm: v = repaired(raw == 99999, raw, m.hour_temperature[h], missing); break;
                case ts:
                    if (raw / 100 == 999) {
                        ++missing;
                        l.extra[kk] = m.last_sky_hundreds;
                        v = -1.0;  // the hour keeps its sky cover
                    } else {
                        m.last_sky_hundreds = l.extra[kk] = raw / 100;
                        v = raw % 100;
                    }
                    break;
                default:  // wi
                    l.extra[kk] = raw / 1000;
                    v = repaired(raw % 1000 == 999, raw % 1000, m.wind, missing);
                    break;
                }
            }
            l.present = 1;
            return true;
        }
    }
}

void store_ncdc_line(hmet_reader_state &m, const hmet_held_line &l) {
    std::array<double, 25> &day = m.day_values[static_cast<std::size_t>(l.element)];
    for (int k = 1; k <= l.count; ++k) {
        const std::size_t kk = static_cast<std::size_t>(k);
        if (l.element == ts) {
            m.sky_hundreds[kk] = l.extra[kk];
            if (l.values[kk] >= 0.0) day[kk] = l.values[kk];
        } else {
            if (l.element == wi) m.wind_direction[kk] = l.extra[kk];
            day[kk] = l.values[kk];
        }
    }
    if (l.element == dr) m.direct_present = 1;
    if (l.element == gr) m.global_present = 1;
}

bool same_day(const hmet_held_line &l, const std::array<int, 4> &d) {
    return l.year == d[0] && l.month == d[1] && l.day == d[2];
}

// The record mode loads the days one after the other as the clock reaches them:
// the lines of a day stand together and each new day is the day after the last.
bool next_day_follows(const model_state &s, const hmet_held_line &previous,
                      const hmet_held_line &l, int line) {
    const double gap = julian_day(l.year, l.month, l.day, 0, 0, 0.0) -
                       julian_day(previous.year, previous.month, previous.day, 0, 0, 0.0);
    if (gap == 1.0) return true;
    std::printf("Error: hydro-meteorological file %s, line %d: the day %04d-%02d-%02d does not "
                "follow the day %04d-%02d-%02d of the line before (the lines of a day stand "
                "together and the days follow one another)\n",
                s.hydromet_name.c_str(), line, l.year, l.month, l.day, previous.year,
                previous.month, previous.day);
    raise_printed_error();
    return false;
}

int scan_ncdc(model_state &s) {
    std::array<int, ncdc_elements> days{};
    std::string line;
    long lines = 0, known_lines = 0;
    int records = 0;
    hmet_held_line previous;
    for (;;) {
        if (!read_line(line, s.hydromet_file)) break;
        ++lines;
        if (line.size() > ncdc_longest_line) {
            std::printf("Line too long in hmet_NCDC input file.  Program exiting\n");
            raise_printed_error();
            return -1;
        }
        column_cutter c{s, line, static_cast<int>(lines)};
        hmet_held_line l;
        if (!ncdc_header(s, c, l)) return -1;
        std::array<int, 25> raws{};
        if (l.element >= 0 && !ncdc_raw_values(s, c, l, raws)) return -1;
        if (l.count > 0) {
            std::string last_value;
            if (!c.text(value_first_column(l.count), value_first_column(l.count) + 4, last_value))
                return -1;
        }
        if (lines == 1) s.hmet_first = {l.year, l.month, l.day, 0};
        if (lines > 1 && !same_day(previous, {l.year, l.month, l.day, 0}) &&
            !next_day_follows(s, previous, l, static_cast<int>(lines)))
            return -1;
        if (lines == 1 || !same_day(previous, {l.year, l.month, l.day, 0})) records += 24;
        s.hmet_last = {l.year, l.month, l.day, 23};
        previous = l;
        if (l.element >= 0) {
            ++days[static_cast<std::size_t>(l.element)];
            ++known_lines;
        }
    }
    echo_console(s, "End of hmet_NCDC file encountered after %ld lines\n", lines);
    if (known_lines == 0) return no_records(s);
    echo_console(s, "DRAD GRAD PRES RHUM TMPD TSKC WIND\n");
    echo_console(s, " %d  %d  %d  %d  %d  %d  %d\n", days[dr], days[gr], days[pr], days[rh],
                 days[tm], days[ts], days[wi]);
    const char *closing = "required for each day.  Examine the file and supply the \n"
                          "missing data.  Program terminating\n\n";
    if (days[rh] != days[tm]) {
        std::printf("There is an error in the Surface Airways hydrometeorology\n"
                    "data file.  There appears to be a different number of \n"
                    "days of rel. humidity data than temperature data.  Rel. hum.\n"
                    "data is required for each day.  Examine the file and supply\n"
                    "the missing data.  Program terminating\n\n");
        raise_printed_error();
        return -1;
    }
    if (days[ts] != days[tm]) {
        std::printf("There is an error in the Surface Airways hydrometeorology\n"
                    "data file.  There appear to be a different number of days\n"
                    "of cloud cover data than temperature data.  Clouds data is\n%s",
                    closing);
        raise_printed_error();
        return -1;
    }
    if (days[wi] != days[tm]) {
        std::printf("There is an error in the Surface Airways hydrometeorology\n"
                    "data file.  There appear to be different number of days of "
                    "wind data than temperature data.  Wind speed data is\n%s",
                    closing);
        raise_printed_error();
        return -1;
    }
    s.hmet_line_count = records;
    reset_reader(s);
    std::rewind(s.hydromet_file);
    return 0;
}

// The requested day and hour: the first date of the scan, then one hour more per call.
void next_wanted_hour(model_state &s) {
    hmet_reader_state &m = s.hmet_reader;
    if (!m.wanted_started) {
        m.wanted = s.hmet_first;
        m.wanted_started = 1;
        return;
    }
    m.wanted[3] += 1;
    roll_hour_24(m.wanted);
}

int read_ncdc(model_state &s) {
    hmet_reader_state &m = s.hmet_reader;
    next_wanted_hour(s);
    int missing = 0;
    if (m.records_read == 0 && !read_ncdc_line(s, m.held, missing) && error_record.fatal)
        return -1;
    const std::array<int, 4> &want = m.wanted;
    if (want[3] == 0) {
        if (!m.held.present) return -1;  // no day left in the file
        if (same_day(m.held, want)) {
            m.direct_present = m.global_present = 0;
            store_ncdc_line(m, m.held);
            m.held.present = 0;
            hmet_held_line l;
            while (read_ncdc_line(s, l, missing)) {
                if (!same_day(l, want)) {
                    m.held = l;
                    break;
                }
                store_ncdc_line(m, l);
            }
            if (error_record.fatal) return -1;
        }
    }
    const std::size_t k = static_cast<std::size_t>(want[3]) + 1;
    hmet_hour_record &out = s.hmet_hour;
    out.year = want[0];
    out.month = want[1];
    out.day = want[2];
    out.hour = want[3];
    out.direct_radiation = m.direct_present ? m.day_values[dr][k] / 10.0 : 0.0;
    out.global_radiation = m.global_present ? m.day_values[gr][k] / 10.0 : 0.0;
    out.global_given = m.global_present && m.global_seen[k - 1] ? 1 : 0;
    out.pressure = m.day_values[pr][k] * thousandths_hg_to_mbar;
    out.relative_humidity = m.day_values[rh][k];
    out.air_temperature = celsius_of_fahrenheit(m.day_values[tm][k]);
    out.sky_cover = m.day_values[ts][k];
    out.wind_speed = m.day_values[wi][k] * knots_to_m_s;
    out.missing_count = missing;
    s.hmet_repair_count += missing;
    return 0;
}

}  // namespace

int scan_hmet_file(model_state &s, int scan) {
    if (!s.hydromet_file) {
        std::printf("Error: the hydro-meteorological file %s is not open\n", s.hydromet_name.c_str());
        raise_printed_error();
        return -1;
    }
    if (scan) {
        reset_reader(s);
        const int result = s.hmet_qar ? scan_qar(s) : s.hmet_samson ? scan_samson(s) : scan_ncdc(s);
        const int headers = s.hmet_reader.samson_headers_skipped;
        reset_reader(s);
        s.hmet_reader.samson_headers_skipped = headers;
        return result;
    }
    if (s.hmet_qar) return read_qar(s);
    if (s.hmet_samson) return read_samson(s);
    return read_ncdc(s);
}

void allocate_longterm_cell_arrays(model_state &s) {
    if (!s.long_term) return;
    const int n = s.cell_count;
    for (array_1d<double> *a :
         {&s.potential_et, &s.potential_et2, &s.frozen_ground_index, &s.root_zone_bottom_flux,
          &s.snow_store, &s.surface_temperature, &s.ground_heat_flux, &s.ponded_evaporation}) {
        if (!ensure_cell_array(*a, n)) {
            print_allocation_failure("long-term cell arrays");
            raise_printed_error();
            return;
        }
    }
}
