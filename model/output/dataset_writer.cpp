// Data-set files: the output table, ASCII and binary headers, grid steps and the
// closing record. Binary files are written byte by byte in little-endian order so
// that they read the same on every machine. Called by the map writers and the
// end-of-run report.
#include "model/output/dataset_writer.h"

#include <array>
#include <cstring>

namespace {

const std::array<const char *, dataset_output_count> dataset_names = {{
    "depth", "discharge", "rain", "infiltrated depth", "infiltration rate", "surface moisture",
    "groundwater head", "sediment flux", "sediment volume", "suspended sediment conc.",
    "contaminant conc.", "flood grid",
    "OV_no2_dmdt", "OV_no2_mass", "OV_no2_conc", "OV_no3_dmdt", "OV_no3_mass", "OV_no3_conc",
    "OV_nh4_dmdt", "OV_nh4_mass", "OV_nh4_conc", "OV_on_dmdt", "OV_on_mass", "OV_on_conc",
    "OV_op_dmdt", "OV_op_mass", "OV_op_conc", "OV_dp_dmdt", "OV_dp_mass", "OV_dp_conc",
    "OV_po4_dmdt", "OV_po4_mass", "OV_po4_conc", "OV_alg_dmdt", "OV_alg_mass", "OV_alg_conc",
    "OV_cbod_dmdt", "OV_cbod_mass", "OV_cbod_conc", "OV_do_dmdt", "OV_do_mass", "OV_do_conc",
    "EL_no2_dmdt", "EL_no2_mass", "EL_no3_dmdt", "EL_no3_mass", "EL_nh4_dmdt", "EL_nh4_mass",
    "EL_on_dmdt", "EL_on_mass", "EL_op_dmdt", "EL_op_mass", "EL_po4_dmdt", "EL_po4_mass",
    "EL_cbod_dmdt", "EL_cbod_mass",
}};

// Width of the name field of a binary header.
constexpr std::size_t binary_name_bytes = 40;

// Number of grid positions; a negative size counts as empty.
std::int32_t grid_positions(int rows, int cols) {
    if (rows <= 0 || cols <= 0) return 0;
    return static_cast<std::int32_t>(static_cast<long long>(rows) * cols);
}

bool inside(const array_2d<int> &cells, int i, int j) {
    return !cells.empty() && static_cast<std::size_t>(i) <= cells.rows() &&
           static_cast<std::size_t>(j) <= cells.cols() &&
           cells[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] > 0;
}

}  // namespace

const char *dataset_output_name(int k) {
    if (k < 0 || k >= dataset_output_count) return "";
    return dataset_names[static_cast<std::size_t>(k)];
}

int dataset_object_id(int k) { return 1010 + k; }

void put_int32_le(std::FILE *f, std::int32_t value) {
    const std::uint32_t u = static_cast<std::uint32_t>(value);
    for (int b = 0; b < 4; ++b) std::fputc(static_cast<int>((u >> (8 * b)) & 0xffu), f);
}

void put_int16_le(std::FILE *f, std::int16_t value) {
    const std::uint16_t u = static_cast<std::uint16_t>(value);
    std::fputc(static_cast<int>(u & 0xffu), f);
    std::fputc(static_cast<int>((u >> 8) & 0xffu), f);
}

void put_double_le(std::FILE *f, double value) {
    std::uint64_t u = 0;
    static_assert(sizeof(u) == sizeof(value));
    std::memcpy(&u, &value, sizeof(u));
    for (int b = 0; b < 8; ++b) std::fputc(static_cast<int>((u >> (8 * b)) & 0xffu), f);
}

void write_ascii_dataset_header(std::FILE *f, int object_id, int rows, int cols,
                                const char *name) {
    const int positions = static_cast<int>(grid_positions(rows, cols));
    std::fprintf(f, "DATASET\n");
    std::fprintf(f, "OBJTYPE grid2d\n");
    std::fprintf(f, "BEGSCL\n");
    std::fprintf(f, "OBJID %d\n", object_id);
    std::fprintf(f, "ND %d\n", positions);
    std::fprintf(f, "NC %d\n", positions);
    std::fprintf(f, "NAME %s\n", name);
}

void write_binary_dataset_header(std::FILE *f, int object_id, int rows, int cols,
                                 const char *name) {
    const std::int32_t positions = grid_positions(rows, cols);
    const std::int32_t words[] = {3000, 100, 4,         110, 8,         120, 2,  130,
                                  160,  object_id, 170, positions, 180, positions, 190};
    for (std::int32_t w : words) put_int32_le(f, w);
    // The name field: the name's bytes, zero-padded to the field's width.
    const std::size_t length = std::strlen(name);
    for (std::size_t i = 0; i < binary_name_bytes; ++i)
        std::fputc(i < length ? static_cast<unsigned char>(name[i]) : 0, f);
}

void open_dataset_file(std::FILE *f, int binary, int object_id, int rows, int cols,
                       const char *name) {
    if (binary)
        write_binary_dataset_header(f, object_id, rows, cols, name);
    else
        write_ascii_dataset_header(f, object_id, rows, cols, name);
}

void write_dataset_step(std::FILE *f, int rows, int cols, const array_2d<int> &cells,
                        std::span<const double> values, int binary, double time) {
    if (binary) {
        put_int32_le(f, 200);
        put_int16_le(f, 1);
        put_double_le(f, time);
    } else {
        std::fprintf(f, "TS 1 %lf\n", time);
    }
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const int status = inside(cells, i, j) ? 1 : 0;
            if (binary)
                put_int16_le(f, static_cast<std::int16_t>(status));
            else
                std::fprintf(f, "%d\n", status);
        }
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) {
            const double v = inside(cells, i, j)
                                 ? cell_value(values, cells[static_cast<std::size_t>(i)]
                                                           [static_cast<std::size_t>(j)])
                                 : 0.0;
            if (binary)
                put_double_le(f, v);
            else
                std::fprintf(f, "%lf\n", v);
        }
}

void write_dataset_end(std::FILE *f, int binary) {
    if (binary)
        put_int32_le(f, 210);
    else
        std::fprintf(f, "ENDDS\n");
}
