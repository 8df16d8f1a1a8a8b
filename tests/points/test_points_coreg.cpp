// The fit karvel-import and karvel-points share, on differences made from
// a known displacement; --coregister finding a known sub-cell shift of a
// DEM from 1000 points, applying no shift to a DEM that lies where the
// points are, and refusing a walk that leaves the DEM.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nuth_kaab.h"
#include "points_e2e.h"

using ::testing::HasSubstr;

namespace {

const double kPi = 3.14159265358979323846;

RunResult coregistered(const Folder &in, const Folder &out, const std::string &how) {
    return run_points({how, "--srs", "EPSG:32610", in.path("dem.tif"), in.path("p.csv"), out.name()});
}

TEST(NuthKaabFit, RecoversTheDisplacementAndLeavesOutFlatSteepAndOutliers) {
    // A surface displaced by (east, north) gives dh = tan α (east sin ψ +
    // north cos ψ) at a sample of slope α facing ψ, whatever its bias.
    const double east = 1.7, north = -0.6, bias = 2.5;
    std::vector<float> slope, aspect;
    std::vector<double> dh;
    for (int k = 0; k < 400; k++) {
        slope.push_back(float(1 + (k * 37) % 80));
        aspect.push_back(float((k * 53) % 360));
        const double a = double(slope.back()) * kPi / 180, psi = double(aspect.back()) * kPi / 180;
        dh.push_back(std::tan(a) * (east * std::sin(psi) + north * std::cos(psi)) + bias);
    }
    dh[5] = 1e4;  // an outlier
    aspect[6] = NAN;
    Fitting f = fitting_cells(dh.size(), slope.data(), aspect.data(), nullptr, dh);
    for (uint32_t k : f.cells) {
        EXPECT_GE(slope[k], kFlatDeg);
        EXPECT_LE(slope[k], kSteepDeg);
        EXPECT_NE(k, 5u);
        EXPECT_NE(k, 6u);
    }
    // The median taken out is not the bias, so the fit is judged against
    // the differences less theirs: the displacement is found to 1 %.
    double e = 0, n = 0;
    ASSERT_TRUE(nuth_kaab_fit(slope.data(), aspect.data(), dh, f, e, n));
    EXPECT_NEAR(e, east, 0.1);
    EXPECT_NEAR(n, north, 0.1);
    // Samples facing one way alone do not determine it.
    for (float &a : aspect) a = 90;
    f = fitting_cells(dh.size(), slope.data(), aspect.data(), nullptr, dh);
    EXPECT_FALSE(nuth_kaab_fit(slope.data(), aspect.data(), dh, f, e, n));
    // A stable mask keeps its samples only.
    std::vector<uint8_t> stable(dh.size(), 0);
    stable[10] = 1;
    f = fitting_cells(dh.size(), slope.data(), aspect.data(), stable.data(), dh);
    EXPECT_LE(f.sloped, 1);
}

TEST(PointsCoregister, FindsAKnownSubcellShiftFrom1000Points) {
    Folder in, out;
    const double vx = 0.3 * kCell, vy = -0.2 * kCell;  // the DEM lies displaced by this
    write_tif(in.path("dem.tif"), hills_dem(vx, vy, GDT_Float32));
    in.write("p.csv", points_on(hills, 1000, kSide * kCell, 0.05));
    const RunResult run = coregistered(in, out, "--coregister=xyz");
    ASSERT_EQ(run.status, 0) << run.err;
    const Json c = read_json(out, "points_coreg.json");
    EXPECT_TRUE(c["applied"].get<bool>());
    EXPECT_TRUE(c["bias_removed"].get<bool>());
    EXPECT_FALSE(c.contains("refused"));
    // Moved back by the displacement, within a tenth of a cell.
    EXPECT_NEAR(c["dx_m"].get<double>(), -vx, 0.1 * kCell);
    EXPECT_NEAR(c["dy_m"].get<double>(), -vy, 0.1 * kCell);
    EXPECT_LT(c["nmad_after"].get<double>(), 0.5 * c["nmad_before"].get<double>());
    // Judged over the same points before and after: all of them here.
    EXPECT_EQ(c["n_all"].get<long long>(), 1000);
    EXPECT_LT(c["nmad_all_after"].get<double>(), 0.5 * c["nmad_all_before"].get<double>());
    const Json j = read_json(out, "points_points.json");
    EXPECT_LT(std::fabs(j["median_diff"].get<double>()), 0.05);
    EXPECT_THAT(run.out, HasSubstr("Before co-registration"));
    EXPECT_THAT(run.out, HasSubstr("After co-registration"));
}

// A DEM that lies where the points are: the steps the noise asks for do
// not lower the NMAD by the margin needed, so no shift is applied and the
// figures are those of the DEM as it lies, to the byte.
TEST(PointsCoregister, NoShiftIsAppliedToADemThatLiesWhereThePointsAre) {
    Folder in, out, plain;
    write_tif(in.path("dem.tif"), hills_dem(0, 0, GDT_Float32));
    in.write("p.csv", points_on(hills, 1000, kSide * kCell, 0.3));
    const RunResult run = coregistered(in, out, "--coregister");
    ASSERT_EQ(run.status, 0) << run.err;
    const Json c = read_json(out, "points_coreg.json");
    EXPECT_FALSE(c["applied"].get<bool>());
    EXPECT_EQ(c["dx_m"].get<double>(), 0);
    EXPECT_EQ(c["dy_m"].get<double>(), 0);
    EXPECT_EQ(c["nmad_all_before"], c["nmad_all_after"]);
    ASSERT_TRUE(c.contains("refused"));
    EXPECT_LT(std::hypot(c["refused"]["dx_m"].get<double>(), c["refused"]["dy_m"].get<double>()), 0.1 * kCell);
    EXPECT_THAT(run.out, HasSubstr("  no shift applied: it would not improve the agreement ("));
    EXPECT_THAT(run.out, HasSubstr("points with a difference at both positions"));
    ASSERT_EQ(run_points({"--srs", "EPSG:32610", in.path("dem.tif"), in.path("p.csv"), plain.name()}).status, 0);
    EXPECT_EQ(out.read("points_points.json"), plain.read("points_points.json"));
    EXPECT_EQ(out.read("points_points.csv"), plain.read("points_points.csv"));
    // Run again without --coregister under the same name: the earlier
    // co-registration goes, and the console says so; a run of another name
    // leaves it.
    ASSERT_EQ(run_points({"--srs", "EPSG:32610", "--result", "other", in.path("dem.tif"), in.path("p.csv"), out.name()})
                  .status,
              0);
    EXPECT_TRUE(out.exists("points_coreg.json"));
    const RunResult again = run_points({"--srs", "EPSG:32610", in.path("dem.tif"), in.path("p.csv"), out.name()});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_FALSE(out.exists("points_coreg.json"));
    EXPECT_THAT(again.out, HasSubstr("The co-registration of an earlier run, "));
    EXPECT_THAT(again.out, HasSubstr("points_coreg.json, was removed."));
}

// Ridges that repeat every few cells, the DEM displaced by more than a
// quarter of its extent: the fit cannot tell one ridge from the next and
// still asks for cells more where it stops. The hills displaced as far:
// the walk heads for the shift but a step would reach beyond a quarter of
// the extent. Both refused, nothing written, rather than a shift reported.
TEST(PointsCoregister, AWalkThatDoesNotSettleOrLeavesTheDemIsRefused) {
    const double px = 71 * 3, py = 19 * 3;  // ridges 7.1 and 1.9 cells apart
    auto ridges = [&](double x, double y) {
        return 200 + 20 * std::sin(2 * kPi * x / px) + 15 * std::cos(2 * kPi * y / py);
    };
    std::vector<double> v(size_t(kSide) * kSide);
    const double vx = 1500, vy = -900;
    for (int i = 0; i < kSide; i++)
        for (int j = 0; j < kSide; j++)
            v[size_t(i) * kSide + j] = ridges((j + 0.5) * kCell - vx, (kSide - i - 0.5) * kCell - vy);
    TestRaster dem = raster(kSide, kSide, GDT_Float32, v);
    dem.gt[0] = kX0, dem.gt[3] = kY0;
    Folder in, out;
    write_tif(in.path("dem.tif"), dem);
    in.write("p.csv", points_on(ridges, 1000, kSide * kCell, 0.05));
    RunResult run = coregistered(in, out, "--coregister");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot be co-registered: the shift did not converge after "));
    EXPECT_THAT(run.err, HasSubstr(" cells), more than a quarter of a cell"));

    write_tif(in.path("dem.tif"), hills_dem(vx, vy, GDT_Float32));
    in.write("p.csv", points_on(hills, 1000, kSide * kCell, 0.05));
    run = coregistered(in, out, "--coregister");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot be co-registered: a step of the fit reaches "));
    EXPECT_THAT(run.err, HasSubstr(" m north, beyond a quarter of the DEM's extent"));
    EXPECT_FALSE(out.exists("points_points.json"));
    EXPECT_FALSE(out.exists("points_coreg.json"));
}

}  // namespace
