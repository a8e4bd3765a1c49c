// Green and Ampt infiltration kernels, plain and with redistribution, run by the
// infiltration piece once per infiltration step. Depths are in metres, times in
// seconds and rates in m/s inside; the rate of the step is kept in cm/h.
#include "model/hydrology/green_ampt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/core/model_state.h"

namespace {

// Ponded depths below this hold no water for infiltration (m).
constexpr double dry_depth = 1e-10;
// m/s to cm/h.
constexpr double to_cm_per_hour = 360000.0;

bool area_reduction_in_force(const model_state &s) {
    return s.project.area_reduction.given && !s.area_reduction.empty();
}

bool lake_cell(const model_state &s, int i) {
    return s.overland_lake_on && !s.overland_lake_id.empty() && s.overland_lake_id[i] > 0;
}

bool stream_cell(const model_state &s, int i) {
    return s.non_ortho_channels && !s.stream_cell_id.empty() && s.stream_cell_id[i] > 0;
}

// A rate that is not a number or is negative stops the run with the cell named.
bool rate_is_sound(double f, int cell, const char *kernel) {
    if (f >= 0.0) return true;  // false for NaN as well
    std::printf("infiltration rate %g in %s is not a number or negative, grid cell %d\n", f,
                kernel, cell);
    raise_printed_error();
    return false;
}

// Saturation of theta between theta_r and phi, kept inside [0, 1].
double saturation(double theta, double theta_r, double phi) {
    const double span = phi - theta_r;
    if (!(span > 0.0)) return 1.0;
    return std::clamp((theta - theta_r) / span, 0.0, 1.0);
}

}  // namespace

double green_ampt_capacity(double k, double drive, double f_cum, double dt) {
    const double a = k * dt - 2.0 * f_cum;
    const double d = std::max(drive, 0.0);
    return (a + std::sqrt(a * a + 8.0 * k * dt * d)) / (2.0 * dt);
}

void infiltrate_green_ampt(model_state &s, double dt) {
    if (!(dt > 0.0)) return;  // no time has passed: nothing can infiltrate
    const bool reduce = area_reduction_in_force(s);
    // The rate (cm/h) is kept only for its map output.
    double *rate = s.infiltration_rate.empty() ? nullptr : s.infiltration_rate.data();
    for (int i = 1; i <= s.cell_count; ++i) {
        double &h = s.depth[i];
        if (h < dry_depth) {
            if (rate) rate[i] = 0.0;
            continue;
        }
        double &f_cum = s.cumulative_infiltration[i];
        const double k = s.soil_ksat[i];
        const double p = s.soil_capillary[i];
        const double deficit = s.moisture_state[i];
        double f = green_ampt_capacity(k, p * deficit + f_cum, f_cum, dt);
        if (reduce) f *= s.area_reduction[i];
        if (!rate_is_sound(f, i, "Green and Ampt")) return;
        if (f * dt < h) {
            h -= f * dt;
        } else {
            f = h / dt;
            h = 0.0;
        }
        f_cum += f * dt;
        if (rate) rate[i] = f * to_cm_per_hour;
    }
}

double redistribution_conductivity(double ks, double theta, double theta_r, double phi,
                                   double lambda) {
    if (!(lambda > 0.0)) return theta >= phi ? ks : 0.0;
    return ks * std::pow(saturation(theta, theta_r, phi), 3.0 + 2.0 / lambda);
}

double redistribution_drive(double psi, double theta0, double theta_i, double theta_r,
                            double phi, double lambda) {
    const double sei = saturation(theta_i, theta_r, phi);
    if (sei >= 1.0 || !(lambda > 0.0)) return psi;
    const double e = 3.0 + 1.0 / lambda;
    const double se0 = saturation(theta0, theta_r, phi);
    const double sei_e = std::pow(sei, e);
    return psi * (std::pow(se0, e) - sei_e) / (1.0 - sei_e);
}

double redistribute_surface_moisture(double theta0, double theta_i, double theta_r,
                                     double phi, double lambda, double ks, double psi,
                                     double f_cum, double r, double dt) {
    const double excess = theta0 - theta_i;
    if (!(f_cum > 0.0) || !(excess > 0.0)) return theta0;
    const double z = f_cum / excess;
    const double k0 = redistribution_conductivity(ks, theta0, theta_r, phi, lambda);
    const double ki = redistribution_conductivity(ks, theta_i, theta_r, phi, lambda);
    const double g = redistribution_drive(psi, theta0, theta_i, theta_r, phi, lambda);
    const double next = theta0 + dt / z * (r - k0 - ki - ks * g / z);
    return std::clamp(next, theta_i, std::max(theta_i, phi));
}

void infiltrate_green_ampt_redist(model_state &s, double dt) {
    if (!(dt > 0.0)) {
        // No cell ponds in this call.
        for (int i = 1; i <= s.cell_count; ++i)
            if (s.redist_marks[i] & redist_mark_ponded)
                s.redist_marks[i] &= static_cast<unsigned char>(~redist_mark_ponded);
        return;
    }
    const bool reduce = area_reduction_in_force(s);
    const int call = s.redist_call_count;
    // The rate (cm/h) is kept only for its map output.
    double *rate = s.infiltration_rate.empty() ? nullptr : s.infiltration_rate.data();
    // No run fills a relative soil moisture unless given one: empty, no cell is skipped for it.
    const double *relative = s.relative_soil_moisture.empty() ? nullptr : s.relative_soil_moisture.data();
    for (int i = 1; i <= s.cell_count; ++i) {
        // The ponded mark is of the call before; set again below if the cell ponds now.
        unsigned char &marks = s.redist_marks[i];
        const bool just_ponded = (marks & redist_mark_ponded) != 0;
        if (just_ponded) marks &= static_cast<unsigned char>(~redist_mark_ponded);
        const bool redistributed = (marks & redist_mark_redistributed) != 0;
        if (lake_cell(s, i) || (relative && relative[i] > 83.0) || stream_cell(s, i))
            continue;
        const double ks = s.soil_ksat[i];
        const double psi = s.soil_capillary[i];
        const double phi = s.soil_porosity[i];
        const double theta_r = s.soil_residual[i];
        const double lambda = s.soil_pore_index[i];
        const double theta_i = s.moisture_state[i];  // initial moisture of the scheme
        double &theta0 = s.surface_moisture[i];
        double &theta_prev = s.surface_moisture_prev[i];
        if (call <= 2) theta0 = theta_prev = theta_i;
        if (s.saturated_cell[i]) {
            theta0 = phi;
            continue;
        }

        double &h = s.depth[i];
        double &f_cum = s.cumulative_infiltration[i];
        double &x_hiatus = s.redist_hiatus_depth[i];
        unsigned char &state = s.redist_state[i];
        const double f_before = f_cum;
        const double w = std::max(h, 0.0);
        const double capacity = reduce ? ks * s.area_reduction[i] : ks;
        const double r = w / dt;

        if (w > 0.0 && (r >= capacity || just_ponded)) {
            // Rain or ponding: a new wetting front, possibly under an older profile.
            if (redistributed && state != 1) {
                const double new_front = (f_cum - x_hiatus) / std::max(phi - theta0, 1e-20);
                const double old_front = x_hiatus / std::max(theta0, 1e-20);
                state = new_front < old_front ? 2 : 1;
            }
            if (state == 2)
                theta0 = redistribute_surface_moisture(theta0, theta_i, theta_r, phi, lambda, ks,
                                                       psi, f_cum, r, dt);
            // Before its first ponding the cell's front is the Green and Ampt front of
            // a saturated surface (ponding at the Mein-Larson depth); afterwards the
            // drive follows the surface moisture.
            const bool first_wetting =
                s.first_ponding_call[i] == 0 && !redistributed;
            const double drive_moisture = first_wetting ? phi : theta0;
            double f =
                green_ampt_capacity(capacity, psi * (drive_moisture - theta_i) + f_cum, f_cum, dt);
            if (!rate_is_sound(f, i, "Green and Ampt with redistribution")) return;
            if (r > f) {
                h -= f * dt;
                marks |= redist_mark_ponded;
                if (s.first_ponding_call[i] == 0) {
                    s.first_ponding_call[i] = call;
                    if (!redistributed) theta0 = phi;
                }
            } else {
                f = r;
                h = 0.0;
                if (s.first_ponding_call[i] == 0 && !redistributed) {
                    // The surface wets toward saturation over the time to ponding.
                    const double excess_rate = r - ks;
                    const double t_pond = excess_rate < 1e-06
                                              ? 100000.0
                                              : ks * psi * (phi - theta0) / (excess_rate * r);
                    if (t_pond == 0.0) theta0 = phi;
                    else theta0 += (phi - theta0) * dt / t_pond;
                    if (theta0 >= phi) {
                        theta0 = phi;
                        s.first_ponding_call[i] = call;
                    }
                }
            }
            if (rate) rate[i] = f * to_cm_per_hour;
            f_cum += f * dt;
            theta_prev = state == 2 ? phi : theta0;
        } else {
            // Hiatus: the profile redistributes.
            if (state == 1) {
                state = 0;
                theta0 = phi;
            } else if (state == 2) {
                if (f_cum > 0.0)
                    theta0 = ((theta0 - theta_i) * x_hiatus +
                              (f_cum - x_hiatus) * (theta0 + phi - 2.0 * theta_i)) /
                                 f_cum +
                             theta_i;
                theta0 = std::min(theta0, phi);
                state = 0;
            }
            f_cum += w;
            x_hiatus = f_cum;
            if (rate) rate[i] = r * to_cm_per_hour;
            if (theta0 != theta_i)
                theta0 = redistribute_surface_moisture(theta0, theta_i, theta_r, phi, lambda, ks,
                                                       psi, f_cum, r, dt);
            theta0 = std::clamp(theta0, theta_i, std::max(theta_i, phi));
            if (f_cum > 0.0) marks |= redist_mark_redistributed;
            h = 0.0;
        }
        if (f_cum < 0.0) {
            f_cum = 0.0;
            h = 0.0;
            theta0 = theta_prev;
        }
        s.step_infiltration_depth[i] += f_cum - f_before;
    }
}
