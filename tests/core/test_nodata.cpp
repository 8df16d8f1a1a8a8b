#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "nodata.h"
#include "raster.h"

TEST(NoData, ConvertingTheKeptPositionsInOneWalkGivesWhatMarkingConvertingAndCompactingGive) {
    std::mt19937 rng(5);
    const Kind kinds[] = {Kind::image8, Kind::dem16, Kind::dem32};
    for (Kind k1 : kinds)
        for (Kind k2 : kinds)
            for (int round = 0; round < 20; round++) {
                const size_t cols = 1 + rng() % 300;
                // Few distinct values, so that the no-data values occur often.
                auto line = [&](Kind k) {
                    std::vector<unsigned char> bytes(cols * size_t(kind_bytes(k)));
                    for (size_t j = 0; j < cols; j++) {
                        const int32_t v = int32_t(rng() % 4) * (k == Kind::dem32 ? -1 : 1);
                        std::memcpy(bytes.data() + j * size_t(kind_bytes(k)), &v, size_t(kind_bytes(k)));
                    }
                    return bytes;
                };
                const std::vector<unsigned char> s1 = line(k1), s2 = line(k2);
                const NoData n1{round % 3 != 0, k1 == Kind::dem32 ? -2 : 2}, n2{round % 2 == 0, 1};
                std::vector<unsigned char> keep(cols);
                std::vector<double> x(cols), y(cols), cx(cols), cy(cols);
                KeptScratch scratch;
                size_t start = 0;
                const size_t kept = mark_kept(s1.data(), k1, n1, s2.data(), k2, n2, cols, keep.data());
                convert_samples(s1.data(), kind_bytes(k1), cols, 0.001, x.data());
                convert_samples(s2.data(), kind_bytes(k2), cols, 0.1, y.data());
                ASSERT_EQ(compact_kept(x.data(), y.data(), keep.data(), cols), kept);
                ASSERT_EQ(convert_kept(s1.data(), k1, n1, 0.001, s2.data(), k2, n2, 0.1, cols, cx.data(), cy.data(), scratch, &start),
                          kept);
                for (size_t j = 0; j < kept; j++) {
                    ASSERT_EQ(cx[start + j], x[j]);
                    ASSERT_EQ(cy[start + j], y[j]);
                }
                if (!n1.declared && !n2.declared) {
                    ASSERT_EQ(kept, cols);
                }
            }
}
