// karvel-report's plausibility warnings and the inputs of the import: pairs
// imported by karvel-import, compared by karvel, reported; each warning
// provoked by a pair made for it, and none on a sound pair.
#include "report_e2e.h"

namespace {

using Json = nlohmann::ordered_json;

struct Reported {
    RunResult run;
    Json json;
    std::vector<std::string> warnings;
};

// Imports FIRST and SECOND (DEMs of `lines` × `cols` cells of 30 m in UTM
// zone 10), compares and reports them.
Reported import_and_report(const Folder &in, const Folder &out, int lines, int cols, const std::vector<double> &first,
                           const std::vector<double> &second, GDALDataType type = GDT_Float32) {
    Reported r;
    const RunResult imported = import_pair(in, out, raster(lines, cols, type, first), raster(lines, cols, type, second));
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    r.run = report(out, "cmp");
    EXPECT_EQ(r.run.status, 0) << r.run.err;
    r.json = Json::parse(out.read("cmp_report.json"), nullptr, false);
    if (r.json.contains("warnings"))
        for (const auto &w : r.json["warnings"]) r.warnings.push_back(w.get<std::string>());
    return r;
}

// How many warnings hold `words`.
int said(const std::vector<std::string> &warnings, const std::string &words) {
    return int(std::count_if(warnings.begin(), warnings.end(),
                             [&](const std::string &w) { return w.find(words) != std::string::npos; }));
}

// A rough surface of 12 × 16 cells, 100 m to about 180 m.
std::vector<double> terrain(int lines, int cols) {
    std::vector<double> v;
    for (int i = 0; i < lines * cols; i++) v.push_back(100 + (i * 37) % 61 + (i / cols) * 1.5 + (i % 7) * 0.25);
    return v;
}

constexpr int kLines = 12, kCols = 16;

}  // namespace

// A sound pair: no warning; the inputs of the import in the JSON and on the
// headline; a plane that explains little.
TEST(ReportPlausibility, ASoundPairHasNoWarningAndShowsItsInputs) {
    Folder in, out;
    const std::vector<double> a = terrain(kLines, kCols);
    std::vector<double> b = a;
    for (size_t i = 0; i < b.size(); i++) b[i] += (i * 13 % 5) * 0.2 - 0.4;
    const Reported r = import_and_report(in, out, kLines, kCols, a, b);
    EXPECT_EQ(r.warnings, std::vector<std::string>{});
    const Json &inputs = r.json["inputs"];
    ASSERT_TRUE(inputs.is_object()) << r.json.dump();
    EXPECT_EQ(inputs["first"]["source"], in.path("a.tif"));
    EXPECT_EQ(inputs["second"]["source"], in.path("b.tif"));
    EXPECT_EQ(inputs["first"]["srs_name"], "WGS 84 / UTM zone 10N");
    EXPECT_EQ(inputs["first"]["epsg"], 32610);
    EXPECT_EQ(inputs["first"]["cell_size_m"], Json::array({30.0, 30.0}));
    EXPECT_TRUE(inputs["import"]["resampling"].is_null());
    EXPECT_EQ(inputs["import"]["result"], "cmp");
    // The new members come after every other.
    const auto last = std::prev(r.json.end(), 2);
    EXPECT_EQ(last.key(), "inputs");
    EXPECT_LT(r.json["plane_trend"]["variance_explained"].get<double>(), 1.0 / 3);
    EXPECT_THAT(r.run.out, HasSubstr("\tFirst raster imported from                 " + in.path("a.tif") + "\n"
                                     "\tSecond raster imported from                " + in.path("b.tif") + "\n"
                                     "\tCoordinate system of the grid              WGS 84 / UTM zone 10N (EPSG:32610)\n"
                                     "\tCell size of the grid                      30 x 30 m\n"
                                     "\tResampling                                 none\n"
                                     "\tPositions "));
    EXPECT_THAT(r.run.out, ::testing::Not(HasSubstr("Warning:")));
    const RunResult text = run({"pdftotext", out.path("cmp_report.pdf"), "-"});
    EXPECT_THAT(text.out, HasSubstr("EPSG:32610"));
}

// SECOND 1000 m above FIRST: the import's two warnings carried over as they
// are, and the report's own of the same things not said again.
TEST(ReportPlausibility, TheImportsWarningsAreCarriedOverOnce) {
    Folder in, out;
    const std::vector<double> a = terrain(kLines, kCols);
    std::vector<double> b = a;
    for (size_t i = 0; i < b.size(); i++) b[i] += 1000 + (i * 13 % 5) * 0.2;
    const Reported r = import_and_report(in, out, kLines, kCols, a, b);
    const Json imported = Json::parse(out.read("cmp_inputs.json"))["warnings"];
    ASSERT_EQ(imported.size(), 2u) << imported.dump();
    const std::string first_said = imported[0].get<std::string>();
    EXPECT_EQ(r.warnings, imported.get<std::vector<std::string>>());
    EXPECT_EQ(said(r.warnings, "do not overlap"), 1);
    EXPECT_EQ(said(r.warnings, "mean difference"), 1);
    EXPECT_THAT(r.run.out, HasSubstr("\tWarning: " + first_said + "\n"));
}

// The report's own checks: a mean difference larger than the spread of
// either raster's values (though within their ranges, which the import
// judges by); r below 0.5, for DEMs and not for 8-bit images; a plane.
TEST(ReportPlausibility, TheReportsOwnChecksOfTheValues) {
    Folder in, out;
    std::vector<double> a = terrain(kLines, kCols), b = a;
    for (size_t i = 0; i < b.size(); i++) b[i] += 40 + (i * 13 % 5) * 0.2;
    Reported r = import_and_report(in, out, kLines, kCols, a, b);
    ASSERT_EQ(r.warnings.size(), 1u) << r.json["warnings"].dump();
    EXPECT_THAT(r.warnings[0], ::testing::StartsWith("the mean difference, 40.39"));
    EXPECT_THAT(r.warnings[0], HasSubstr(" m, is larger than the spread of either raster's values (sd 18."));

    // Unrelated values at one level: r below 0.5.
    for (size_t i = 0; i < b.size(); i++) a[i] = 100 + double(i * 37 % 61), b[i] = 100 + double(i * 53 % 59);
    r = import_and_report(in, out, kLines, kCols, a, b);
    EXPECT_EQ(said(r.warnings, "is below 0.5: the fitted line and the residuals then describe little"), 1);
    EXPECT_EQ(said(r.warnings, "mean difference"), 0);
    r = import_and_report(in, out, kLines, kCols, a, b, GDT_Byte);
    EXPECT_EQ(r.warnings, std::vector<std::string>{});
    EXPECT_FALSE(r.json.contains("plane_trend"));

    // SECOND tilted: 1 m a cell east, 0.5 m a cell south, over noise.
    a = terrain(kLines, kCols);
    for (size_t i = 0; i < b.size(); i++)
        b[i] = a[i] + double(i % kCols) - 0.5 * double(i / kCols) + (i * 13 % 5) * 0.2;
    r = import_and_report(in, out, kLines, kCols, a, b);
    const Json &plane = r.json["plane_trend"];
    EXPECT_GT(plane["variance_explained"].get<double>(), 0.9);
    EXPECT_NEAR(plane["east_m_per_km"].get<double>(), 1000.0 / 30, 0.5);
    EXPECT_NEAR(plane["north_m_per_km"].get<double>(), 500.0 / 30, 0.5);
    EXPECT_EQ(said(r.warnings, "of the variance of the differences (a tilt of 33."), 1);
    EXPECT_EQ(said(r.warnings, "karvel-import --coregister --deramp"), 1);
}

// A co-registration refused, one that worsened the agreement, and the
// import's tilt warning, from R_coreg.json; without R_inputs.json the
// inputs are null, and one that cannot be used is a warning.
TEST(ReportPlausibility, CoregistrationWarningsAndResultsNotImported) {
    Folder f;
    compare_dems(f, 2, 3, {1, 2, 3, 4, 5, 6}, {2, 2, 4, 4, 6, 6});
    ASSERT_EQ(report(f).status, 0);
    EXPECT_TRUE(Json::parse(f.read("r_report.json"))["inputs"].is_null());
    const std::string head = "{\n  \"dx_m\": 0.000000,\n  \"dy_m\": 0.000000,\n  \"dz_m\": 0.000000,\n"
                             "  \"bias_removed\": false,\n  \"iterations\": 2,\n  \"nmad_before\": 1.000000,\n"
                             "  \"nmad_after\": 1.000000,\n  \"n_fit\": 6,\n  \"method\": \"nuth_kaab\",\n"
                             "  \"resampling\": \"bilinear\",\n  \"nmad_all_before\": 1.000000,\n";
    f.write("r_coreg.json", head +
                                "  \"nmad_all_after\": 1.000000,\n  \"n_all\": 6,\n  \"stable_only\": false,\n"
                                "  \"applied\": false,\n  \"refused\": {\"dx_m\": 12.5, \"dy_m\": -3.25, "
                                "\"nmad_all_before\": 1.0, \"nmad_all_after\": 0.95, \"n_all\": 6},\n"
                                "  \"deramp_order\": 0,\n  \"warnings\": [\n    \"warning: a plane explains 50 % of "
                                "the variance of the differences on the 6 fitting cells: SECOND may be tilted\"\n  ]\n}\n");
    f.write("r_inputs.json", "{\n  \"first\": {\"source\": \"a.tif\"},\n");
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = Json::parse(f.read("r_report.json"));
    EXPECT_TRUE(j["inputs"].is_null());
    std::vector<std::string> w = j["warnings"].get<std::vector<std::string>>();
    ASSERT_EQ(w.size(), 3u) << j["warnings"].dump();
    EXPECT_EQ(w[0], "the record of the import's inputs " + f.shown("r_inputs.json") +
                        " cannot be used (its \"second\" is missing or not an object): the rasters' sources are not "
                        "shown");
    EXPECT_EQ(w[1], "the co-registration's shift (12.500 m east, -3.250 m north) was refused: it would have taken the "
                    "NMAD from 1.000 m to 0.950 m on 6 cells, too little a gain; a surface that changed, too few "
                    "stable cells or DEMs without a shift between them usually cause this");
    EXPECT_EQ(w[2], "a plane explains 50 % of the variance of the differences on the 6 fitting cells: SECOND may be "
                    "tilted");
    EXPECT_THAT(r.out, HasSubstr("\tWarning: a plane explains 50 %"));
    // Applied, and worse on the same cells.
    f.write("r_coreg.json", head + "  \"nmad_all_after\": 1.500000,\n  \"n_all\": 6,\n  \"stable_only\": false,\n"
                                   "  \"applied\": true,\n  \"deramp_order\": 0,\n  \"warnings\": []\n}\n");
    ASSERT_EQ(report(f).status, 0);
    w = Json::parse(f.read("r_report.json"))["warnings"].get<std::vector<std::string>>();
    EXPECT_EQ(said(w, "the co-registration worsened the agreement: the NMAD rose from 1.000 m to 1.500 m on the 6 "
                      "cells"),
              1);
    EXPECT_EQ(said(w, "refused"), 0);
}
