// Why GDAL failed, as the companions say it.
#ifndef KARVEL_COMPANION_GDAL_PROBLEM_H
#define KARVEL_COMPANION_GDAL_PROBLEM_H

#include <string>

// GDAL's last error message, or `none` when it gave none.
std::string gdal_problem(const char *none = "GDAL gave no reason");

#endif
