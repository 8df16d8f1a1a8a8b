#include "gdal_open.h"

#include <cpl_error.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "paths.h"
#include "regular_file.h"

namespace {

// What is wrong with the file at `path` (which exists) or the files beside
// it that GDAL may read with it; empty when all are regular files or folders.
std::string special_file(const std::string &path, const struct stat &st) {
    if (!S_ISDIR(st.st_mode)) {
        struct stat opened;
        std::string problem;
        const int fd = open_regular(path, &opened, &problem);
        if (fd < 0) return problem == kNotRegularFile ? "it is not a regular file" : "it cannot be opened: " + problem;
        ::close(fd);
    }
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.rfind('.');
    const std::string stem = (dot == std::string::npos || dot == 0 ? base : base.substr(0, dot)) + ".";
    std::vector<std::string> beside;
    if (DIR *d = opendir(dir.c_str())) {
        while (const struct dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != base && name.compare(0, stem.size(), stem) == 0) beside.push_back(name);
        }
        closedir(d);
    }
    for (const std::string &name : beside) {
        struct stat other;
        const std::string p = (dir == "/" ? "" : dir) + "/" + name;
        if (stat(p.c_str(), &other) == 0 && !S_ISREG(other.st_mode) && !S_ISDIR(other.st_mode))
            return "the file " + printable(p) + " beside it, which GDAL would read with it, is not a regular file";
    }
    return "";
}

}  // namespace

GDALDatasetH open_raster(const std::string &path, const char *const *drivers, std::string &problem) {
    problem.clear();
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
        problem = special_file(path, st);
        if (!problem.empty()) return nullptr;
    }
    CPLErrorReset();
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr);
    if (ds != nullptr || !exists) return ds;
    // A vector file (a shapefile, a GeoPackage of polygons) opens as no
    // raster, and GDAL gives no reason: it is said what it is instead.
    const CPLErr cls = CPLGetLastErrorType();
    const CPLErrorNum num = CPLGetLastErrorNo();
    const std::string msg = CPLGetLastErrorMsg();
    GDALDatasetH vector = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (vector != nullptr) {
        GDALDriverH driver = GDALGetDatasetDriver(vector);
        const char *name = driver != nullptr ? GDALGetDriverShortName(driver) : nullptr;
        problem = std::string("it is a vector file") + (name != nullptr ? std::string(" (") + name + ")" : "") +
                  ", and a raster is needed: burn it into one first, for instance with gdal_rasterize";
        GDALClose(vector);
        return nullptr;
    }
    CPLErrorSetState(cls, num, msg.c_str());
    return nullptr;
}

GDALDatasetH open_vector(const std::string &path, std::string &problem) {
    problem.clear();
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        problem = special_file(path, st);
        if (!problem.empty()) return nullptr;
    }
    CPLErrorReset();
    return GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
}
