// karvel-import: turns two rasters of any format GDAL reads into a pair of
// karvel's raw rasters and the answers of the dialogue that compares them.
#include <gdal.h>

#include "importer.h"
#include "staged.h"

int main(int argc, char **argv) {
    staged_catch_signals();
    GDALAllRegister();
    ImportSetting setting{"karvel-import", KARVEL_IMAGES_ROOT, KARVEL_PROGRAM, KARVEL_REPORT_PROGRAM};
    const int status = run_import(argc - 1, argv + 1, setting);
    GDALDestroyDriverManager();
    return status;
}
