// Contaminant blocks of the summary file: the overland mass account of one
// contaminant, which the event summary and the end-of-run report print alike,
// and the constituent half of the event summary (write_transport_event_summary,
// declared in model/output/event_summary.h), which finish_event reaches at each event end.
#pragma once

#include <cstdio>
#include <string>

#include "model/channel/channel_network.h"

struct model_state;

// What entered and left one constituent balance (kg). A signed term adds to the
// input when it is positive and to the output when it is negative, so that a
// loss to the aquifer counts as an outflow, not as a negative inflow.
struct mass_balance {
    // Below this input (half the last digit of the mass lines) a percentage of it
    // says nothing: the error is printed as the mass left unexplained.
    static constexpr double near_zero_input = 0.005;
    double input = 0.0, output = 0.0;
    void in(double m) {
        if (m >= 0.0) input += m;
        else output -= m;
    }
    void out(double m) { in(-m); }
    double unexplained() const { return input - output; }
    bool measurable() const { return input >= near_zero_input; }
    // (input - output) / input x 100; 0 below the near-zero input.
    double percent() const { return measurable() ? unexplained() / input * 100.0 : 0.0; }
};
// "<label>%14.<decimals>lf percent \n", or with a near-zero input
// "<label>%14.6lf kg \n" with the mass left unexplained; then `tail`.
void write_balance_error(std::FILE *f, const char *label, int decimals, const mass_balance &b,
                         const char *tail);

// Overland masses of one contaminant over a period, in the units of the totals
// (the per-cell masses / 1000).
struct overland_mass_account {
    double initial = 0.0, final_mass = 0.0, out = 0.0, to_channels = 0.0, decayed = 0.0;
    double point = 0.0, exfiltrated = 0.0, precipitation = 0.0, infiltrated = 0.0;
    double taken_up = 0.0, land_initial = 0.0, land_final = 0.0;
    // Lakes simulated: the mass the overland water carried into them, and the
    // mass the overland lakes hold now.
    bool lakes = false, overland_lakes = false;
    double to_lakes = 0.0, from_lakes = 0.0, overland_lake_mass = 0.0;
    // Snow in the run: the mass its melt gave the overland water.
    bool snow = false;
    double from_snow = 0.0;
    // A pipe network in the run: the mass its inlets took and its spills and
    // outlets gave the cells.
    bool pipes = false;
    double to_pipes = 0.0, from_pipes = 0.0;
    // In: initial + precipitation + snowmelt + point sources + exfiltration +
    // release from the land pool + the overland lakes' mass; out: outlet +
    // channels + lakes + decay + infiltration + final mass.
    mass_balance balance() const;
    // (in - out) / in x 100; 0 when (next to) nothing came in.
    double error_percent() const { return balance().percent(); }
};

// One mass line: the label padded to 30 columns, then "%14.2lf".
void write_mass_line(std::FILE *f, const char *label, double value);
// The overland mass lines of an account, then its
// "Contam mass balance error     %14.2lf percent \n" (write_balance_error).
void write_overland_mass_lines(std::FILE *f, const overland_mass_account &account);

// The run's account of contaminant k, from the run totals.
overland_mass_account run_overland_account(model_state &state, int k);
// The account of contaminant k since the current event began: the marks taken at
// its start, the event totals and the masses now on the land.
overland_mass_account event_overland_account(model_state &state, int k);

// The mass of contaminant k the whole model took in over the run, from its ledger:
// from point sources, from precipitation and (net) from the aquifer.
struct mass_sources_account {
    double point = 0.0, precipitation = 0.0, groundwater = 0.0;
};
mass_sources_account global_mass_sources(const model_state &state, int k);
// The global lines of contaminant k after its "Contaminant Transport Global
// Summary" heading: initial and final mass (snow, land pool and masses on their
// way into the channels included), every flow in from outside the model and out
// of it, and the error over the total input.
void write_global_mass_lines(std::FILE *f, model_state &state, int k);
// Mass of constituent k held in the snow (kg).
double snow_constituent_mass(const model_state &state, int k);

// Channel and lake masses of one contaminant over a period (masses / 1000): the
// masses at its start and now, and the mass terms booked in it.
struct channel_mass_account {
    double channel_initial = 0.0, channel_final = 0.0, lake_initial = 0.0, lake_final = 0.0;
    bool pipes = false;  // a pipe network in the run, whose outlets give the channels mass
    channel_work::mass_terms terms;
};

// The eight channel mass lines of an account.
void write_channel_mass_lines(std::FILE *f, const channel_mass_account &account);
// With lakes carrying contaminant k: "Lake Contaminant Transport Summary for
// Constituent %5ld \n", the nine lake mass lines of the account and each lake's
// final mass and concentration; nothing without lakes.
void write_lake_mass_lines(std::FILE *f, const model_state &state, int k,
                           const channel_mass_account &account);

// The run's and the current event's channel accounts of contaminant k.
channel_mass_account run_channel_account(const model_state &state, int k);
channel_mass_account event_channel_account(const model_state &state, int k);
// The channel and lake balance of an account: the initial masses and the
// (signed) inflows in, outlet, decay and the final masses out.
mass_balance channel_balance(const channel_mass_account &account);
// "Channel contam mass balance error" of the run's account of contaminant k.
void write_channel_balance_error(std::FILE *f, const model_state &state, int k);

// Mass of constituent k now in the overland water (stream cells included: their
// water is overland water until it enters the channel) and in the land pool,
// per-cell masses / 1000; 0 without the constituent's rows.
double overland_water_mass(const model_state &state, int k);
double overland_land_mass(const model_state &state, int k);

// Name of contaminant k in the event summary: the description of its table row,
// else "Contaminant" and its number ("Contaminant %5d").
std::string contaminant_display_name(const model_state &state, int k);

// The outlet series of every contaminant: contaminant k's output file is the one
// its CONTAMINANT_TRANSPORT row names (none for an empty name), the first
// contaminant's the contaminant output file (its row's name, else "con_output"),
// which the channel set-up may have opened already. A file that cannot be opened
// stops the run.
void open_contaminant_series(model_state &state);
// One line per contaminant file at a hydrograph step: the time (as the outlet
// hydrograph gives it), the concentration at the outlet (g/m3) and the mass that
// has left through the outlet since the run began (kg).
void write_contaminant_series(model_state &state);

// After an event's blocks are written: the next event's account starts from the
// masses now on the land, in the channels and in the lakes, with its event totals
// at 0.
void start_next_constituent_event(model_state &state);
