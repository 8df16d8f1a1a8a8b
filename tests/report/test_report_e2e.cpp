// karvel-report run on the results of real karvel runs, without a terminal
// (and once with standard error on one, for its progress).
#include "report_e2e.h"

TEST(Report, ConstantOffsetOddCount) {
    Folder f;
    std::vector<int> a, b;
    for (int i = 0; i < 5 * 7; i++) a.push_back(100 + (i * 13) % 29), b.push_back(a.back() + 5);
    compare_dems(f, 5, 7, a, b);
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = json_numbers(f.read("r_report.json"));
    EXPECT_EQ(j.at("n"), 35);
    EXPECT_EQ(j.at("mean_diff"), 5);
    EXPECT_EQ(j.at("sd_diff"), 0);
    EXPECT_EQ(j.at("median_diff"), 5);
    EXPECT_EQ(j.at("nmad"), 0);
    EXPECT_EQ(j.at("le90"), 5);
    EXPECT_EQ(j.at("le95"), 5);
    EXPECT_EQ(j.at("rms_n"), 5);
    EXPECT_EQ(j.at("rms"), std::sqrt(35 * 25.0 / 34));
    EXPECT_NEAR(j.at("r"), 1.0, 1e-12);
    EXPECT_EQ(j.at("b1"), 1.0);
    EXPECT_EQ(j.at("b0"), 5.0);
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"unit\": \"m\""));
    EXPECT_THAT(r.out, HasSubstr("agree with the summary"));
}

TEST(Report, ALargeComparisonFindsItsRanksInTheOneWalk) {
    // Over a million positions: the ranks are sought during the walk from a
    // sample read before it, the signed histogram binned in it too. Terrain
    // with ties and outliers, then a constant offset (no spread: the NMAD
    // takes a walk of its own).
    const int lines = 1025, cols = 1024;
    for (int kind = 0; kind < 2; kind++) {
        Folder f;
        std::vector<int> a, b;
        for (int i = 0; i < lines * cols; i++) {
            const int line = i / cols, col = i % cols;
            a.push_back(2000 + (line * 7 + col * 3) % 500 + (i * 37) % 11);
            b.push_back(kind == 1 ? a.back() + 4 : a.back() + int(i * 7919LL % 9) - 3 + (i % 1009 == 0 ? 400 : 0));
        }
        compare_dems(f, lines, cols, a, b);
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << r.err;
        expect_figures(json_numbers(f.read("r_report.json")), expected(a, b));
        // The signed histogram counts every difference once, drawn or beyond the axis.
        const std::string data = f.read("r_report/diff_histogram.dat");
        long long drawn = 0;
        std::istringstream in(data);
        for (std::string row; std::getline(in, row);)
            if (!row.empty() && row[0] != '#') drawn += std::stoll(row.substr(row.find('\t') + 1));
        const std::string script = f.read("r_report/diff_histogram.gp");
        const size_t beyond = script.find(" beyond the axis");
        const long long outside =
            beyond == std::string::npos ? 0 : std::stoll(script.substr(script.rfind('(', beyond) + 1));
        EXPECT_EQ(drawn + outside, (long long)lines * cols) << kind;
    }
}

TEST(Report, LinearRelationWithOutliersOddAndEvenCounts) {
    for (int lines : {7, 8}) {  // 63 and 72 positions
        Folder f;
        std::vector<int> a, b;
        linear_pair(lines, 9, a, b);
        compare_dems(f, lines, 9, a, b);
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << r.err;
        expect_figures(json_numbers(f.read("r_report.json")), expected(a, b));
    }
}

TEST(Report, FiguresPdfAndScriptsThatRedraw) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(40, 50, a, b);
    compare_dems(f, 40, 50, a, b);
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string dir = f.path("r_report");
    for (const auto &name : kFigures) expect_picture(dir + "/" + name + ".png");
    expect_picture(dir + "/error_histogram.png", 1000, 750);
    expect_picture(dir + "/profiles.png", 1000, 1000);
    EXPECT_TRUE(fs::exists(dir + "/relief.rgba")) << "the maps of DEMs lie over a shaded relief";

    RunResult info = run({"pdfinfo", f.path("r_report.pdf")});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_THAT(info.out, ::testing::ContainsRegex("Pages: +" + std::to_string(kFigures.size()) + "\n"));

    // Each script redraws its figure on its own, from the folder's data.
    for (const auto &name : kFigures) {
        const std::string png = dir + "/" + name + ".png";
        const RasterRead before = gdal_read(png);
        fs::remove(png);
        RunResult g = run({"gnuplot", name + ".gp"}, "", dir);
        EXPECT_EQ(g.status, 0) << name << ": " << g.err;
        expect_picture(png, before.cols, before.lines);
    }
}

// Rasters whose per-line figures or fitted line have no finite value: a
// constant first raster (no line can be fitted), one column, one position.
TEST(Report, DegenerateRastersStillGiveEveryFigure) {
    struct Case {
        int lines, cols;
        std::vector<int> a, b;
    };
    const Case cases[] = {{3, 4, std::vector<int>(12, 50), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
                          {5, 1, {1, 2, 3, 4, 5}, {2, 2, 4, 4, 7}},
                          {1, 1, {5}, {7}}};
    for (const Case &c : cases) {
        Folder f;
        compare_dems(f, c.lines, c.cols, c.a, c.b);
        RunResult r = report(f);
        ASSERT_EQ(r.status, 0) << c.lines << " x " << c.cols << ": " << r.err;
        RunResult info = run({"pdfinfo", f.path("r_report.pdf")});
        EXPECT_THAT(info.out, ::testing::ContainsRegex("Pages: +" + std::to_string(kFigures.size()) + "\n"));
        // One position has no RMS (a division by n − 1 = 0): the JSON's null, in words.
        EXPECT_EQ(r.out.find("infinite"), std::string::npos) << r.out;
        if (c.lines * c.cols == 1) {
            EXPECT_THAT(r.out, HasSubstr("\tRMS error (over n - 1, as karvel)          not defined\n"));
        }
    }
}

// Names are text in the scripts: gnuplot would run a backquoted command.
TEST(Report, NamesNeverRunAsCommands) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(4, 5, a, b);
    const std::string result = "q`touch${IFS}RAN`'x";
    compare_dems(f, 4, 5, a, b, result);
    RunResult r = report(f, result);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(f.path(result + "_report/RAN")));
    EXPECT_THAT(f.read(result + "_report/headline.gp"), HasSubstr("'Comparison q`touch${IFS}RAN`''x'"));
    RunResult g = run({"gnuplot", "headline.gp"}, "", f.path(result + "_report"));
    EXPECT_EQ(g.status, 0) << g.err;
    EXPECT_FALSE(fs::exists(f.path(result + "_report/RAN")));
}

// A report whose drawing fails leaves the earlier report as it was: no new
// script beside an earlier picture, and no scratch folder.
TEST(Report, AFailedReportLeavesTheEarlierOneWhole) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(4, 5, a, b);
    compare_dems(f, 4, 5, a, b);
    ASSERT_EQ(report(f).status, 0);
    std::map<std::string, std::string> before;
    for (const auto &e : fs::directory_iterator(f.path("r_report")))
        before[e.path().filename()] = f.read("r_report/" + e.path().filename().string());
    f.write("r_report/mine.gp", "# a user's own script\n");

    // The same pair with its second raster changed, drawn by a gnuplot that fails.
    for (int &v : b) v += 3;
    compare_dems(f, 4, 5, a, b);
    const std::string bin = f.path("fakebin");
    fs::create_directories(bin);
    f.write("fakebin/gnuplot", "#!/bin/sh\nexit 1\n");
    fs::permissions(bin + "/gnuplot", fs::perms::owner_all);
    RunResult r = report(f, "r", bin + ":/usr/bin:/bin");
    EXPECT_EQ(r.status, 1);
    for (const auto &[name, bytes] : before) EXPECT_EQ(f.read("r_report/" + name), bytes) << name;
    EXPECT_TRUE(f.exists("r_report/mine.gp"));
    for (const auto &e : fs::directory_iterator(f.path("")))
        EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();

    // Drawn again for real, the new figures replace the old, and the user's file stays.
    ASSERT_EQ(report(f).status, 0);
    EXPECT_NE(f.read("r_report/headline.gp"), before["headline.gp"]);
    EXPECT_TRUE(f.exists("r_report/mine.gp"));
}

TEST(Report, GeoTiffsHoldTheDifferencesWhereTheSourceLies) {
    // The whole path: two GeoTIFFs imported, compared by karvel, reported.
    Folder in, out;
    const int lines = 6, cols = 9;
    std::vector<double> first, second;
    for (int i = 0; i < lines * cols; i++) first.push_back(100 + i * 3 % 17), second.push_back(2 * first.back() - 7 + i % 4);
    write_tif(in.path("a.tif"), raster(lines, cols, GDT_Int16, first));
    write_tif(in.path("b.tif"), raster(lines, cols, GDT_Int16, second));
    ASSERT_EQ(run_import({in.path("a.tif"), in.path("b.tif"), out.name()}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    RunResult r = report(out, "cmp");
    ASSERT_EQ(r.status, 0) << r.err;
    const ReadBack src = read_raster(in.path("a.tif"));
    const ReadBack diff = read_raster(out.path("cmp_diff.tif")), resid = read_raster(out.path("cmp_resid.tif"));
    ASSERT_EQ(diff.cols, cols);
    ASSERT_EQ(diff.lines, lines);
    ASSERT_EQ(resid.cols, cols);
    EXPECT_EQ(diff.type, GDT_Float32);
    ASSERT_TRUE(diff.has_gt && src.has_gt);
    for (int k = 0; k < 6; k++) EXPECT_EQ(diff.gt[k], src.gt[k]) << k;
    EXPECT_EQ(diff.authority, src.authority);
    EXPECT_EQ(resid.authority, src.authority);
    const auto j = json_numbers(out.read("cmp_report.json"));
    for (size_t i = 0; i < first.size(); i++) {
        EXPECT_EQ(diff.values[i], double(float(second[i] - first[i]))) << i;
        EXPECT_EQ(resid.values[i], double(float(second[i] - (first[i] * j.at("b1") + j.at("b0"))))) << i;
    }
    RunResult gi = run({"gdalinfo", out.path("cmp_diff.tif")});
    EXPECT_THAT(gi.out, HasSubstr("COMPRESSION=DEFLATE"));
}

// The first and last rows and columns of a picture that hold at least
// `least` pixels within 6 levels of the colour: the extent of an area of it.
struct Extent {
    int top = -1, bottom = -1, left = -1, right = -1;
};
Extent extent_of(const RasterRead &png, const int rgb[3], int least) {
    Extent e;
    std::vector<int> rows(size_t(png.lines)), cols(size_t(png.cols));
    for (int y = 0; y < png.lines; y++)
        for (int x = 0; x < png.cols; x++) {
            const size_t k = size_t(y) * png.cols + x;
            bool near = true;
            for (int c = 0; c < 3; c++) near = near && std::fabs(png.band[size_t(c)][k] - rgb[c]) <= 6;
            if (near) rows[size_t(y)]++, cols[size_t(x)]++;
        }
    for (int y = 0; y < png.lines; y++)
        if (rows[size_t(y)] >= least) e.bottom = y, e.top = e.top < 0 ? y : e.top;
    for (int x = 0; x < png.cols; x++)
        if (cols[size_t(x)] >= least) e.right = x, e.left = e.left < 0 ? x : e.left;
    return e;
}

TEST(Report, GeographicMapsShowTheNorthUpAndTheCellsGroundShape) {
    // Two 8-bit images (no relief over the colours) of 20 × 20 cells of
    // 0.01 degree about 60°N, where a cell is twice as high on the ground as
    // it is wide; the second is 40 grey levels brighter in the northern half.
    Folder in, out;
    const int lines = 20, cols = 20;
    std::vector<double> first, second;
    for (int i = 0; i < lines * cols; i++) first.push_back(50 + i % 7), second.push_back(first.back() + (i < 200 ? 40 : 0));
    TestRaster a = raster(lines, cols, GDT_Byte, first), b = raster(lines, cols, GDT_Byte, second);
    for (TestRaster *t : {&a, &b}) {
        const double gt[6] = {10, 0.01, 0, 60.1, 0, -0.01};
        std::copy(gt, gt + 6, t->gt);
        t->epsg = 4326;
    }
    ASSERT_EQ(import_pair(in, out, a, b).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
    RunResult r = report(out, "cmp");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(out.read("cmp_report/diff_map.gp"), HasSubstr("set xlabel 'longitude (degrees)'"));
    // The cells' 98th percentile (40) ends the colours: the north in the
    // scale's darkest red, the south in its middle, above one another.
    const RasterRead png = gdal_read(out.path("cmp_report/diff_map.png"));
    ASSERT_GE(png.bands, 3);
    const int red[3] = {0x67, 0x00, 0x1f}, pale[3] = {0xf7, 0xf7, 0xf7};
    const Extent north = extent_of(png, red, 100), south = extent_of(png, pale, 100);
    ASSERT_GE(north.top, 0);
    ASSERT_GE(south.top, 0);
    EXPECT_LT(north.bottom, south.top);
    EXPECT_NEAR(north.bottom - north.top, south.bottom - south.top, 4);
    EXPECT_NEAR(north.left, south.left, 2);
    EXPECT_NEAR(north.right, south.right, 2);
    // A degree of latitude is 111.4 km there and one of longitude 55.8 km.
    EXPECT_NEAR(double(south.bottom - north.top + 1) / (north.right - north.left + 1), 111.4 / 55.8, 0.03);
}

TEST(Report, ImagesHaveGreyLevelsAndNoRelief) {
    Folder f;
    std::vector<int> p, q;
    for (int i = 0; i < 6 * 6; i++) p.push_back((i * 7) % 256), q.push_back((i * 7 + (i % 5)) % 256);
    f.write("p.raw", bytes8(p));
    f.write("p.txt", description(6, 6, 1));
    f.write("q.raw", bytes8(q));
    f.write("q.txt", description(6, 6, 1));
    ASSERT_EQ(run_karvel(f.name() + "\n1\np\nq\nr\n").status, 0);
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"unit\": \"grey level\""));
    expect_figures(json_numbers(f.read("r_report.json")), expected(p, q));
    EXPECT_FALSE(f.exists("r_report/relief.rgba"));
    expect_picture(f.path("r_report/diff_map.png"));
}

TEST(Report, Refusals) {
    Folder f;
    // No summary.
    RunResult r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no summary c:\\images\\" + f.name() + "\\r_karvel.txt"));

    std::vector<int> a, b;
    linear_pair(6, 6, a, b);
    compare_dems(f, 6, 6, a, b);
    const std::string summary = f.read("r_karvel.txt");
    ASSERT_EQ(report(f).status, 0);
    const std::string json = f.read("r_report.json"), pdf = f.read("r_report.pdf");

    // An incomplete summary: a run stopped before its end.
    f.write("r_karvel.txt", summary.substr(0, summary.find("\tB0_Calc")));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("r_karvel.txt cannot be reported on: it is incomplete"));

    // A raster changed since the run: the sums no longer agree.
    f.write("r_karvel.txt", summary);
    b[10] += 3;
    f.write("b_m4.raw", bytes32(b));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no longer agree (one or the other changed since the run)"));
    EXPECT_THAT(r.err, HasSubstr("RMS_Error"));
    // What a killed report left is removed, and named, by the next one.
    {
        const pid_t child = fork();
        if (child == 0) _exit(0);
        waitpid(child, nullptr, 0);
        const std::string scratch = ".r_report." + std::to_string(child) + ".tmp";
        const std::string part = ".r_diff.tif." + std::to_string(child) + ".0.tmp";
        fs::create_directory(f.path(scratch));
        f.write(scratch + "/profiles.gp", "partial");
        f.write(part, "partial");
        r = report(f);
        EXPECT_THAT(r.err, HasSubstr("karvel-report: removed what runs that were killed left in "));
        EXPECT_THAT(r.err, HasSubstr(part));
        EXPECT_THAT(r.err, HasSubstr(scratch));
        EXPECT_FALSE(fs::exists(f.path(scratch)));
        EXPECT_FALSE(f.exists(part));
    }
    // A refused report leaves the earlier one as it was, and no file behind.
    EXPECT_EQ(f.read("r_report.json"), json);
    EXPECT_EQ(f.read("r_report.pdf"), pdf);
    for (const auto &e : fs::directory_iterator(f.path("")))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();

    // A summary whose fitted line was edited: B0 no longer follows from the sums.
    b[10] -= 3;
    f.write("b_m4.raw", bytes32(b));
    const size_t b0_at = summary.find("\tB0 = ") + 6;
    std::string edited = summary;
    edited.replace(b0_at, summary.find(' ', b0_at) - b0_at, "12.345678");
    f.write("r_karvel.txt", edited);
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("B0 12.345678 in the summary"));
    EXPECT_THAT(r.err, Not(HasSubstr("RMS_Error")));
    f.write("r_karvel.txt", summary);
    b[10] += 3;

    // A histogram table that counts more positions than there are.
    const std::string hist = f.read("r_karvel_regres_lin.xls");
    f.write("r_karvel_regres_lin.xls", "1\t40\r\n");
    b[10] -= 3;
    f.write("b_m4.raw", bytes32(b));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("counts more positions than the 36 of the rasters"));
    f.write("r_karvel_regres_lin.xls", hist);

    // A raster whose description gives another size.
    f.write("b_m4.txt", description(6, 5, 4, 10));
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("b_m4.txt gives 6 lines and 5 columns"));
}

TEST(Report, CommandLine) {
    RunResult r = run({KARVEL_REPORT_LOCAL_BIN, "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("Usage: karvel-report [--slope-edges E0,E1,...] [--classes RASTER] FOLDER RESULT"));
    EXPECT_EQ(run({KARVEL_REPORT_LOCAL_BIN}).status, 2);
    EXPECT_EQ(run({KARVEL_REPORT_LOCAL_BIN, "a", "b", "c"}).status, 2);
    EXPECT_EQ(run({KARVEL_REPORT_LOCAL_BIN, "-h"}).out, r.out);
    // A usage error: what is wrong, then the usage line.
    const std::string usage = "Usage: karvel-report [--slope-edges E0,E1,...] [--classes RASTER] FOLDER RESULT\n"
                              "Try 'karvel-report --help'.\n";
    r = run({KARVEL_REPORT_LOCAL_BIN, "--fast", "a", "b"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "karvel-report: unknown option --fast\n" + usage);
    r = run({KARVEL_REPORT_LOCAL_BIN, "a", "b", "--slope-edges"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "karvel-report: --slope-edges needs a value\n" + usage);
    // After "--" a word that looks like an option is a folder.
    r = run({KARVEL_REPORT_LOCAL_BIN, "--", "-dem", "r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no summary c:\\images\\-dem\\r_karvel.txt to report on"));
    // A folder that leads out of the images directory, as karvel-import refuses it.
    r = run({KARVEL_REPORT_LOCAL_BIN, "../x", "r"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "karvel-report: the folder \"../x\" leads out of the images directory\n");
    // One that stays within it, however written, is taken; an absolute one is refused.
    r = run({KARVEL_REPORT_LOCAL_BIN, "a/../b", "r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no summary c:\\images\\a/../b\\r_karvel.txt to report on"));
    r = run({KARVEL_REPORT_LOCAL_BIN, "/abs", "r"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "karvel-report: the folder \"/abs\" is an absolute path; a folder lies within the images "
                     "directory c:\\images\\\n");
    std::string long_name(100, 'n');
    r = run({KARVEL_REPORT_LOCAL_BIN, "dem", long_name});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("result name"));
    // Without gnuplot nothing is drawn: refused before any work.
    Folder f;
    r = report(f, "r", "/nonexistent");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("gnuplot is not installed"));
}

TEST(Report, ProgressOnlyWhereStandardErrorIsATerminal) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(9, 11, a, b);
    compare_dems(f, 9, 11, a, b);
    const RunResult plain = report(f);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "");
    // Standard error on a terminal, standard output into a file.
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string out_path = f.path("stdout.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(slave, 2);
        close(master);
        execl(KARVEL_REPORT_LOCAL_BIN, KARVEL_REPORT_LOCAL_BIN, f.name().c_str(), "r", (char *)nullptr);
        _exit(127);
    }
    close(slave);
    std::string err;
    char buf[4096];
    for (ssize_t got; (got = read(master, buf, sizeof buf)) > 0;) err.append(buf, size_t(got));  // EIO at the end
    close(master);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << err;
    // GDAL's progress (the terminal ends each line with CR LF); standard
    // output as without a terminal.
    EXPECT_EQ(err, "Reading " + f.shown("a_m4.raw") + " and " + f.shown("b_m4.raw") +
                       "\r\n0...10...20...30...40...50...60...70...80...90...100 - done.\r\n");
    EXPECT_EQ(f.read("stdout.txt"), plain.out);
}

