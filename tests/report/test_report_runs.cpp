// karvel-report against runs that changed, were stopped or were co-registered:
// what it refuses, what a signal leaves, what the headline says.
#include "report_e2e.h"

TEST(Report, ARasterShorterThanItsDescriptionIsSaidAsKarvelSaysIt) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(20, 20, a, b);
    compare_dems(f, 20, 20, a, b);
    ASSERT_EQ(report(f).status, 0);
    // b = 2a − 900: its mean difference is larger than either raster's
    // spread, the only warning of the whole files.
    const std::string mean_warning = "the mean difference, 174.407 m, is larger than the spread of either raster's "
                                     "values (sd 29.819 m and 84.152 m): a unit or datum error usually causes this";
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"warnings\": [\n    \"" + mean_warning + "\"\n  ],\n"));
    // 111 of the 400 samples: the rest reads as zeros, in karvel and in the report.
    a.resize(111);
    f.write("a_m4.raw", bytes32(a));
    RunResult k = run_karvel(f.name() + "\n0\na\n1\nb\n1\nr\n0\n0\n");
    std::string said = "the file " + f.shown("a_m4.raw");
    said += " holds 444 bytes, but 20 lines of 20 columns of 4-byte samples need 1600 bytes";
    ASSERT_THAT(k.out, HasSubstr("\n\tWarning: " + said));
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("\tWarning: " + said + "\n"));
    std::string escaped;
    for (char c : said) {
        if (c == '\\') escaped += c;
        escaped += c;
    }
    // karvel's own warning first, then the report's of the values read.
    EXPECT_THAT(f.read("r_report.json"), HasSubstr("\"warnings\": [\n    \"" + escaped + "\",\n    \"the mean difference"));
    RunResult text = run({"pdftotext", f.path("r_report.pdf"), "-"});
    EXPECT_THAT(text.out, HasSubstr("444 bytes"));
}

// Whether each of the four sums of a pair read at `factor`, printed as the
// summary prints it, reads back as the very double: then the report counts
// karvel's histogram in its one walk, else in one more after it.
bool sums_print_every_bit(int lines, int cols, const std::vector<int> &a, const std::vector<int> &b,
                          double factor) {
    RasterSums sums;
    std::vector<double> x(static_cast<size_t>(cols)), y(static_cast<size_t>(cols));
    for (int i = 0; i < lines; i++) {
        for (int j = 0; j < cols; j++) {
            x[size_t(j)] = double(a[size_t(i * cols + j)]) * factor;
            y[size_t(j)] = double(b[size_t(i * cols + j)]) * factor;
        }
        line_walk(x.data(), y.data(), cols, sums);
    }
    for (double v : {sums.Suma_X, sums.Suma_Y, sums.Suma_XY, sums.Suma_X2}) {
        char text[64];
        std::snprintf(text, sizeof text, "%f", v);
        if (std::strtod(text, nullptr) != v) return false;
    }
    return true;
}

TEST(Report, TablesOfAnotherRunAreRefused) {
    // Sums of whole meters print every bit; those of decimeters in meters
    // do not.
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "sums that print every bit" : "sums that do not");
        Folder f, other;
        std::vector<int> a, b;
        const std::string unit = whole ? "0" : "1";
        linear_pair(12, 9, a, b);
        ASSERT_EQ(sums_print_every_bit(12, 9, a, b, whole ? 1.0 : 0.1), whole);
        compare_dems(f, 12, 9, a, b, "r", unit);
        for (int &v : b) v += 250;  // another comparison of the same size
        b[7] -= 4000;
        compare_dems(other, 12, 9, a, b, "r", unit);
        ASSERT_EQ(report(f).status, 0);
        const std::string table = f.read("r_karvel.xls"), histogram = f.read("r_karvel_regres_lin.xls");
        ASSERT_NE(other.read("r_karvel.xls"), table);

        f.write("r_karvel.xls", other.read("r_karvel.xls"));
        RunResult r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("the per-line table " + f.shown("r_karvel.xls") + " is not the one of the summary " +
                                     f.shown("r_karvel.txt") + ": its row of line 0 differs"));
        f.write("r_karvel.xls", table);
        f.write("r_karvel_regres_lin.xls", other.read("r_karvel_regres_lin.xls"));
        r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("the histogram table " + f.shown("r_karvel_regres_lin.xls") +
                                     " is not the one of the summary " + f.shown("r_karvel.txt")));
        // One count less in the first bin that counts any; the last row left out.
        std::string edited, shortened;
        long long bin = 0, count = 0, last = 0;
        size_t at = 0;
        while (at < histogram.size()) {
            const size_t end = histogram.find("\r\n", at), tab = histogram.find('\t', at);
            long long k = std::stoll(histogram.substr(at, tab - at)),
                      c = std::stoll(histogram.substr(tab + 1, end - tab - 1));
            if (end + 2 < histogram.size()) shortened += histogram.substr(at, end + 2 - at);
            last = c;
            if (bin == 0 && c > 0) bin = k, count = c--;
            edited += std::to_string(k) + "\t" + std::to_string(c) + "\r\n";
            at = end + 2;
        }
        ASSERT_GT(bin, 0);
        ASSERT_GT(last, 0);
        f.write("r_karvel_regres_lin.xls", edited);
        r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("it counts " + std::to_string(count - 1) + " errors in bin " +
                                     std::to_string(bin) + ", the rasters " + std::to_string(count)));
        f.write("r_karvel_regres_lin.xls", shortened);
        r = report(f);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr(": " + std::to_string(last) + " errors of the rasters lie beyond its last bin"));
        f.write("r_karvel_regres_lin.xls", histogram);
        EXPECT_EQ(report(f).status, 0);
    }
}

TEST(Report, TheStatusAfterASignalTellsWhetherTheNewReportIsInPlace) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(300, 300, a, b);
    compare_dems(f, 300, 300, a, b);
    // How long a whole report takes here, to spread the signals over it.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(report(f).status, 0);
    const double whole = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    int in_place = 0, stopped = 0;
    for (int k = 0; k < 12; k++) {
        f.write("r_report.json", "earlier");
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0), dup2(null, 1), dup2(null, 2);
            execl(KARVEL_REPORT_LOCAL_BIN, KARVEL_REPORT_LOCAL_BIN, f.name().c_str(), "r", (char *)nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(whole * (0.6 + 0.5 * k / 12.0)));
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        const bool replaced = f.read("r_report.json") != "earlier";
        const bool success = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        EXPECT_EQ(success, replaced) << "try " << k << ", status " << status;
        (success ? in_place : stopped)++;
    }
    EXPECT_GT(stopped, 0);  // the signals did come during the work
}

// The GeoTIFFs' largest size against the free space, before any is begun:
// a summary of 100000 × 1000000 positions needs 800 GB of them.
TEST(Report, GeoTiffsLargerThanTheFreeSpaceAreRefused) {
    Folder f;
    compare_dems(f, 1, 2, {1, 2}, {2, 2});
    struct statvfs disk;
    ASSERT_EQ(statvfs(f.path("").c_str(), &disk), 0);
    if (uint64_t(disk.f_bavail) * disk.f_frsize > 800e9) GTEST_SKIP() << "the disk has room for 800 GB";
    std::string summary = f.read("r_karvel.txt");
    summary.replace(summary.find("1 lines and 2"), 13, "100000 lines and 1000000");
    f.write("r_karvel.txt", summary);
    const std::string table = f.read("r_karvel.xls");
    const size_t figures = table.find("\r\n0\t") + 3;  // line 0's, for every line
    const std::string row = table.substr(figures, table.find("\r\n", figures) - figures) + "\n";
    std::string rows = summary_text::kLineTableHeader;
    for (int i = 0; i < 100000; i++) rows += std::to_string(i) + row;
    f.write("r_karvel.xls", crlf(rows));
    for (const char *d : {"a_m4.txt", "b_m4.txt"}) f.write(d, description(100000, 1000000, 4, 10));
    const RunResult r = run({"timeout", "120", KARVEL_REPORT_LOCAL_BIN, f.name(), "r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("karvel-report: the two GeoTIFFs may not fit on the disk (uncompressed, at most): "));
    EXPECT_FALSE(fs::exists(f.path("r_report.json")));
    for (const auto &e : fs::directory_iterator(f.path("")))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

// A report blocked on its console once its files are in place (the reader
// of its standard output stopped reading) and then sent SIGTERM ends with
// status 0 and says what it wrote: the new report stands.
TEST(Report, ASignalAfterTheNewReportIsInPlaceDoesNotMakeItAFailure) {
    Folder f;
    std::vector<int> a, b;
    linear_pair(150, 150, a, b);
    compare_dems(f, 150, 150, a, b);
    f.write("r_report.json", "earlier");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(out[1], 1), dup2(null, 2);
        close(out[0]), close(out[1]);
        execl(KARVEL_REPORT_LOCAL_BIN, KARVEL_REPORT_LOCAL_BIN, f.name().c_str(), "r", (char *)nullptr);
        _exit(127);
    }
    // Read the console up to the headline, printed before the figures are
    // drawn, then fill the pipe so that "Written" cannot be printed.
    std::string said;
    char buf[4096];
    while (said.find("agree with the summary.\n") == std::string::npos) {
        const ssize_t n = read(out[0], buf, sizeof buf);
        ASSERT_GT(n, 0) << said;
        said.append(buf, size_t(n));
    }
    // Through a description of its own: the report's stays blocking.
    const int fill = open(("/proc/self/fd/" + std::to_string(out[1])).c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fill, 0);
    close(out[1]);
    const std::string filler(4096, '\n');
    while (write(fill, filler.data(), filler.size()) > 0) {}
    for (int k = 0; k < 600 && f.read("r_report.json") == "earlier"; k++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_NE(f.read("r_report.json"), "earlier");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, SIGTERM);
    close(fill);
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) said.append(buf, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_NE(said.find("\tWritten: "), std::string::npos) << said.substr(said.size() > 400 ? said.size() - 400 : 0);
}

// The shift that karvel-import found, beside the summary, is in the
// headline (console, JSON); one that is not whole is refused, named.
TEST(Report, TheCoregistrationBesideTheSummaryIsInTheHeadline) {
    Folder f;
    compare_dems(f, 2, 3, {1, 2, 3, 4, 5, 6}, {2, 2, 4, 4, 6, 6});
    f.write("r_coreg.json", "{\n  \"dx_m\": -12.500000,\n  \"dy_m\": 3.250000,\n  \"dz_m\": 0.750000,\n"
                            "  \"bias_removed\": true,\n  \"iterations\": 3,\n  \"nmad_before\": 4.000000,\n"
                            "  \"nmad_after\": 0.500000,\n  \"n_fit\": 1234,\n  \"method\": \"nuth_kaab\"\n}\n");
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("\tCo-registration: SECOND moved east         -12.500000 m\n"
                                 "\tCo-registration: SECOND moved north        3.250000 m\n"
                                 "\tVertical bias dz (removed)                 0.750000 m\n"
                                 "\tNMAD before co-registration                4.000000 m\n"
                                 "\tNMAD after co-registration                 0.500000 m\n"));
    EXPECT_THAT(f.read("r_report.json"),
                HasSubstr("\"coreg\": {\"dx_m\": -12.500000, \"dy_m\": 3.250000, \"dz_m\": 0.750000, \"bias_removed\": "
                          "true, \"iterations\": 3, \"nmad_before\": 4.000000, \"nmad_after\": 0.500000, \"n_fit\": 1234}"));
    f.write("r_coreg.json", "{\n  \"dx_m\": -12.5,\n  \"dy_m\": \n");
    r = report(f);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the co-registration " + f.shown("r_coreg.json") +
                                 " cannot be used: its \"dy_m\" is missing or not a number"));
}


// One cell 200 km off (a hole's marker taken for data): karvel's table has
// two million bins. The report holds them in groups, checks each group's
// count and fingerprint, and draws a figure of at most ten thousand bins.
TEST(Report, AHistogramOfMillionsOfBinsStaysBounded) {
    Folder f;
    std::vector<int> a, b;
    for (int i = 0; i < 400; i++) {
        a.push_back(100 + i % 20 + i / 20);
        b.push_back(a.back() + i % 3);
    }
    b[123] = 200000;
    compare_dems(f, 20, 20, a, b);
    const std::string table = f.read("r_karvel_regres_lin.xls");
    ASSERT_GT(std::count(table.begin(), table.end(), '\n'), 1900000);
    RunResult r = report(f);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string data = f.read("r_report/error_histogram.dat");
    ASSERT_LE(std::count(data.begin(), data.end(), '\n'), 10001);
    EXPECT_EQ(data.rfind("# bin of 256 bins\terror from (m)\tcount\n", 0), 0u) << data.substr(0, 80);
    long long counted = 0;
    std::istringstream rows(data.substr(data.find('\n') + 1));
    for (std::string line; std::getline(rows, line);) counted += std::stoll(line.substr(line.rfind('\t') + 1));
    EXPECT_EQ(counted, 400);

    // A count moved to the other bin of its group of two, then to a far bin.
    auto row_of = [](size_t k) {
        std::string row = "\n";
        row += std::to_string(k);
        return row += '\t';
    };
    auto moved = [&](size_t from, size_t to) {
        std::string t = table;
        for (size_t k : {from, to}) {
            const std::string row = row_of(k);
            const size_t at = t.find(row) + row.size(), end = t.find('\r', at);
            const long long c = std::stoll(t.substr(at, end - at)) + (k == from ? -1 : 1);
            t.replace(at, end - at, std::to_string(c));
        }
        f.write("r_karvel_regres_lin.xls", t);
        return report(f);
    };
    size_t from = 2;  // a bin of an even number with a count, its group's other bin one above
    while (table.find(row_of(from) + "0\r") != std::string::npos) from += 2;
    r = moved(from, from + 1);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("in other bins than the rasters do"));
    r = moved(from, 1500001);
    EXPECT_EQ(r.status, 1);
    // The first group that differs: the one the count left.
    EXPECT_THAT(r.err, HasSubstr("errors in bins " + std::to_string(from) + " to " + std::to_string(from + 1) +
                                 ", the rasters "));
}
