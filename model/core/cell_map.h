// A map of one double per cell that the readers fill as an array and the run then
// reads. Once filled it is held, when it has at most 256 distinct values, as a
// one-byte code per cell into those values, and with no per-cell codes at all when
// every cell (1..last) has one value: a soil or aquifer map made from a class table
// or given uniform costs 1 or 0 bytes per cell instead of 8. Reads give the same
// bits, entry 0 included.
#pragma once
#include <cstddef>
#include <vector>

#include "model/core/arrays.h"

class cell_map {
public:
    // The value of cell i (0..last()).
    double operator[](std::size_t i) const {
        if (!coded_) return full_[i];
        // Without codes, values_ holds the cells' value and entry 0's.
        return codes_.empty() ? values_[i == 0] : values_[codes_[i]];
    }
    bool empty() const { return coded_ ? false : full_.empty(); }
    std::size_t last() const { return coded_ ? last_ : full_.last(); }
    bool coded() const { return coded_; }
    // The value of every cell when the map is coded with one value, else null.
    const double *uniform_value() const {
        return coded_ && codes_.empty() ? values_.data() : nullptr;
    }
    // The values as one array, for the readers that fill the map and any later
    // writer; a coded map is expanded again first (false when that fails).
    array_1d<double> &full();
    // Holds the values by code when they have at most 256 distinct bit patterns;
    // false when the codes cannot be allocated (the map stays as it was). A map
    // found to have more is not scanned again until full() is next called.
    bool compress();

private:
    array_1d<double> full_;
    std::vector<double> values_;
    array_1d<unsigned char> codes_;
    std::size_t last_ = 0;
    bool coded_ = false;
    bool too_many_ = false;  // the last scan found more than 256 values
};
