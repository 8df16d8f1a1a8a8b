#include "maps.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include "paths.h"

namespace {

void gdal_ready() {
    static bool done = false;
    if (done) return;
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);  // every failure is reported by the caller
    // The GeoTIFFs are written line by line: a small block cache is enough,
    // where GDAL's default (a share of the machine's memory) would hold
    // hundreds of megabytes of blocks beside the differences.
    if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(GIntBig(128) << 20);
    done = true;
}

std::string gdal_problem() {
    const char *m = CPLGetLastErrorMsg();
    return (m && *m) ? m : "GDAL gave no reason";
}

}  // namespace

Georef georef_of(const std::string &raw_real_path, const std::string &raw_shown, int lines, int cols,
                 std::string &note) {
    Georef g;
    if (raw_real_path.size() < 4 || raw_shown.size() < 4) return g;
    const std::string hdr_real = header_name(raw_real_path);
    const std::string hdr = header_name(raw_shown);
    struct stat st;
    if (stat(hdr_real.c_str(), &st) != 0) {
        note = "no header " + hdr + " beside the raster: the maps are not georeferenced";
        return g;
    }
    if (!S_ISREG(st.st_mode)) {
        note = "the header " + hdr + " is not a regular file: it is not read";
        return g;
    }
    gdal_ready();
    CPLErrorReset();
    const char *const drivers[] = {"ENVI", nullptr};
    GDALDatasetH ds = GDALOpenEx(raw_real_path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, nullptr);
    if (!ds) {
        note = "GDAL cannot read the header " + hdr + " (" + gdal_problem() + "): the maps are not georeferenced";
        return g;
    }
    if (GDALGetRasterXSize(ds) != cols || GDALGetRasterYSize(ds) != lines) {
        note = "the header " + hdr + " describes another size: it is not used";
    } else if (GDALGetGeoTransform(ds, g.transform) == CE_None) {
        g.known = true;
        const char *wkt = GDALGetProjectionRef(ds);
        g.wkt = wkt ? wkt : "";
    } else {
        note = "the header " + hdr + " gives no georeferencing";
    }
    GDALClose(ds);
    return g;
}

GeoTiffOut::~GeoTiffOut() {
    if (ds_) GDALClose(static_cast<GDALDatasetH>(ds_));
}

std::string GeoTiffOut::create(const std::string &path, int lines, int cols, const Georef &g) {
    gdal_ready();
    CPLErrorReset();
    GDALDriverH drv = GDALGetDriverByName("GTiff");
    if (!drv) return "GDAL has no GeoTIFF driver";
    const char *options[] = {"COMPRESS=DEFLATE", "PREDICTOR=1", "ZLEVEL=1", "BLOCKYSIZE=16", "BIGTIFF=IF_SAFER",
                             "NUM_THREADS=ALL_CPUS", nullptr};
    ds_ = GDALCreate(drv, path.c_str(), cols, lines, 1, GDT_Float32, const_cast<char **>(options));
    if (!ds_) return gdal_problem();
    if (g.known) {
        GDALSetGeoTransform(static_cast<GDALDatasetH>(ds_), const_cast<double *>(g.transform));
        if (!g.wkt.empty()) GDALSetProjection(static_cast<GDALDatasetH>(ds_), g.wkt.c_str());
    }
    band_ = GDALGetRasterBand(static_cast<GDALDatasetH>(ds_), 1);
    cols_ = cols;
    return "";
}

bool GeoTiffOut::write_line(int i, const float *values) {
    if (failed_ || !band_) return false;
    if (GDALRasterIO(static_cast<GDALRasterBandH>(band_), GF_Write, 0, i, cols_, 1, const_cast<float *>(values), cols_,
                     1, GDT_Float32, 0, 0) != CE_None) {
        failed_ = true;
        problem_ = gdal_problem();
    }
    return !failed_;
}

std::string GeoTiffOut::close() {
    if (!ds_) return problem_.empty() ? "the file was never created" : problem_;
    CPLErrorReset();
    GDALDatasetH ds = static_cast<GDALDatasetH>(ds_);
    ds_ = nullptr;
    band_ = nullptr;
    // The flush and the close report a failed write as an error of GDAL's.
    GDALFlushCache(ds);
    GDALClose(ds);
    if (!failed_ && CPLGetLastErrorType() >= CE_Failure) {
        failed_ = true;
        problem_ = gdal_problem();
    }
    return failed_ ? problem_ : "";
}

BlockMeans::BlockMeans(int lines, int cols, int max_side) : lines_(lines), cols_(cols) {
    const int side = std::max(lines, cols);
    f_ = std::max(1, (side + max_side - 1) / max_side);
    w_ = (cols + f_ - 1) / f_;
    h_ = (lines + f_ - 1) / f_;
    sum_.assign(size_t(w_) * h_, 0.0);
    count_.assign(size_t(w_) * h_, 0);
    cell_of_.resize(size_t(cols));
    for (int j = 0; j < cols; j++) cell_of_[size_t(j)] = j / f_;
}

void BlockMeans::add_line(int i, const double *values) {
    double *row = &sum_[size_t(i / f_) * w_];
    int *cnt = &count_[size_t(i / f_) * w_];
    const int *cell = cell_of_.data();
    for (int j = 0; j < cols_; j++) {
        row[cell[j]] += values[j];
        cnt[cell[j]]++;
    }
}

std::vector<float> BlockMeans::means() const {
    std::vector<float> m(sum_.size());
    for (size_t k = 0; k < m.size(); k++) m[k] = count_[k] ? float(sum_[k] / count_[k]) : NAN;
    return m;
}

std::string hillshade(const std::vector<float> &dem, int lines, int cols, double cell_size, bool geographic,
                      std::vector<uint8_t> &shade) {
    gdal_ready();
    CPLErrorReset();
    GDALDriverH mem = GDALGetDriverByName("MEM");
    if (!mem) return "GDAL has no in-memory driver";
    GDALDatasetH src = GDALCreate(mem, "", cols, lines, 1, GDT_Float32, nullptr);
    if (!src) return gdal_problem();
    double gt[6] = {0, cell_size, 0, 0, 0, -cell_size};
    GDALSetGeoTransform(src, gt);
    GDALRasterBandH band = GDALGetRasterBand(src, 1);
    GDALSetRasterNoDataValue(band, NAN);
    if (GDALRasterIO(band, GF_Write, 0, 0, cols, lines, const_cast<float *>(dem.data()), cols, lines, GDT_Float32, 0,
                     0) != CE_None) {
        GDALClose(src);
        return gdal_problem();
    }
    std::vector<const char *> args = {"-of", "MEM", "-compute_edges", "-multidirectional"};
    if (geographic) {
        args.push_back("-s");
        args.push_back("111120");
    }
    args.push_back(nullptr);
    GDALDEMProcessingOptions *opt = GDALDEMProcessingOptionsNew(const_cast<char **>(args.data()), nullptr);
    int usage_error = 0;
    GDALDatasetH out = GDALDEMProcessing("", src, "hillshade", nullptr, opt, &usage_error);
    GDALDEMProcessingOptionsFree(opt);
    std::string problem;
    if (!out) {
        problem = gdal_problem();
    } else {
        shade.assign(size_t(cols) * lines, 0);
        if (GDALRasterIO(GDALGetRasterBand(out, 1), GF_Read, 0, 0, cols, lines, shade.data(), cols, lines, GDT_Byte, 0,
                         0) != CE_None)
            problem = gdal_problem();
        GDALClose(out);
    }
    GDALClose(src);
    return problem;
}
