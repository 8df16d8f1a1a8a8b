// karvel: compares two co-registered rasters value against value.
#include "run.h"
#include "staged.h"
#include "state.h"

#ifndef KARVEL_IMAGES_ROOT
#define KARVEL_IMAGES_ROOT "~/images"
#endif

int main() {
    images_root_setting = KARVEL_IMAGES_ROOT;
    // A signal removes the run's temporary files before it ends the run.
    staged_catch_signals();
    opening();
    lecture();
    parameters();
    treatment();
    return finish_run();
}
