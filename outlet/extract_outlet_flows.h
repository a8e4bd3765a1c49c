// Outlet flow extractor: pairs the discharges of a model outlet hydrograph with a
// list of date and time words and writes them as "sim_flows" lines.
#pragma once
#include <cstdio>
#include <istream>
#include <string>

inline constexpr const char *hydrograph_file_name = "kestrup_cal_1982.otl";
inline constexpr const char *dates_file_name = "dates_for_sim_outlet_hydrograph.txt";
inline constexpr const char *sim_flows_file_name = "sim_flows_ssf.txt";

// Writes one line per complete date/time pair of `dates`, taking the discharge of
// the matching time/discharge pair of `hydrograph`. Returns 0 on success; on a
// short or malformed input it stops, leaves the lines already written and returns
// 1 with `message` naming the file and line.
int pair_outlet_flows(std::istream &hydrograph, std::istream &dates, std::FILE *out,
                      std::string &message);

// The program: works on the three fixed files of the working directory. Messages
// go to `err`. Returns the exit status (0 success, 1 failure).
int extract_outlet_flows(std::FILE *err);
