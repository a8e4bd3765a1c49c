// Coding of a filled per-cell map into its distinct values, and its expansion
// back; called once after the inputs are read and by any later writer.
#include "model/core/cell_map.h"

#include <cstdint>
#include <cstring>

namespace {

std::uint64_t bits_of(double v) {
    std::uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace

array_1d<double> &cell_map::full() {
    too_many_ = false;  // the caller may change the values
    if (!coded_) return full_;
    array_1d<double> values;
    if (values.obtain(last_)) {
        for (std::size_t i = 0; i <= last_; ++i) values[i] = (*this)[i];
        full_ = std::move(values);
        values_.clear();
        codes_.release();
        coded_ = false;
    }
    return full_;
}

bool cell_map::compress() {
    if (coded_ || too_many_ || full_.empty()) return true;
    // The distinct values by bit pattern (so -0.0 and each NaN keep their own),
    // in the order first met; more than 256 leave the map as it is.
    std::vector<std::uint64_t> seen;
    const std::size_t n = full_.last();
    std::size_t hit = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        const std::uint64_t b = bits_of(full_[i]);
        if (hit < seen.size() && seen[hit] == b) continue;
        hit = 0;
        while (hit < seen.size() && seen[hit] != b) ++hit;
        if (hit == seen.size()) {
            if (seen.size() == 256) {
                too_many_ = true;
                return true;
            }
            seen.push_back(b);
        }
    }
    array_1d<unsigned char> codes;
    // One value over the cells 1..n: no codes; entry 0 keeps its own value.
    const std::uint64_t cells_value = bits_of(full_[n > 0 ? 1 : 0]);
    bool one_value = true;
    for (std::size_t i = 1; i <= n && one_value; ++i) one_value = bits_of(full_[i]) == cells_value;
    if (one_value) {
        seen = {cells_value, bits_of(full_[0])};
    } else {
        if (!codes.obtain(n)) return false;
        hit = 0;
        for (std::size_t i = 0; i <= n; ++i) {
            const std::uint64_t b = bits_of(full_[i]);
            if (seen[hit] != b) {
                hit = 0;
                while (seen[hit] != b) ++hit;
            }
            codes[i] = static_cast<unsigned char>(hit);
        }
    }
    values_.clear();
    for (std::uint64_t b : seen) {
        double v = 0.0;
        std::memcpy(&v, &b, sizeof v);
        values_.push_back(v);
    }
    codes_ = std::move(codes);
    last_ = n;
    full_.release();
    coded_ = true;
    return true;
}
