#include "gdal_problem.h"

#include <cpl_error.h>

std::string gdal_problem(const char *none) {
    const char *m = CPLGetLastErrorMsg();
    return m != nullptr && *m != '\0' ? std::string(m) : std::string(none);
}
