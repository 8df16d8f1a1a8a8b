// How karvel-points' files reach the folder: a kill at any rename of its
// commit leaves the earlier set, the new set or a set its manifest calls
// torn, which the next run replaces whole.
#include <gtest/gtest.h>
#include "points_e2e.h"


namespace {

const std::vector<std::string> kSetFiles = {"r_points.json", "r_points.csv",        "r_points.gpkg",
                                            "r_coreg.json",  "r_points_report.pdf", "r_points.manifest"};

FileSet points_set(const Folder &f) { return result_set_files(f, kSetFiles, "r_points_report"); }

void restore_points(const Folder &f, const FileSet &set) { restore_result_set(f, kSetFiles, "r_points_report", set); }

// The GeoPackage and the PDF hold the time they were written: they are
// new or earlier with the rest, never equal to either byte for byte.
FileSet without_dated(FileSet set) {
    set.erase("r_points.gpkg");
    set.erase("r_points_report.pdf");
    return set;
}

}  // namespace

// Two runs co-registering the DEM, the second to other points: killed at
// each rename of the second's commit, the folder holds the earlier set whole,
// the new set whole, or the manifest that names the torn set; the next run
// replaces a torn set whole.
TEST(PointsCommit, AKillAtAnyRenameLeavesNoMixedSet) {
    if (usable_strace().empty()) GTEST_SKIP() << "strace is missing or may not trace a child here";
    Folder in, out;
    write_tif(in.path("dem.tif"), hills_dem(0, 0, GDT_Float32));
    in.write("p.csv", points_on(hills, 200, kSide * kCell, 0.1));
    const std::vector<std::string> args = {"--coregister",     "--result",       "r",       "--srs", "EPSG:32610",
                                           in.path("dem.tif"), in.path("p.csv"), out.name()};
    ASSERT_EQ(run_points(args).status, 0);
    const FileSet earlier = points_set(out);
    in.write("p.csv", points_on(hills, 300, kSide * kCell, 0.4));

    // The renames before the manifest's (the figures' in their scratch
    // folder) touch no file of the set: the kills start at the last of them.
    const std::vector<std::string> renames = renames_of(KARVEL_POINTS_BIN, args);
    int first = 1;
    while (first <= int(renames.size()) && renames[size_t(first - 1)].find("r_points.manifest") == std::string::npos)
        first++;
    ASSERT_LE(first, int(renames.size()));

    FileSet replaced;
    const std::vector<FileSet> states = killed_at_each_rename(
        KARVEL_POINTS_BIN, args, std::max(1, first - 1), [&] { restore_points(out, earlier); },
        [&] { return points_set(out); }, &replaced);
    ASSERT_FALSE(replaced.empty());
    EXPECT_EQ(replaced.count("r_coreg.json"), 1u);
    EXPECT_EQ(replaced.count("r_points.manifest"), 0u);
    ASSERT_GE(states.size(), 10u);
    EXPECT_EQ(states.front(), earlier);
    EXPECT_EQ(states.size(), renames.size() - size_t(std::max(1, first - 1)) + 1);
    const int torn = torn_or_whole(states, earlier, replaced, "r_points.manifest", "karvel-points",
                                   {"r_points.gpkg", "r_points_report.pdf"}, "r_points.csv");
    // Only the kills before the manifest's rename and as it is renamed
    // leave the earlier set.
    EXPECT_EQ(torn, int(states.size()) - (first > 1 ? 2 : 1));

    restore_points(out, states[states.size() / 2]);
    ASSERT_EQ(run_points(args).status, 0);
    EXPECT_EQ(without_dated(points_set(out)), without_dated(replaced));
}
