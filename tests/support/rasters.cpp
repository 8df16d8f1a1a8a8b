#include "rasters.h"

#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace {
struct Registered {
    Registered() { GDALAllRegister(); }
} registered;
}  // namespace

TestRaster raster(int lines, int cols, GDALDataType type, std::vector<double> values) {
    TestRaster r;
    r.lines = lines;
    r.cols = cols;
    r.type = type;
    r.bands.push_back(std::move(values));
    return r;
}

void write_tif(const std::string &path, const TestRaster &r) {
    GDALDriverH drv = GDALGetDriverByName("GTiff");
    const char *opts[] = {r.signed_byte ? "PIXELTYPE=SIGNEDBYTE" : nullptr, nullptr};
    GDALDatasetH ds = GDALCreate(drv, path.c_str(), r.cols, r.lines, int(r.bands.size()), r.type,
                                 const_cast<char **>(opts));
    ASSERT_NE(ds, nullptr) << path;
    if (r.georef) GDALSetGeoTransform(ds, const_cast<double *>(r.gt));
    if (!r.srs.empty() || r.epsg != 0) {
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        if (r.srs.empty())
            OSRImportFromEPSG(srs, r.epsg);
        else
            EXPECT_EQ(OSRSetFromUserInput(srs, r.srs.c_str()), OGRERR_NONE) << r.srs;
        OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
        GDALSetSpatialRef(ds, srs);
        OSRDestroySpatialReference(srs);
    }
    for (size_t k = 0; k < r.bands.size(); k++) {
        GDALRasterBandH b = GDALGetRasterBand(ds, int(k) + 1);
        std::vector<double> v = r.bands[k];
        ASSERT_EQ(v.size(), size_t(r.lines) * size_t(r.cols));
        if (k == 0 && !r.wide.empty()) {
            std::vector<uint64_t> w = r.wide;
            ASSERT_EQ(w.size(), v.size());
            ASSERT_EQ(GDALRasterIO(b, GF_Write, 0, 0, r.cols, r.lines, w.data(), r.cols, r.lines, r.type, 0, 0), CE_None);
        } else {
            ASSERT_EQ(GDALRasterIO(b, GF_Write, 0, 0, r.cols, r.lines, v.data(), r.cols, r.lines, GDT_Float64, 0, 0),
                      CE_None);
        }
        if (r.has_nodata) GDALSetRasterNoDataValue(b, r.nodata);
        if (r.scale != 1 || r.offset != 0) {
            GDALSetRasterScale(b, r.scale);
            GDALSetRasterOffset(b, r.offset);
        }
        if (!r.unit.empty()) GDALSetRasterUnitType(b, r.unit.c_str());
    }
    if (!r.mask.empty()) {
        ASSERT_EQ(GDALCreateDatasetMaskBand(ds, GMF_PER_DATASET), CE_None);
        std::vector<double> m = r.mask;
        GDALRasterBandH mb = GDALGetMaskBand(GDALGetRasterBand(ds, 1));
        ASSERT_EQ(GDALRasterIO(mb, GF_Write, 0, 0, r.cols, r.lines, m.data(), r.cols, r.lines, GDT_Float64, 0, 0),
                  CE_None);
    }
    GDALClose(ds);
}

ReadBack read_raster(const std::string &path) {
    ReadBack rb;
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (ds == nullptr) return rb;
    rb.driver = GDALGetDriverShortName(GDALGetDatasetDriver(ds));
    rb.lines = GDALGetRasterYSize(ds);
    rb.cols = GDALGetRasterXSize(ds);
    rb.bands = GDALGetRasterCount(ds);
    rb.has_gt = GDALGetGeoTransform(ds, rb.gt) == CE_None;
    OGRSpatialReferenceH srs = GDALGetSpatialRef(ds);
    if (srs != nullptr) {
        OGRSpatialReferenceH copy = OSRClone(srs);
        OSRAutoIdentifyEPSG(copy);
        const char *code = OSRGetAuthorityCode(copy, nullptr);
        rb.authority = code != nullptr ? code : "?";
        OSRDestroySpatialReference(copy);
    }
    GDALRasterBandH b = GDALGetRasterBand(ds, 1);
    rb.type = GDALGetRasterDataType(b);
    rb.values.resize(size_t(rb.lines) * size_t(rb.cols));
    if (GDALRasterIO(b, GF_Read, 0, 0, rb.cols, rb.lines, rb.values.data(), rb.cols, rb.lines, GDT_Float64, 0, 0) !=
        CE_None)
        rb.values.clear();
    GDALClose(ds);
    return rb;
}

RunResult run_import(const std::vector<std::string> &args) { return run_program(KARVEL_IMPORT_BIN, args, ""); }

RunResult import_pair(const Folder &in, const Folder &out, const TestRaster &a, const TestRaster &b,
                      std::vector<std::string> options) {
    write_tif(in.path("a.tif"), a);
    write_tif(in.path("b.tif"), b);
    options.push_back(in.path("a.tif"));
    options.push_back(in.path("b.tif"));
    options.push_back(out.name());
    return run_import(options);
}

std::vector<double> gdal_warp(const std::string &path, const char *method, const TestRaster &onto) {
    GDALDatasetH src = GDALOpen(path.c_str(), GA_ReadOnly);
    auto g = [](double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return std::string(buf);
    };
    const std::string te[4] = {g(onto.gt[0]), g(onto.gt[3] + onto.lines * onto.gt[5]), g(onto.gt[0] + onto.cols * onto.gt[1]),
                               g(onto.gt[3])};
    const std::string ts[2] = {std::to_string(onto.cols), std::to_string(onto.lines)};
    const char *args[] = {"-of", "MEM", "-r", method, "-ot", "Float64", "-dstnodata", "nan", "-te", te[0].c_str(),
                          te[1].c_str(), te[2].c_str(), te[3].c_str(), "-ts", ts[0].c_str(), ts[1].c_str(), nullptr};
    GDALWarpAppOptions *o = GDALWarpAppOptionsNew(const_cast<char **>(args), nullptr);
    GDALDatasetH warped = GDALWarp("", nullptr, 1, &src, o, nullptr);
    GDALWarpAppOptionsFree(o);
    std::vector<double> w(size_t(onto.lines) * size_t(onto.cols));
    EXPECT_NE(warped, nullptr);
    if (warped != nullptr) {
        EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(warped, 1), GF_Read, 0, 0, onto.cols, onto.lines, w.data(), onto.cols,
                               onto.lines, GDT_Float64, 0, 0),
                  CE_None);
        GDALClose(warped);
    }
    GDALClose(src);
    return w;
}

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<long long> samples(const std::string &bytes, int width, bool is_signed) {
    std::vector<long long> v;
    for (size_t i = 0; i + size_t(width) <= bytes.size(); i += size_t(width)) {
        unsigned long long u = 0;
        for (int b = 0; b < width; b++) u |= (unsigned long long)(unsigned char)bytes[i + size_t(b)] << (8 * b);
        long long s = (long long)u;
        if (is_signed && (u >> (8 * width - 1)) & 1) s -= 1LL << (8 * width);
        v.push_back(s);
    }
    return v;
}

TestRaster ramp(int lines, int cols, double step) {
    std::vector<double> v;
    for (int i = 0; i < lines * cols; i++) v.push_back(100 + step * i);
    return raster(lines, cols, GDT_Float32, v);
}
