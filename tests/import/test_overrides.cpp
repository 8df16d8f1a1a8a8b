// What the command line says of the inputs in place of their files: the
// coordinate system (--srs-first, --srs-second) that a refusal of a local,
// missing or unrelated one names, the unit of the values (--z-unit-first,
// --z-unit-second), and the grid both are compared on (--grid).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "rasters.h"

using ::testing::HasSubstr;

namespace {

const char kLocal[] = "LOCAL_CS[\"SIRGAS2000.UTM-22S\",UNIT[\"metre\",1]]";

// A plane of metres: top + down × line + across × column.
TestRaster plane(int lines, int cols, double top, double down, double across) {
    std::vector<double> v;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) v.push_back(top + down * i + across * j);
    TestRaster t = raster(lines, cols, GDT_Float32, v);
    t.unit = "m";
    return t;
}

}  // namespace

TEST(ImportOverrides, CoordinateSystemsThatCannotBeRelatedAreRefusedNamingTheOptionThatAssignsOne) {
    Folder in, out;
    TestRaster a = plane(4, 5, 580, 0.5, 0.25);
    a.srs = kLocal;
    TestRaster b = a;
    b.srs = "EPSG:31982";
    b.gt[0] += 10;  // a third of a cell east: --align resamples it
    RunResult r = import_pair(in, out, a, b, {"--align"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("FIRST " + in.path("a.tif") +
                                 " has a local coordinate system (LOCAL_CS[\"SIRGAS2000.UTM-22S\"]), which no "
                                 "transformation relates to that of SECOND " +
                                 in.path("b.tif") + " (SIRGAS 2000 / UTM zone 22S); if it is a known one, assign it with "
                                                    "--srs-first EPSG:NNNN"));
    EXPECT_EQ(files_in(out.path("")), std::vector<std::string>{});

    // Assigned, the pair imports: the headers carry the system assigned, and
    // the input file is left as it was.
    r = import_pair(in, out, a, b, {"--align", "--srs-first", "EPSG:31982"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_raster(out.path("a_m4.raw")).authority, "31982");
    EXPECT_EQ(read_raster(out.path("b_m4.raw")).authority, "31982");
    EXPECT_EQ(files_in(in.path("")), (std::vector<std::string>{"a.tif", "b.tif"}));
    EXPECT_EQ(read_raster(in.path("a.tif")).authority, "?");

    // Two local systems that GDAL takes for one (only their names differ)
    // are one; two that differ (in their unit) name both options, and both
    // assigned (by PROJ's words) the pair imports.
    TestRaster c = b;
    c.srs = "LOCAL_CS[\"SIRGAS 2000 / UTM 22S\",UNIT[\"metre\",1]]";
    r = import_pair(in, out, a, c, {"--align"});
    ASSERT_EQ(r.status, 0) << r.err;
    c.srs = "LOCAL_CS[\"SIRGAS 2000 / UTM 22S\",UNIT[\"US survey foot\",0.304800609601219]]";
    r = import_pair(in, out, a, c, {"--align"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("have two local coordinate systems (LOCAL_CS[\"SIRGAS2000.UTM-22S\"] and "
                                 "LOCAL_CS[\"SIRGAS 2000 / UTM 22S\"]), which no transformation relates; if they are "
                                 "known ones, assign them with --srs-first EPSG:NNNN and --srs-second EPSG:NNNN"));
    const std::string utm22s = "+proj=utm +zone=22 +south +ellps=GRS80 +units=m +no_defs";
    r = import_pair(in, out, a, c, {"--align", "--srs-first", utm22s, "--srs-second", utm22s});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("SECOND was resampled onto FIRST's grid"));

    // One without a coordinate system beside one with: the option named;
    // assigned, both lie on one grid.
    TestRaster utm = plane(4, 5, 100, 1, 2), none = plane(4, 5, 101, 1, 2);
    none.epsg = 0;
    r = import_pair(in, out, utm, none);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the first has a coordinate system, the second has none. If SECOND's coordinate "
                                 "system is known, assign it with --srs-second EPSG:NNNN; --align resamples"));
    r = import_pair(in, out, utm, none, {"--srs-second", "EPSG:32610"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_raster(out.path("b_m4.raw")).authority, "32610");

    // A definition GDAL does not take is a usage error that names the option.
    r = import_pair(in, out, utm, none, {"--srs-second", "EPSG:0"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("karvel-import: --srs-second: \"EPSG:0\" is not a coordinate system GDAL takes"));
}

TEST(ImportOverrides, AUnitGivenReplacesTheOneTheBandDeclares) {
    Folder in, out;
    TestRaster a = raster(1, 3, GDT_Float32, {578, 581.5, 585});
    a.unit = "m";
    TestRaster b = raster(1, 3, GDT_Float32, {582, 585, 588.25});
    b.unit = "ft";
    RunResult r = import_pair(in, out, a, b, {"--z-unit-second", "m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out.read("b_m4.raw"), 4, true), (std::vector<long long>{582000, 585000, 588250}));
    EXPECT_THAT(r.out, HasSubstr("Float32 in m (--z-unit-second; declared ft)"));
    EXPECT_THAT(r.out, HasSubstr("Float32 in m\n"));  // FIRST's as its band declares it

    // Whole metres given as feet and US survey feet are converted.
    Folder out2;
    TestRaster c = raster(1, 2, GDT_Int16, {1000, -3});
    c.unit = "m";
    r = import_pair(in, out2, c, c, {"--z-unit-first", "ft", "--z-unit-second", "us-ft"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out2.read("a_m4.raw"), 4, true), (std::vector<long long>{304800, -914}));
    EXPECT_EQ(samples(out2.read("b_m4.raw"), 4, true), (std::vector<long long>{304801, -914}));

    // A unit the band declares that the program does not know: refused,
    // unless one is given; a unit given that it does not know: a usage error.
    TestRaster d = raster(1, 3, GDT_Float32, {1, 2, 3});
    d.unit = "furlong";
    r = import_pair(in, out2, d, a);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("its band's unit type \"furlong\" is not a unit of length"));
    r = import_pair(in, out2, d, a, {"--z-unit-first", "cm"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out2.read("a_m4.raw"), 4, true), (std::vector<long long>{10, 20, 30}));
    r = import_pair(in, out2, d, a, {"--z-unit-first", "furlong"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("--z-unit-first: \"furlong\" is not one of m, dm, cm, mm, km, ft, us-ft"));
}

TEST(ImportGrid, SecondResamplesFirstOntoSecondsGrid) {
    Folder in, out;
    // A fine FIRST (30 m) and a coarse SECOND (60 m) that lies within it.
    const TestRaster a = plane(8, 10, 100, -0.75, 0.5);
    TestRaster b = plane(3, 4, 200, 1, 0.5);
    const double gt[6] = {500000 + 30, 60, 0, 5400000 - 30, 0, -60};
    std::copy(gt, gt + 6, b.gt);
    RunResult r = import_pair(in, out, a, b, {"--align", "--grid", "second"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("FIRST was resampled onto SECOND's grid (bilinear): "));

    // FIRST is written first, on SECOND's grid, as gdalwarp resamples it.
    const ReadBack ra = read_raster(out.path("a_m4.raw"));
    ASSERT_EQ(ra.lines, 3);
    ASSERT_EQ(ra.cols, 4);
    for (int k = 0; k < 6; k++) EXPECT_DOUBLE_EQ(ra.gt[k], b.gt[k]) << k;
    std::vector<long long> want;
    for (double x : gdal_warp(in.path("a.tif"), "bilinear", b)) want.push_back((long long)std::round(x * 1000.0));
    const std::vector<long long> first = samples(out.read("a_m4.raw"), 4, true);
    EXPECT_EQ(first, want);
    // The centre of SECOND's cell (1, 1) is the corner of FIRST's cells
    // (3, 3) to (4, 4): the plane there, at line and column 3.5.
    EXPECT_EQ(first[1 * 4 + 1], 100000 - 750 * 3.5 + 500 * 3.5);
    EXPECT_EQ(samples(out.read("b_m4.raw"), 4, true),
              (std::vector<long long>{200000, 200500, 201000, 201500, 201000, 201500, 202000, 202500, 202000, 202500,
                                      203000, 203500}));
    EXPECT_EQ(out.read("cmp.answers"), out.name() + "\n0\na\n1\nb\n1\ncmp\n3\n3\n");

    // karvel compares them as written: X is FIRST, Y is SECOND.
    const RunResult k = run_karvel(out.read("cmp.answers"));
    ASSERT_EQ(k.status, 0) << k.out;
    const std::string summary = out.read("cmp_karvel.txt");
    double sum_first = 0;
    for (long long v : first) sum_first += double(v) / 1000;
    EXPECT_THAT(summary, HasSubstr("These two images have 3 lines and 4 columns"));
    const size_t at = summary.find("\tSum_X = ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NEAR(std::stod(summary.substr(at + 9)), sum_first, 1e-6);

    // Already on one grid, nothing is resampled; --grid needs --align or
    // --coregister.
    Folder out2;
    r = import_pair(in, out2, b, b, {"--align", "--grid", "second"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Both inputs already lie on the same grid: FIRST was not resampled."));
    for (const std::vector<std::string> &bad : {std::vector<std::string>{"--grid", "second"},
                                                std::vector<std::string>{"--align", "--grid", "third"}}) {
        r = import_pair(in, out2, a, b, bad);
        EXPECT_EQ(r.status, 2) << bad.back();
    }
    EXPECT_THAT(import_pair(in, out2, a, b, {"--grid", "first"}).err,
                HasSubstr("--grid works with --align or --coregister only"));
}

// SECOND lies 24 m east and 33 m south of FIRST, on a grid of feet (the
// same ground in another coordinate system): co-registered on SECOND's
// grid, FIRST moved back by the shift meets it wherever both have data.
TEST(ImportGrid, CoregisteredOnSecondsGridFirstIsMovedBackByTheShift) {
    const int side = 100;
    const double cell = 30, foot = 0.3048, vx = 24, vy = -33, dz = 2;
    auto hills = [](double x, double y) {
        return 300 + 60 * std::sin(x / 700) * std::cos(y / 900) + 25 * std::sin((x + 2 * y) / 260);
    };
    std::vector<double> z1, z2;
    for (int i = 0; i < side; i++)
        for (int j = 0; j < side; j++) {
            const double x = (j + 0.5) * cell, y = (side - i - 0.5) * cell;
            z1.push_back(hills(x, y));
            z2.push_back(hills(x - vx, y - vy) + dz);
        }
    TestRaster a = raster(side, side, GDT_Float32, z1), b = raster(side, side, GDT_Float32, z2);
    a.gt[3] = 5400000 + side * cell;
    b.srs = "+proj=utm +zone=10 +datum=WGS84 +units=ft +no_defs";
    const double gt[6] = {a.gt[0] / foot, cell / foot, 0, a.gt[3] / foot, 0, -cell / foot};
    std::copy(gt, gt + 6, b.gt);
    Folder in, out;
    const RunResult r = import_pair(in, out, a, b, {"--coregister", "--grid", "second", "--crop"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr(" m north (SECOND's shift, reversed) and resampled onto SECOND's grid (bilinear); "
                                 "SECOND's bias is "));
    const std::string json = out.read("cmp_coreg.json");
    EXPECT_THAT(json, HasSubstr("\"dx_m\": -2"));  // about -24 m

    const ReadBack ra = read_raster(out.path("a_m4.raw")), rb = read_raster(out.path("b_m4.raw"));
    EXPECT_DOUBLE_EQ(ra.gt[1], cell / foot);
    ASSERT_EQ(ra.values.size(), rb.values.size());
    ASSERT_GT(ra.values.size(), size_t(side * side / 2));
    double sum = 0, sum2 = 0;
    for (size_t k = 0; k < ra.values.size(); k++) {
        const double d = (rb.values[k] - ra.values[k]) / 1000 - dz;
        sum += d;
        sum2 += d * d;
    }
    const double n = double(ra.values.size());
    EXPECT_NEAR(sum / n, 0, 0.05);
    EXPECT_LT(std::sqrt(sum2 / n), 0.3);
}

// A tilted SECOND on a coarser grid of the same coordinate system,
// compared on its own grid: the tilt, found in map coordinates, is taken
// out along SECOND's grid, so that what is left has no trend east or
// north. In two coordinate systems the pairing is refused.
TEST(ImportGrid, TheTiltIsTakenOutOnSecondsGridToo) {
    const int side = 120;
    const double cell = 20, tilt_east = 1.5, tilt_north = -1.0;  // metres per km
    auto hills = [](double x, double y) {
        return 300 + 60 * std::sin(x / 700) * std::cos(y / 900) + 25 * std::sin((x + 2 * y) / 260);
    };
    std::vector<double> z1, z2;
    for (int i = 0; i < side; i++)
        for (int j = 0; j < side; j++) z1.push_back(hills((j + 0.5) * cell, (side - i - 0.5) * cell));
    for (int i = 0; i < side / 2; i++)
        for (int j = 0; j < side / 2; j++) {
            const double x = (j + 0.5) * 2 * cell, y = (side - 2 * i - 1) * cell;
            z2.push_back(hills(x, y) + tilt_east * (x - 1200) / 1000 + tilt_north * (y - 1200) / 1000);
        }
    TestRaster a = raster(side, side, GDT_Float32, z1), b = raster(side / 2, side / 2, GDT_Float32, z2);
    a.gt[1] = cell;
    a.gt[3] = 5400000 + side * cell;
    a.gt[5] = -cell;
    std::copy(a.gt, a.gt + 6, b.gt);
    b.gt[1] = 2 * cell;
    b.gt[5] = -2 * cell;
    Folder in, out;
    RunResult r = import_pair(in, out, a, b, {"--coregister", "--deramp", "--grid", "second"});
    ASSERT_EQ(r.status, 0) << r.err;

    EXPECT_THAT(r.out, HasSubstr("SECOND's tilt (a plane) taken out"));
    const ReadBack ra = read_raster(out.path("a_m4.raw")), rb = read_raster(out.path("b_m4.raw"));
    ASSERT_EQ(ra.values.size(), size_t(side * side / 4));
    // The mean difference of the west and east halves, and of the north and
    // south ones: a tilt left in would part them by about 1.8 m and 1.2 m.
    double half[4] = {0, 0, 0, 0};
    long long count[4] = {0, 0, 0, 0};
    const int n = side / 2;
    for (int i = 1; i < n - 1; i++)
        for (int j = 1; j < n - 1; j++) {
            const double d = (rb.values[size_t(i * n + j)] - ra.values[size_t(i * n + j)]) / 1000;
            const int h[2] = {j < n / 2 ? 0 : 1, i < n / 2 ? 2 : 3};
            for (int k : h) {
                half[k] += d;
                count[k]++;
            }
        }
    EXPECT_LT(std::fabs(half[1] / double(count[1]) - half[0] / double(count[0])), 0.1);
    EXPECT_LT(std::fabs(half[3] / double(count[3]) - half[2] / double(count[2])), 0.1);

    b.srs = "+proj=utm +zone=10 +datum=WGS84 +units=ft +no_defs";
    r = import_pair(in, out, a, b, {"--coregister", "--deramp", "--grid", "second"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("--deramp with --grid second needs both rasters in one coordinate system"));
}
