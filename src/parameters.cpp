// The conversion phase: value ranges, units, and how each raster's samples
// become doubles in one unit.
#include "console.h"
#include "dialogue.h"
#include "numfmt.h"
#include "raster.h"
#include "state.h"

namespace {

const char kUnitQuestion[] =
    "\n\tAre these values :\n\t\t0 ====> in meters\n\t\t1 ====> in decimeters"
    "\n\t\t2 ====> in centimeters\n\t\t3 ====> in millimeters\n\t\t";

const char *const kUnitLines[4] = {"\n\tScale in meters", "\n\tScale in decimeters", "\n\tScale in centimeters",
                                   "\n\tScale in millimeters"};

// Shows and records the value range of raster k (0 first, 1 second).
void show_range(const char *console_heading, const char *file_heading, int k) {
    const int Min = range_min[k], Max = range_max[k];
    out(console_heading);
    out(kfmt("\n\t\tMin = %d ", Min));
    out(kfmt("\n\t\tMax = %d \n", Max));
    text_write(f2d, file_heading);
    text_write(f2d, kfmt("\n\t\tMin = %d\n\t\tMax = %d", Min, Max));
}

// Asks the unit of one elevation model, records it and converts the model's
// samples by its factor from now on.
void set_dem_unit(RasterLines &lines) {
    ask_choice(kUnitQuestion, hypso_scale, 0, 3);
    text_write(f2d, kUnitLines[hypso_scale]);
    lines.set_factor(unit_factor(hypso_scale));
}

}  // namespace

void parameters() {
    if (image_type == 0) {
        show_range("\n\n\tHypsometric scale of the first DEM :", "\n\tHypsometric scale of the first DEM :", 0);
        set_dem_unit(dtab1);
        show_range("\n\n\tHypsometric scale of the second DEM :", "\n\n\tHypsometric scale of the second DEM :", 1);
        set_dem_unit(dtab2);
    } else {
        // Grey levels are converted exactly.
        dtab1.set_factor(1.0);
        dtab2.set_factor(1.0);
        show_range("\n\n\tDynamic scale of the first 8 bits image :", "\n\n\tDynamic scale of the first 8 bits image :",
                   0);
        show_range("\n\n\tDynamic scale of the second 8 bits image :",
                   "\n\n\tDynamic scale of the second 8 bits image :", 1);
    }
    text_write(f2d, "\n\n\tTreatment applied to the whole image\n");
}
