// How the import's files reach the folder and how its inputs are opened: a
// kill at any rename of the commit leaves the earlier set, the new set or a
// set its manifest calls torn (which karvel-report refuses, naming it, and
// the next import replaces); every raster is checked to be a regular file
// before GDAL opens it; a mask that cannot serve says why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "rasters.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The files of a folder with their contents, but the hidden temporary
// files that a killed run leaves to the next.
FileSet visible_files(const Folder &f) {
    FileSet all;
    for (const std::string &name : files_in(f.path("")))
        if (name[0] != '.') all[name] = f.read(name);
    return all;
}

// Puts the folder back to `files` exactly.
void restore(const Folder &f, const FileSet &files) {
    for (const std::string &name : files_in(f.path(""))) std::filesystem::remove(f.path(name));
    for (const auto &[name, bytes] : files) f.write(name, bytes);
}

RunResult report_on(const Folder &f) { return run_program(KARVEL_REPORT_LOCAL_BIN, {f.name(), "r"}, ""); }

}  // namespace

// The earlier import left a co-registration (the shift it found); the new
// one, of another pair, co-registers nothing, so its commit removes it.
// Killed at each of its renames, the folder holds the earlier set whole,
// the new set whole, or the manifest of the torn set, which the report
// refuses by name before it reads a figure.
TEST(ImportCommit, AKillAtAnyRenameLeavesNoMixedSet) {
    if (usable_strace().empty()) GTEST_SKIP() << "strace is missing or may not trace a child here";
    Folder in, out;
    ASSERT_EQ(import_pair(in, out, ramp(3, 4, 1), ramp(3, 4, 2), {"--result", "r"}).status, 0);
    out.write("r_coreg.json", "{\"shift_east_m\": 3.008}\n");
    const FileSet earlier = visible_files(out);
    write_tif(in.path("a.tif"), ramp(5, 6, 3));
    write_tif(in.path("b.tif"), ramp(5, 6, 4));
    const std::vector<std::string> args = {"--result", "r", in.path("a.tif"), in.path("b.tif"), out.name()};

    FileSet replaced;
    const std::vector<FileSet> states = killed_at_each_rename(
        KARVEL_IMPORT_BIN, args, 1, [&] { restore(out, earlier); }, [&] { return visible_files(out); }, &replaced);
    ASSERT_FALSE(replaced.empty());
    EXPECT_EQ(replaced.count("r_coreg.json"), 0u);
    EXPECT_EQ(replaced.count("r_import.manifest"), 0u);
    // The manifest, both rasters with a header, unit file and description
    // each, the answers and R_inputs.json: eleven renames at least.
    EXPECT_GE(states.size(), 11u);
    EXPECT_EQ(states.front(), earlier);
    int torn = 0;
    for (size_t k = 0; k < states.size(); k++) {
        if (states[k] == earlier || states[k] == replaced) continue;
        ASSERT_EQ(states[k].count("r_import.manifest"), 1u) << "a mixed set after a kill at rename " << k + 1;
        torn++;
        if (torn > 2) continue;  // the report's refusal, seen for the first torn sets
        restore(out, states[k]);
        const RunResult r = report_on(out);
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("the files karvel-import wrote for the result \"r\" in " + out.shown("") +
                                     " are a torn set"));
        EXPECT_THAT(r.err, HasSubstr(out.shown("r_import.manifest")));
        EXPECT_THAT(r.err, Not(HasSubstr("moved")));
    }
    EXPECT_GE(torn, 10);

    // The next import replaces the torn set whole, manifest included.
    restore(out, states[3]);
    ASSERT_EQ(run_import(args).status, 0);
    EXPECT_EQ(visible_files(out), replaced);
}

// A FIFO given for any raster the import opens (FIRST, SECOND, the stable
// mask, or a file GDAL reads beside one) is refused at once, not waited on.
TEST(ImportOpens, AFifoIsRefusedNotWaitedOn) {
    Folder in, out;
    write_tif(in.path("a.tif"), ramp(3, 4, 1));
    write_tif(in.path("b.tif"), ramp(3, 4, 2));
    ASSERT_EQ(mkfifo(in.path("fifo.tif").c_str(), 0600), 0);
    const std::string timeout = "/usr/bin/timeout";
    const auto import_with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"20", KARVEL_IMPORT_BIN});
        return run_program(timeout, args, "");
    };
    RunResult r = import_with({"--coregister", "--stable", in.path("fifo.tif"), in.path("a.tif"), in.path("b.tif"),
                               out.name()});
    EXPECT_EQ(r.status, 1) << "124 is the timeout's: the import waited on the FIFO";
    EXPECT_THAT(r.err, HasSubstr("the stable mask " + in.path("fifo.tif") + " cannot be used: it is not a regular file"));

    r = import_with({in.path("fifo.tif"), in.path("b.tif"), out.name()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("it is not a regular file"));

    // GDAL reads NAME.aux.xml beside a GeoTIFF: a FIFO there is refused too.
    ASSERT_EQ(mkfifo(in.path("b.tif.aux.xml").c_str(), 0600), 0);
    r = import_with({in.path("a.tif"), in.path("b.tif"), out.name()});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the file " + in.path("b.tif.aux.xml") +
                                 " beside it, which GDAL would read with it, is not a regular file"));
    EXPECT_TRUE(files_in(out.path("")).empty());
}

// A stable mask that is a vector file, or a raster without georeferencing,
// is refused with what it is and what to do.
TEST(ImportOpens, AMaskThatCannotServeSaysWhy) {
    Folder in, out;
    write_tif(in.path("a.tif"), ramp(40, 40, 1));
    write_tif(in.path("b.tif"), ramp(40, 40, 1));
    in.write("mask.geojson",
             "{\"type\": \"FeatureCollection\", \"features\": [{\"type\": \"Feature\", \"properties\": {}, "
             "\"geometry\": {\"type\": \"Point\", \"coordinates\": [500100, 5399900]}}]}\n");
    const auto import_with = [&](const std::string &mask) {
        return run_import({"--coregister", "--stable", in.path(mask), in.path("a.tif"), in.path("b.tif"), out.name()});
    };
    RunResult r = import_with("mask.geojson");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot be used: it is a vector file (GeoJSON), and a raster is needed: burn it "
                                 "into one first, for instance with gdal_rasterize"));
    EXPECT_THAT(r.err, Not(HasSubstr("GDAL gave no reason")));

    TestRaster bare = ramp(40, 40, 0);
    bare.epsg = 0;
    write_tif(in.path("bare.tif"), bare);
    r = import_with("bare.tif");
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot be used: it has no georeferencing (no coordinate system)"));
    EXPECT_THAT(r.err, HasSubstr("gdal_edit.py -a_srs"));
    EXPECT_THAT(r.err, Not(HasSubstr("(none)")));
}
