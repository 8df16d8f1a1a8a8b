// The conversion phase: value ranges, units, and both rasters as doubles.
#include "console.h"
#include "dialogue.h"
#include "nrutil.h"
#include "numfmt.h"
#include "run.h"
#include "state.h"

namespace {

const char kUnitQuestion[] =
    "\n\tAre these values :\n\t\t0 ====> in meters\n\t\t1 ====> in decimeters"
    "\n\t\t2 ====> in centimeters\n\t\t3 ====> in millimeters\n\t\t";

const char *const kUnitLines[4] = {"\n\tScale in meters", "\n\tScale in decimeters", "\n\tScale in centimeters",
                                   "\n\tScale in millimeters"};

// Multiplying factor of each unit answer (times 1.0 is exact).
const double kUnitFactors[4] = {1.0, 0.1, 0.01, 0.001};

// Shows and records the value range of raster k (0 first, 1 second).
void show_range(const char *console_heading, const char *file_heading, int k) {
    const int Min = range_min[k], Max = range_max[k];
    out(console_heading);
    out(kfmt("\n\t\tMin = %d ", Min));
    out(kfmt("\n\t\tMax = %d \n", Max));
    text_write(f2d, file_heading);
    text_write(f2d, kfmt("\n\t\tMin = %d\n\t\tMax = %d", Min, Max));
}

double **new_double_grid(const char *grid_name) {
    double **grid = dmatrice(nb_col, nb_lig);
    need_memory(grid, grid_name, nb_lig, nb_col, 8);
    return grid;
}

// Asks the unit of one elevation model, records it and converts the model.
void convert_dem(int **src, double **dst) {
    ask_choice(kUnitQuestion, hypso_scale, 0, 3);
    text_write(f2d, kUnitLines[hypso_scale]);
    const double factor = kUnitFactors[hypso_scale];
    for (int i = 0; i < nb_lig; i++) {
        const int *in = src[i];
        double *row = dst[i];
        for (int j = 0; j < nb_col; j++) row[j] = double(in[j]) * factor;
    }
}

void convert_image(unsigned char **src, double **dst) {
    for (int i = 0; i < nb_lig; i++) {
        const unsigned char *in = src[i];
        double *row = dst[i];
        for (int j = 0; j < nb_col; j++) row[j] = double(in[j]);
    }
}

}  // namespace

void parameters() {
    if (image_type == 0) {
        show_range("\n\n\tHypsometric scale of the first DEM :", "\n\tHypsometric scale of the first DEM :", 0);
        dtab1 = new_double_grid("the first double grid");
        convert_dem(itab1, dtab1);

        show_range("\n\n\tHypsometric scale of the second DEM :", "\n\n\tHypsometric scale of the second DEM :", 1);
        dtab2 = new_double_grid("the second double grid");
        convert_dem(itab2, dtab2);
    } else {
        dtab1 = new_double_grid("the first double grid");
        dtab2 = new_double_grid("the second double grid");
        show_range("\n\n\tDynamic scale of the first 8 bits image :", "\n\n\tDynamic scale of the first 8 bits image :",
                   0);
        convert_image(tab1, dtab1);
        show_range("\n\n\tDynamic scale of the second 8 bits image :",
                   "\n\n\tDynamic scale of the second 8 bits image :", 1);
        convert_image(tab2, dtab2);
    }
    text_write(f2d, "\n\n\tTreatment applied to the whole image\n");
}
