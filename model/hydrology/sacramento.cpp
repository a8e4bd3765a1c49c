// Soil-moisture accounting of one basin over one step: evapotranspiration from the
// upper zone, the balance of the zones, the filling of the upper tension water and
// the passage of the excess through the free-water stores in increments of about
// 5 mm, giving surface runoff, interflow, baseflow and percolation. Called hourly
// by step_sacramento, which turns the runoff into discharge to the channels.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/core/errors.h"
#include "model/hydrology/sacramento.h"
#include "model/hydrology/soil_water_services.h"
#include "model/core/model_state.h"

namespace {

// Increments of one step: one per 5 mm of free water and excess rain; far beyond
// any real step.
constexpr double max_increments = 1.0e6;

double contents(const sacramento_basin &b) {
    return b.uztwc + b.uzfwc + b.lztwc + b.lzfsc + b.lzfpc;
}

// Water that the lower free-water stores cannot take goes into the lower tension
// water up to its capacity; the rest goes back to the upper free water.
void place_in_lower_tension(sacramento_basin &b, double water) {
    const double take = std::clamp(b.lztwm - b.lztwc, 0.0, water);
    b.lztwc += take;
    b.uzfwc += water - take;
}

// Free-water percolation percf into the two lower free-water stores, shared by
// their relative deficiencies; the primary store takes what overflows the
// supplementary one.
void fill_lower_free_water(sacramento_basin &b, double percf) {
    const double ratlp = 1.0 - b.lzfpc / b.lzfpm;
    const double ratls = 1.0 - b.lzfsc / b.lzfsm;
    if (ratlp + ratls <= 0.0) {  // both stores full
        place_in_lower_tension(b, percf);
        return;
    }
    const double hpl = b.lzfpm / (b.lzfpm + b.lzfsm);
    const double fracp = std::min(1.0, 2.0 * hpl * ratlp / (ratlp + ratls));
    const double percp = fracp * percf;
    double percs = percf - percp;
    b.lzfsc += percs;
    if (b.lzfsc > b.lzfsm) {
        percs -= b.lzfsc - b.lzfsm;
        b.lzfsc = b.lzfsm;
    }
    b.lzfpc += percf - percs;
    if (b.lzfpc > b.lzfpm) {  // the primary store overflows into tension water
        const double excess = b.lzfpc - b.lzfpm;
        b.lzfpc = b.lzfpm;
        place_in_lower_tension(b, excess);
    }
}

}  // namespace

int sacramento_increments(double water) {
    const double count = water / 5.0 + 1.00001;
    if (!(count < max_increments)) return 0;
    return static_cast<int>(count);
}

void sacramento_step(sacramento_basin &b, double &et_demand, double p, double &extra) {
    extra = 0.0;
    const double s0 = contents(b);

    // Evapotranspiration from the upper tension water, the rest of the demand from
    // the upper free water once the tension water is gone.
    const double e = et_demand;
    double e1 = e * b.uztwc / b.uztwm;
    double e2 = 0.0;
    if (b.uztwc - e1 < 0.0) {
        e1 = b.uztwc;
        b.uztwc = 0.0;
        const double red = e - e1;
        e2 = std::min(red, b.uzfwc);
        b.uzfwc -= e2;
    } else {
        b.uztwc -= e1;
    }

    // Tension water drawn up from the free water of each zone.
    if (b.uztwc / b.uztwm < b.uzfwc / b.uzfwm) {
        const double r = (b.uztwc + b.uzfwc) / (b.uztwm + b.uzfwm);
        b.uztwc = r * b.uztwm;
        b.uzfwc = r * b.uzfwm;
    }
    const double ratio =
        (b.lztwc + b.lzfpc + b.lzfsc - b.saved) / (b.lztwm + b.lzfpm + b.lzfsm - b.saved);
    if (b.lztwc / b.lztwm < ratio) {
        const double del = (ratio - b.lztwc / b.lztwm) * b.lztwm;
        b.lztwc += del;
        b.lzfsc -= del;
        if (b.lzfsc < 0.0) {
            b.lzfpc += b.lzfsc;
            b.lzfsc = 0.0;
        }
    }

    // Rain fills the tension deficit first; twx is the excess.
    double twx = p - (b.uztwm - b.uztwc);
    if (twx < 0.0) {
        b.uztwc += p;
        twx = 0.0;
    } else {
        b.uztwc = b.uztwm;
    }

    const int ninc = sacramento_increments(b.uzfwc + twx);
    if (ninc == 0) {
        std::printf("Sacramento accounting: %g mm of upper free water and excess rain in one "
                    "step is beyond its %g increments.\n",
                    b.uzfwc + twx, max_increments);
        raise_printed_error();
        return;
    }
    const double dinc = 1.0 / ninc;
    const double pinc = twx * dinc;
    double duz = b.uzk, dlzp = b.lzpk, dlzs = b.lzsk;
    if (ninc > 1) {
        duz = 1.0 - std::pow(1.0 - b.uzk, dinc);
        dlzp = 1.0 - std::pow(1.0 - b.lzpk, dinc);
        dlzs = 1.0 - std::pow(1.0 - b.lzsk, dinc);
    }
    const double lower_capacity = b.lztwm + b.lzfpm + b.lzfsm;

    double sbf = 0.0, sif = 0.0, ssur = 0.0;
    for (int k = 1; k <= ninc; ++k) {
        sbf += dlzp * b.lzfpc + dlzs * b.lzfsc;
        b.lzfpc *= 1.0 - dlzp;
        b.lzfsc *= 1.0 - dlzs;

        if (pinc + b.uzfwc <= 0.01) {
            b.uzfwc += pinc;
            continue;
        }

        // Percolation from the upper free water, driven by the lower-zone deficiency
        // (never below 0 through round-off, so that the power stays defined).
        const double defr =
            std::max(0.0, 1.0 - (b.lztwc + b.lzfpc + b.lzfsc) / lower_capacity);
        double perc = b.pbase * dinc * (b.uzfwc / b.uzfwm) * (1.0 + b.zperc * std::pow(defr, b.rexp));
        const bool emptied = perc > b.uzfwc;
        if (emptied) {
            perc = b.uzfwc;
            b.uzfwc = 0.0;
        } else {
            b.uzfwc -= perc;
        }
        // The lower zone takes no more than its deficiency, also when the
        // percolation emptied the upper free water.
        const double check = b.lzfpc + b.lzfsc + b.lztwc + perc - lower_capacity;
        if (check > 0.0) {
            perc -= check;
            b.uzfwc += check;
        }
        if (!emptied) {
            const double del = duz * b.uzfwc;
            sif += del;
            b.uzfwc -= del;
        }

        // Percolation to the lower tension water; the free part and what the
        // tension water cannot hold go to the lower free water.
        const double perct = perc * (1.0 - b.pfree);
        double percf = 0.0;
        if (perct < b.lztwm - b.lztwc) {
            b.lztwc += perct;
        } else {
            percf = perct - (b.lztwm - b.lztwc);
            b.lztwc = b.lztwm;
        }
        percf += perc * b.pfree;
        if (percf > 0.0) fill_lower_free_water(b, percf);

        // Surface runoff: what the upper free water cannot hold.
        if (pinc > 0.0) {
            if (pinc < b.uzfwm - b.uzfwc) {
                b.uzfwc += pinc;
            } else {
                ssur += pinc - (b.uzfwm - b.uzfwc);
                b.uzfwc = b.uzfwm;
            }
        }
    }

    b.channel_inflow = ssur + sbf + sif;
    et_demand = e1 + e2;
    b.balance_residual += p + s0 - contents(b) - (e1 + e2) - (ssur + sbf + sif);
}
