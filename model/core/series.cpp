// Named time series, elevation series and pumps: their block files, lookup by name
// and id, interpolation and the pump definition of the channel file. The files are
// read while the project file is read; lookups run during the time loop.
#include "model/core/series.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <utility>

#include "model/core/calendar.h"
#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "model/core/line_reader.h"

namespace {

// Julian day of the proleptic date 0-00-00 00:00, so that a RELATIVE record of
// year 0 and month 0 gives its day, hour and minute as days.
constexpr double relative_time_origin = 1721028.5;

bool begins_with(const std::string &line, const char *word) {
    return line.compare(0, std::strlen(word), word) == 0;
}

bool is_blank(const std::string &line) {
    return std::all_of(line.begin(), line.end(), [](char c) {
        return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
    });
}

void printed_failure() { raise_printed_error(); }

// The leading numbers of a record line, as "%d" and "%lf" read them (text after
// the last is ignored); false when one is missing, an integer does not fit in
// 32 bits or a real is not finite.
bool record_numbers(const std::string &line, std::initializer_list<int *> ints,
                    std::initializer_list<double *> reals) {
    const char *p = line.c_str();
    char *end = nullptr;
    for (int *v : ints) {
        errno = 0;
        const long long x = std::strtoll(p, &end, 10);
        if (end == p || errno == ERANGE || x < INT_MIN || x > INT_MAX) return false;
        *v = static_cast<int>(x);
        p = end;
    }
    for (double *v : reals) {
        *v = std::strtod(p, &end);
        if (end == p || !std::isfinite(*v)) return false;
        p = end;
    }
    return true;
}

// The first field of a record date outside what it means, or nullptr. Absolute
// times are calendar dates of years 1 to 9999 (hour 24 is midnight of the next
// day); relative times count days, hours and minutes from 0.
const char *date_field_out_of_range(bool relative, int year, int month, int day, int hour,
                                    int minute) {
    if (relative) {
        if (year < 0 || year > 9999) return "year";
        if (month < 0 || month > 12) return "month";
        if (day < 0 || hour < 0 || minute < 0) return "day, hour or minute";
        return nullptr;
    }
    if (year < 1 || year > 9999) return "year";
    if (month < 1 || month > 12) return "month";
    if (day < 1 || day > days_in_month(year, month)) return "day";
    if (hour < 0 || hour > 24) return "hour";
    if (minute < 0 || minute > 59) return "minute";
    return nullptr;
}

// Skips lines up to the one that begins with `start`; false at end of file.
bool find_block(std::FILE *file, const char *start) {
    std::string line;
    while (read_line(line, file)) {
        if (begins_with(line, start)) return true;
    }
    return false;
}

// The name line of a block: its first token, quotes removed.
bool read_block_name(std::FILE *file, std::string &name) {
    std::string line;
    if (!read_line(line, file)) return false;
    name.clear();
    next_token(name, line);
    return true;
}

// Interval search shared by the series: the first i >= from with
// a[i] <= v <= a[i+1]; count-1 when there is none.
int find_interval(const std::vector<double> &a, int from, double v) {
    const int n = static_cast<int>(a.size());
    for (int i = std::max(from, 0); i + 1 < n; ++i) {
        if (a[i] <= v && v <= a[i + 1]) return i;
    }
    return n - 1;
}

// Value at v inside interval i. At a knot that repeats its abscissa the later
// value holds, so a zero-width interval never divides by zero.
double interpolate(const std::vector<double> &a, const std::vector<double> &b, int i, double v) {
    const int n = static_cast<int>(a.size());
    if (v == a[i + 1]) {
        int j = i + 1;
        while (j + 1 < n && a[j + 1] == v) ++j;
        return b[j];
    }
    const double w = (v - a[i]) / (a[i + 1] - a[i]);
    return (1.0 - w) * b[i] + w * b[i + 1];
}

}  // namespace

// ---------------------------------------------------------------------------
// Files

int read_time_series(std::FILE *file, const std::string &file_name) {
    if (!file || !find_block(file, "KORVA_TS")) return 0;

    auto ts = std::make_unique<time_series>();
    std::string line;
    if (!read_block_name(file, ts->name) || !read_line(line, file)) {
        std::printf("Error: time series block without its name and kind lines in file %s\n",
                    file_name.c_str());
        printed_failure();
        return 0;
    }
    ts->relative = begins_with(line, "RELATIVE") ? 1 : 0;

    bool ended = false;
    int record = 0;
    while (read_line(line, file)) {
        if (begins_with(line, "END_TS")) {
            ended = true;
            break;
        }
        if (is_blank(line)) continue;
        ++record;
        int year = 0, month = 0, day = 0, hour = 0, minute = 0;
        double value = 0.0;
        if (!record_numbers(line, {&year, &month, &day, &hour, &minute}, {&value})) {
            std::printf("Error: unable to read record %d of time series [%s] in file %s\n",
                        record, ts->name.c_str(), file_name.c_str());
            printed_failure();
            return 0;
        }
        if (const char *field =
                date_field_out_of_range(ts->relative, year, month, day, hour, minute)) {
            std::printf("Error: record %d of time series [%s] in file %s: the %s of the date "
                        "%d %d %d %d %d is out of range\n",
                        record, ts->name.c_str(), file_name.c_str(), field, year, month, day, hour,
                        minute);
            printed_failure();
            return 0;
        }
        double t = julian_day(year, month, day, hour, minute, 0.0);
        if (ts->relative) t -= relative_time_origin;
        if (!ts->times.empty() && t < ts->times.back()) {
            std::printf("Error: the times of time series [%s] decrease at record %d in file %s\n",
                        ts->name.c_str(), record, file_name.c_str());
            printed_failure();
            return 0;
        }
        ts->times.push_back(t);
        ts->values.push_back(value);
    }
    if (!ended) {
        std::printf("Error: time series [%s] in file %s has no END_TS line\n", ts->name.c_str(),
                    file_name.c_str());
        printed_failure();
        return 0;
    }
    ts->count = static_cast<int>(ts->times.size());
    time_series_list.push_back(std::move(ts));
    return 1;
}

int read_elevation_series(std::FILE *file, const std::string &file_name) {
    if (!file || !find_block(file, "KORVA_ES")) return 0;

    auto es = std::make_unique<elevation_series>();
    if (!read_block_name(file, es->name)) {
        std::printf("Error: elevation series block without its name line in file %s\n",
                    file_name.c_str());
        printed_failure();
        return 0;
    }

    std::string line;
    bool ended = false;
    int record = 0;
    while (read_line(line, file)) {
        if (begins_with(line, "END_ES")) {
            ended = true;
            break;
        }
        if (is_blank(line)) continue;
        ++record;
        double x = 0.0, y = 0.0;
        if (!record_numbers(line, {}, {&x, &y})) {
            std::printf("Error: unable to read record %d of elevation series [%s] in file %s\n",
                        record, es->name.c_str(), file_name.c_str());
            printed_failure();
            return 0;
        }
        if (!es->x.empty() && x < es->x.back()) {
            std::printf(
                "Error: the x values of elevation series [%s] decrease at record %d in file %s\n",
                es->name.c_str(), record, file_name.c_str());
            printed_failure();
            return 0;
        }
        es->x.push_back(x);
        es->y.push_back(y);
    }
    if (!ended) {
        std::printf("Error: elevation series [%s] in file %s has no END_ES line\n",
                    es->name.c_str(), file_name.c_str());
        printed_failure();
        return 0;
    }
    es->count = static_cast<int>(es->x.size());
    elevation_series_list.push_back(std::move(es));
    return 1;
}

namespace {

// Reads every block of one series file with `read_one`; `title` and `kind` name
// the series in the messages ("Time"/"time" or "Elevation"/"elevation").
void read_series_file(const std::string &file_name, const char *title, const char *kind,
                      int (*read_one)(std::FILE *, const std::string &)) {
    std::string name = file_name;
    std::FILE *file = open_run_file(name, "r");
    if (!file) {
        std::printf("Error: %s series file not found [%s]\n", title, name.c_str());
        return;
    }
    int count = 0;
    while (read_one(file, name)) ++count;
    std::printf("%d %s series read from file %s\n", count, kind, name.c_str());
    std::fclose(file);
}

}  // namespace

void read_time_series_file(const std::string &file_name) {
    read_series_file(file_name, "Time", "time", read_time_series);
}

void read_elevation_series_file(const std::string &file_name) {
    read_series_file(file_name, "Elevation", "elevation", read_elevation_series);
}

// ---------------------------------------------------------------------------
// Lookup by name and id

namespace {

template <class List>
auto find_by_name(const List &list, const std::string &name) -> decltype(list.front().get()) {
    if (name.empty()) return nullptr;  // an empty name would match every series
    for (const auto &s : list)
        if (s->name == name) return s.get();
    for (const auto &s : list)
        if (s->name.compare(0, name.size(), name) == 0) return s.get();
    return nullptr;
}

}  // namespace

time_series *find_time_series(const std::string &name) {
    return find_by_name(time_series_list, name);
}

elevation_series *find_elevation_series(const std::string &name) {
    return find_by_name(elevation_series_list, name);
}

void add_time_series_id(int id, time_series *series) {
    time_series_id_list.insert(time_series_id_list.begin(), time_series_id_entry{id, series});
}

// ---------------------------------------------------------------------------
// Interpolation

double time_series_value(time_series *series, double t) {
    if (!series) {
        std::printf(
            "Error: attempting to extract a value from a time series that does not exist.\n");
        printed_failure();
        return 0.0;
    }
    const int n = static_cast<int>(series->times.size());
    if (n == 0) {
        std::printf(
            "Error: attempting to extract a value from a time series [%s] with no entries.\n",
            series->name.c_str());
        printed_failure();
        return 0.0;
    }
    if (n == 1) return series->values[0];
    if (t <= series->times[0]) return series->values[0];
    if (t >= series->times[n - 1]) return series->values[n - 1];

    int start = series->last_index;
    if (start < 0 || start >= n - 1) start = 0;
    int i = find_interval(series->times, start, t);
    if (i >= n - 1 && start > 0) i = find_interval(series->times, 0, t);
    if (i >= n - 1) {
        std::printf("Error: something is really messed up with your time series [%s].\n",
                    series->name.c_str());
        printed_failure();
        return 0.0;
    }
    series->last_index = i;
    return interpolate(series->times, series->values, i, t);
}

namespace {

// The checks shared by the two elevation-series lookups; true when `result` holds
// the value already (an end point or an error).
bool elevation_end_value(const elevation_series *series, double x, double &result) {
    result = 0.0;
    if (!series) {
        std::printf(
            "Error: attempting to extract a value from an elevation series that does not "
            "exist.\n");
        printed_failure();
        return true;
    }
    const int n = static_cast<int>(series->x.size());
    if (n == 0) {
        std::printf(
            "Error: attempting to extract a value from an elevation series [%s] with no "
            "entries.\n",
            series->name.c_str());
        printed_failure();
        return true;
    }
    if (n == 1 || x <= series->x[0]) {
        result = series->y[0];
        return true;
    }
    if (x >= series->x[n - 1]) {
        result = series->y[n - 1];
        return true;
    }
    return false;
}

void elevation_not_found(const elevation_series *series) {
    std::printf("Error: something is really messed up with your elevation series [%s].\n",
                series->name.c_str());
    printed_failure();
}

}  // namespace

double elevation_series_value(const elevation_series *series, double x) {
    double result = 0.0;
    if (elevation_end_value(series, x, result)) return result;
    const int i = find_interval(series->x, 0, x);
    if (i >= static_cast<int>(series->x.size()) - 1) {
        elevation_not_found(series);
        return 0.0;
    }
    return interpolate(series->x, series->y, i, x);
}

double elevation_series_step_value(const elevation_series *series, double x) {
    double result = 0.0;
    if (elevation_end_value(series, x, result)) return result;
    const int i = find_interval(series->x, 0, x);
    if (i >= static_cast<int>(series->x.size()) - 1) {
        elevation_not_found(series);
        return 0.0;
    }
    return series->y[i];
}

double time_series_value_by_id(int id, double t) {
    for (const auto &entry : time_series_id_list)
        if (entry.id == id) return time_series_value(entry.series, t);
    std::printf(
        "Error: attempting to extract a value from an unknown time series in the time series "
        "table.    Check the mapping table file (.cmt).\n");
    printed_failure();
    return 0.0;
}

void shift_time_series(double start) {
    for (auto &s : time_series_list) {
        if (!s->relative || s->shifted) continue;
        for (double &t : s->times) t += start;
        s->shifted = 1;
    }
}

// ---------------------------------------------------------------------------
// Pumps

pump *read_pump(std::string &line, int link, int structure_type) {
    auto p = std::make_unique<pump>();
    next_int(line, p->to_link);
    next_int(line, p->to_node);
    if (structure_type == 4) p->to_node = 1;

    std::string flow_word, series_name;
    next_token(flow_word, line);
    next_token(series_name, line);
    if (begins_with(flow_word, "ELEV")) {
        p->flow_type = pump_flow_elevation;
        p->elevation = find_elevation_series(series_name);
    } else if (begins_with(flow_word, "TS")) {
        p->flow_type = pump_flow_time_series;
        p->series = find_time_series(series_name);
    } else {
        std::printf(
            "\n\nError in the channel input file: Flow type for pump is incorrectly\ndefined for "
            "link %d. Must be ELEV or TS.\n",
            link);
        printed_failure();
        return nullptr;
    }
    pump_list.insert(pump_list.begin(), std::move(p));
    return pump_list.front().get();
}

// ---------------------------------------------------------------------------
// Release

void free_time_series() {
    // The id table and the pumps point into the time series; drop those links first.
    time_series_id_list.clear();
    for (auto &p : pump_list) p->series = nullptr;
    std::vector<std::unique_ptr<time_series>>().swap(time_series_list);
}

void free_series_lists() {
    std::vector<time_series_id_entry>().swap(time_series_id_list);
    std::vector<std::unique_ptr<pump>>().swap(pump_list);
    std::vector<std::unique_ptr<elevation_series>>().swap(elevation_series_list);
}
