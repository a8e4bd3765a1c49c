// The check of the sediment ledgers that the debug and sanitizer builds make
// beside the water check: after every time-step piece, each store's volume of
// each soil class must have changed by the net of what the piece posted to it. A
// store that changed by more than rounding stops the run, naming the piece, the
// class, the store and the difference (m3 of solids).
#pragma once

#include <array>
#include <vector>

#include "model/core/water_ledger.h"

struct model_state;

// Per ledger (index 0 the channel bed material, then the classes): each store's
// volume (m3) and the ledger's net into it, as the last piece left them.
struct sediment_check {
    struct volumes {
        std::array<double, ledger_node_count> volume{}, posted{};
    };
    std::vector<volumes> ledger;
};

// The sediment of class k (0: the bed material) in one store as the state holds it
// now (m3): "surface" the soil suspended in the overland water, "loose_soil" the
// loose soil on the cells, "channels" the class in the channel nodes (wash load
// or sand), "channel_bed" the channel beds' material beyond the sand classes.
double store_sediment(const model_state &state, int k, ledger_node store);

// Takes the volumes before the first piece.
void start_sediment_check(const model_state &state, sediment_check &check);

// After a piece: false (with the message printed and code 4000 raised) when a
// store of a class changed by other than what was posted to it.
bool check_sediment_after(const model_state &state, sediment_check &check, const char *piece);
