// What karvel-import writes for each kind of input: raw samples,
// descriptions, headers that GDAL reads back, and the answers file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "rasters.h"

using ::testing::HasSubstr;

namespace {

std::string descr(std::vector<long long> v) {
    std::string s;
    for (long long x : v) s += std::to_string(x) + "\r\n";
    return s;
}


void expect_header(const Folder &out, const std::string &raw, const TestRaster &src, GDALDataType type,
                   const std::vector<double> &values) {
    ReadBack rb = read_raster(out.path(raw));
    EXPECT_EQ(rb.driver, "ENVI") << raw;
    EXPECT_EQ(rb.lines, src.lines);
    EXPECT_EQ(rb.cols, src.cols);
    EXPECT_EQ(rb.type, type);
    ASSERT_TRUE(rb.has_gt);
    for (int k = 0; k < 6; k++) EXPECT_DOUBLE_EQ(rb.gt[k], src.gt[k]) << k;
    EXPECT_EQ(rb.authority, std::to_string(src.epsg));
    EXPECT_EQ(rb.values, values);
}

}  // namespace

TEST(ImportKinds, WholeNumberDemsKeepTheirValues) {
    Folder in, out;
    TestRaster a = raster(2, 3, GDT_UInt16, {0, 1, 65535, 1234, 40000, 7});
    a.unit = "metre";
    TestRaster b = raster(2, 3, GDT_Int16, {-32768, -1, 0, 5000, 32767, 12});
    RunResult r = import_pair(in, out, a, b);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out.read("a_m2.raw"), 2, false), (std::vector<long long>{0, 1, 65535, 1234, 40000, 7}));
    EXPECT_EQ(out.read("a_m2.txt"), descr({2, 3, 2, 0, 65535, 30}));
    EXPECT_EQ(samples(out.read("b_m4.raw"), 4, true), (std::vector<long long>{-32768, -1, 0, 5000, 32767, 12}));
    EXPECT_EQ(out.read("b_m4.txt"), descr({2, 3, 4, -32768, 32767, 30}));
    expect_header(out, "a_m2.raw", a, GDT_UInt16, a.bands[0]);
    expect_header(out, "b_m4.raw", b, GDT_Int32, b.bands[0]);
    EXPECT_EQ(out.read("cmp.answers"), out.name() + "\n0\na\n0\nb\n1\ncmp\n0\n0\n");
    EXPECT_THAT(r.out, HasSubstr("metres were assumed"));
    EXPECT_THAT(r.out, HasSubstr("< " + out.path("cmp.answers")));
    EXPECT_EQ(files_in(out.path("")),
              (std::vector<std::string>{"a_m2.hdr", "a_m2.raw", "a_m2.raw.aux.xml", "a_m2.txt", "b_m4.hdr", "b_m4.raw",
                                        "b_m4.raw.aux.xml", "b_m4.txt", "cmp.answers", "cmp_inputs.json"}));

    // Signed 32-bit samples in millimetres stay as they are, in millimetres;
    // unsigned ones too while they fit the signed range.
    Folder out2;
    TestRaster c = raster(1, 3, GDT_Int32, {-2000000000, 0, 2000000000});
    c.unit = "mm";
    TestRaster d = raster(1, 3, GDT_UInt32, {0, 7, 2147483647});
    d.unit = "cm";
    r = import_pair(in, out2, c, d, {"--names", "c", "d", "--result", "r"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out2.read("c_m4.raw"), 4, true), (std::vector<long long>{-2000000000, 0, 2000000000}));
    EXPECT_EQ(samples(out2.read("d_m4.raw"), 4, true), (std::vector<long long>{0, 7, 2147483647}));
    EXPECT_EQ(out2.read("r.answers"), out2.name() + "\n0\nc\n1\nd\n1\nr\n3\n2\n");

    // Signed 8-bit samples (stored as 251 for -5) become 32-bit.
    Folder out3;
    TestRaster e = raster(1, 3, GDT_Byte, {251, 0, 127});
    e.signed_byte = true;
    r = import_pair(in, out3, e, e);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out3.read("a_m4.raw"), 4, true), (std::vector<long long>{-5, 0, 127}));
    e.bands[0].push_back(128);  // -128, the nodata value
    e.cols = 4;
    e.has_nodata = true;
    e.nodata = -128;
    r = import_pair(in, out3, e, e);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Cells without data: 1 of FIRST (data ignore value -2147483648)"));
    EXPECT_EQ(samples(out3.read("a_m4.raw"), 4, true), (std::vector<long long>{-5, 0, 127, -2147483648LL}));
}

TEST(ImportKinds, OtherDemsAreConvertedAndRoundedHalvesAwayFromZero) {
    Folder in, out;
    // 2.0625 m is 2062.5 mm exactly: a half, rounded away from zero.
    const std::vector<double> metres = {2.0625, -2.0625, 1.25, 0.0001, -0.0004, 123.456};
    TestRaster a = raster(2, 3, GDT_Float32, metres);
    a.unit = "m";
    TestRaster b = raster(2, 3, GDT_Float32, {10, -3.5, 0, 1, 2, 100000});
    b.unit = "ft";
    RunResult r = import_pair(in, out, a, b);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<long long> want_a, want_b;
    for (double v : metres) want_a.push_back((long long)std::round(double(float(v)) * 1000.0));
    for (double v : b.bands[0]) want_b.push_back((long long)std::round(double(float(v)) * 304.8));
    EXPECT_EQ(samples(out.read("a_m4.raw"), 4, true), want_a);
    EXPECT_EQ(want_a[0], 2063);
    EXPECT_EQ(want_a[1], -2063);
    EXPECT_EQ(samples(out.read("b_m4.raw"), 4, true), want_b);
    EXPECT_EQ(out.read("a_m4.txt"), descr({2, 3, 4, -2063, 123456, 30}));
    EXPECT_EQ(out.read("cmp.answers"), out.name() + "\n0\na\n1\nb\n1\ncmp\n3\n3\n");
    EXPECT_THAT(r.out, HasSubstr("0.500000 mm"));  // the largest rounding error of a

    // What was written reads back through GDAL with its unit: importing it
    // again keeps the millimetres as they are.
    Folder again;
    r = run_import({"--names", "a", "b", out.path("a_m4.raw"), out.path("b_m4.raw"), again.name()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *f : {"a_m4.raw", "a_m4.txt", "b_m4.raw", "b_m4.txt"}) EXPECT_EQ(again.read(f), out.read(f)) << f;
    EXPECT_EQ(again.read("cmp.answers"), again.name() + "\n0\na\n1\nb\n1\ncmp\n3\n3\n");

    // --unit cm, and a band with a scale and an offset (value = raw × 0.1 + 5 m).
    Folder out2;
    TestRaster c = raster(1, 4, GDT_Int16, {100, -50, 0, 3});
    c.scale = 0.1;
    c.offset = 5;
    r = import_pair(in, out2, c, c, {"--unit", "cm"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out2.read("a_m4.raw"), 4, true), (std::vector<long long>{1500, 0, 500, 530}));
    EXPECT_EQ(out2.read("cmp.answers"), out2.name() + "\n0\na\n1\nb\n1\ncmp\n2\n2\n");
}

TEST(ImportKinds, ImagesBandsAndTheSmallestRaster) {
    Folder in, out;
    TestRaster a = raster(2, 2, GDT_Byte, {0, 127, 255, 3});
    TestRaster b = raster(2, 2, GDT_Byte, {9, 8, 7, 6});
    RunResult r = import_pair(in, out, a, b, {"--names", "p", "q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(out.read("p.raw"), std::string("\x00\x7f\xff\x03", 4));
    EXPECT_EQ(out.read("q.txt"), descr({2, 2, 1, 6, 9, 30}));
    EXPECT_EQ(out.read("cmp.answers"), out.name() + "\n1\np\nq\ncmp\n");
    expect_header(out, "p.raw", a, GDT_Byte, a.bands[0]);
    // A result name whose summary would replace a description.
    r = import_pair(in, out, a, b, {"--names", "r_karvel", "q", "--result", "r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("replace the description r_karvel.txt"));

    // The second band of multi-band files; a band that is not there.
    Folder out2;
    TestRaster m = raster(1, 2, GDT_Int16, {1, 2});
    m.bands.push_back({-7, 9});
    r = import_pair(in, out2, m, m, {"--band", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out2.read("a_m4.raw"), 4, true), (std::vector<long long>{-7, 9}));
    r = import_pair(in, out2, m, m, {"--band", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no band 3"));

    // One cell in a geographic grid: its pixel size is the ground size at its latitude.
    Folder out3;
    TestRaster g = raster(1, 1, GDT_Float64, {12.3456});
    g.epsg = 4326;
    const double gt[6] = {-123, 1.0 / 30, 0, 49, 0, -1.0 / 30};
    std::copy(gt, gt + 6, g.gt);
    r = import_pair(in, out3, g, g);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out3.read("a_m4.raw"), 4, true), (std::vector<long long>{12346}));
    // 2 arc-minutes at 48.98 degrees: about 2440 m east-west by 3706 m north-south.
    const std::string d = out3.read("a_m4.txt");
    EXPECT_EQ(d.substr(0, d.rfind("\r\n", d.size() - 3) + 2), descr({1, 1, 4, 12346, 12346}));
    const int pix = std::stoi(d.substr(d.rfind("\r\n", d.size() - 3) + 2));
    EXPECT_NEAR(pix, std::sqrt(2440.0 * 3706.0), 15);
    ReadBack rb = read_raster(out3.path("b_m4.raw"));
    EXPECT_EQ(rb.authority, "4326");
    EXPECT_DOUBLE_EQ(rb.gt[0], -123);
}

TEST(ImportKinds, IntegersBeyondThe32BitRange) {
    Folder in, out;
    // 3e9 mm does not fit 32-bit samples as it stands, 3e6 m does.
    TestRaster a = raster(1, 2, GDT_UInt32, {3000000000.0, 5});
    a.unit = "mm";
    RunResult r = import_pair(in, out, a, a, {"--unit", "m"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(samples(out.read("a_m4.raw"), 4, true), (std::vector<long long>{3000000, 0}));
    EXPECT_THAT(r.out, HasSubstr("beyond the signed 32-bit range"));

    Folder out2;
    TestRaster b = raster(2, 2, GDT_Float32, {1, 2, 3, 5e6});
    r = import_pair(in, out2, b, b);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("the value 5000000000.000 mm at line 1, column 1"));
    EXPECT_EQ(files_in(out2.path("")), std::vector<std::string>{});
}

TEST(ImportKinds, LargeInputsShowProgressOnStandardError) {
    Folder in, out;
    const int lines = 1001, cols = 1000;  // just over a million cells
    std::vector<double> v(size_t(lines) * cols);
    for (size_t i = 0; i < v.size(); i++) v[i] = double(i % 251);
    const TestRaster a = raster(lines, cols, GDT_Byte, v);
    RunResult r = import_pair(in, out, a, a);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("0...10...20...30...40...50...60...70...80...90...100 - done.\n"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("...")));
    EXPECT_EQ(out.read("a.raw").size(), size_t(lines) * cols);
    EXPECT_EQ(out.read("b.raw"), out.read("a.raw"));

    // A crop reads the window again: GDAL's progress starts anew, and only there.
    Folder out3;
    std::vector<double> w(size_t(lines + 1) * cols, 7);
    w[0] = 255;
    TestRaster holed = raster(lines + 1, cols, GDT_Byte, w);
    holed.has_nodata = true;
    holed.nodata = 255;
    r = import_pair(in, out3, holed, holed, {"--crop"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string line = "0...10...20...30...40...50...60...70...80...90...100 - done.\n";
    const std::string reading = "Reading " + in.path("a.tif") + " and " + in.path("b.tif") + "\n";
    EXPECT_EQ(r.err, reading + line + reading + line);
    EXPECT_EQ(out3.read("a.raw").size(), size_t(lines) * cols);

    Folder out2;
    r = import_pair(in, out2, raster(2, 2, GDT_Byte, {1, 2, 3, 4}), raster(2, 2, GDT_Byte, {1, 2, 3, 4}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}
