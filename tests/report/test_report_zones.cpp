// karvel-report by zone of a vector file: each zone's figures and budget
// against its cells found by another route (the polygons transformed by
// ogr2ogr, rasterized by gdal_rasterize), summed and sorted here.
#include <gdal.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "change_pair.h"
#include "report_e2e.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string number(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// A GeoJSON feature `name` of polygons given as rings of (line, column)
// positions of grid a, in its coordinates.
std::string feature(const TestRaster &a, const std::string &name,
                    const std::vector<std::vector<std::pair<double, double>>> &rings) {
    std::string f = R"({"type": "Feature", "properties": {"name": ")" + name + R"("}, "geometry": {"type": "Polygon", "coordinates": [)";
    for (size_t r = 0; r < rings.size(); r++) {
        f += r ? ", [" : "[";
        for (size_t k = 0; k <= rings[r].size(); k++) {
            const auto &[i, j] = rings[r][k % rings[r].size()];
            f += k ? ", [" : "[";
            f += number(a.gt[0] + j * a.gt[1]);
            f += ", ";
            f += number(a.gt[3] + i * a.gt[5]);
            f += "]";
        }
        f += "]";
    }
    return f + "]}}";
}

std::vector<std::pair<double, double>> ellipse(double ci, double cj, double ri, double rj) {
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k < 24; k++) ring.push_back({ci + ri * std::sin(k * M_PI / 12), cj + rj * std::cos(k * M_PI / 12)});
    return ring;
}

std::vector<std::pair<double, double>> box(double i0, double j0, double i1, double j1) {
    return {{i0, j0}, {i0, j1}, {i1, j1}, {i1, j0}};
}

std::string collection(const std::vector<std::string> &features, bool utm = true) {
    std::string t = R"({"type": "FeatureCollection", )";
    if (utm) t += R"("crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::32610"}}, )";
    t += R"("features": [)";
    for (size_t k = 0; k < features.size(); k++) {
        if (k) t += ", ";
        t += features[k];
    }
    return t + "]}";
}

// Zone `name` of the GeoPackage rasterized onto grid a by GDAL's tools.
std::vector<double> zone_mask(const Folder &in, const TestRaster &a, const std::string &name) {
    const std::string z = in.path("z_" + name + ".geojson"), m = in.path("m_" + name + ".tif");
    std::string cmd = "ogr2ogr -f GeoJSON -t_srs EPSG:32610 -where \"name='" + name + "'\" " + z + " " +
                      in.path("zones.gpkg");
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    cmd = "gdal_rasterize -q -burn 1 -init 0 -ot Byte -te " + number(a.gt[0]) + " " +
          number(a.gt[3] + a.lines * a.gt[5]) + " " + number(a.gt[0] + a.cols * a.gt[1]) + " " + number(a.gt[3]) +
          " -ts " + std::to_string(a.cols) + " " + std::to_string(a.lines) + " " + z + " " + m;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return read_raster(m).values;
}

}  // namespace

TEST(ReportZones, EachZonesFiguresAndBudgetAreThoseOfItsCellsRasterizedByGdal) {
    Folder in, out;
    TestRaster a, b;
    const int shift = 68;
    slumped_pair(in, out, a, b, shift);
    // The scar; the deposit as two features side by side; a zone over the
    // scar's west half; a point, which is no zone. Written in UTM, kept in
    // WGS 84.
    const double ci = a.lines * 0.35, cj = a.cols * 0.5, ri = a.lines * 0.12 * 1.1, rj = a.cols * 0.15 * 1.1;
    const std::string point = R"({"type": "Feature", "properties": {"name": "dot"}, "geometry": {"type": "Point", )"
                              R"("coordinates": [)" + number(a.gt[0] + cj * a.gt[1]) + ", " + number(a.gt[3] + ci * a.gt[5]) + "]}}";
    in.write("zones_utm.geojson",
             collection({feature(a, "scar", {ellipse(ci, cj, ri, rj)}),
                         feature(a, "deposit", {box(ci + shift - ri, cj - rj, ci + shift + ri, std::floor(cj))}),
                         feature(a, "deposit", {box(ci + shift - ri, std::floor(cj), ci + shift + ri, cj + rj)}),
                         feature(a, "west", {box(ci - ri - 3, cj - rj - 3, ci + ri + 3, cj)}), point}));
    const std::string cmd = "ogr2ogr -f GPKG -t_srs EPSG:4326 -nln zones " + in.path("zones.gpkg") + " " +
                            in.path("zones_utm.geojson");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

    RunResult r = report_with(out, "cmp", {"--change", "--lod", "1.9995", "--zones", in.path("zones.gpkg") + ":name"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json rows = json::parse(out.read("cmp_report.json"))["by_zone"];
    const std::vector<std::string> names = {"scar", "deposit", "west"};
    ASSERT_EQ(rows.size(), names.size());
    std::vector<std::vector<double>> masks;
    for (size_t z = 0; z < names.size(); z++) {
        EXPECT_EQ(rows[z]["zone"], names[z]);
        masks.push_back(zone_mask(in, a, names[z]));
        std::vector<double> xs, ys;
        for (size_t k = 0; k < masks[z].size(); k++)
            if (masks[z][k] != 0 && kept(a, b, k)) {
                xs.push_back(double(std::llround(a.bands[0][k] * 1000)) * 0.001);
                ys.push_back(double(std::llround(b.bands[0][k] * 1000)) * 0.001);
            }
        ASSERT_GT(xs.size(), 50u) << names[z];
        std::map<std::string, double> got, want = expected(xs, ys);
        for (const auto &[key, value] : rows[z].items())
            if (value.is_number()) got[key] = value.get<double>();
        for (const char *key : {"n", "mean_diff", "sd_diff", "median_diff", "nmad", "rms", "le90", "le95"}) {
            ASSERT_TRUE(got.count(key)) << names[z] << " " << key;
            const std::string k = key;
            if (k == "n" || k == "median_diff" || k == "le90" || k == "le95") {
                EXPECT_EQ(got[key], want[key]) << names[z] << " " << key;  // counts and exact ranks
            } else {
                EXPECT_NEAR(got[key], want[key], 1e-9 * std::fabs(want[key])) << names[z] << " " << key;
            }
        }
        const std::vector<double> &mask = masks[z];
        expect_same(rows[z]["change"],
                    budget(a, b, [](int) { return 1e6; }, [](size_t) { return Rule{1.9995, true, 1.9995}; },
                           [&](size_t k) { return mask[k] != 0; }),
                    names[z]);
    }
    size_t both = 0;
    for (size_t k = 0; k < masks[0].size(); k++) both += masks[0][k] != 0 && masks[2][k] != 0;
    EXPECT_GT(both, 50u);  // cells in the scar and in "west", counted in both
    EXPECT_THAT(r.out, HasSubstr("By zone of "));
    EXPECT_THAT(r.out, HasSubstr("Change by zone (detected, m3)"));

    // Without a field each feature is a zone, named by its id; without
    // --change, the figures alone.
    r = report_with(out, "cmp", {"--zones", in.path("zones.gpkg")});
    ASSERT_EQ(r.status, 0) << r.err;
    const json by_id = json::parse(out.read("cmp_report.json"))["by_zone"];
    ASSERT_EQ(by_id.size(), 4u);
    for (size_t z = 0; z < 4; z++) EXPECT_EQ(by_id[z]["zone"], std::to_string(z + 1));
    EXPECT_FALSE(by_id[0].contains("change"));
    EXPECT_EQ(by_id[0]["n"], rows[0]["n"]);
}

TEST(ReportZones, Refusals) {
    Folder in, out;
    TestRaster a, b;
    slumped_pair(in, out, a, b, 68);
    auto refused = [&](const std::string &zones, const std::string &why) {
        const RunResult r = report_with(out, "cmp", {"--zones", zones});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr(why));
        EXPECT_FALSE(out.exists("cmp_report.json"));
    };
    const std::string square = feature(a, "a", {box(10, 10, 20, 20)});
    in.write("zones.geojson", collection({square}));
    refused(in.path("missing.gpkg"), "missing.gpkg do not exist");
    refused(in.path("a.tif"), "a.tif are not a vector file GDAL reads");
    // A FIFO (or a special file beside the zones) is refused, never waited on.
    ASSERT_EQ(mkfifo(in.path("fifo.geojson").c_str(), 0600), 0);
    refused(in.path("fifo.geojson"), "fifo.geojson cannot be read: it is not a regular file");
    in.write("beside.shp", "");
    ASSERT_EQ(mkfifo(in.path("beside.dbf").c_str(), 0600), 0);
    refused(in.path("beside.shp"), "beside.dbf beside it, which GDAL would read with it, is not a regular file");
    refused(in.path("zones.geojson") + ":kind", "have no field kind");
    in.write("dot.geojson", collection({R"({"type": "Feature", "properties": {}, "geometry": {"type": "Point", "coordinates": [1, 2]}})"}));
    refused(in.path("dot.geojson"), "dot.geojson hold no polygon");
    in.write("far.geojson", collection({feature(a, "far", {box(-5000, -5000, -4000, -4000)})}));
    refused(in.path("far.geojson"), "far.geojson do not overlap the compared rasters");
    in.write("nocrs.csv", "WKT,name\n\"POLYGON ((0 0,1 0,1 1,0 0))\",x\n");
    refused(in.path("nocrs.csv"), "nocrs.csv have no coordinate system");
    std::vector<std::string> many;
    for (int k = 0; k < 1001; k++) {
        std::string name = "z";
        name += std::to_string(k);
        many.push_back(feature(a, name, {box(k % 50, k / 50, k % 50 + 1, k / 50 + 1)}));
    }
    in.write("many.geojson", collection(many));
    refused(in.path("many.geojson") + ":name", "hold more than 1000 zones");
    // 8-bit images take zones.
    Folder img;
    TestRaster p = raster(40, 40, GDT_Byte, std::vector<double>(1600, 9)), q = p;
    for (size_t i = 0; i < 1600; i++) q.bands[0][i] = double(9 + i % 3);
    ASSERT_EQ(import_pair(in, img, p, q).status, 0);
    ASSERT_EQ(run_karvel(img.read("cmp.answers")).status, 0);
    in.write("img.geojson", collection({feature(p, "a", {box(0, 0, 20, 40)})}));
    const RunResult r = report_with(img, "cmp", {"--zones", in.path("img.geojson") + ":name"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json rows = json::parse(img.read("cmp_report.json"))["by_zone"];
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["n"], 800);
}

TEST(ReportZones, AZoneOverTheWholeGridHoldsTheWholeBudgetWithTheErrorOfStableCells) {
    Folder in, out;
    TestRaster a, b;
    slumped_pair(in, out, a, b, 68);
    TestRaster mask = raster(a.lines, a.cols, GDT_Byte, std::vector<double>(a.bands[0].size(), 1));
    std::copy(a.gt, a.gt + 6, mask.gt);
    for (int i = a.lines / 5; i < a.lines * 4 / 5; i++)
        for (int j = a.cols / 4; j < a.cols * 3 / 4; j++) mask.bands[0][size_t(i) * size_t(a.cols) + size_t(j)] = 0;
    write_tif(in.path("stable.tif"), mask);
    in.write("all.geojson", collection({feature(a, "all", {box(-1, -1, a.lines + 1, a.cols + 1)})}));
    RunResult r = report_with(out, "cmp", {"--change", "--sigma", "stable", "--stable", in.path("stable.tif"),
                                           "--zones", in.path("all.geojson") + ":name"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(out.read("cmp_report.json"));
    json whole = j["change"];
    for (const char *key : {"method", "sigma_by_slope", "n_stable", "sigma_all_stable_m", "confidence", "z"})
        whole.erase(key);
    ASSERT_EQ(j["by_zone"].size(), 1u);
    expect_same(j["by_zone"][0]["change"], whole, "all");
    EXPECT_EQ(j["by_zone"][0]["n"], j["n"]);
    EXPECT_GT(j["change"]["detected"]["erosion"]["cells"].get<double>(), 100);
}

TEST(ReportZones, ALargeZoneIsRankedDuringTheWalkFromItsSample) {
    // 1.15 million positions: a zone of 1.1 million is sought during the
    // walk, guided by its sample; a small one holds its differences.
    Folder in, out;
    const int lines = 1150, cols = 1000;
    std::vector<double> first, second;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            first.push_back(100 + j / 2 + i / 3);
            second.push_back(first.back() + double((i * 31 + j * 17) % 7 - 3) / 8 + (j % 101 == 0 ? 40 : 0));
        }
    TestRaster a = raster(lines, cols, GDT_Float32, first), b = raster(lines, cols, GDT_Float32, second);
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "mm"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    in.write("zones.geojson", collection({feature(a, "big", {box(0, 0, 1100, cols)}),
                                          feature(a, "small", {box(1120, 100, 1140, 200)})}));
    const RunResult r = report_with(out, "cmp", {"--zones", in.path("zones.geojson") + ":name"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json rows = json::parse(out.read("cmp_report.json"))["by_zone"];
    ASSERT_EQ(rows.size(), 2u);
    for (size_t z = 0; z < 2; z++) {
        std::vector<double> xs, ys;
        for (int i = 0; i < lines; i++)
            for (int j = 0; j < cols; j++)
                if (z == 0 ? i < 1100 : (i >= 1120 && i < 1140 && j >= 100 && j < 200)) {
                    xs.push_back(double(std::llround(first[size_t(i * cols + j)] * 1000)) * 0.001);
                    ys.push_back(double(std::llround(second[size_t(i * cols + j)] * 1000)) * 0.001);
                }
        std::map<std::string, double> want = expected(xs, ys);
        for (const char *key : {"n", "median_diff", "nmad", "le90", "le95"})
            EXPECT_EQ(rows[z][key].get<double>(), want[key]) << z << " " << key;
        EXPECT_NEAR(rows[z]["mean_diff"].get<double>(), want["mean_diff"], 1e-9);
    }
}

TEST(ReportZones, EveryMapOutlinesTheZonesAtTheirCoordinatesAndOnlyWithZones) {
    Folder in, out;
    TestRaster a, b;
    slumped_pair(in, out, a, b, 68);
    const std::vector<std::string> maps = {"diff_map", "resid_map", "change_detected"};
    RunResult r = report_with(out, "cmp", {"--change", "--lod", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> plain;
    for (const auto &m : maps) plain[m] = out.read("cmp_report/" + m + ".gp");
    EXPECT_FALSE(out.exists("cmp_report/zones_outline.dat"));

    // A square large enough for its name, and a zone of a cell that is too small for it.
    in.write("zones.geojson", collection({feature(a, "square", {box(10, 10, 50, 60)}),
                                          feature(a, "speck", {box(70, 70, 71, 71)})}));
    r = report_with(out, "cmp", {"--change", "--lod", "2", "--zones", in.path("zones.geojson") + ":name"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The outline file: one block a ring, the square's corners in order, closed.
    const std::string data = out.read("cmp_report/zones_outline.dat");
    std::vector<std::pair<double, double>> square;
    std::istringstream lines(data.substr(data.find("# zone square\n")));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && !line.empty()) {
        double x = 0, y = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf", &x, &y), 2) << line;
        square.push_back({x, y});
    }
    const std::vector<std::pair<double, double>> corners = {{10, 10}, {10, 60}, {50, 60}, {50, 10}, {10, 10}};
    ASSERT_EQ(square.size(), corners.size()) << data;
    for (size_t k = 0; k < corners.size(); k++) {
        EXPECT_NEAR(square[k].first, a.gt[0] + corners[k].second * a.gt[1], 1e-6) << k;
        EXPECT_NEAR(square[k].second, a.gt[3] + corners[k].first * a.gt[5], 1e-6) << k;
    }
    EXPECT_THAT(data, HasSubstr("# zone speck\n"));
    for (const auto &m : maps) {
        const std::string sc = out.read("cmp_report/" + m + ".gp");
        // Both plots (the PNG's and the PDF's) draw the outlines; the square
        // is named at a point inside it, the speck not at all.
        size_t plots = 0;
        for (size_t at = sc.find("\"zones_outline.dat\" using 1:2"); at != std::string::npos;
             at = sc.find("\"zones_outline.dat\" using 1:2", at + 1))
            plots++;
        EXPECT_EQ(plots, 2u) << m;
        const size_t label = sc.find("set label 1 'square' at ");
        ASSERT_NE(label, std::string::npos) << m;
        double x = 0, y = 0;
        ASSERT_EQ(std::sscanf(sc.c_str() + label, "set label 1 'square' at %lf,%lf", &x, &y), 2) << m;
        EXPECT_GT(x, a.gt[0] + 10 * a.gt[1]);
        EXPECT_LT(x, a.gt[0] + 60 * a.gt[1]);
        EXPECT_LT(y, a.gt[3] + 10 * a.gt[5]);
        EXPECT_GT(y, a.gt[3] + 50 * a.gt[5]);
        EXPECT_THAT(sc, Not(HasSubstr("'speck'")));
        // Without the outlines' plots and lines, the script is the one without zones.
        std::string bare = sc;
        const std::string outline = ", \\\n       \"zones_outline.dat\"";
        for (size_t at = 0; (at = bare.find(outline)) != std::string::npos;)
            bare.erase(at, bare.find('\n', at + 4) - at);
        std::string kept;
        std::istringstream s(bare);
        for (const char *added : {"# zones_outline.dat", "set clip two", "set style textbox", "set label"})
            EXPECT_THAT(sc, HasSubstr(std::string("\n") + added)) << m;
        while (std::getline(s, line)) {
            bool added = false;
            for (const char *p : {"# zones_outline.dat", "set clip two", "set style textbox", "set label"})
                added = added || line.rfind(p, 0) == 0;
            if (!added) kept += line + "\n";
        }
        EXPECT_EQ(kept, plain[m]) << m;
        EXPECT_TRUE(out.exists("cmp_report/" + m + ".png")) << m;
    }
}
