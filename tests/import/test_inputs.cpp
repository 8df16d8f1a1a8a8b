// R_inputs.json, what produced the pair, and the warnings of values that
// do not fit together (on standard error and in that file).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rasters.h"

using ::testing::HasSubstr;

namespace {

TestRaster metres(int lines, int cols, std::vector<double> values, const char *unit = "m") {
    TestRaster t = raster(lines, cols, GDT_Float32, std::move(values));
    t.unit = unit;
    return t;
}

// The values of a survey, 578 to 585 m, and of a drone DEM, 582 to 588.
const std::vector<double> kSurvey = {578, 579.5, 581, 582.25, 583, 585};
const std::vector<double> kDrone = {582, 583.5, 585, 586.25, 587, 588};

}  // namespace

TEST(ImportInputs, TheFileSaysWhatProducedThePairAndGoesWithIt) {
    Folder in, out;
    std::vector<double> v;
    for (int k = 0; k < 24; k++) v.push_back(100 + 0.05 * k);
    TestRaster a = metres(4, 6, v);
    a.epsg = 0;
    TestRaster b = metres(2, 3, {328, 329, 330, 331, 332, 333}, "foot");
    const double gt[6] = {500000, 60, 0, 5400000, 0, -60};
    std::copy(gt, gt + 6, b.gt);
    RunResult r = import_pair(in, out, a, b,
                              {"--align=cubic", "--grid", "second", "--srs-first", "EPSG:32610", "--z-unit-second",
                               "us-ft", "--names", "p", "q", "--result", "r", "--unit", "cm"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(out.read("r_inputs.json"),
              "{\n"
              "  \"first\": {\"source\": \"" + in.path("a.tif") + "\", \"band\": 1, \"srs_name\": \"WGS 84 / UTM zone 10N\", "
              "\"epsg\": 32610, \"srs_assigned\": true, \"cell_size_m\": [30.000000, 30.000000], "
              "\"z_unit_declared\": \"m\", \"z_unit_used\": \"m\"},\n"
              "  \"second\": {\"source\": \"" + in.path("b.tif") + "\", \"band\": 1, \"srs_name\": \"WGS 84 / UTM zone 10N\", "
              "\"epsg\": 32610, \"srs_assigned\": false, \"cell_size_m\": [60.000000, 60.000000], "
              "\"z_unit_declared\": \"foot\", \"z_unit_used\": \"us-ft\"},\n"
              "  \"import\": {\"align\": true, \"resampling\": \"cubic\", \"grid\": \"second\", \"crop\": false, "
              "\"coregister\": null, \"stable\": null, \"names\": [\"p\", \"q\"], \"result\": \"r\", \"unit\": \"cm\"},\n"
              "  \"warnings\": []\n"
              "}\n");
    EXPECT_EQ(r.err, "");

    // Imported again under its result name, it is replaced; 8-bit images
    // and a raster without georeferencing have no unit and no cell size.
    TestRaster g = raster(1, 2, GDT_Byte, {3, 4});
    g.georef = false;
    g.epsg = 0;
    r = import_pair(in, out, g, g, {"--result", "r", "--crop"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string json = out.read("r_inputs.json");
    EXPECT_THAT(json, HasSubstr("\"srs_name\": null, \"epsg\": null, \"srs_assigned\": false, \"cell_size_m\": null, "
                                "\"z_unit_declared\": null, \"z_unit_used\": null}"));
    EXPECT_THAT(json, HasSubstr("\"import\": {\"align\": false, \"resampling\": null, \"grid\": \"first\", \"crop\": true, "
                                "\"coregister\": null, \"stable\": null, \"names\": null, \"result\": \"r\", \"unit\": \"mm\"}"));
    EXPECT_EQ(files_in(out.path("")),
              (std::vector<std::string>{"a.hdr", "a.raw", "a.txt", "b.hdr", "b.raw", "b.txt", "p_m4.hdr", "p_m4.raw",
                                        "p_m4.raw.aux.xml", "p_m4.txt", "q_m4.hdr", "q_m4.raw", "q_m4.raw.aux.xml",
                                        "q_m4.txt", "r.answers", "r_inputs.json"}));
}

// A drone DEM whose band says feet but whose values are metres: converted
// as declared, its values leave the survey's; the warnings say so and what
// to give instead, and given it, the values are metres and nothing warns.
TEST(ImportWarnings, MetresLabelledAsFeetAreWarnedOf) {
    Folder in, out;
    RunResult r = import_pair(in, out, metres(2, 3, kSurvey), metres(2, 3, kDrone, "ft"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string warnings[3] = {
        "the values of FIRST (578.000 .. 585.000 m) and SECOND (177.394 .. 179.222 m) do not overlap: a unit "
        "wrongly declared, another vertical datum or rasters of different places usually cause it",
        "the mean difference SECOND - FIRST, -403.061 m over 6 cells with data in both, is larger than the spread "
        "of either raster's values (7.000 m of FIRST, 1.828 m of SECOND): a unit or vertical datum error usually "
        "causes it",
        "SECOND's values were converted from ft, as its band declares; if they hold metres, give --z-unit-second m"};
    EXPECT_EQ(r.err, "warning: " + warnings[0] + "\nwarning: " + warnings[1] + "\nwarning: " + warnings[2] + "\n");
    EXPECT_THAT(out.read("cmp_inputs.json"), HasSubstr("  \"warnings\": [\n    \"" + warnings[0] + "\",\n    \"" +
                                                      warnings[1] + "\",\n    \"" + warnings[2] + "\"\n  ]\n}\n"));

    r = import_pair(in, out, metres(2, 3, kSurvey), metres(2, 3, kDrone, "ft"), {"--z-unit-second", "m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(samples(out.read("b_m4.raw"), 4, true),
              (std::vector<long long>{582000, 583500, 585000, 586250, 587000, 588000}));
    EXPECT_THAT(out.read("cmp_inputs.json"), HasSubstr("\"z_unit_declared\": \"ft\", \"z_unit_used\": \"m\"}"));
    EXPECT_THAT(out.read("cmp_inputs.json"), HasSubstr("\"warnings\": []"));
}

TEST(ImportWarnings, AMeanDifferenceBeyondBothSpreadsIsWarnedOfAlone) {
    Folder in, out;
    // The ranges touch at 1 m, and the mean difference is 1.5 m: more than
    // either spread of 1 m. The band declares metres: nothing was converted.
    RunResult r = import_pair(in, out, metres(2, 2, {0, 0, 0, 1}), metres(2, 2, {2, 2, 2, 1}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "warning: the mean difference SECOND - FIRST, 1.500 m over 4 cells with data in both, is larger "
                     "than the spread of either raster's values (1.000 m of FIRST, 1.000 m of SECOND): a unit or "
                     "vertical datum error usually causes it\n");
    // Cells without data in either are left out of the mean.
    TestRaster a = metres(2, 2, {0, 0, 0, 1}), b = metres(2, 2, {2, -9999, 2, 1});
    b.has_nodata = true;
    b.nodata = -9999;
    r = import_pair(in, out, a, b);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("the mean difference SECOND - FIRST, 1.333 m over 3 cells"));
    // Within the spread: no warning.
    r = import_pair(in, out, metres(2, 2, {0, 0, 0, 1}), metres(2, 2, {0.5, 0.5, 1, 1}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// A DEM that marks its holes with the extreme value of its type but does
// not declare it: the holes would be compared as elevations. Each such
// input is warned of, first, on the console and in R_inputs.json; declared,
// or not reached, nothing warns of it.
TEST(ImportWarnings, UndeclaredExtremeValuesOfTheTypeAreWarnedOf) {
    Folder in, out;
    const std::vector<double> survey = {578, 579, 580, 581, 582, 583};
    TestRaster a = raster(2, 3, GDT_Int32, survey), b = raster(2, 3, GDT_UInt16, survey);
    a.bands[0][4] = -2147483648.0;
    b.bands[0][1] = 65535;
    RunResult r = import_pair(in, out, a, b, {"--unit", "m"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string first =
        "FIRST " + in.path("a.tif") +
        " holds -2147483648, the smallest value of its Int32 samples, yet declares no value for cells without "
        "data: such values usually mark cells without data left undeclared, and they were kept as elevations; if "
        "they mark them, declare the value (gdal_edit.py -a_nodata -2147483648)";
    const std::string second = "SECOND " + in.path("b.tif") +
                               " holds 65535, the largest value of its UInt16 samples, yet declares no value";
    EXPECT_THAT(r.err, ::testing::StartsWith("warning: " + first + "\nwarning: " + second));
    EXPECT_THAT(out.read("cmp_inputs.json"), HasSubstr("  \"warnings\": [\n    \"" + first + "\",\n    \"" + second));

    // Both bounds of a signed type; the 0 of an unsigned one is an elevation.
    a = raster(2, 3, GDT_Int16, {-32768, 1, 2, 3, 4, 32767});
    b = raster(2, 3, GDT_UInt16, {0, 1, 2, 3, 4, 5});
    r = import_pair(in, out, a, b, {"--unit", "m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, ::testing::StartsWith("warning: FIRST " + in.path("a.tif") +
                                             " holds -32768 and 32767, the smallest and largest values of its Int16 "
                                             "samples, yet"));
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("SECOND " + in.path("b.tif") + " holds")));

    // Declared as the nodata value: the cell has no data, and nothing warns.
    a = raster(2, 3, GDT_Int32, survey);
    a.bands[0][4] = -2147483648.0;
    a.has_nodata = true;
    a.nodata = -2147483648.0;
    b = raster(2, 3, GDT_Int32, survey);
    r = import_pair(in, out, a, b, {"--unit", "m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}
