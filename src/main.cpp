// karvel: compares two co-registered rasters value against value.
#include "run.h"
#include "state.h"

#ifndef KARVEL_IMAGES_ROOT
#define KARVEL_IMAGES_ROOT "~/images"
#endif

int main() {
    images_root_setting = KARVEL_IMAGES_ROOT;
    opening();
    lecture();
    parameters();
    treatment();
    return finish_run();
}
