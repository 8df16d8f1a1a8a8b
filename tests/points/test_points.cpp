// karvel-points run as a user runs it: every figure against the same
// figures computed here from the DEM by bilinear interpolation, the points
// left out by reason, the table of every point, vector files with Z or an
// elevation field, classes, and the refusals that write nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ogr_api.h>
#include <sys/stat.h>

#include <charconv>
#include <sstream>

#include "points_e2e.h"

using ::testing::HasSubstr;

namespace {

// The figures of the differences as surveyors define them, computed here.
void expect_figures(const Json &j, std::vector<double> d, double e) {
    const size_t n = d.size();
    ASSERT_EQ(j["n"].get<long long>(), (long long)n);
    double sum = 0, sq = 0;
    for (double v : d) sum += v, sq += v * v;
    const double mean = sum / n, rmse = std::sqrt(sq / n);
    double dev = 0;
    for (double v : d) dev += (v - mean) * (v - mean);
    std::sort(d.begin(), d.end());
    const double median = n % 2 ? d[n / 2] : (d[n / 2 - 1] + d[n / 2]) / 2;
    std::vector<double> a(n), m(n);
    for (size_t k = 0; k < n; k++) a[k] = std::fabs(d[k]), m[k] = std::fabs(d[k] - median);
    std::sort(a.begin(), a.end());
    std::sort(m.begin(), m.end());
    const double mad = n % 2 ? m[n / 2] : (m[n / 2 - 1] + m[n / 2]) / 2;
    auto rank = [&](double p) { return a[size_t(std::ceil(p * double(n) / 100 - 1e-9)) - 1]; };
    const std::pair<const char *, double> want[] = {{"mean_diff", mean},    {"sd_diff", std::sqrt(dev / (n - 1))},
                                                    {"rmse", rmse},         {"median_diff", median},
                                                    {"nmad", 1.4826 * mad}, {"le90", rank(90)},
                                                    {"le95", rank(95)},     {"min_diff", d.front()},
                                                    {"max_diff", d.back()}, {"nssda_95", 1.96 * rmse}};
    for (const auto &[key, v] : want) EXPECT_NEAR(j[key].get<double>(), v, 1e-9 * std::fabs(v)) << key;
    if (e >= 0)
        EXPECT_NEAR(j["rmse_with_checkpoints"].get<double>(), std::hypot(rmse, e), 1e-9 * rmse);
    else
        EXPECT_FALSE(j.contains("rmse_with_checkpoints"));
}

// A few hundred noisy points on the hills in WGS 84, as a CSV file, with a
// point outside, one on no data, one next to it and one without elevation;
// the differences expected of those kept.
struct CsvCase {
    TestRaster dem = hills_dem(0, 0);
    std::string csv = "id,lon,lat,elev\n";
    std::vector<double> d;
};

CsvCase csv_case() {
    CsvCase c;
    c.dem.has_nodata = true, c.dem.nodata = -9999;
    c.dem.bands[0][size_t(80) * kSide + 80] = -9999;
    std::vector<double> x, y;
    unsigned r = 99;
    for (int k = 0; k < 300; k++) {
        r = r * 1103515245u + 12345u;
        x.push_back(kX0 + 60 + (r >> 8) % 4500000 / 1000.0);
        r = r * 1103515245u + 12345u;
        y.push_back(kY0 - 60 - (r >> 8) % 4500000 / 1000.0);
    }
    x.push_back(kX0 + 80.5 * kCell), y.push_back(kY0 - 80.5 * kCell);  // on no data
    x.push_back(kX0 + 81.2 * kCell), y.push_back(kY0 - 80.5 * kCell);  // next to it
    x.push_back(kX0 - 500), y.push_back(kY0 - 100);                    // outside
    transform(32610, 4326, x, y);
    std::vector<double> ux = x, uy = y;
    transform(4326, 32610, ux, uy);
    for (size_t k = 0; k < x.size(); k++) {
        const double z = hills(ux[k] - kX0, uy[k] - (kY0 - kSide * kCell)) + 0.2 * std::sin(7.0 * k);
        const double at = bilinear(c.dem, ux[k], uy[k]);
        if (std::isfinite(at)) c.d.push_back(at - z);
        c.csv += std::to_string(k) + "," + number17(x[k]) + "," + number17(y[k]) + "," + number17(z) + "\n";
    }
    c.csv += "303," + number17(x[0]) + "," + number17(y[0]) + ",\n";  // no elevation
    return c;
}

TEST(PointsRun, CsvFiguresEqualAnIndependentComputation) {
    Folder in, out;
    CsvCase c = csv_case();
    write_tif(in.path("dem.tif"), c.dem);
    in.write("pts.csv", c.csv);
    const RunResult r = run_points(
        {"--srs", "EPSG:4326", "--checkpoint-rmse", "0.05", in.path("dem.tif"), in.path("pts.csv"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = read_json(out, "points_points.json");
    expect_figures(j, c.d, 0.05);
    const Json &left = j["n_left_out"];
    EXPECT_EQ(left["outside_dem"].get<int>(), 1);
    EXPECT_EQ(left["no_data"].get<int>(), 1);
    EXPECT_EQ(left["neighbour_no_data"].get<int>(), 1);
    EXPECT_EQ(left["no_elevation"].get<int>(), 1);
    EXPECT_EQ(j["unit"], "m");
    EXPECT_TRUE(j["warnings"].empty());
    EXPECT_THAT(r.out, HasSubstr("NSSDA accuracy at 95 % (1.96 x RMSE)"));
    // Every point in the input's order, its CSV line as its id.
    std::istringstream table(out.read("points_points.csv"));
    std::string line;
    std::getline(table, line);
    EXPECT_EQ(line, "id,x,y,z_point,z_dem,d,slope_deg,left_out");
    std::vector<std::string> rows;
    while (std::getline(table, line)) rows.push_back(line);
    ASSERT_EQ(rows.size(), 304u);
    EXPECT_EQ(rows[0].substr(0, 2), "2,");
    EXPECT_THAT(rows[300], HasSubstr(",no_data"));
    EXPECT_THAT(rows[302], HasSubstr(",,,outside_dem"));
    EXPECT_THAT(rows[303], HasSubstr(",no_elevation"));
    EXPECT_TRUE(out.exists("points_points.gpkg"));
    // The figures: a PDF, and each figure's PNG with its script.
    EXPECT_TRUE(out.exists("points_points_report.pdf"));
    for (const char *name : {"headline", "points_map", "d_histogram", "d_elevation", "d_slope"}) {
        EXPECT_TRUE(out.exists(std::string("points_points_report/") + name + ".png")) << name;
        EXPECT_TRUE(out.exists(std::string("points_points_report/") + name + ".gp")) << name;
    }
}

// The GeoPackage read back through GDAL, row for row against the CSV
// table (the same numbers in shortest form, empty where the table's field
// is), in the input's order, then GDAL adding a point to it.
TEST(PointsRun, TheGeoPackageHoldsTheTableAndGdalKeepsWritingIt) {
    Folder in, out;
    CsvCase c = csv_case();
    write_tif(in.path("dem.tif"), c.dem);
    // A class column, one with a comma and a quote, and a point without x.
    std::istringstream lines(c.csv);
    std::string csv, line;
    for (int k = 0; std::getline(lines, line); k++)
        csv += line + (k == 0 ? ",cover" : k % 2 ? ",open" : ",\"wet, \"\"low\"\"\"") + "\n";
    csv += "304,," + number17(48.1) + ",12,open\n";
    in.write("pts.csv", csv);
    const RunResult r = run_points(
        {"--srs", "EPSG:4326", "--class-field", "cover", in.path("dem.tif"), in.path("pts.csv"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream table(out.read("points_points.csv"));
    std::getline(table, line);
    ASSERT_EQ(line, "id,x,y,z_point,z_dem,d,slope_deg,left_out,class");
    GDALDatasetH ds =
        GDALOpenEx(out.path("points_points.gpkg").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayerH layer = GDALDatasetGetLayerByName(ds, "points");
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(OGR_L_GetFeatureCount(layer, 0), 305);
    OGREnvelope extent, seen;
    seen.MinX = seen.MinY = 1e300, seen.MaxX = seen.MaxY = -1e300;
    ASSERT_EQ(OGR_L_GetExtent(layer, &extent, 0), OGRERR_NONE);
    auto shortest = [](double v) {
        char b[32];
        return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
    };
    int rows = 0;
    OGR_L_ResetReading(layer);
    while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
        ASSERT_TRUE(std::getline(table, line));
        std::string got = std::to_string(OGR_F_GetFieldAsInteger64(f, 0));
        OGRGeometryH g = OGR_F_GetGeometryRef(f);
        if (g) {
            const double x = OGR_G_GetX(g, 0), y = OGR_G_GetY(g, 0);
            got.append(",").append(shortest(x)).append(",").append(shortest(y));
            seen.MinX = std::min(seen.MinX, x), seen.MaxX = std::max(seen.MaxX, x);
            seen.MinY = std::min(seen.MinY, y), seen.MaxY = std::max(seen.MaxY, y);
        } else {
            got += ",,";
        }
        for (int j = 1; j <= 4; j++) {
            got.push_back(',');
            if (OGR_F_IsFieldSetAndNotNull(f, j)) got.append(shortest(OGR_F_GetFieldAsDouble(f, j)));
        }
        got.push_back(',');
        got.append(OGR_F_GetFieldAsString(f, 5));
        const std::string cls = OGR_F_GetFieldAsString(f, 6);
        got.push_back(',');
        got.append(cls.find(',') == std::string::npos ? cls : "\"wet, \"\"low\"\"\"");
        EXPECT_EQ(got, line) << "row " << rows;
        OGR_F_Destroy(f);
        rows++;
    }
    EXPECT_EQ(rows, 305);
    EXPECT_THAT(line, HasSubstr(",,,12,,,,no_position,open"));
    // GDAL reads the extent back as SQLite's text of 15 digits.
    EXPECT_NEAR(extent.MinX, seen.MinX, 1e-6);
    EXPECT_NEAR(extent.MaxX, seen.MaxX, 1e-6);
    EXPECT_NEAR(extent.MinY, seen.MinY, 1e-6);
    EXPECT_NEAR(extent.MaxY, seen.MaxY, 1e-6);
    // A point added by GDAL is counted with the others.
    OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(layer));
    OGR_F_SetFieldInteger64(f, 0, 999);
    EXPECT_EQ(OGR_L_CreateFeature(layer, f), OGRERR_NONE);
    OGR_F_Destroy(f);
    GDALClose(ds);
    ds = GDALOpenEx(out.path("points_points.gpkg").c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(OGR_L_GetFeatureCount(GDALDatasetGetLayerByName(ds, "points"), 0), 306);
    GDALClose(ds);
}

TEST(PointsRun, FewPointsAreWarnedOfAndFeetConverted) {
    Folder in, out;
    const TestRaster dem = hills_dem(0, 0);
    write_tif(in.path("dem.tif"), dem);
    std::string csv = "E;N;H\n";
    std::vector<double> d;
    for (int k = 0; k < 5; k++) {
        const double x = kX0 + 300 + 700 * k, y = kY0 - 400 - 500 * k;
        const double z_ft = (hills(x - kX0, y - (kY0 - kSide * kCell)) + 0.1 * k) / 0.3048;
        d.push_back(bilinear(dem, x, y) - z_ft * 0.3048);
        csv += number17(x) + ";" + number17(y) + ";" + number17(z_ft) + "\n";
    }
    in.write("p.csv", csv);
    const RunResult r = run_points({"--srs", "EPSG:32610", "--columns", "E,N,H", "--unit", "ft", "--result", "few",
                                    in.path("dem.tif"), in.path("p.csv"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = read_json(out, "few_points.json");
    expect_figures(j, d, -1);
    ASSERT_EQ(j["warnings"].size(), 1u);
    EXPECT_THAT(j["warnings"][0].get<std::string>(), HasSubstr("at least 30"));
}

// A GeoPackage of points with Z, a field of elevations and one of classes.
void write_gpkg(const std::string &path, const std::vector<double> &x, const std::vector<double> &y,
                const std::vector<double> &z) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GPKG"), path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 32610);
    OGRLayerH layer = GDALDatasetCreateLayer(ds, "shots", srs, wkbPoint25D, nullptr);
    OSRDestroySpatialReference(srs);
    for (const char *name : {"h", "cover"}) {
        OGRFieldDefnH fd = OGR_Fld_Create(name, name[0] == 'h' ? OFTReal : OFTString);
        EXPECT_EQ(OGR_L_CreateField(layer, fd, 1), OGRERR_NONE);
        OGR_Fld_Destroy(fd);
    }
    for (size_t k = 0; k < x.size(); k++) {
        OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        OGRGeometryH g = OGR_G_CreateGeometry(wkbPoint25D);
        OGR_G_SetPoint(g, 0, x[k], y[k], z[k]);
        OGR_F_SetGeometryDirectly(f, g);
        OGR_F_SetFieldDouble(f, 0, z[k] + 1);
        OGR_F_SetFieldString(f, 1, k % 3 ? "open" : "forest");
        EXPECT_EQ(OGR_L_CreateFeature(layer, f), OGRERR_NONE);
        OGR_F_Destroy(f);
    }
    GDALClose(ds);
}

TEST(PointsRun, VectorZFieldAndClasses) {
    Folder in, out;
    const TestRaster dem = hills_dem(0, 0);
    write_tif(in.path("dem.tif"), dem);
    std::vector<double> x, y, z, d_z, d_h, d_open;
    for (int k = 0; k < 60; k++) {
        x.push_back(kX0 + 100 + 77.7 * k), y.push_back(kY0 - 200 - 71.3 * k);
        z.push_back(hills(x[k] - kX0, y[k] - (kY0 - kSide * kCell)) + 0.3 * std::cos(k));
        const double at = bilinear(dem, x[k], y[k]);
        d_z.push_back(at - z[k]), d_h.push_back(at - z[k] - 1);
        if (k % 3) d_open.push_back(at - z[k]);
    }
    write_gpkg(in.path("shots.gpkg"), x, y, z);
    RunResult r = run_points({"--class-field", "cover", in.path("dem.tif"), in.path("shots.gpkg"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = read_json(out, "points_points.json");
    expect_figures(j, d_z, -1);
    ASSERT_EQ(j["by_class"].size(), 2u);
    EXPECT_EQ(j["by_class"][1]["class"], "open");
    expect_figures(j["by_class"][1], d_open, -1);
    r = run_points({"--z", "h", "--result", "h", in.path("dem.tif"), in.path("shots.gpkg"), out.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    expect_figures(read_json(out, "h_points.json"), d_h, -1);
}

TEST(PointsRun, RefusedWithTheFileAndTheReasonNothingWritten) {
    Folder in, out;
    write_tif(in.path("dem.tif"), hills_dem(0, 0));
    TestRaster bare = hills_dem(0, 0);
    bare.epsg = 0;
    write_tif(in.path("bare.tif"), bare);
    in.write("p.csv", "x,y,z\n500100,5399900,300\n");
    in.write("far.csv", "x,y,z\n400100,5399900,300\n");
    in.write("noz.csv", "x,y,z\n500100,5399900,\n");
    // A shapefile whose table beside it is a FIFO: refused, never waited on.
    in.write("pts.shp", "");
    ASSERT_EQ(mkfifo(in.path("pts.dbf").c_str(), 0600), 0);
    const std::string dem = in.path("dem.tif");
    const struct {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{dem, in.path("p.csv"), out.name()}, "no coordinate system"},
        {{in.path("bare.tif"), in.path("p.csv"), out.name(), "--srs", "EPSG:32610"}, "no coordinate system"},
        {{"--columns", "a,b,c", "--srs", "EPSG:32610", dem, in.path("p.csv"), out.name()}, "no column \"a\""},
        {{"--srs", "EPSG:32610", dem, in.path("far.csv"), out.name()}, "no point of"},
        {{"--srs", "EPSG:32610", dem, in.path("noz.csv"), out.name()}, "no point has an elevation"},
        {{"--srs", "EPSG:32610", "--class-field", "kind", dem, in.path("p.csv"), out.name()}, "no column \"kind\""},
        {{"--srs", "EPSG:32610", dem, "/dev/null", out.name()}, "not a regular file"},
        {{dem, in.path("pts.shp"), out.name()},
         "pts.dbf beside it, which GDAL would read with it, is not a regular file"},
    };
    for (const auto &c : cases) {
        const RunResult r = run_points(c.args);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_THAT(r.err, HasSubstr(c.says));
        EXPECT_THAT(r.err, HasSubstr("karvel-points: "));
        EXPECT_TRUE(files_in(out.path("")).empty()) << c.says;
    }
}

}  // namespace

namespace {

// A raw raster karvel-import wrote, in millimetres, through its header:
// the same figures as its GeoTIFF, to the millimetre it was written in.
TEST(PointsRun, ARawRasterOfTheImportInItsUnit) {
    Folder in, out;
    const TestRaster dem = hills_dem(0, 0, GDT_Float32);
    ASSERT_EQ(import_pair(in, out, dem, dem).status, 0);
    std::string csv = "x,y,z\n";
    for (int k = 0; k < 40; k++)
        csv += number17(kX0 + 150 + 97.1 * k) + "," + number17(kY0 - 130 - 93.3 * k) + "," + number17(300 + 0.01 * k) +
               "\n";
    in.write("p.csv", csv);
    for (const char *dem_file : {"a.tif", "raw"}) {
        const std::string path = std::string(dem_file) == "raw" ? out.path("a_m4.raw") : in.path("a.tif");
        const RunResult r = run_points({"--srs", "EPSG:32610", "--result", dem_file[0] == 'a' ? "tif" : "raw", path,
                                        in.path("p.csv"), out.name()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const Json tif = read_json(out, "tif_points.json"), raw = read_json(out, "raw_points.json");
    EXPECT_EQ(raw["n"], tif["n"]);
    for (const char *key : {"mean_diff", "rmse", "median_diff", "min_diff", "max_diff"})
        EXPECT_NEAR(raw[key].get<double>(), tif[key].get<double>(), 0.001) << key;
}

}  // namespace
