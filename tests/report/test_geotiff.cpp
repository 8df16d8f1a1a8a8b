// The report's GeoTIFF writer against GDAL reading the files back.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include "geotiff.h"

namespace {

struct TmpTif {
    std::string path = "/tmp/karvel_geotiff_" + std::to_string(getpid()) + ".tif";
    ~TmpTif() { unlink(path.c_str()); }
};

// Writes lines × cols floats, then
// reads them back with GDAL and checks every value to the bit, the
// compression and the georeferencing.
void round_trip(int lines, int cols, const std::vector<float> &v, const Georef &g) {
    TmpTif t;
    {
        GeoTiffOut out;
        ASSERT_EQ(out.create(t.path, lines, cols, g), "");
        for (int i = 0; i < lines; i++) {
            float *room = out.next_line();
            ASSERT_NE(room, nullptr);
            std::memcpy(room, v.data() + size_t(i) * size_t(cols), size_t(cols) * sizeof(float));
            ASSERT_TRUE(out.line_filled());
        }
        EXPECT_EQ(out.next_line(), nullptr) << "no room past the last line";
        ASSERT_EQ(out.close(), "");
    }
    GDALDatasetH ds = GDALOpen(t.path.c_str(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(GDALGetRasterXSize(ds), cols);
    EXPECT_EQ(GDALGetRasterYSize(ds), lines);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    EXPECT_EQ(GDALGetRasterDataType(band), GDT_Float32);
    EXPECT_STREQ(GDALGetMetadataItem(ds, "COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
    std::vector<float> back(v.size());
    ASSERT_EQ(GDALRasterIO(band, GF_Read, 0, 0, cols, lines, back.data(), cols, lines, GDT_Float32, 0, 0), CE_None);
    EXPECT_EQ(std::memcmp(back.data(), v.data(), v.size() * sizeof(float)), 0);
    double gt[6];
    if (g.known) {
        ASSERT_EQ(GDALGetGeoTransform(ds, gt), CE_None);
        for (int k = 0; k < 6; k++) EXPECT_EQ(gt[k], g.transform[k]) << k;
        OGRSpatialReferenceH want = OSRNewSpatialReference(g.wkt.c_str());
        OGRSpatialReferenceH got = OSRNewSpatialReference(GDALGetProjectionRef(ds));
        EXPECT_TRUE(OSRIsSame(want, got));
        OSRDestroySpatialReference(want);
        OSRDestroySpatialReference(got);
    } else {
        EXPECT_NE(GDALGetGeoTransform(ds, gt), CE_None);
    }
    GDALClose(ds);
}

}  // namespace

TEST(GeoTiff, EveryValueReadsBackWithItsPlaceOnTheGround) {
    gdal_ready();
    std::mt19937 gen(3);
    // Random bit patterns (all finite): data that does not compress, in
    // strips of 16 lines and a short last one.
    const int lines = 37, cols = 1001;
    std::vector<float> v(size_t(lines) * cols);
    for (float &x : v) {
        uint32_t b = gen();
        if (((b >> 23) & 0xff) == 0xff) b &= ~(uint32_t(1) << 30);
        std::memcpy(&x, &b, sizeof x);
    }
    Georef g;
    g.known = true;
    const double gt[6] = {500000.0, 2.0, 0.0, 4000000.0, 0.0, -2.0};
    std::copy(gt, gt + 6, g.transform);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 32633);
    char *wkt = nullptr;
    OSRExportToWkt(srs, &wkt);
    g.wkt = wkt;
    CPLFree(wkt);
    OSRDestroySpatialReference(srs);
    round_trip(lines, cols, v, g);
    // One line, and lines so wide that a strip holds fewer than 16 of them,
    // without georeferencing.
    round_trip(1, 7, {1.5f, -2.25f, 0.0f, -0.0f, 1e-40f, 3e38f, 7.0f}, Georef());
    const int wide = int(kStripBytes / sizeof(float) / 5);  // 5 lines a strip
    std::vector<float> w(size_t(wide) * 12);
    for (size_t k = 0; k < w.size(); k++) w[k] = float(k % 977) * 0.25f;
    round_trip(12, wide, w, Georef());
}

TEST(GeoTiff, StripsAreZlibStreamsAndAFileMissingLinesIsNotComplete) {
    std::vector<unsigned char> in(100000), out, work, back(in.size());
    std::mt19937 gen(8);
    for (auto &b : in) b = (unsigned char)gen();
    for (int kind = 0; kind < 2; kind++) {
        if (kind == 1) std::fill(in.begin(), in.end(), 7);
        ASSERT_EQ(deflate_strip(in.data(), in.size(), out, work), "");
        uLongf n = uLongf(back.size());
        ASSERT_EQ(uncompress(back.data(), &n, out.data(), uLong(out.size())), Z_OK);
        EXPECT_EQ(n, in.size());
        EXPECT_EQ(back, in);
    }
    EXPECT_LT(out.size(), in.size() / 100);  // the constant strip compressed

    TmpTif t;
    GeoTiffOut o;
    ASSERT_EQ(o.create(t.path, 4, 3, Georef()), "");
    std::fill_n(o.next_line(), 3, 1.0f);
    EXPECT_TRUE(o.line_filled());
    EXPECT_EQ(o.close(), "not every line was written");
    GeoTiffOut none;
    EXPECT_NE(none.create("/nonexistent/folder/x.tif", 4, 3, Georef()), "");
}
