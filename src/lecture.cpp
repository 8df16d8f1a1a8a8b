// The loading phase: both raw rasters into integer or byte grids.
#include <sys/stat.h>

#include <bit>

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

// Reads one line of samples into the start of a row. A short read leaves
// the rest of the row as it was (zero).
void read_line(void *row, size_t bytes, FILE *fp) {
    if (std::feof(fp) || std::ferror(fp)) return;
    size_t got = std::fread(row, 1, bytes, fp);
    (void)got;
}

int **load_dem(FILE *fp, const std::string &shown, int width_answer, const char *grid_name) {
    const size_t cols = size_t(nb_col);
    int **grid = imatrice(nb_col, nb_lig);
    need_memory(grid, grid_name, nb_lig, nb_col, 4);
    if (width_answer == 0) {
        check_length(fp, shown, 2);
        jtab = usmatrice(nb_col, nb_lig);
        need_memory(jtab, "the 16-bit staging grid", nb_lig, nb_col, 2);
        for (int i = 0; i < nb_lig; i++) {
            unsigned short *src = jtab[i];
            read_line(src, cols * 2, fp);
            int *dst = grid[i];
            for (size_t j = 0; j < cols; j++) dst[j] = src[j];
        }
        frusmatrice(jtab, nb_lig);
        jtab = nullptr;
    } else {
        check_length(fp, shown, 4);
        for (int i = 0; i < nb_lig; i++) read_line(grid[i], cols * 4, fp);
    }
    return grid;
}

unsigned char **load_image(FILE *fp, const std::string &shown, const char *grid_name) {
    unsigned char **grid = ucmatrice(nb_col, nb_lig);
    need_memory(grid, grid_name, nb_lig, nb_col, 1);
    check_length(fp, shown, 1);
    for (int i = 0; i < nb_lig; i++) read_line(grid[i], size_t(nb_col), fp);
    return grid;
}

}  // namespace

void lecture() {
    if (image_type == 0) {
        itab1 = load_dem(f1, nomim1, itype1, "the first elevation grid");
        itab2 = load_dem(f3, nomim3, itype3, "the second elevation grid");
    } else {
        tab1 = load_image(f1, nomim1, "the first image grid");
        tab2 = load_image(f3, nomim3, "the second image grid");
    }
    std::fclose(f1);
    f1 = nullptr;
    std::fclose(f3);
    f3 = nullptr;
}
