// karvel-report's change budget against a computation of its own: a real
// DEM, a second survey made from it with a slump of known volumes (a scar
// lowered, its material laid down below it) and noise of known σ, each
// cell's change and area summed here in long double.
#include <gdal.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "change_pair.h"

using ::testing::HasSubstr;

TEST(ReportChange, ASlumpOnAProjectedGridByLevelOfDetectionAndByPropagatedError) {
    Folder in, out;
    TestRaster a, b;
    const double moved = slumped_pair(in, out, a, b, 68);
    ASSERT_GT(a.lines, 100);
    const auto square_km = [](int) { return 1e6; };

    RunResult r = report_with(out, "cmp", {"--change", "--lod", "1.9995"});
    ASSERT_EQ(r.status, 0) << r.err;
    json c = json::parse(out.read("cmp_report.json"))["change"];
    EXPECT_EQ(c["method"], "lod");
    EXPECT_EQ(c["lod_m"], 1.9995);
    expect_same(c, budget(a, b, square_km, [](size_t) { return Rule{1.9995, true, 1.9995}; }));
    // The slump's volumes come back within the noise: everything moved
    // lies deeper than the threshold but at the slump's rim.
    EXPECT_NEAR(c["detected"]["erosion"]["volume_m3"].get<double>(), moved * 1e6, 0.02 * moved * 1e6);
    EXPECT_NEAR(c["detected"]["deposition"]["volume_m3"].get<double>(), moved * 1e6, 0.02 * moved * 1e6);
    EXPECT_THAT(r.out, HasSubstr("Change budget (d = second - first; erosion d < 0, deposition d > 0; detected: "
                                 "|d| > 1.9995 m)"));
    EXPECT_THAT(r.out, HasSubstr("_dod.tif"));
    // The detected change over the relief and the budget's bars, in the PDF too.
    for (const char *figure : {"change_detected", "change_distribution", "change_budget"}) {
        EXPECT_TRUE(out.exists(std::string("cmp_report/") + figure + ".png")) << figure;
        EXPECT_THAT(out.read("cmp_report/report_pdf.gp"), HasSubstr(std::string("load \"") + figure + ".gp\""));
    }
    const std::string bars = out.read("cmp_report/change_budget.dat");
    const size_t erosion = bars.find("0\t\"erosion\"\t");
    ASSERT_NE(erosion, std::string::npos) << bars;
    char *end = nullptr;
    const double all = std::strtod(bars.c_str() + erosion + 12, &end), detected_volume = std::strtod(end, &end);
    EXPECT_EQ(all, c["raw"]["erosion"]["volume_m3"].get<double>());
    EXPECT_EQ(detected_volume, c["detected"]["erosion"]["volume_m3"].get<double>());
    EXPECT_EQ(std::strtod(end, nullptr), c["detected"]["erosion"]["volume_error_m3"].get<double>());

    // The detected change: d where detected, not a number elsewhere.
    GDALAllRegister();
    const ReadBack dod = read_raster(out.path("cmp_dod.tif"));
    ASSERT_EQ(dod.values.size(), a.bands[0].size());
    EXPECT_EQ(dod.type, GDT_Float32);
    size_t detected = 0;
    for (size_t k = 0; k < dod.values.size(); k++) {
        const double d = change_at(a, b, k);
        if (kept(a, b, k) && std::fabs(d) > 1.9995) {
            detected++;
            EXPECT_NEAR(dod.values[k], d, 1e-6 * std::fabs(d)) << k;
        } else {
            EXPECT_TRUE(std::isnan(dod.values[k])) << k;
        }
    }
    EXPECT_EQ(double(detected), c["detected"]["erosion"]["cells"].get<double>() +
                                    c["detected"]["deposition"]["cells"].get<double>());

    // σ of 0.4 and 0.3 m: σ_DoD 0.5 m, z of 90 % confidence.
    r = report_with(out, "cmp", {"--change", "--sigma", "0.4,0.3", "--confidence", "0.9"});
    ASSERT_EQ(r.status, 0) << r.err;
    c = json::parse(out.read("cmp_report.json"))["change"];
    EXPECT_EQ(c["method"], "sigma");
    EXPECT_EQ(c["sigma_dod_m"], 0.5);
    EXPECT_NEAR(c["z"].get<double>(), 1.6448536269514722, 1e-15);
    const double z = c["z"].get<double>();
    expect_same(c, budget(a, b, square_km, [z](size_t) { return Rule{0.5 * z, false, 0.5}; }));
    // Without --change nothing of it: the earlier report's DoD and change
    // figures go with the commit, files of the user's own stay.
    EXPECT_THAT(out.read("cmp_report/.drawn"), HasSubstr("\nchange_budget.png\n"));
    out.write("cmp_report/notes.txt", "mine");
    out.write("cmp_report/big.png", "a figure redrawn by hand");
    r = report_with(out, "cmp", {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(json::parse(out.read("cmp_report.json")).contains("change"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("Change budget")));
    EXPECT_THAT(r.out, HasSubstr("\tThe detected change of an earlier report, " + out.shown("cmp_dod.tif") +
                                 ", was removed (this one has no --change).\n"));
    EXPECT_FALSE(out.exists("cmp_dod.tif"));
    for (const char *gone : {"change_detected.png", "change_detected.gp", "change_distribution.png",
                             "change_budget.png", "change_budget.gp", "change_budget.dat"})
        EXPECT_FALSE(out.exists(std::string("cmp_report/") + gone)) << gone;
    EXPECT_EQ(out.read("cmp_report/notes.txt"), "mine");
    EXPECT_EQ(out.read("cmp_report/big.png"), "a figure redrawn by hand");
    // The list names what this report drew, and the figures of the earlier
    // one it removed: a commit cut after the list took its name still
    // leaves them named for the next report.
    const std::string drawn = out.read("cmp_report/.drawn");
    EXPECT_THAT(drawn, HasSubstr("\ndiff_map.png\n"));
    EXPECT_THAT(drawn, HasSubstr("\nchange_budget.png\n"));
    EXPECT_THAT(drawn, ::testing::Not(HasSubstr("notes.txt")));
    r = report_with(out, "cmp", {});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string now = out.read("cmp_report/.drawn");
    EXPECT_THAT(now, ::testing::Not(HasSubstr("change_")));
    // A list naming what lies outside the folder, a hidden file, a folder,
    // or a name holding a NUL (another file's name to the system) names
    // nothing to remove.
    out.write("cmp_report/.drawn", now + "../cmp_report.json\n/etc/hostname\n.keep\n\nnotes.txt\nsub\n" +
                                       std::string("diff_map.png\0\n", 14));
    out.write("cmp_report/.keep", "");
    ASSERT_EQ(mkdir(out.path("cmp_report/sub").c_str(), 0777), 0);
    r = report_with(out, "cmp", {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(out.exists("cmp_report.json"));
    EXPECT_TRUE(out.exists("cmp_report/.keep"));
    EXPECT_TRUE(out.exists("cmp_report/sub"));
    EXPECT_TRUE(out.exists("cmp_report/diff_map.png"));
    EXPECT_FALSE(out.exists("cmp_report/notes.txt"));  // listed as drawn: the report's
    EXPECT_EQ(out.read("cmp_report/.drawn"), now + "notes.txt\n");
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("was removed")));
}

TEST(ReportChange, ACellOfAGeographicGridIsMeasuredOnTheEllipsoidAtItsLinesLatitude) {
    Folder in, out;
    const ReadBack w = read_raster(std::string(KARVEL_SOURCE_DIR) + "/data/topobathy.tif");
    TestRaster a = raster(w.lines, w.cols, GDT_Float32, w.values), b;
    std::copy(w.gt, w.gt + 6, a.gt);
    a.epsg = 4326;
    slump(a, b, 60, 20, 1.0);
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "mm"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    RunResult r = report_with(out, "cmp", {"--change", "--sigma", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json c = json::parse(out.read("cmp_report.json"))["change"];
    // WGS 84: N(φ)·cos φ·Δλ by M(φ)·Δφ at the line's centre latitude.
    const auto area = [&](int line) {
        const double rad = M_PI / 180, a0 = 6378137, f = 1 / 298.257223563, e2 = f * (2 - f);
        const double phi = (w.gt[3] + w.gt[5] * (line + 0.5)) * rad, s = std::sin(phi);
        const double n = a0 / std::sqrt(1 - e2 * s * s), m = a0 * (1 - e2) / std::pow(1 - e2 * s * s, 1.5);
        return n * std::cos(phi) * std::fabs(w.gt[1]) * rad * m * std::fabs(w.gt[5]) * rad;
    };
    const double sigma = std::sqrt(2.0), z = c["z"].get<double>();
    EXPECT_NEAR(z, 1.959963984540054, 1e-15);
    expect_same(c, budget(a, b, area, [&](size_t) { return Rule{z * sigma, false, sigma}; }));
    // A cell of 2 by 1.3 arc-minutes near 49° N: about 2.4 by 2.4 km.
    EXPECT_NEAR(area(45) / 1e6, 5.9, 0.1);
}

TEST(ReportChange, TheErrorOfEachSlopeClassFromItsStableCells) {
    Folder in, out;
    TestRaster a, b;
    const int shift = 68;
    slumped_pair(in, out, a, b, shift);
    // Stable: away from the scar and the deposit.
    TestRaster mask = raster(a.lines, a.cols, GDT_Byte, std::vector<double>(a.bands[0].size(), 1));
    std::copy(a.gt, a.gt + 6, mask.gt);
    for (int i = 0; i < a.lines; i++)
        for (int j = 0; j < a.cols; j++)
            for (const double at : {a.lines * 0.35, a.lines * 0.35 + shift})
                if (std::pow((i - at) / (a.lines * 0.15), 2) + std::pow((j - a.cols * 0.5) / (a.cols * 0.18), 2) < 1)
                    mask.bands[0][size_t(i) * size_t(a.cols) + size_t(j)] = 0;
    write_tif(in.path("stable.tif"), mask);
    RunResult r = report_with(out, "cmp", {"--change", "--sigma", "stable", "--stable", in.path("stable.tif")});
    ASSERT_EQ(r.status, 0) << r.err;
    const json c = json::parse(out.read("cmp_report.json"))["change"];
    EXPECT_EQ(c["method"], "stable");

    // Each slope class's stable differences (gdaldem's slopes), their NMAD.
    const std::string cmd = "gdaldem slope -q -compute_edges -alg Horn " + in.path("a.tif") + " " + in.path("s.tif");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::vector<double> slope = read_raster(in.path("s.tif")).values, edges = {0, 5, 10, 25, 40, 90};
    auto class_of = [&](size_t k) {
        for (size_t e = 0; e + 1 < edges.size(); e++)
            if (slope[k] >= edges[e] && (slope[k] < edges[e + 1] || (e + 2 == edges.size() && slope[k] == 90)))
                return int(e);
        return -1;
    };
    std::vector<std::vector<double>> stable(edges.size());  // the classes', then all
    for (size_t k = 0; k < slope.size(); k++) {
        if (!kept(a, b, k) || mask.bands[0][k] == 0) continue;
        if (class_of(k) >= 0) stable[size_t(class_of(k))].push_back(change_at(a, b, k));
        stable.back().push_back(change_at(a, b, k));
    }
    auto nmad = [](std::vector<double> v) {
        auto median = [](std::vector<double> &w) {
            std::sort(w.begin(), w.end());
            return w.size() % 2 ? w[w.size() / 2] : (w[w.size() / 2 - 1] + w[w.size() / 2]) / 2;
        };
        const double m = median(v);
        for (double &x : v) x = std::fabs(x - m);
        return 1.4826 * median(v);
    };
    const double all = nmad(stable.back()), z = c["z"].get<double>();
    EXPECT_NEAR(all, 0.5, 0.05);  // the noise of the second survey
    EXPECT_EQ(c["n_stable"].get<double>(), double(stable.back().size()));
    EXPECT_NEAR(c["sigma_all_stable_m"].get<double>(), all, 1e-12);
    std::vector<double> sigma(edges.size() - 1);
    ASSERT_EQ(c["sigma_by_slope"].size(), sigma.size());
    int own = 0, fallback = 0;
    for (size_t e = 0; e < sigma.size(); e++) {
        const json &row = c["sigma_by_slope"][e];
        const bool few = stable[e].size() < 100;
        sigma[e] = few ? all : nmad(stable[e]);
        EXPECT_EQ(row["from_deg"], edges[e]);
        EXPECT_EQ(row["n_stable"].get<double>(), double(stable[e].size()));
        EXPECT_NEAR(row["sigma_dod_m"].get<double>(), sigma[e], 1e-12) << e;
        EXPECT_EQ(row["sigma_of_all_stable"], few);
        (few ? fallback : own)++;
    }
    EXPECT_GE(own, 2);
    EXPECT_GE(fallback, 1);
    expect_same(c, budget(a, b, [](int) { return 1e6; }, [&](size_t k) {
                    const double s = class_of(k) >= 0 ? sigma[size_t(class_of(k))] : all;
                    return Rule{z * s, false, s};
                }));
    const ReadBack dod = read_raster(out.path("cmp_dod.tif"));
    size_t shown = 0;
    for (double v : dod.values) shown += !std::isnan(v);
    EXPECT_EQ(double(shown), c["detected"]["erosion"]["cells"].get<double>() +
                                 c["detected"]["deposition"]["cells"].get<double>());

    // A mask that marks nothing stable, and one GDAL cannot read.
    std::fill(mask.bands[0].begin(), mask.bands[0].end(), 0);
    write_tif(in.path("none.tif"), mask);
    r = report_with(out, "cmp", {"--change", "--sigma", "stable", "--stable", in.path("none.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("none.tif marks no cell with data in both rasters as stable"));
    r = report_with(out, "cmp", {"--change", "--sigma", "stable", "--stable", in.path("missing.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("--stable: "));
    EXPECT_THAT(r.err, HasSubstr("missing.tif does not exist"));
}

TEST(ReportChange, RefusedWithTheReasonAndNothingWritten) {
    Folder in, out;
    TestRaster a, b;
    slumped_pair(in, out, a, b, 68);
    auto refused = [&](const Folder &f, const std::vector<std::string> &options, const std::string &why, int status) {
        const RunResult r = report_with(f, "cmp", options);
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_THAT(r.err, HasSubstr(why));
        EXPECT_FALSE(f.exists("cmp_report.json"));
        EXPECT_FALSE(f.exists("cmp_dod.tif"));
    };
    refused(out, {"--change"}, "--change needs a threshold", 2);
    refused(out, {"--change", "--lod", "1", "--sigma", "1"}, "--change takes one threshold", 2);
    refused(out, {"--change", "--lod", "-1"}, "--lod -1: the value is negative", 2);
    refused(out, {"--change", "--lod", "inf"}, "--lod inf: not a number of metres", 2);
    refused(out, {"--change", "--sigma", "1,nan"}, "--sigma nan: not a number of metres", 2);
    refused(out, {"--change", "--sigma", "1", "--confidence", "1"}, "the confidence lies between 0 and 1", 2);
    refused(out, {"--change", "--sigma", "1", "--confidence", "0"}, "the confidence lies between 0 and 1", 2);
    refused(out, {"--change", "--lod", "1", "--confidence", "0.9"}, "--confidence applies to --sigma", 2);
    refused(out, {"--lod", "1"}, "belong to --change", 2);
    refused(out, {"--change", "--sigma", "stable"}, "--sigma stable needs --stable MASK", 2);
    refused(out, {"--change", "--sigma", "1", "--stable", "m.tif"}, "--stable belongs to --sigma stable", 2);

    // 8-bit images have no elevation to budget.
    Folder img;
    TestRaster p = raster(20, 20, GDT_Byte, std::vector<double>(400, 9)), q = p;
    for (size_t i = 0; i < 400; i++) q.bands[0][i] = double(9 + i % 3);
    ASSERT_EQ(import_pair(in, img, p, q).status, 0);
    ASSERT_EQ(run_karvel(img.read("cmp.answers")).status, 0);
    refused(img, {"--change", "--lod", "1"}, "8-bit images: a change budget is made of elevation models only", 1);
}
