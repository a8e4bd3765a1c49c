// Vectors and matrices addressed from a low index chosen at allocation (in
// practice 1), their allocators and free twins, and the library's fatal error
// routine. Every numerical routine of the calibration program works on these.
#pragma once
#include <cassert>
#include <string>

// The process end of the library's fatal errors. By default it is std::exit;
// tests install a handler that does not return (for example one that throws a
// test-only object) so that a fatal path can be exercised in-process. If an
// installed handler returns, the process still ends with the status.
using nr_exit_handler = void (*)(int status);

// Installs `handler` (nullptr restores the default) and returns the previous one.
nr_exit_handler set_nr_exit_handler(nr_exit_handler handler);

// Ends the process with `status` through the installed handler.
[[noreturn]] void nr_exit(int status);

// Writes "Numerical Recipes run-time error...", the message and
// "...now exiting to system..." as three lines on the error stream, then ends
// the process with status 1 (through nr_exit).
[[noreturn]] void nr_error(const char *message);

// What the calibration is computing, written after the message of nr_error
// (which matrix, which iteration, what the user can change); "" for none.
void nr_set_context(const std::string &context);
// What the inputs suggest as the cause of such a failure, written after the
// context (set once the inputs are read); "" for none.
void nr_set_input_note(const std::string &note);

// A vector with indices low..high. `block` holds element `low` at block[0];
// no pointer before the block is ever formed. The handle is a plain view: copies
// share the storage, which the free twin releases once.
template <typename T>
struct nr_vector {
    T *block = nullptr;
    int low = 1;
    int high = 0;

    T &operator[](int i) const {
        assert(block != nullptr && i >= low && i <= high);
        return block[i - low];
    }
    T &operator()(int i) const { return (*this)[i]; }
    bool empty() const { return block == nullptr; }
};

// One row of a matrix: indices col_low..col_high, `first` is element col_low.
template <typename T>
struct nr_row {
    T *first;
    int col_low;
    int col_high;

    T &operator[](int j) const {
        assert(first != nullptr && j >= col_low && j <= col_high);
        return first[j - col_low];
    }
};

// A matrix with rows row_low..row_high and columns col_low..col_high: a table of
// row pointers (one per row, plus one) over one contiguous data block in which
// the rows follow each other. rows[i - row_low] points at element (i, col_low).
template <typename T>
struct nr_matrix {
    T **rows = nullptr;
    int row_low = 1;
    int row_high = 0;
    int col_low = 1;
    int col_high = 0;

    T &operator()(int i, int j) const {
        assert(rows != nullptr && i >= row_low && i <= row_high && j >= col_low && j <= col_high);
        return rows[i - row_low][j - col_low];
    }
    nr_row<T> operator[](int i) const {
        assert(rows != nullptr && i >= row_low && i <= row_high);
        return nr_row<T>{rows[i - row_low], col_low, col_high};
    }
    bool empty() const { return rows == nullptr; }
};

using double_vector = nr_vector<double>;
using int_vector = nr_vector<int>;
using double_matrix = nr_matrix<double>;

// Allocators. Elements start at zero. A range whose size would be negative, an
// overflowing size, or a failed allocation ends the process through nr_error
// with the message of the allocator ("allocation failure in dvector()",
// "allocation failure 1 in matrix()" for the row table, "... 2 ..." for the data).
double_vector dvector(int low, int high);
int_vector ivector(int low, int high);
double_matrix dmatrix(int row_low, int row_high, int col_low, int col_high);

// Free twins: take the handle and the low indices that the allocation used (the
// high indices are ignored), release the storage and clear the handle. Freeing
// an empty handle does nothing.
void free_dvector(double_vector &v, int low, int high);
void free_ivector(int_vector &v, int low, int high);
void free_dmatrix(double_matrix &m, int row_low, int row_high, int col_low, int col_high);

// Grows `v` (kept from its low index, values kept, new elements zero) so that it
// reaches at least `high`: to twice its length, or more when needed, never past
// `cap`. A vector that already reaches `high` is left as it is.
void extend_dvector(double_vector &v, int high, int cap);
