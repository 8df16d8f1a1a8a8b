#include <gtest/gtest.h>

#include <string>

#include "envi_header.h"

namespace {

std::string parsed(const std::string &text) {
    EnviHeader h;
    return parse_envi_header(text, h);
}

}  // namespace

// A key given twice, in any case and spacing, leaves unsure which value
// holds: GDAL takes the last, a reader of the first would take the first.
TEST(EnviHeader, AKeyGivenTwiceIsRefusedByName) {
    const std::string base = "ENVI\nsamples = 3\nlines = 2\ndata type = 3\n";
    EXPECT_EQ(parsed(base + "data ignore value = -2147483648\nData Ignore Value = 7\n"),
              "it gives the key \"data ignore value\" more than once, so that which of its values holds is not clear");
    EXPECT_EQ(parsed(base + "samples = 3\n"),
              "it gives the key \"samples\" more than once, so that which of its values holds is not clear");
    EXPECT_EQ(parsed(base + "band names = {a}\n  band names={b,\n c}\n"),
              "it gives the key \"band names\" more than once, so that which of its values holds is not clear");
    EnviHeader h;
    ASSERT_EQ(parse_envi_header(base + "data ignore value = -2147483648\ndescription = {data ignore value = 1}\n", h), "");
    EXPECT_EQ(h.ignore_text, "-2147483648");
    EXPECT_EQ(h.samples, 3);
}

// A count that no long long holds is called too large (or too small), with
// its key and value; other text is not a whole number; any number of
// leading zeros is still the number.
TEST(EnviHeader, CountsTooLargeToHoldAreToldFromTextThatIsNoNumber) {
    EXPECT_EQ(parsed("ENVI\nsamples = 99999999999999999999\n"),
              "its samples 99999999999999999999 is too large a number to hold (a field holds at most "
              "9223372036854775807)");
    EXPECT_EQ(parsed("ENVI\nlines = 9223372036854775808\n"),
              "its lines 9223372036854775808 is too large a number to hold (a field holds at most 9223372036854775807)");
    EXPECT_EQ(parsed("ENVI\nbyte order = -9223372036854775809\n"),
              "its byte order -9223372036854775809 is too small a number to hold (a field holds at least "
              "-9223372036854775808)");
    EXPECT_EQ(parsed("ENVI\nlines = 12x\n"), "its lines \"12x\" is not a whole number");
    EXPECT_EQ(parsed("ENVI\nlines = 1e30\n"), "its lines \"1e30\" is not a whole number");
    EXPECT_EQ(parsed("ENVI\nlines = -\n"), "its lines \"-\" is not a whole number");
    EXPECT_EQ(parsed("ENVI\nlines =\n"), "its lines \"\" is not a whole number");
    EXPECT_EQ(parsed("ENVI\nsamples = " + std::string(50, '9') + "\n"),
              "its samples " + std::string(40, '9') + "... is too large a number to hold (a field holds at most "
              "9223372036854775807)");
    EnviHeader h;
    ASSERT_EQ(parse_envi_header("ENVI\nlines = 00000000000000000000042\nsamples = 9223372036854775807\n", h), "");
    EXPECT_EQ(h.lines, 42);
    EXPECT_EQ(h.samples, 9223372036854775807LL);
}
