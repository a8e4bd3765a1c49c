// The 1-based allocators of the model (zeroed blocks with index 0 present), the
// growth of checked arrays and the growable double_table. Called by every input
// reader and by the run-state object.
#include "model/core/arrays.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "model/core/globals.h"

std::size_t allocated_bytes = 0;

namespace {

void print_negative_size_message(long long count) {
    std::printf("Error: Attempting to allocate array of negative size %lld\n", count);
}

void print_too_large_message() {
    std::printf("Error: Attempting to allocate array too large to address\n");
}

// Element count of a block; false after its message when refused.
template <int Dims>
bool block_elements(const long long (&counts)[Dims], std::size_t element_bytes,
                    std::size_t &elements) {
    return array_block_elements(counts, Dims, element_bytes, elements);
}

template <class T>
int alloc_1d(array_1d<T> &out, long long n) {
    out.release();
    if (n == -1) {
        print_size_zero_message();
        return -1;
    }
    const long long counts[1] = {n};
    std::size_t elements = 0;
    if (!block_elements(counts, sizeof(T), elements)) return -1;
    allocated_bytes += elements * sizeof(T);
    return out.obtain(static_cast<std::size_t>(n)) ? 0 : -1;
}

template <class T>
int alloc_2d(array_2d<T> &out, long long r, long long c, const char *name) {
    out.release();
    const long long counts[2] = {r, c};
    std::size_t elements = 0;
    bool ok = false;
    if (r == 0 || c == 0)
        print_size_zero_message();
    else if (block_elements(counts, sizeof(T), elements)) {
        allocated_bytes += elements * sizeof(T);
        ok = out.obtain(static_cast<std::size_t>(r), static_cast<std::size_t>(c));
    }
    if (!ok && name != nullptr) print_allocation_failure(name);
    return ok ? 0 : -1;
}

template <class T>
int alloc_3d(array_3d<T> &out, long long a, long long b, long long c) {
    out.release();
    if (a == 0 || b == 0 || c == 0) {
        print_size_zero_message();
        return -1;
    }
    const long long counts[3] = {a, b, c};
    std::size_t elements = 0;
    if (!block_elements(counts, sizeof(T), elements)) return -1;
    allocated_bytes += elements * sizeof(T);
    return out.obtain(static_cast<std::size_t>(a), static_cast<std::size_t>(b),
                      static_cast<std::size_t>(c))
               ? 0
               : -1;
}

}  // namespace

bool array_block_elements(const long long *counts, int dims, std::size_t element_bytes,
                          std::size_t &elements) {
    elements = 1;
    for (int d = 0; d < dims; ++d) {
        if (counts[d] < -1) {
            print_negative_size_message(counts[d]);
            return false;
        }
    }
    // One block's byte count must fit a pointer difference, or the array new refuses
    // it by throwing instead of returning no block.
    const std::size_t limit =
        static_cast<std::size_t>(PTRDIFF_MAX) / (element_bytes == 0 ? 1 : element_bytes);
    for (int d = 0; d < dims; ++d) {
        const unsigned long long extent = static_cast<unsigned long long>(counts[d]) + 1ULL;
        if (extent != 0 && elements > limit / extent) {
            print_too_large_message();
            return false;
        }
        elements *= static_cast<std::size_t>(extent);
    }
    return true;
}

void print_size_zero_message() { std::printf("Error: Attempting to allocate array of size 0\n"); }

void print_allocation_failure(const char *name) {
    std::printf("Error allocating memory for variable %s\n", name);
}

void print_bad_range_message() { std::printf("Error: bad range addressed in array\n"); }

int alloc_1d_double(array_1d<double> &out, long long n) { return alloc_1d(out, n); }
int alloc_1d_int(array_1d<int> &out, long long n) { return alloc_1d(out, n); }
int alloc_1d_byte(array_1d<unsigned char> &out, long long n) { return alloc_1d(out, n); }

int alloc_2d_double(array_2d<double> &out, long long r, long long c, const std::string &name) {
    if (name.compare(0, 3, "Mrb") == 0) {
        // Its progress lines are a single run's; the runs of a calibration series
        // (each with its run prefix) do without them.
        const int result = alloc_2d_double_verbose(out, r, c, file_prefix_on ? 0 : 1);
        if (result != 0) print_allocation_failure(name.c_str());
        return result;
    }
    return alloc_2d(out, r, c, name.c_str());
}

int alloc_2d_double_verbose(array_2d<double> &out, long long r, long long c, int verbose) {
    out.release();
    if (r == 0 || c == 0) {
        print_size_zero_message();
        return -1;
    }
    const long long counts[2] = {r, c};
    std::size_t elements = 0;
    if (!block_elements(counts, sizeof(double), elements)) return -1;
    const int rank = parallel_layout.process_rank;
    if (verbose) {
        std::printf("%d: frows=%lld, fcols=%lld, allocating main array\n", rank, r + 1, c + 1);
        std::printf("%d: success allocating main array\n", rank);
        std::printf("%d:doing memset...\n", rank);
        std::printf("%d: mallocing block of memory for arrays\n", rank);
    }
    allocated_bytes += elements * sizeof(double);
    const bool ok = out.obtain(static_cast<std::size_t>(r), static_cast<std::size_t>(c));
    if (verbose) {
        if (ok)
            std::printf("%d: success, doing memset\n", rank);
        else
            std::printf("%d: failure. \n", rank);
    }
    return ok ? 0 : -1;
}

int alloc_2d_int(array_2d<int> &out, long long r, long long c) {
    return alloc_2d(out, r, c, nullptr);
}

int alloc_2d_byte(array_2d<unsigned char> &out, long long r, long long c) {
    return alloc_2d(out, r, c, nullptr);
}

int alloc_3d_double(array_3d<double> &out, long long a, long long b, long long c) {
    return alloc_3d(out, a, b, c);
}

int alloc_3d_double_named(array_3d<double> &out, long long a, long long b, long long c,
                          const std::string &name) {
    std::printf("Allocating 3D variable %s\n", name.c_str());
    const int result = alloc_3d(out, a, b, c);
    if (result != 0) print_allocation_failure(name.c_str());
    return result;
}

int alloc_3d_quad(array_3d<int> &out, long long n, long long m) {
    static_assert(sizeof(int) == 4, "the quad arrays hold 4-byte elements");
    return alloc_3d(out, n, 3, m);
}

// ---------------------------------------------------------------------------
// checked_array growth

bool growth_size_ok(std::size_t count, long long n, std::size_t element_bytes,
                    std::size_t &new_size) {
    if (n < 0) {
        print_negative_size_message(n);
        return false;
    }
    // One block's byte count must fit a pointer difference, or the array new refuses
    // it by throwing instead of returning no block.
    const std::size_t limit =
        static_cast<std::size_t>(PTRDIFF_MAX) / (element_bytes == 0 ? 1 : element_bytes);
    const unsigned long long add = static_cast<unsigned long long>(n);
    if (add >= limit || count >= limit - 1 - add) {
        print_too_large_message();
        return false;
    }
    new_size = count + static_cast<std::size_t>(add) + 1;
    return true;
}

int resize_double_array(checked_array<double> &array, long long n) { return array.grow(n, 0.0); }
int grow_int_array(checked_array<int> &array, long long n) { return array.grow(n, 0); }
int grow_double_array(checked_array<double> &array, long long n, double value) {
    return array.grow(n, value);
}
int grow_int_array_fill(checked_array<int> &array, long long n, int value) {
    return array.grow(n, value);
}

// ---------------------------------------------------------------------------
// double_table

double *double_table::row(int i) const {
    if (i < 1 || i > rows_) return nullptr;
    return row_ptr_[static_cast<std::size_t>(i)];
}

bool double_table::owns_row(int i) const {
    if (i < 1 || i > rows_) return false;
    return owner_[static_cast<std::size_t>(i)] != 0;
}

void double_table::release() {
    storage_.clear();
    row_ptr_.assign(1, nullptr);
    owner_.assign(1, 0);
    rows_ = 0;
    columns_ = 0;
}

int double_table::take_columns(int columns) {
    if (columns < -1) {
        print_negative_size_message(columns);
        return -1;
    }
    if (columns != -1 && columns_ == 0) columns_ = columns;
    return 0;
}

int double_table::add_rows(int columns, long long n) {
    if (n < 0) {
        print_negative_size_message(n);
        return -1;
    }
    if (take_columns(columns) != 0) return -1;
    if (n > static_cast<long long>(INT_MAX) - rows_ || columns_ == INT_MAX) {
        print_too_large_message();
        return -1;
    }
    const std::size_t width = static_cast<std::size_t>(columns_) + 1;
    const std::size_t new_rows = static_cast<std::size_t>(rows_) + static_cast<std::size_t>(n);
    row_ptr_.resize(new_rows + 1, nullptr);
    owner_.resize(new_rows + 1, 0);
    storage_.resize(new_rows + 1);
    for (std::size_t i = static_cast<std::size_t>(rows_) + 1; i <= new_rows; ++i) {
        storage_[i].reset(new double[width]());
        row_ptr_[i] = storage_[i].get();
        owner_[i] = 1;
        allocated_bytes += width * sizeof(double);
    }
    rows_ = static_cast<int>(new_rows);
    return 0;
}

int double_table::add_given_rows(int columns, double *const given[11]) {
    if (given == nullptr) return -1;
    if (take_columns(columns) != 0) return -1;
    if (rows_ > INT_MAX - 10) {
        print_too_large_message();
        return -1;
    }
    const std::size_t first = static_cast<std::size_t>(rows_) + 1;
    row_ptr_.resize(first + 10, nullptr);
    owner_.resize(first + 10, 0);
    storage_.resize(first + 10);
    for (std::size_t k = 0; k < 10; ++k) row_ptr_[first + k] = given[k + 1];
    rows_ += 10;
    return 0;
}

double *table_value(int i, const double_table &table) { return table.row(i); }

int resize_row_table(double_table &table, int columns, long long n) {
    return table.add_rows(columns, n);
}

int grow_double_matrix(double_table &table, int columns, long long n, double value) {
    const int first = table.rows() + 1;
    if (table.add_rows(columns, n) != 0) return -1;
    // New rows hold columns+1 doubles of the table's own count; never fill past it.
    int c = columns == -1 ? table.columns() : columns;
    if (c > table.columns()) c = table.columns();
    for (int i = first; i <= table.rows(); ++i) {
        double *row = table.row(i);
        for (int j = 1; j <= c; ++j) row[j] = value;
    }
    return 0;
}

int grow_pointer_table(double_table &table, int columns, double *const given[11]) {
    return table.add_given_rows(columns, given);
}

void free_double_table(double_table &table) { table.release(); }
