#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numfmt.h"

namespace {
std::string lf(double v) {
    std::string s;
    append_lf(s, v);
    return s;
}
}  // namespace

TEST(NumberFormat, FixedSixDecimalsRoundedToNearest) {
    EXPECT_EQ(lf(0.5), "0.500000");
    EXPECT_EQ(lf(-0.5), "-0.500000");
    EXPECT_EQ(lf(1.4142135623), "1.414214");
    EXPECT_EQ(lf(-0.15873015873), "-0.158730");
    EXPECT_EQ(lf(10000000.0), "10000000.000000");
    EXPECT_EQ(lf(1e20), "100000000000000000000.000000");
    EXPECT_EQ(lf(0.0000004), "0.000000");
    EXPECT_EQ(lf(0.0000006), "0.000001");
}

TEST(NumberFormat, NonFiniteValuesCarryTheirSign) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(lf(inf), "+INF");
    EXPECT_EQ(lf(-inf), "-INF");
    EXPECT_EQ(lf(nan), "+NAN");
    EXPECT_EQ(lf(-nan), "-NAN");
    EXPECT_EQ(lf(std::copysign(nan, -1.0)), "-NAN");
}

TEST(NumberFormat, KfmtHandlesEveryConversionTheProgramUses) {
    EXPECT_EQ(kfmt("%d\t%lf\t%lf\n", -3, 2.0, -std::numeric_limits<double>::infinity()), "-3\t2.000000\t-INF\n");
    EXPECT_EQ(kfmt("No File %s \n", "c:\\images\\a.raw"), "No File c:\\images\\a.raw \n");
    EXPECT_EQ(kfmt("%lld %zu 100%%", 4294967296LL, size_t(7)), "4294967296 7 100%");
}

TEST(NumberScan, SignDigitsAndWhatIsLeft) {
    int v = 42;
    bool big = false;
    size_t pos = 0;
    std::string s = "-17abc";
    ASSERT_TRUE(scan_int(s.data(), s.size(), &pos, &v, &big));
    EXPECT_EQ(v, -17);
    EXPECT_EQ(pos, 3u);
    EXPECT_FALSE(big);

    // No digit: nothing consumed, the sign included.
    pos = 0;
    v = 42;
    s = "-x";
    EXPECT_FALSE(scan_int(s.data(), s.size(), &pos, &v, &big));
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(v, 42);
    s = "dem";
    EXPECT_FALSE(scan_int(s.data(), s.size(), &pos, &v, &big));

    pos = 0;
    s = "+2147483647";
    ASSERT_TRUE(scan_int(s.data(), s.size(), &pos, &v, &big));
    EXPECT_EQ(v, 2147483647);
    EXPECT_FALSE(big);
    pos = 0;
    s = "-2147483648";
    ASSERT_TRUE(scan_int(s.data(), s.size(), &pos, &v, &big));
    EXPECT_EQ(v, -2147483647 - 1);
    EXPECT_FALSE(big);
    pos = 0;
    s = "99999999999999999999999 ";
    ASSERT_TRUE(scan_int(s.data(), s.size(), &pos, &v, &big));
    EXPECT_TRUE(big);
    EXPECT_EQ(v, 2147483647);
    EXPECT_EQ(pos, s.size() - 1);
}

TEST(NumberFormat, FixedDecimalsAndTheShortestExactForm) {
    EXPECT_EQ(fixed_decimals(2.0, 0), "2");
    EXPECT_EQ(fixed_decimals(-0.0, 3), "-0.000");
    EXPECT_EQ(fixed_decimals(0.0006, 3), "0.001");
    EXPECT_EQ(fixed_decimals(-12.5, 6), "-12.500000");
    EXPECT_EQ(fixed_decimals(1e300, 1).size(), 303u);  // every digit of a large value, none cut
    EXPECT_EQ(exact_number(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(exact_number(3.0), "3");
    EXPECT_EQ(exact_number(-0.0), "-0");
    EXPECT_EQ(exact_number(5e-324), "5e-324");
    EXPECT_EQ(exact_number(1e300), "1e+300");
}
