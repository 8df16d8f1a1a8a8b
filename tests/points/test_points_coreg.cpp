// The fit karvel-import and karvel-points share, on differences made from
// a known displacement; and --coregister finding a known sub-cell shift of
// a DEM from 1000 points.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nuth_kaab.h"
#include "points_e2e.h"

using ::testing::HasSubstr;

namespace {

const double kPi = 3.14159265358979323846;

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
    std::string csv = "x,y,z\n";
    unsigned r = 7;
    for (int k = 0; k < 1000; k++) {
        r = r * 1103515245u + 12345u;
        const double x = 200 + (r >> 8) % 4400000 / 1000.0;
        r = r * 1103515245u + 12345u;
        const double y = 200 + (r >> 8) % 4400000 / 1000.0;
        csv += number17(kX0 + x) + "," + number17(kY0 - kSide * kCell + y) + "," +
               number17(hills(x, y) + 0.05 * std::sin(3.0 * k)) + "\n";
    }
    in.write("p.csv", csv);
    const RunResult run =
        run_points({"--coregister=xyz", "--srs", "EPSG:32610", in.path("dem.tif"), in.path("p.csv"), out.name()});
    ASSERT_EQ(run.status, 0) << run.err;
    const Json c = read_json(out, "points_coreg.json");
    EXPECT_TRUE(c["applied"].get<bool>());
    EXPECT_TRUE(c["bias_removed"].get<bool>());
    // Moved back by the displacement, within a tenth of a cell.
    EXPECT_NEAR(c["dx_m"].get<double>(), -vx, 0.1 * kCell);
    EXPECT_NEAR(c["dy_m"].get<double>(), -vy, 0.1 * kCell);
    EXPECT_LT(c["nmad_after"].get<double>(), 0.5 * c["nmad_before"].get<double>());
    const Json j = read_json(out, "points_points.json");
    EXPECT_LT(std::fabs(j["median_diff"].get<double>()), 0.05);
    EXPECT_THAT(run.out, HasSubstr("Before co-registration"));
    EXPECT_THAT(run.out, HasSubstr("After co-registration"));
}

}  // namespace
