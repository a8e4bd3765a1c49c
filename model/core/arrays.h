// The model's 1-based arrays: zeroed blocks with one element more than the count
// in each dimension (index 0 present, use from 1), their allocators, the
// range-checked growable `checked_array` and the growable `double_table`.
// Every reader and process allocates through these.
#pragma once
#include <cassert>
#include <cstring>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

// Running total of the bytes requested by the allocators; informational only.
extern std::size_t allocated_bytes;

// ---------------------------------------------------------------------------
// Views and array classes. Indexes are range-checked by assert (debug and
// sanitizer builds); release builds index directly.

template <class T>
class row_ref {
public:
    row_ref(T *p, std::size_t last) : p_(p), last_(last) {}
    T &operator[](std::size_t j) const {
        assert(j <= last_);
        return p_[j];
    }
    T *data() const { return p_; }
    std::size_t last() const { return last_; }

private:
    T *p_;
    std::size_t last_;
};

template <class T>
class plane_ref {
public:
    plane_ref(T *p, std::size_t rows, std::size_t cols) : p_(p), rows_(rows), cols_(cols) {}
    row_ref<T> operator[](std::size_t j) const {
        assert(j <= rows_);
        return row_ref<T>(p_ + j * (cols_ + 1), cols_);
    }

private:
    T *p_;
    std::size_t rows_, cols_;
};

// The blocks hold numbers, codes and pointers only. They come zeroed from calloc,
// whose large blocks are fresh pages from the system: a page that the run never
// writes costs no memory.
struct zeroed_block_free {
    void operator()(void *p) const { std::free(p); }
};
template <class T>
using zeroed_block = std::unique_ptr<T[], zeroed_block_free>;
template <class T>
T *obtain_zeroed_block(std::size_t elements) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>,
                  "the model's arrays hold plain values");
    return static_cast<T *>(std::calloc(elements, sizeof(T)));
}

// [0..n], one zeroed block.
template <class T>
class array_1d {
public:
    array_1d() = default;
    array_1d(array_1d &&) noexcept = default;
    array_1d &operator=(array_1d &&) noexcept = default;
    array_1d(const array_1d &) = delete;
    array_1d &operator=(const array_1d &) = delete;

    T &operator[](std::size_t i) {
        assert(data_ && i <= last_);
        return data_[i];
    }
    const T &operator[](std::size_t i) const {
        assert(data_ && i <= last_);
        return data_[i];
    }
    bool empty() const { return !data_; }
    std::size_t last() const { return last_; }  // highest valid index n
    T *data() { return data_.get(); }
    const T *data() const { return data_.get(); }
    void release() {
        data_.reset();
        last_ = 0;
    }
    // Takes a zeroed block of last+1 elements; false (array empty) when it cannot be had.
    bool obtain(std::size_t last) {
        release();
        data_.reset(obtain_zeroed_block<T>(last + 1));
        if (!data_) return false;
        last_ = last;
        return true;
    }

private:
    zeroed_block<T> data_;
    std::size_t last_ = 0;
};

// [0..r][0..c], one zeroed block; element [i][j] at i*(c+1)+j.
template <class T>
class array_2d {
public:
    array_2d() = default;
    array_2d(array_2d &&) noexcept = default;
    array_2d &operator=(array_2d &&) noexcept = default;
    array_2d(const array_2d &) = delete;
    array_2d &operator=(const array_2d &) = delete;

    row_ref<T> operator[](std::size_t i) {
        assert(data_ && i <= rows_);
        return row_ref<T>(data_.get() + i * (cols_ + 1), cols_);
    }
    row_ref<const T> operator[](std::size_t i) const {
        assert(data_ && i <= rows_);
        return row_ref<const T>(data_.get() + i * (cols_ + 1), cols_);
    }
    T &operator()(std::size_t i, std::size_t j) { return (*this)[i][j]; }
    const T &operator()(std::size_t i, std::size_t j) const { return (*this)[i][j]; }
    bool empty() const { return !data_; }
    std::size_t rows() const { return rows_; }  // highest row index r
    std::size_t cols() const { return cols_; }  // highest column index c
    T *data() { return data_.get(); }
    const T *data() const { return data_.get(); }
    void release() {
        data_.reset();
        rows_ = cols_ = 0;
    }
    // Takes a zeroed block for [0..rows][0..cols]; the product must have been checked.
    bool obtain(std::size_t rows, std::size_t cols) {
        release();
        data_.reset(obtain_zeroed_block<T>((rows + 1) * (cols + 1)));
        if (!data_) return false;
        rows_ = rows;
        cols_ = cols;
        return true;
    }

private:
    zeroed_block<T> data_;
    std::size_t rows_ = 0, cols_ = 0;
};

// [0..a][0..b][0..c], one zeroed block; element [i][j][k] at ((i*(b+1))+j)*(c+1)+k.
template <class T>
class array_3d {
public:
    array_3d() = default;
    array_3d(array_3d &&) noexcept = default;
    array_3d &operator=(array_3d &&) noexcept = default;
    array_3d(const array_3d &) = delete;
    array_3d &operator=(const array_3d &) = delete;

    plane_ref<T> operator[](std::size_t i) {
        assert(data_ && i <= a_);
        return plane_ref<T>(data_.get() + i * (b_ + 1) * (c_ + 1), b_, c_);
    }
    plane_ref<const T> operator[](std::size_t i) const {
        assert(data_ && i <= a_);
        return plane_ref<const T>(data_.get() + i * (b_ + 1) * (c_ + 1), b_, c_);
    }
    T &operator()(std::size_t i, std::size_t j, std::size_t k) { return (*this)[i][j][k]; }
    const T &operator()(std::size_t i, std::size_t j, std::size_t k) const {
        return (*this)[i][j][k];
    }
    bool empty() const { return !data_; }
    std::size_t extent1() const { return a_; }  // highest first index
    std::size_t extent2() const { return b_; }
    std::size_t extent3() const { return c_; }
    T *data() { return data_.get(); }
    void release() {
        data_.reset();
        a_ = b_ = c_ = 0;
    }
    bool obtain(std::size_t a, std::size_t b, std::size_t c) {
        release();
        data_.reset(obtain_zeroed_block<T>((a + 1) * (b + 1) * (c + 1)));
        if (!data_) return false;
        a_ = a;
        b_ = b;
        c_ = c;
        return true;
    }

private:
    zeroed_block<T> data_;
    std::size_t a_ = 0, b_ = 0, c_ = 0;
};

// ---------------------------------------------------------------------------
// Size checks and messages shared by the allocators (arrays.cpp).

// Number of elements of the block [0..n1]x[0..n2]x... for element size `bytes`;
// refuses (with a message, result false) a negative count or a size that does not
// fit size_t. A count of -1 (an extent of 0) passes as extent 0.
bool array_block_elements(const long long *counts, int dims, std::size_t element_bytes,
                          std::size_t &elements);
void print_size_zero_message();                 // "Error: Attempting to allocate array of size 0\n"
void print_allocation_failure(const char *name); // "Error allocating memory for variable %s\n"

// ---------------------------------------------------------------------------
// Allocators. Each replaces the array; 0 on success, -1 with the array empty.

int alloc_1d_double(array_1d<double> &out, long long n);
int alloc_1d_int(array_1d<int> &out, long long n);
int alloc_1d_byte(array_1d<unsigned char> &out, long long n);
int alloc_2d_double(array_2d<double> &out, long long r, long long c, const std::string &name);
int alloc_2d_double_verbose(array_2d<double> &out, long long r, long long c, int verbose);
int alloc_2d_int(array_2d<int> &out, long long r, long long c);
int alloc_2d_byte(array_2d<unsigned char> &out, long long r, long long c);
int alloc_3d_double(array_3d<double> &out, long long a, long long b, long long c);
int alloc_3d_double_named(array_3d<double> &out, long long a, long long b, long long c,
                          const std::string &name);
// [0..n][0..3][0..m] of 4-byte elements.
int alloc_3d_quad(array_3d<int> &out, long long n, long long m);

// Per-link rows [0..n][0..m] of entries (pointers to series or pumps, or integers),
// all empty; a count of 0 prints the size-0 message and the variable's name and the
// allocation goes on.
template <class T>
int alloc_per_link_rows(array_2d<T> &out, long long n, long long m, const char *name) {
    out.release();
    if (n == 0 || m == 0) {
        print_size_zero_message();
        print_allocation_failure(name);
    }
    const long long counts[2] = {n, m};
    std::size_t elements = 0;
    if (!array_block_elements(counts, 2, sizeof(T), elements)) {
        print_allocation_failure(name);
        return -1;
    }
    allocated_bytes += elements * sizeof(T);
    if (!out.obtain(static_cast<std::size_t>(n), static_cast<std::size_t>(m))) {
        print_allocation_failure(name);
        return -1;
    }
    return 0;
}
template <class T>
int alloc_stream_pointsource(array_2d<T> &out, long long n, long long m) {
    return alloc_per_link_rows(out, n, m, "stream_pointsource");
}
template <class T>
int alloc_stream_pumps(array_2d<T> &out, long long n, long long m) {
    return alloc_per_link_rows(out, n, m, "stream_pumps");
}

// ---------------------------------------------------------------------------
// Tolerant reads for the writers: an array that is empty or does not reach the
// index gives 0 (or false) instead of an access outside it.

inline int int_at(const array_1d<int> &a, int i) {
    return !a.empty() && i >= 0 && static_cast<std::size_t>(i) <= a.last()
               ? a[static_cast<std::size_t>(i)]
               : 0;
}

// Cell number at row i, column j of a cell grid.
inline int cell_at(const array_2d<int> &cells, int i, int j) {
    if (cells.empty() || i < 0 || j < 0 || static_cast<std::size_t>(i) > cells.rows() ||
        static_cast<std::size_t>(j) > cells.cols())
        return 0;
    return cells[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
}

// Value at [node][link] of a per-node array, and whether the array holds it.
inline bool node_value(const array_2d<double> &a, int node, int link, double &value) {
    if (a.empty() || node < 1 || link < 1 || static_cast<std::size_t>(node) > a.rows() ||
        static_cast<std::size_t>(link) > a.cols())
        return false;
    value = a[static_cast<std::size_t>(node)][static_cast<std::size_t>(link)];
    return true;
}

// ---------------------------------------------------------------------------
// checked_array: a growable, named, 1-based array (valid indexes 1..count) whose
// every access is tested. An access out of range sets the bad-range flag and
// reaches a scratch element instead of memory outside the array; the flag is
// reported when the array is released.

template <class T>
class checked_array {
public:
    checked_array() = default;
    explicit checked_array(std::string name) : name_(std::move(name)) {}
    ~checked_array() { release(); }
    checked_array(const checked_array &) = delete;
    checked_array &operator=(const checked_array &) = delete;

    T &operator[](long long i) {
        if (i < 1 || static_cast<std::size_t>(i) > count_) {
            bad_range_ = true;
            scratch_ = T{};
            return scratch_;
        }
        return data_[static_cast<std::size_t>(i)];
    }
    std::size_t count() const { return count_; }
    bool empty() const { return data_.empty(); }
    bool bad_range() const { return bad_range_; }
    const std::string &name() const { return name_; }
    void set_name(std::string name) { name_ = std::move(name); }
    T *data() { return data_.empty() ? nullptr : data_.data(); }

    // Prints "Error: bad range addressed in array\n" when the flag is set, then
    // frees the data; the array is empty and unflagged afterwards.
    void release();

    // Grows by n elements (the first growth allocates n+1); old values are kept,
    // new ones are `value`. Negative n or an unaddressable size is refused (-1).
    int grow(long long n, const T &value);

private:
    std::vector<T> data_;  // count+1 elements once allocated
    std::size_t count_ = 0;
    bool bad_range_ = false;
    std::string name_;
    T scratch_{};
};

void print_bad_range_message();  // "Error: bad range addressed in array\n"
bool growth_size_ok(std::size_t count, long long n, std::size_t element_bytes,
                    std::size_t &new_size);

template <class T>
void checked_array<T>::release() {
    if (bad_range_) print_bad_range_message();
    bad_range_ = false;
    std::vector<T>().swap(data_);
    count_ = 0;
}

template <class T>
int checked_array<T>::grow(long long n, const T &value) {
    std::size_t new_size = 0;
    if (!growth_size_ok(count_, n, sizeof(T), new_size)) return -1;
    allocated_bytes += new_size * sizeof(T);
    const bool first = data_.empty();
    data_.resize(new_size, value);
    if (first) data_[0] = T{};  // element 0 exists, unused and zero
    count_ = new_size - 1;
    return 0;
}

// The described growth operations on the two element types.
int resize_double_array(checked_array<double> &array, long long n);
int grow_int_array(checked_array<int> &array, long long n);
int grow_double_array(checked_array<double> &array, long long n, double value);
int grow_int_array_fill(checked_array<int> &array, long long n, int value);
// Releases the array, reporting a bad-range access first.
template <class T>
void free_checked_array(checked_array<T> &array) {
    array.release();
}

// ---------------------------------------------------------------------------
// double_table: growable table of double rows 1..rows, each of columns+1 doubles.
// A row that the table allocated is owned by it; rows handed in by
// grow_pointer_table belong to the caller.

class double_table {
public:
    double_table() = default;
    ~double_table() { release(); }
    double_table(const double_table &) = delete;
    double_table &operator=(const double_table &) = delete;

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    double *row(int i) const;      // row i, or null outside 1..rows
    bool owns_row(int i) const;   // the owner flag of row i
    void release();                // frees the owned rows; table empty, no column count

    // Growth (see resize_row_table, grow_pointer_table); -1 when refused.
    int add_rows(int columns, long long n);
    int add_given_rows(int columns, double *const given[11]);

private:
    int take_columns(int columns);
    int columns_ = 0;
    int rows_ = 0;
    std::vector<double *> row_ptr_{nullptr};        // rows+1 entries, entry 0 null
    std::vector<unsigned char> owner_{0};           // rows+1 flags, entry 0 zero
    std::vector<std::unique_ptr<double[]>> storage_{};  // owned rows, by row index
};

// Row i of the table when 1 <= i <= rows, else null.
double *table_value(int i, const double_table &table);
// Adds n owned rows of columns+1 doubles (the column count is taken from
// `columns` by the first growth that gives one; -1 gives none).
int resize_row_table(double_table &table, int columns, long long n);
// Sets x to v only when the bits differ: a per-cell value that a step resets or
// adds nothing to leaves its page untouched, so that an array such a run never
// changes stays out of resident memory.
inline void store_if_changed(double &x, double v) {
    if (std::memcmp(&x, &v, sizeof v) != 0) x = v;
}

// As resize_row_table, then elements 1..columns of every new row set to value.
int grow_double_matrix(double_table &table, int columns, long long n, double value);
// Adds exactly ten rows that point at the caller's rows given[1] .. given[10].
int grow_pointer_table(double_table &table, int columns, double *const given[11]);
void free_double_table(double_table &table);
