// Named series that drive hydraulic structures and a few mapping-table inputs:
// time series (value against date) and elevation series (value against any
// abscissa), their files, lookup by name and id, interpolation, and pumps.
// Read while the project file is read; looked up by the channel and table readers.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// A named time series; times are Julian days, or days since the start for a
// RELATIVE block until shift_time_series makes them absolute.
struct time_series {
    std::vector<double> times;
    std::vector<double> values;
    int relative = 0;     // 1 for a RELATIVE block
    std::string name;
    int count = 0;
    int last_index = 0;   // interval found by the last lookup
    int shifted = 0;      // a RELATIVE series already moved to the start time
};

// A named series of y against x.
struct elevation_series {
    std::vector<double> x;
    std::vector<double> y;
    std::string name;
    int count = 0;
};

// One entry of the table of series by id (built from the mapping-table file).
struct time_series_id_entry {
    int id = 0;
    time_series *series = nullptr;
};

// Flow types of a pump.
enum pump_flow_type : int { pump_flow_elevation = 0, pump_flow_time_series = 1 };

// A pump of the channel network, driven by an elevation or a time series.
struct pump {
    int state = 0;                   // set to 0 when the pump is made
    int link = 0, node = 0, slot = 0;  // filled by the channel reader
    int to_link = 0, to_node = 0;    // the two integers of the pump's line
    int flow_type = pump_flow_elevation;
    time_series *series = nullptr;
    elevation_series *elevation = nullptr;
};

// Reads every "KORVA_TS" block of a file onto time_series_list and prints the count.
void read_time_series_file(const std::string &file_name);
// Reads every "KORVA_ES" block of a file onto elevation_series_list.
void read_elevation_series_file(const std::string &file_name);

// One block from an open file: 1 when a block was read, 0 at end of file or after
// an error (reported, code 4000). `file_name` names the file in messages.
int read_time_series(std::FILE *file, const std::string &file_name);
int read_elevation_series(std::FILE *file, const std::string &file_name);

// The series of that exact name, else the first in list order whose name begins
// with `name`; null when none.
time_series *find_time_series(const std::string &name);
elevation_series *find_elevation_series(const std::string &name);

// Linear interpolation; the end values outside the range. A null or empty series
// prints its message, stores code 4000 and gives 0.0.
double time_series_value(time_series *series, double t);
double elevation_series_value(const elevation_series *series, double x);
// The y of the lower end of the interval that holds x (no interpolation).
double elevation_series_step_value(const elevation_series *series, double x);
// time_series_value of the first table entry with that id.
double time_series_value_by_id(int id, double t);
// Adds `start` to every time of every RELATIVE series (once per series).
void shift_time_series(double start);

// Makes a pump from the rest of a PUMPTO line; null after an error.
pump *read_pump(std::string &line, int link, int structure_type);

// Adds an id entry in front of the table (the mapping-table reader builds it).
void add_time_series_id(int id, time_series *series);

// Frees every time series and empties the list.
void free_time_series();
// Empties the elevation-series, pump and id lists.
void free_series_lists();
