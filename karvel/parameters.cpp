// The conversion phase: value ranges, units, and how each raster's samples
// become doubles in one unit.
#include "console.h"
#include "dialogue.h"
#include "numfmt.h"
#include "raster.h"
#include "state.h"
#include "summary_text.h"

using namespace summary_text;

namespace {

const char kUnitQuestion[] =
    "\n\tAre these values :\n\t\t0 ====> in meters\n\t\t1 ====> in decimeters"
    "\n\t\t2 ====> in centimeters\n\t\t3 ====> in millimeters\n\t\t";

// Shows and records the value range of raster k (0 first, 1 second) under
// its heading; in the summary file the heading follows `file_lead`.
void show_range(const char *heading, const char *file_lead, int k) {
    const int Min = range_min[k], Max = range_max[k];
    out(kfmt("\n\n\t%s", heading));
    out(kfmt("\n\t\t%s = %d ", kMin, Min));
    out(kfmt("\n\t\t%s = %d \n", kMax, Max));
    text_write(f2d, kfmt("%s%s", file_lead, heading));
    text_write(f2d, kfmt("\n\t\t%s = %d\n\t\t%s = %d", kMin, Min, kMax, Max));
}

// Asks the unit of one elevation model, records it and converts the model's
// samples by its factor from now on.
void set_dem_unit(RasterLines &lines) {
    ask_choice(kUnitQuestion, hypso_scale, 0, 3);
    text_write(f2d, kfmt("\n\t%s", kUnitLines[hypso_scale]));
    lines.set_factor(unit_factor(hypso_scale));
}

}  // namespace

void parameters() {
    if (image_type == 0) {
        show_range(kFirstDemRange, "\n\t", 0);
        set_dem_unit(dtab1);
        show_range(kSecondDemRange, "\n\n\t", 1);
        set_dem_unit(dtab2);
    } else {
        // Grey levels are converted exactly.
        dtab1.set_factor(1.0);
        dtab2.set_factor(1.0);
        show_range(kFirstImageRange, "\n\n\t", 0);
        show_range(kSecondImageRange, "\n\n\t", 1);
    }
    text_write(f2d, kfmt("\n\n\t%s\n", kWholeImage));
}
