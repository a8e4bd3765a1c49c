// The optimiser's own random generator (minimal standard generator with a
// shuffle table, polar-method normal draws) and its timing record. Set up by
// cmaes_Start; drawn from at every sampling; timed around eigendecompositions.
#include <cmath>
#include <cstdint>
#include <ctime>

#include "calibrator/cmaes/cmaes.h"

namespace {

constexpr int32_t modulus = 2147483647;

// A seed taken from the clocks: wait for the processor clock to tick, then
// |100 x calendar seconds + clock| in 32-bit arithmetic.
int32_t seed_from_clocks() {
    std::clock_t start = std::clock();
    while (std::clock() == start) {
    }
    int64_t value = static_cast<int64_t>(std::time(nullptr)) * 100 + static_cast<int64_t>(std::clock());
    int32_t seed = static_cast<int32_t>(static_cast<uint32_t>(value));
    if (seed == INT32_MIN) {
        return INT32_MAX;
    }
    return seed < 0 ? -seed : seed;
}

// A state inside 1 .. modulus - 1 for any seed (negative seeds count by their
// magnitude; the modulus itself would make the generator stick at 0).
int32_t state_from_seed(int32_t seed) {
    int64_t s = seed;
    if (s < 0) {
        s = -s;
    }
    s %= modulus;
    return s == 0 ? 1 : static_cast<int32_t>(s);
}

}  // namespace

int32_t random_Step(int32_t state) {
    int32_t hi = state / 127773;
    int32_t next = 16807 * (state - hi * 127773) - 2836 * hi;
    if (next < 0) {
        next += modulus;
    }
    return next;
}

int32_t cmaes_clock_seed() { return seed_from_clocks(); }

int32_t random_Start(cmaes_random_t &r, int32_t seed) {
    r.flgstored = 0;
    if (seed == 0) {
        seed = seed_from_clocks();
    }
    r.startseed = seed;
    r.aktseed = state_from_seed(seed);
    for (int i = 39; i >= 0; --i) {
        r.aktseed = random_Step(r.aktseed);
        if (i < 32) {
            r.table[static_cast<std::size_t>(i)] = r.aktseed;
        }
    }
    r.aktrand = r.table[0];
    return seed;
}

double random_Uniform(cmaes_random_t &r) {
    r.aktseed = random_Step(r.aktseed);
    std::size_t slot = static_cast<std::size_t>(r.aktrand / 67108865);
    r.aktrand = r.table[slot];
    r.table[slot] = r.aktseed;
    return static_cast<double>(r.aktrand) / 2147483647.0;
}

double random_Gauss(cmaes_random_t &r) {
    if (r.flgstored) {
        r.flgstored = 0;
        return r.hold;
    }
    double x1 = 0;
    double x2 = 0;
    double rquad = 0;
    do {
        x1 = 2.0 * random_Uniform(r) - 1.0;
        x2 = 2.0 * random_Uniform(r) - 1.0;
        rquad = x1 * x1 + x2 * x2;
    } while (rquad >= 1 || rquad <= 0);
    double fac = std::sqrt(-2.0 * std::log(rquad) / rquad);
    r.flgstored = 1;
    r.hold = fac * x1;
    return fac * x2;
}

// ---------------------------------------------------------------------------

void timings_start(cmaes_timings_t &t) {
    t.totaltime = 0;
    t.tictoctime_total = 0;
    t.tictoctime = 0;
    t.lasttictoctime = 0;
    t.istic = 0;
    t.lastclock = std::clock();
    t.lasttime = std::time(nullptr);
    t.lastdiff = 0;
    t.isstarted = 1;
}

double timings_update(cmaes_timings_t &t) {
    if (!t.isstarted) {
        cmaes_fatal("timings_started() must be called before using timings... functions");
    }
    std::clock_t lc = std::clock();
    std::time_t lt = std::time(nullptr);
    double diffc = static_cast<double>(lc - t.lastclock) / CLOCKS_PER_SEC;
    double diffcal = std::difftime(lt, t.lasttime);
    t.lastdiff = (diffc > 0 && diffcal < 1000) ? diffc : diffcal;
    if (t.lastdiff < 0) {
        cmaes_fatal("BUG in time measurement");
    }
    t.totaltime += t.lastdiff;
    if (t.istic) {
        t.tictoctime += t.lastdiff;
        t.tictoctime_total += t.lastdiff;
    }
    t.lastclock = lc;
    t.lasttime = lt;
    return t.lastdiff;
}

void timings_tic(cmaes_timings_t &t) {
    if (t.istic) {
        cmaes_error_message("Warning: timings_tic called twice without toc");
        return;
    }
    timings_update(t);
    t.istic = 1;
    t.tictoctime = 0;
}

double timings_toc(cmaes_timings_t &t) {
    if (!t.istic) {
        cmaes_error_message("Warning: timings_toc called without tic");
        return -1;
    }
    timings_update(t);
    t.lasttictoctime = t.tictoctime;
    t.istic = 0;
    return t.tictoctime;
}
