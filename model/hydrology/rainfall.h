// Precipitation pieces of the time loop and their helpers: the event read, the
// records turned into per-cell rain rates (radar grids, inverse-distance or
// nearest-gauge spreading, uniform rain), rain on cells, lakes and the canopy, and
// point inflows. The pieces themselves are declared in hydrology_services.h.
#pragma once

#include "model/core/arrays.h"

struct model_state;
struct precip_event;

// Nearest gauge of every watershed cell (cell centres from the grid's north and
// west edges); ties keep the lower gauge. 0 on success, -1 (message, code 4000)
// when there is no gauge or a cell has none within 900,000 m.
int find_neighbor(const precip_event &event, const array_2d<int> &cell_grid,
                  array_1d<int> &nearest, int rows, int cols, double north, double west,
                  double dx);

// Rate of record k at every cell by inverse-distance-squared weighting of the
// gauges; a gauge closer than dx to a cell centre gives the cell its value. 0 on
// success, -1 (message, code 4000) for an event without gauges.
int spread_radar_rain(int record, const precip_event &event, const array_2d<int> &cell_grid,
                      array_1d<double> &rate, int rows, int cols, double dx, double north,
                      double west);

// Rate of record k at every cell from its nearest gauge (the one gauge when there
// is only one).
void spread_station_values(const precip_event &event, const array_1d<int> &nearest,
                           array_1d<double> &rate, int cell_count, int record);

// Turns GAGES depths and ACCUM accumulations into rates (mm/h) over the interval
// to the next record, and shifts RADAR gauge values one record back. The interval
// is the Julian-day difference of the two records. 0 on success, -1 (message,
// code 4000) when a GAGES or ACCUM interval is not above 0.
int convert_records_to_rates(precip_event &event);

// 1 when the rain's start (year, month, day, hour) lies inside the
// hydro-meteorological period from start to end, both ends compared in full; 0
// with the messages otherwise.
int check_gage_hmet_dates(int rain_year, int rain_month, int rain_day, int rain_hour,
                          int start_year, int start_month, int start_day, int start_hour,
                          int end_year, int end_month, int end_day, int end_hour);

// Seasonal factor of canopy interception for a month (1..12) and latitude.
double interception_season_factor(int month, double latitude);

// Canopy interception of one rain step: net rates from gross rates, the stores
// filled and the caught volume added to *total (m3).
void canopy_interception(int cell_count, int month, double latitude,
                         const array_1d<double> &rate, array_1d<double> &net,
                         array_1d<double> &store, const array_1d<double> &capacity,
                         const array_1d<double> &coefficient, double *total,
                         int channel_routing, const array_1d<int> &cell_channel_lake,
                         double dt, double dx);

// Evaporation from the canopy stores over the coming `seconds` of a long-term
// run: each store not under rain gives up to the cell's potential ET, which the
// soil then no longer sees (potential_et keeps the demand left; potential_et2 the
// full rate). The water is added to the interception evaporation total (m3).
void evaporate_interception(model_state &state, double seconds);

// max[i] = value[i] where max[i] < value[i], i = 1..n.
void track_max_grid(int n, const array_1d<double> &value, array_1d<double> &max);
