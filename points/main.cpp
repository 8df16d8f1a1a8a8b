// karvel-points: a DEM against surveyed check points.
#include <gdal.h>

#include <string>
#include <vector>

#include "points_run.h"

int main(int argc, char **argv) {
    GDALAllRegister();
    const int status =
        points_main(std::vector<std::string>(argv + 1, argv + argc), "karvel-points", KARVEL_IMAGES_ROOT);
    GDALDestroyDriverManager();
    return status;
}
