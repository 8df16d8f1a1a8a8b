// karvel-report --uncertainty on a real DEM and a second survey that is it
// plus noise of a known spherical covariance: the variogram's model finds
// the noise's range and sill, the standard errors follow from the model,
// and the rest of the report is what it is without the option.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "change_pair.h"
#include "noise_field.h"
#include "variogram.h"

using ::testing::HasSubstr;

namespace {

// The sample DEM at 500 m cells and it plus noise of σ 0.5 m correlated
// over 5 km (a ball of 5 cells), both in whole millimetres, compared as "cmp".
void noisy_pair(const Folder &in, const Folder &out, TestRaster &a, TestRaster &b) {
    a = utm_dem(in, 500);
    const std::vector<double> noise = spherical_noise(a.lines, a.cols, 5, 0.25, 5);
    b = a;
    for (size_t k = 0; k < a.bands[0].size(); k++) {
        if (a.bands[0][k] == a.nodata) continue;
        a.bands[0][k] = std::round(a.bands[0][k] * 1000) / 1000;
        b.bands[0][k] = std::round((a.bands[0][k] + noise[k]) * 1000) / 1000;
    }
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "mm"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
}

std::vector<Spherical> model_of(const json &u) {
    std::vector<Spherical> m;
    for (const json &c : u["model"]) {
        EXPECT_EQ(c["type"], "spherical");
        m.push_back({c["sill"].get<double>(), c["range_m"].get<double>()});
    }
    return m;
}

// The JSON without what --uncertainty adds to it.
json without_uncertainty(json j) {
    j.erase("uncertainty");
    auto strip = [](json &o) {
        for (const char *key : {"mean_diff_se_m", "n_eff", "volume_se_m3", "net_volume_se_m3"}) o.erase(key);
    };
    for (const char *table : {"by_slope", "by_class", "by_zone"})
        if (j.contains(table))
            for (json &row : j[table]) strip(row);
    if (j.contains("change")) {
        json &det = j["change"]["detected"];
        strip(det);
        strip(det["erosion"]);
        strip(det["deposition"]);
    }
    return j;
}

}  // namespace

TEST(ReportUncertainty, TheNoisesRangeAndSillAndTheStandardErrorsFromThem) {
    Folder in, out;
    TestRaster a, b;
    noisy_pair(in, out, a, b);
    RunResult r = report_with(out, "cmp", {"--uncertainty"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = out.read("cmp_report.json");
    const json j = json::parse(text);
    const json &u = j["uncertainty"];
    EXPECT_EQ(u["stable"], "all cells");
    long long kept_cells = 0;
    for (size_t k = 0; k < a.bands[0].size(); k++) kept_cells += kept(a, b, k);
    EXPECT_EQ(u["n_stable"].get<long long>(), kept_cells);
    // The noise's range (5 km) and its sill (z has variance about 1).
    const std::vector<Spherical> m = model_of(u);
    double sill = 0, biggest = 0, range = 0;
    for (const Spherical &c : m) {
        sill += c.sill;
        if (c.sill > biggest) biggest = c.sill, range = c.range_m;
    }
    EXPECT_NEAR(range, 5000, 0.2 * 5000);
    EXPECT_NEAR(sill, 1, 0.1);
    // σ_dh of each slope class: the noise's σ.
    for (const json &row : u["sigma_by_slope"]) {
        if (row["n_stable"].get<long long>() < 1000) continue;
        EXPECT_NEAR(row["sigma_m"].get<double>(), 0.5, 0.05) << row.dump();
    }
    const json &v = u["variogram"];
    ASSERT_GE(v["lag_m"].size(), 10u);
    EXPECT_EQ(v["semivariance"].size(), v["lag_m"].size());
    EXPECT_EQ(v["pairs"].size(), v["lag_m"].size());
    EXPECT_GE(v["lag_m"][0].get<double>(), 500);
    EXPECT_LE(v["lag_m"].back().get<double>(), 0.5 * 599 * 500);
    // The standard errors follow the disk formula over each set's area.
    auto expect_se = [&](const json &row, double cells, double sigma_lo, double sigma_hi, const std::string &at) {
        const double n_eff = std::min(cells, sill / disk_mean_variance(m, cells * 250000));
        EXPECT_NEAR(row["n_eff"].get<double>(), n_eff, 1e-9 * n_eff) << at;
        const double sigma = row["mean_diff_se_m"].get<double>() * std::sqrt(n_eff);
        EXPECT_GE(sigma, sigma_lo * (1 - 1e-12)) << at;
        EXPECT_LE(sigma, sigma_hi * (1 + 1e-12)) << at;
    };
    double lo = 1e300, hi = 0;
    for (const json &row : u["sigma_by_slope"]) {
        lo = std::min(lo, row["sigma_m"].get<double>());
        hi = std::max(hi, row["sigma_m"].get<double>());
    }
    expect_se(u, double(kept_cells), lo, hi, "whole");
    // About 4300 independent cells of 270 000: a disk of L = 147 km holds
    // (L / a)² · 5 = 4300 ranges of 5 km.
    EXPECT_GT(u["n_eff"].get<double>(), 3000);
    EXPECT_LT(u["n_eff"].get<double>(), 6000);
    for (size_t k = 0; k < j["by_slope"].size(); k++) {
        const json &row = j["by_slope"][k];
        if (row["n"].get<long long>() == 0) continue;
        const double s = u["sigma_by_slope"][k]["sigma_m"].get<double>();
        expect_se(row, row["n"].get<double>(), s, s, "slope " + std::to_string(k));
    }
    EXPECT_THAT(r.out, HasSubstr("Uncertainty of the means (errors correlated in space; the variogram of all cells, so "
                                 "real change counts as error)"));
    EXPECT_THAT(r.out, HasSubstr("model of z = (d - median) / sigma_dh: spherical, sill "));
    EXPECT_THAT(r.out, HasSubstr("mean difference: standard error "));
    for (const char *figure : {"variogram", "sigma_by_slope"}) {
        EXPECT_TRUE(out.exists(std::string("cmp_report/") + figure + ".png")) << figure;
        EXPECT_THAT(out.read("cmp_report/report_pdf.gp"), HasSubstr(std::string("load \"") + figure + ".gp\""));
    }
    // The same numbers on every run; the rest of the report as without the option.
    r = report_with(out, "cmp", {"--uncertainty"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(out.read("cmp_report.json"), text);
    r = report_with(out, "cmp", {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(out.read("cmp_report.json")), without_uncertainty(j));
}

// With a mask of stable cells, a budget by the stable cells' σ, classes and
// zones: each table gains the two keys, the detected volumes their
// errors, and nothing else changes. Too few stable cells and 8-bit images
// are refused with nothing written.
// With a fixed threshold (--lod, or --sigma S1,S2) the budget is the same
// with --uncertainty as without it, and the cells it detects are those the
// uncertainty's volumes are of.
TEST(ReportUncertainty, AFixedThresholdsBudgetIsTheSameWithTheUncertainty) {
    Folder in, out;
    TestRaster a, b;
    noisy_pair(in, out, a, b);
    for (const std::vector<std::string> &change :
         {std::vector<std::string>{"--change", "--lod", "0.3"}, {"--change", "--sigma", "0.2,0.1"}}) {
        RunResult r = report_with(out, "cmp", change);
        ASSERT_EQ(r.status, 0) << r.err;
        const json without = json::parse(out.read("cmp_report.json"));
        std::vector<std::string> with = change;
        with.push_back("--uncertainty");
        r = report_with(out, "cmp", with);
        ASSERT_EQ(r.status, 0) << r.err;
        const json j = json::parse(out.read("cmp_report.json"));
        EXPECT_EQ(without_uncertainty(j), without) << change[1];
        const json &det = j["change"]["detected"];
        for (const char *side : {"erosion", "deposition"}) {
            ASSERT_GT(det[side]["cells"].get<double>(), 0) << side;
            // The volume's error is of the budget's detected area: each
            // detected cell counted once.
            const json &d = det[side];
            EXPECT_NEAR(d["volume_se_m3"].get<double>(), d["area_m2"].get<double>() * d["mean_diff_se_m"].get<double>(),
                        1e-9 * d["volume_se_m3"].get<double>())
                << change[1] << " " << side;
        }
    }
}

TEST(ReportUncertainty, AMaskABudgetClassesAndZonesAndWhatIsRefused) {
    Folder in, out;
    TestRaster a, b;
    noisy_pair(in, out, a, b);
    // Stable: all but a band across the middle; classes: the halves.
    TestRaster mask = raster(a.lines, a.cols, GDT_Byte, std::vector<double>(a.bands[0].size(), 1)), halves = mask;
    std::copy(a.gt, a.gt + 6, mask.gt);
    std::copy(a.gt, a.gt + 6, halves.gt);
    long long stable = 0;
    for (int i = 0; i < a.lines; i++)
        for (int j = 0; j < a.cols; j++) {
            const size_t k = size_t(i) * size_t(a.cols) + size_t(j);
            if (i > a.lines / 3 && i < a.lines / 2) mask.bands[0][k] = 0;
            halves.bands[0][k] = j < a.cols / 2 ? 1 : 2;
            stable += mask.bands[0][k] != 0 && kept(a, b, k);
        }
    write_tif(in.path("stable.tif"), mask);
    write_tif(in.path("halves.tif"), halves);
    const std::string x0 = std::to_string(a.gt[0] + 100 * a.gt[1]), x1 = std::to_string(a.gt[0] + 300 * a.gt[1]);
    const std::string y0 = std::to_string(a.gt[3] + 100 * a.gt[5]), y1 = std::to_string(a.gt[3] + 300 * a.gt[5]);
    in.write("zone.geojson", R"({"type": "FeatureCollection", "crs": {"type": "name", "properties": {"name": )"
                             R"("urn:ogc:def:crs:EPSG::32610"}}, "features": [{"type": "Feature", "properties": {}, )"
                             R"("geometry": {"type": "Polygon", "coordinates": [[[)" +
                                 x0 + ", " + y0 + "], [" + x1 + ", " + y0 + "], [" + x1 + ", " + y1 + "], [" + x0 +
                                 ", " + y1 + "], [" + x0 + ", " + y0 + "]]]}}]}");
    const std::vector<std::string> common = {"--change",
                                             "--sigma",
                                             "stable",
                                             "--stable",
                                             in.path("stable.tif"),
                                             "--classes",
                                             in.path("halves.tif"),
                                             "--zones",
                                             in.path("zone.geojson")};
    std::vector<std::string> with = common;
    with.push_back("--uncertainty");
    RunResult r = report_with(out, "cmp", with);
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(out.read("cmp_report.json"));
    const json &u = j["uncertainty"];
    EXPECT_EQ(u["stable"], "mask");
    EXPECT_EQ(u["n_stable"].get<long long>(), stable);
    EXPECT_EQ(u["sigma_by_slope"].size(), j["change"]["sigma_by_slope"].size());
    for (size_t k = 0; k < u["sigma_by_slope"].size(); k++)
        EXPECT_EQ(u["sigma_by_slope"][k]["sigma_m"], j["change"]["sigma_by_slope"][k]["sigma_dod_m"]) << k;
    const std::vector<Spherical> m = model_of(u);
    double sill = 0;
    for (const Spherical &c : m) sill += c.sill;
    for (const char *table : {"by_class", "by_zone"}) {
        ASSERT_TRUE(j.contains(table)) << table;
        for (const json &row : j[table]) {
            const double n = row["n"].get<double>();
            EXPECT_NEAR(row["n_eff"].get<double>(), std::min(n, sill / disk_mean_variance(m, n * 250000)), 1e-9 * n);
            EXPECT_GT(row["mean_diff_se_m"].get<double>(), 0.4 / std::sqrt(row["n_eff"].get<double>())) << table;
        }
    }
    // The detected cells (noise past z·σ): their volumes' errors are their
    // areas times the standard error of their mean.
    const json &det = j["change"]["detected"];
    for (const char *side : {"erosion", "deposition"}) {
        const json &s = det[side];
        ASSERT_GT(s["cells"].get<double>(), 0) << side;
        EXPECT_NEAR(s["volume_se_m3"].get<double>(), s["area_m2"].get<double>() * s["mean_diff_se_m"].get<double>(),
                    1e-9 * s["volume_se_m3"].get<double>());
        // Correlated errors, yet below the budget's fully correlated error.
        EXPECT_LT(s["volume_se_m3"].get<double>(), s["volume_error_m3"].get<double>()) << side;
    }
    const double area = det["erosion"]["area_m2"].get<double>() + det["deposition"]["area_m2"].get<double>();
    EXPECT_NEAR(det["net_volume_se_m3"].get<double>(), area * det["mean_diff_se_m"].get<double>(), 1e-6 * area);
    EXPECT_THAT(r.out, HasSubstr("the variogram of the stable cells of "));
    EXPECT_THAT(r.out, HasSubstr("detected change, correlated error of the volumes: erosion +/- "));
    r = report_with(out, "cmp", common);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(out.read("cmp_report.json")), without_uncertainty(j));

    // Too few stable cells: nothing written.
    Folder none;
    noisy_pair(in, none, a, b);
    std::fill(mask.bands[0].begin(), mask.bands[0].end(), 0);
    for (int i = 0; i < 20; i++)
        for (int jj = 0; jj < 40; jj++)
            mask.bands[0][size_t(a.lines / 2 + i) * size_t(a.cols) + size_t(a.cols / 2 + jj)] = 1;
    write_tif(in.path("few.tif"), mask);
    r = report_with(none, "cmp", {"--uncertainty", "--stable", in.path("few.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err,
                HasSubstr("few.tif marks only 800 stable cells with data in both rasters; the variogram needs at "
                          "least 1000"));
    EXPECT_FALSE(none.exists("cmp_report.json"));
    EXPECT_FALSE(none.exists("cmp_report"));
    // --stable without --change is the uncertainty's; alone it is refused as before.
    r = report_with(none, "cmp", {"--stable", in.path("few.tif")});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("belong to --change"));

    // 8-bit images.
    Folder img;
    TestRaster p = raster(40, 40, GDT_Byte, std::vector<double>(1600, 9)), q = p;
    for (size_t i = 0; i < 1600; i++) q.bands[0][i] = double(9 + i % 3);
    ASSERT_EQ(import_pair(in, img, p, q).status, 0);
    ASSERT_EQ(run_karvel(img.read("cmp.answers")).status, 0);
    r = report_with(img, "cmp", {"--uncertainty"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("are 8-bit images: the uncertainty of a mean is made for elevation models only"));
    EXPECT_FALSE(img.exists("cmp_report.json"));
}
