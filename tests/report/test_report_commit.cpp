// How the report's files reach the folder and how it opens what it reads:
// a kill at any rename of its commit leaves the earlier report, the new one
// or a set its manifest calls torn (which the next report replaces); a FIFO
// that GDAL would read is refused, not waited on.
#include <sys/stat.h>

#include "report_e2e.h"

namespace {

const std::vector<std::string> kSetFiles = {"cmp_report.json", "cmp_diff.tif", "cmp_resid.tif", "cmp_report.pdf",
                                            "cmp_report.manifest"};

// The files of the report of "cmp" (beside karvel's and in cmp_report/),
// with their contents.
FileSet report_set(const Folder &f) { return result_set_files(f, kSetFiles, "cmp_report"); }

// Puts the report of "cmp" back to `set` exactly.
void restore_report(const Folder &f, const FileSet &set) { restore_result_set(f, kSetFiles, "cmp_report", set); }

// A georeferenced pair of 20 x 20 DEMs imported into `out` and compared
// by karvel as "cmp"; `rise` lifts the second.
void compared_pair(const Folder &in, const Folder &out, double rise) {
    std::vector<double> v(20 * 20);
    for (size_t i = 0; i < v.size(); i++) v[i] = 50 + double(i % 20) + 2 * double(i / 20);
    TestRaster a = raster(20, 20, GDT_Float32, v), b = a;
    for (size_t i = 0; i < v.size(); i++) b.bands[0][i] += rise * double(i % 7) / 7;
    ASSERT_EQ(import_pair(in, out, a, b, {"--unit", "m"}).status, 0);
    ASSERT_EQ(run_karvel(out.read("cmp.answers")).status, 0);
}

}  // namespace

// Killed at each rename of its commit, a report leaves the earlier report
// whole, the new one whole (the PDF aside, whose bytes hold the time it was
// drawn: it is new or earlier with the rest), or its manifest, which names
// the torn set; the next report replaces a torn set whole.
TEST(ReportCommit, AKillAtAnyRenameLeavesNoMixedSet) {
    if (usable_strace().empty()) GTEST_SKIP() << "strace is missing or may not trace a child here";
    Folder in, out;
    compared_pair(in, out, 1);
    ASSERT_EQ(report(out, "cmp").status, 0);
    const FileSet earlier = report_set(out);
    compared_pair(in, out, 3);
    // The renames before the manifest's (GDAL's, gnuplot's) touch no file
    // of the set: the kills start at the last of them.
    const std::vector<std::string> renames = renames_of(KARVEL_REPORT_LOCAL_BIN, {out.name(), "cmp"});
    int first = 1;
    while (first <= int(renames.size()) && renames[size_t(first - 1)].find("cmp_report.manifest") == std::string::npos)
        first++;
    ASSERT_LE(first, int(renames.size()));

    FileSet replaced;
    const std::vector<FileSet> states = killed_at_each_rename(
        KARVEL_REPORT_LOCAL_BIN, {out.name(), "cmp"}, std::max(1, first - 1), [&] { restore_report(out, earlier); },
        [&] { return report_set(out); }, &replaced);
    ASSERT_FALSE(replaced.empty());
    EXPECT_EQ(replaced.count("cmp_report.manifest"), 0u);
    // Without the PDF, what is the earlier report's and what the new one's.
    auto without_pdf = [](FileSet set) {
        set.erase("cmp_report.pdf");
        return set;
    };
    ASSERT_GE(states.size(), 10u);
    EXPECT_EQ(states.front(), earlier);
    EXPECT_EQ(states.size(), renames.size() - size_t(std::max(1, first - 1)) + 1);
    const int torn = torn_or_whole(states, earlier, replaced, "cmp_report.manifest", "karvel-report",
                                   {"cmp_report.pdf"}, "cmp_report/headline.gp");
    // Only the kills before the manifest's rename and as it is renamed
    // leave the earlier report.
    EXPECT_EQ(torn, int(states.size()) - (first > 1 ? 2 : 1));

    restore_report(out, states[states.size() / 2]);
    ASSERT_EQ(report(out, "cmp").status, 0);
    EXPECT_EQ(without_pdf(report_set(out)), without_pdf(replaced));
}

// A report of an import whose commit was cut is refused, naming the torn
// set, before anything of it is read.
TEST(ReportCommit, ATornImportIsRefusedByName) {
    Folder in, out;
    compared_pair(in, out, 1);
    out.write("cmp_import.manifest",
              "{\"program\": \"karvel-import\", \"result\": \"cmp\", \"run\": "
              "\"00000000000000ff\", \"files\": [{\"name\": \"cmp.answers\", \"bytes\": 9}]}\n");
    RunResult r = report(out, "cmp");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err,
                HasSubstr("karvel-report: the files karvel-import wrote for the result \"cmp\" in " + out.shown("") +
                          " are a torn set: its run 00000000000000ff was stopped while they "
                          "took their names, so some may be new and some earlier ones (" +
                          out.shown("cmp_import.manifest") + " names them); run karvel-import for the result again"));
    EXPECT_FALSE(out.exists("cmp_report.json"));
    out.write("cmp_import.manifest", "{\"program\": ");
    r = report(out, "cmp");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err,
                HasSubstr("the manifest " + out.shown("cmp_import.manifest") + " says that the files of a result"));
}

// GDAL reads NAME.aux.xml beside a raster: a FIFO there beside the raster
// of classes is refused, and a FIFO given for it too, never waited on.
TEST(ReportOpens, AFifoIsRefusedNotWaitedOn) {
    Folder in, out;
    compared_pair(in, out, 1);
    write_tif(in.path("classes.tif"), raster(20, 20, GDT_Byte, std::vector<double>(400, 1)));
    ASSERT_EQ(mkfifo(in.path("classes.tif.aux.xml").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(in.path("fifo.tif").c_str(), 0600), 0);
    const auto report_with = [&](const std::string &classes) {
        return run_program("/usr/bin/timeout", {"60", KARVEL_REPORT_LOCAL_BIN, "--classes", classes, out.name(), "cmp"},
                           "");
    };
    RunResult r = report_with(in.path("classes.tif"));
    EXPECT_EQ(r.status, 1) << "124 is the timeout's: the report waited on the FIFO";
    EXPECT_THAT(r.err, HasSubstr("the file " + in.path("classes.tif.aux.xml") +
                                 " beside it, which GDAL would read with it, is not a regular file"));
    r = report_with(in.path("fifo.tif"));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("is not a regular file"));
    EXPECT_FALSE(out.exists("cmp_report.json"));
}
