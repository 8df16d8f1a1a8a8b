// The plane fitted to the differences, and the files of the import read
// for the warnings and the inputs.
#include <gtest/gtest.h>

#include <cmath>

#include "coreg.h"
#include "plausibility.h"
#include "provenance.h"

// An exact plane is found whole, on a grid and along a single line; a
// constant difference, or a single cell, defines no plane.
TEST(Plausibility, ThePlaneOfTheDifferences) {
    PlaneSums grid, line, flat;
    const double x[4] = {-45, -15, 15, 45};
    for (int i = 0; i < 3; i++) {
        const double y = 30.0 * (1 - i);
        double d[4], level[4] = {2, 2, 2, 2};
        // A large level under the plane costs no precision.
        for (int j = 0; j < 4; j++) d[j] = 1e6 + 0.002 * x[j] - 0.0005 * y;
        grid.add_line(y, x, d, 4);
        flat.add_line(y, x, level, 4);
        if (i == 1) line.add_line(y, x, d, 4);
    }
    const PlaneTrend p = grid.fit(true);
    ASSERT_TRUE(p.defined);
    EXPECT_NEAR(p.east, 0.002, 1e-10);
    EXPECT_NEAR(p.north, -0.0005, 1e-10);
    EXPECT_NEAR(p.explained, 1.0, 1e-9);
    const PlaneTrend l = line.fit(false);
    ASSERT_TRUE(l.defined);
    EXPECT_NEAR(l.east, 0.002, 1e-10);
    EXPECT_EQ(l.north, 0.0);
    EXPECT_NE(json_text(Json{{"p", plane_json(l)}}).find("{\"east_m_per_km\": null, \"north_m_per_km\": null, "
                                                        "\"variance_explained\": "),
              std::string::npos);
    EXPECT_FALSE(flat.fit(true).defined);
    EXPECT_EQ(json_text(Json{{"p", plane_json(flat.fit(true))}}),
              "{\n  \"p\": {\"east_m_per_km\": null, \"north_m_per_km\": null, \"variance_explained\": null}\n}\n");
}

// R_inputs.json as karvel-import writes it, and one cut short; the refused
// shift and the warnings of R_coreg.json.
TEST(Plausibility, TheImportsFiles) {
    const std::string head =
        "{\n  \"first\": {\"source\": \"s.tif\", \"band\": 1, \"srs_name\": \"SIRGAS 2000 / UTM zone 22S\", \"epsg\": "
        "31982, \"srs_assigned\": true, \"cell_size_m\": [0.500000, 0.500000]},\n  \"second\": {\"source\": \"d.tif\", "
        "\"srs_name\": null, \"epsg\": null, \"cell_size_m\": [2.000000, 2.000000]},\n  \"import\": {\"align\": true, "
        "\"resampling\": \"bilinear\", \"grid\": \"second\"},\n";
    Provenance p;
    ASSERT_EQ(parse_inputs(head + "  \"warnings\": [\"w\"]\n}\n", p), "");
    EXPECT_EQ(p.warnings, std::vector<std::string>{"w"});
    const std::vector<std::string> lines = provenance_lines(p);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2].substr(43), "none");  // SECOND's grid, which has no coordinate system
    EXPECT_EQ(lines[3].substr(43), "2 x 2 m");
    EXPECT_EQ(lines[4].substr(43), "bilinear, FIRST onto SECOND's grid");
    EXPECT_EQ(json_text(Json{{"inputs", provenance_json(p)}}).substr(0, 137),
              "{\n  \"inputs\": {\"first\": {\"source\": \"s.tif\", \"srs_name\": \"SIRGAS 2000 / UTM zone 22S\", \"epsg\": "
              "31982, \"cell_size_m\": [0.500000, 0.500000]}");
    EXPECT_EQ(parse_inputs(head, p), "its \"warnings\" is missing or not a list");
    EXPECT_FALSE(p.known);
    EXPECT_TRUE(provenance_json(p).is_null());
    EXPECT_TRUE(provenance_lines(p).empty());

    CoregFigures c;
    ASSERT_EQ(parse_coreg("{\"dx_m\": 0, \"dy_m\": 0, \"dz_m\": 0, \"iterations\": 1, \"nmad_before\": 1, "
                          "\"nmad_after\": 1, \"n_fit\": 9, \"nmad_all_before\": 1, \"nmad_all_after\": 1, \"n_all\": "
                          "9, \"applied\": false, \"refused\": {\"dx_m\": 3, \"dy_m\": -1, \"nmad_all_before\": 1, "
                          "\"nmad_all_after\": 0.98, \"n_all\": 9}, \"warnings\": [\"warning: tilted\"]}",
                          c),
              "");
    EXPECT_TRUE(c.refused_known);
    EXPECT_EQ(c.refused_dx_m, 3.0);
    EXPECT_EQ(c.refused_after, 0.98);
    EXPECT_EQ(c.refused_n, 9);
    EXPECT_EQ(c.warnings, std::vector<std::string>{"warning: tilted"});
}
