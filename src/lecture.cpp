// The loading phase: both raw rasters into integer or byte grids.
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "console.h"
#include "nrutil.h"
#include "numfmt.h"
#include "run.h"
#include "state.h"

static_assert(std::endian::native == std::endian::little,
              "raster samples are stored least significant byte first and read as they are");

namespace {

// Warns when a raster file does not hold exactly the bytes its description
// calls for; it is loaded all the same (missing samples read as zero).
void check_length(FILE *fp, const std::string &shown, int bytes_per_sample) {
    long long expected = (long long)nb_lig * nb_col * bytes_per_sample;
    struct stat st;
    if (fstat(fileno(fp), &st) != 0 || (long long)st.st_size == expected) return;
    out(kfmt("\n\tWarning: the file %s holds %lld bytes, but %d lines of %d columns of %d-byte samples need %lld bytes",
             shown.c_str(), (long long)st.st_size, nb_lig, nb_col, bytes_per_sample, expected));
}

// Reads one line of samples into a row; whatever the file no longer holds
// reads as zero bytes (a sample cut short keeps the bytes it got as its
// least significant ones).
void read_line(void *row, size_t bytes, FILE *fp) {
    size_t got = 0;
    if (!std::feof(fp) && !std::ferror(fp)) got = std::fread(row, 1, bytes, fp);
    if (got < bytes) std::memset(static_cast<char *>(row) + got, 0, bytes - got);
}

// Widens the range [Min, Max] to hold every value of a row.
template <class T>
void take_range(const T *row, size_t cols, int &Min, int &Max) {
    int lo = Min, hi = Max;
    for (size_t j = 0; j < cols; j++) {
        const int v = row[j];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    Min = lo;
    Max = hi;
}

// Loads one elevation model; its value range is taken line by line while
// each line is in cache.
int **load_dem(FILE *fp, const std::string &shown, int width_answer, const char *grid_name, int &Min, int &Max) {
    const size_t cols = size_t(nb_col);
    int **grid = imatrice(nb_col, nb_lig);
    need_memory(grid, grid_name, nb_lig, nb_col, 4);
    if (width_answer == 0) {
        check_length(fp, shown, 2);
        // The staging grid holds one line: each line is read into it and
        // widened into its int row at once, while it is still in cache.
        jtab = usmatrice(nb_col, 1);
        need_memory(jtab, "the 16-bit staging line", 1, nb_col, 2);
        unsigned short *src = jtab[0];
        for (int i = 0; i < nb_lig; i++) {
            read_line(src, cols * 2, fp);
            int *dst = grid[i];
            for (size_t j = 0; j < cols; j++) dst[j] = src[j];
            take_range(src, cols, Min, Max);
        }
        frusmatrice(jtab, 1);
        jtab = nullptr;
    } else {
        check_length(fp, shown, 4);
        for (int i = 0; i < nb_lig; i++) {
            read_line(grid[i], cols * 4, fp);
            take_range(grid[i], cols, Min, Max);
        }
    }
    return grid;
}

unsigned char **load_image(FILE *fp, const std::string &shown, const char *grid_name, int &Min, int &Max) {
    unsigned char **grid = ucmatrice(nb_col, nb_lig);
    need_memory(grid, grid_name, nb_lig, nb_col, 1);
    check_length(fp, shown, 1);
    for (int i = 0; i < nb_lig; i++) {
        read_line(grid[i], size_t(nb_col), fp);
        take_range(grid[i], size_t(nb_col), Min, Max);
    }
    return grid;
}

}  // namespace

void lecture() {
    range_min[0] = range_min[1] = INT_MAX;
    range_max[0] = range_max[1] = INT_MIN;
    if (image_type == 0) {
        itab1 = load_dem(f1, nomim1, itype1, "the first elevation grid", range_min[0], range_max[0]);
        itab2 = load_dem(f3, nomim3, itype3, "the second elevation grid", range_min[1], range_max[1]);
    } else {
        tab1 = load_image(f1, nomim1, "the first image grid", range_min[0], range_max[0]);
        tab2 = load_image(f3, nomim3, "the second image grid", range_min[1], range_max[1]);
    }
    std::fclose(f1);
    f1 = nullptr;
    std::fclose(f3);
    f3 = nullptr;
}
