// Two rasters of 16-bit samples in files of their own, open and read
// together as the report's walk reads them, for the tests of the walk and
// its readers.
#ifndef KARVEL_TESTS_REPORT_RASTER_PAIR_H
#define KARVEL_TESTS_REPORT_RASTER_PAIR_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "inputs.h"

struct RasterPair {
    Rasters rasters;
    std::string paths[2];
    // Lines × cols values of each; the first raster may declare a no-data value.
    RasterPair(int lines, int cols, const std::vector<int> &a, const std::vector<int> &b, NoData first = NoData()) {
        const std::vector<int> *values[2] = {&a, &b};
        for (int k = 0; k < 2; k++) {
            Input &in = rasters.in[k];
            paths[k] = "/tmp/karvel_pair_" + std::to_string(getpid()) + "_" + std::to_string(k) + ".raw";
            std::string bytes;
            for (int v : *values[k]) bytes += {char(v & 0xff), char(v >> 8)};
            FILE *f = std::fopen(paths[k].c_str(), "wb");
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
            EXPECT_EQ(raster_open(in.file, paths[k], paths[k]), "");
            EXPECT_TRUE(in.lines.init(in.file, lines, cols, 2, 1.0));
            in.kind = Kind::dem16;
        }
        rasters.in[0].nodata = first;
        rasters.lines = lines;
        rasters.pairs.init(rasters.in[0], rasters.in[1], cols);
    }
    ~RasterPair() {
        for (const auto &p : paths) unlink(p.c_str());
    }
};

#endif
