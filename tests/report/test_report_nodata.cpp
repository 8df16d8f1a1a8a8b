// karvel-report on rasters with positions without data: the figures are
// taken over the positions karvel compared, and nothing else.
#include "report_e2e.h"

// Positions without data: where a header declares a no-data value, the
// report leaves out exactly the positions karvel left out.
namespace {

enum class Headers { none, without_value, with_value };

// A pair with an irregular outline and holes, compared by karvel: the first
// a 32-bit DEM in decimetres without data (-9999) outside an ellipse and in
// a block, the second a 16-bit DEM in metres without data (65535) in
// scattered cells and along one whole line. x and y are the values of the
// positions with data in both, in metres, in position order.
struct HoledPair {
    int lines = 0, cols = 0;
    std::vector<bool> keep;
    std::vector<double> x, y;
};

HoledPair holed_pair(const Folder &f, int lines, int cols, Headers headers) {
    HoledPair p;
    p.lines = lines, p.cols = cols;
    std::vector<int> a, b;
    for (int i = 0; i < lines; i++)
        for (int j = 0; j < cols; j++) {
            const int k = i * cols + j;
            const double di = (i - lines / 2.0) / (lines / 2.0), dj = (j - cols / 2.0) / (cols / 2.0);
            // Three positions in five differ by nothing: more than half of
            // the differences equal their median, which takes the NMAD a
            // walk of its own where it is sought during the walk.
            const bool same = k % 5 < 3;
            a.push_back(10 * (400 + (i * 37 + j * 11) % 90) + (same ? 0 : k * 7 % 10));
            b.push_back(a.back() / 10 + (same ? 0 : int(k * 7919LL % 7) - 3) + (k % 211 == 0 ? 60 : 0));
            if (di * di + dj * dj > 1 || (i >= lines / 5 && i < lines / 5 + lines / 8 && j >= cols / 4 &&
                                          j < cols / 4 + cols / 6))
                a.back() = -9999;
            if ((i * 7 + j * 3) % 41 == 0 || i == lines / 3) b.back() = 65535;
            p.keep.push_back(a.back() != -9999 && b.back() != 65535);
            if (p.keep.back()) p.x.push_back(double(a.back()) * 0.1), p.y.push_back(double(b.back()));
        }
    f.write("a_m4.raw", bytes32(a));
    f.write("a_m4.txt", description(lines, cols, 4, 10));
    f.write("b_m2.raw", bytes16(b));
    f.write("b_m2.txt", description(lines, cols, 2, 10));
    if (headers != Headers::none) {
        const bool value = headers == Headers::with_value;
        const std::string size = "samples = " + std::to_string(cols) + "\nlines = " + std::to_string(lines) + "\n";
        f.write("a_m4.hdr", "ENVI\n" + size + "data type = 3\nbyte order = 0\n" +
                                (value ? "data ignore value = -9999\n" : ""));
        f.write("b_m2.hdr", "ENVI\n" + size + "data type = 12\nbyte order = 0\n" +
                                (value ? "data ignore value = 65535\n" : ""));
    }
    EXPECT_EQ(run_karvel(f.name() + "\n0\na\n1\nb\n0\nr\n1\n0\n").status, 0);
    return p;
}

std::vector<float> floats(const std::string &bytes) {
    std::vector<float> v(bytes.size() / sizeof(float));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
    return v;
}

// The counts of a figure's data file (column `column` of its rows).
long long counted(const std::string &data, int column) {
    long long total = 0;
    std::istringstream in(data);
    for (std::string row; std::getline(in, row);) {
        if (row.empty() || row[0] == '#') continue;
        std::istringstream fields(row);
        std::string v;
        for (int c = 0; c <= column; c++) fields >> v;
        total += std::stoll(v);
    }
    return total;
}

}  // namespace

TEST(ReportNoData, EveryFigureIsTakenOverThePositionsWithDataInBoth) {
    // 41 x 57 positions keep their differences; 1400 x 1100, of which more
    // than 4 x 262144 are kept, have their ranks sought during the walk and
    // their maps reduced to blocks of 2 x 2.
    for (const auto &[lines, cols] : {std::pair{41, 57}, std::pair{1400, 1100}}) {
        Folder f;
        const HoledPair p = holed_pair(f, lines, cols, Headers::with_value);
        const long long all = (long long)lines * cols, kept = (long long)p.x.size(), left = all - kept;
        if (lines > 1000) {
            ASSERT_GE(kept, 4 * 262144);
        }
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto j = json_numbers(f.read("r_report.json"));
        expect_figures(j, expected(p.x, p.y));
        EXPECT_EQ(j.at("n_left_out"), double(left));
        EXPECT_THAT(f.read("r_karvel.txt"), HasSubstr(": " + std::to_string(left) + " of " + std::to_string(all)));
        EXPECT_THAT(r.out, HasSubstr("Positions left out (no data)               " + std::to_string(left) + "\n"));
        // The fitted line of a plain loop, against the summary's six decimals.
        double X = 0, Y = 0, XY = 0, X2 = 0;
        for (size_t k = 0; k < p.x.size(); k++) X += p.x[k], Y += p.y[k], XY += p.x[k] * p.y[k], X2 += p.x[k] * p.x[k];
        const double B1 = (kept * XY - X * Y) / (kept * X2 - X * X);
        EXPECT_NEAR(j.at("b1"), B1, 1e-6);
        EXPECT_NEAR(j.at("b0"), (Y - X * B1) / kept, 1e-6);

        // Every figure counts the kept positions alone.
        EXPECT_EQ(counted(f.read("r_report/error_histogram.dat"), 2), kept);
        // The signed histogram: each kept difference in its bin of the axis
        // the script gives, or counted beyond it.
        const std::string script = f.read("r_report/diff_histogram.gp");
        const size_t axis = script.find("set xrange [") + 12, beyond = script.find(" beyond the axis");
        const double lo = std::stod(script.substr(axis)), hi = std::stod(script.substr(script.find(':', axis) + 1));
        std::vector<long long> bins(120, 0);
        long long outside = 0;
        for (size_t k = 0; k < p.x.size(); k++) {
            const double d = p.y[k] - p.x[k];
            if (d >= lo && d <= hi)
                bins[size_t(std::min(119.0, std::max(0.0, (d - lo) * (120 / (hi - lo)))))]++;
            else
                outside++;
        }
        std::vector<long long> drawn;
        std::istringstream rows(f.read("r_report/diff_histogram.dat"));
        for (std::string row; std::getline(rows, row);)
            if (row[0] != '#') drawn.push_back(std::stoll(row.substr(row.find('\t') + 1)));
        EXPECT_EQ(drawn, bins);
        EXPECT_EQ(beyond == std::string::npos ? 0 : std::stoll(script.substr(script.rfind('(', beyond) + 1)), outside);
        double in_scatter = 0;
        for (float c : floats(f.read("r_report/scatter.f32"))) in_scatter += std::isnan(c) ? 0 : c;
        EXPECT_EQ(in_scatter, double(kept));

        // The map's cells: the mean of the kept differences of each block,
        // none where a block has none.
        const int side = lines > 750 ? 2 : 1, map_lines = (lines + side - 1) / side, map_cols = (cols + side - 1) / side;
        const std::vector<float> cells = floats(f.read("r_report/diff_map.f32"));
        ASSERT_EQ(cells.size(), size_t(map_lines) * map_cols);
        std::vector<double> sum(cells.size(), 0.0);
        std::vector<int> in_cell(cells.size(), 0);
        for (int i = 0, k = 0; i < lines; i++)
            for (int c = 0; c < cols; c++) {
                if (!p.keep[size_t(i) * cols + c]) continue;
                const size_t cell = size_t(i / side) * map_cols + size_t(c / side);
                sum[cell] += p.y[size_t(k)] - p.x[size_t(k)], in_cell[cell]++, k++;
            }
        size_t wrong = 0;
        for (size_t k = 0; k < cells.size(); k++)
            if (in_cell[k] == 0 ? !std::isnan(cells[k]) : !(std::fabs(cells[k] - sum[k] / in_cell[k]) < 1e-4)) wrong++;
        EXPECT_EQ(wrong, 0u);
        EXPECT_THAT(f.read("r_report/diff_map.gp"), HasSubstr("; hatched grey: no data)"));
        if (lines > 1000) continue;

        // Both GeoTIFFs: not a number, declared as their nodata, exactly at
        // the positions left out.
        const RasterRead diff = gdal_read(f.path("r_diff.tif")), resid = gdal_read(f.path("r_resid.tif"));
        ASSERT_EQ(diff.band.at(0).size(), size_t(all));
        for (const RasterRead *t : {&diff, &resid}) {
            EXPECT_TRUE(t->has_nodata && std::isnan(t->nodata));
            EXPECT_EQ(t->unit, "m");
        }
        for (size_t k = 0, kk = 0; k < size_t(all); k++) {
            if (!p.keep[k]) {
                EXPECT_TRUE(std::isnan(diff.band[0][k]) && std::isnan(resid.band[0][k])) << k;
                continue;
            }
            const double x = p.x[kk], y = p.y[kk++];
            EXPECT_EQ(diff.band[0][k], double(float(y - x))) << k;
            EXPECT_EQ(resid.band[0][k], double(float(y - (x * j.at("b1") + j.at("b0"))))) << k;
        }
    }
}

TEST(ReportNoData, AHeaderThatDeclaresNoValueChangesNoFigure) {
    Folder plain, declared;
    holed_pair(plain, 23, 31, Headers::none);
    holed_pair(declared, 23, 31, Headers::without_value);
    ASSERT_EQ(report(plain).status, 0);
    ASSERT_EQ(report(declared).status, 0);
    EXPECT_EQ(declared.read("r_report.json"), plain.read("r_report.json"));
    EXPECT_THAT(plain.read("r_report.json"), Not(HasSubstr("n_left_out")));
    for (const auto &e : fs::directory_iterator(plain.path("r_report"))) {
        const std::string name = "r_report/" + e.path().filename().string();
        if (name.find(".gp") == std::string::npos && name.find(".png") == std::string::npos) {
            EXPECT_EQ(declared.read(name), plain.read(name)) << name;
        }
    }
    EXPECT_THAT(plain.read("r_report/diff_map.gp"), Not(HasSubstr("no data")));
    const RasterRead diff = gdal_read(plain.path("r_diff.tif"));
    EXPECT_FALSE(diff.has_nodata);
    EXPECT_EQ(diff.unit, "m");
}

TEST(ReportNoData, SummariesAndHeadersThatDisagreeAreRefused) {
    Folder f;
    const HoledPair p = holed_pair(f, 12, 14, Headers::with_value);
    const std::string summary = f.read("r_karvel.txt"), header = f.read("a_m4.hdr");
    const long long left = 12 * 14 - (long long)p.x.size();
    const std::string line = "(no data in either raster): " + std::to_string(left) + " of 168";
    ASSERT_THAT(summary, HasSubstr(line));
    auto refused = [&](const std::string &said) {
        RunResult r = report(f);
        EXPECT_EQ(r.status, 1) << said;
        EXPECT_THAT(r.err, HasSubstr(said));
    };
    std::string edited = summary;
    edited.replace(summary.find(line), line.size(), "(no data in either raster): " + std::to_string(left - 1) + " of 168");
    f.write("r_karvel.txt", edited);
    refused("the rasters and the summary " + f.shown("r_karvel.txt") + " no longer agree: it leaves out " +
            std::to_string(left - 1) + " of 168 positions (no data in either raster), the rasters now " +
            std::to_string(left));
    f.write("r_karvel.txt", summary);
    fs::remove(f.path("a_m4.hdr"));
    fs::remove(f.path("b_m2.hdr"));
    refused("the summary " + f.shown("r_karvel.txt") + " leaves out " + std::to_string(left) +
            " positions without data, but neither " + f.shown("a_m4.hdr") + " nor " + f.shown("b_m2.hdr") +
            " declares a no-data value");
    // A header written after a run that had none.
    ASSERT_EQ(run_karvel(f.name() + "\n0\na\n1\nb\n0\nr\n1\n0\n").status, 0);
    f.write("a_m4.hdr", header);
    refused("the summary " + f.shown("r_karvel.txt") + " leaves no position out, but the header " +
            f.shown("a_m4.hdr") + " declares the no-data value -9999");
    // Headers read as karvel reads them.
    f.write("a_m4.hdr", "ENVI\nsamples = 15\n");
    refused("the header " + f.shown("a_m4.hdr") + " does not agree with the description file " + f.shown("a_m4.txt") +
            ": it gives 15 samples where the description gives 14 columns");
    f.write("a_m4.hdr", "ENVI\ndata ignore value = none\n");
    refused("the header " + f.shown("a_m4.hdr") + " cannot be used: its data ignore value \"none\" is not a whole number");
    // A second value of a key, which GDAL would take instead of the first.
    f.write("a_m4.hdr", header + "data ignore value = -2147483648\n");
    refused("the header " + f.shown("a_m4.hdr") + " cannot be used: it gives the key \"data ignore value\" more than "
            "once, so that which of its values holds is not clear");
}

TEST(ReportNoData, ImportedImagesWithHolesLeaveThemOutOfTheGeoTiffs) {
    // 8-bit images with holes, imported from GeoTIFFs, compared by karvel
    // from the import's answers, reported.
    Folder in, out;
    const int lines = 9, cols = 13;
    std::vector<double> first, second;
    std::vector<bool> keep;
    for (int i = 0; i < lines * cols; i++) {
        const int line = i / cols, col = i % cols;
        const bool outside = std::abs(line - 4) + std::abs(col - 6) > 8;
        first.push_back(outside ? 0 : 20 + (i * 13) % 200);
        second.push_back(i % 10 == 3 ? 255 : std::min(254.0, first.back() + i % 5));
        keep.push_back(!outside && i % 10 != 3);
    }
    TestRaster a = raster(lines, cols, GDT_Byte, first), b = raster(lines, cols, GDT_Byte, second);
    a.has_nodata = b.has_nodata = true;
    a.nodata = 0;
    b.nodata = 255;
    ASSERT_EQ(import_pair(in, out, a, b).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    RunResult r = report(out, "cmp");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<double> x, y;
    for (size_t k = 0; k < keep.size(); k++)
        if (keep[k]) x.push_back(first[k]), y.push_back(second[k]);
    const auto j = json_numbers(out.read("cmp_report.json"));
    expect_figures(j, expected(x, y));
    EXPECT_EQ(j.at("n_left_out"), double(keep.size() - x.size()));
    const ReadBack src = read_raster(in.path("a.tif"));
    const RasterRead diff = gdal_read(out.path("cmp_diff.tif"));
    ASSERT_TRUE(diff.has_gt);
    for (int k = 0; k < 6; k++) EXPECT_EQ(diff.gt[k], src.gt[k]) << k;
    EXPECT_TRUE(diff.has_nodata && std::isnan(diff.nodata));
    EXPECT_EQ(diff.unit, "grey level");
    for (size_t k = 0; k < keep.size(); k++)
        EXPECT_TRUE(keep[k] ? diff.band[0][k] == second[k] - first[k] : std::isnan(diff.band[0][k])) << k;
}

