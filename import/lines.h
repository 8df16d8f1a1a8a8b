// The lines of a window of a band, read from GDAL in chunks.
//
// A band resampled by GDAL's warper (a warped VRT) computes its values a
// block at a time, and GDAL reads a window of several blocks line by line,
// fetching every block of the row again for each line: unless the block
// cache holds the whole row of blocks, a block is warped again for each
// line that crosses it. Such a band is read here one row of its blocks at a
// time, block by block, each block's lines in one read, so that every block
// is warped once whatever the cache holds, and the values are those of the
// same blocks as when read line by line. Other bands are read a line at a
// time: their blocks stay in the cache while the lines that cross them are
// read.
#ifndef KARVEL_IMPORT_LINES_H
#define KARVEL_IMPORT_LINES_H

#include <gdal.h>

#include <cstdint>
#include <vector>

#include "source.h"

class LineReader {
public:
    // Reads the columns col0 .. col0 + cols - 1 of the band and, when mask
    // is not null, of that mask band; by_blocks for a warped band. With
    // flipped, the lines and columns of the grid it describes, in reverse
    // where its file runs south-up or east-left (a band read a line at a
    // time).
    void start(GDALRasterBandH band, GDALRasterBandH mask, int col0, int cols, bool by_blocks,
               const Source *flipped = nullptr);
    // Points values (cols samples as doubles) and mask (cols bytes, or null
    // without a mask band) at the line, which stay valid until the next
    // call. Lines are asked for in increasing order. False when GDAL cannot
    // read it (CPLGetLastErrorMsg says why).
    bool line(int line, const double *&values, const uint8_t *&mask);
    // The lines of one chunk: the warped band's block height, or 1.
    int chunk_lines() const { return chunk_lines_; }

private:
    bool read_chunk(int first, int lines);
    GDALRasterBandH band_ = nullptr, mask_ = nullptr;
    const Source *flipped_ = nullptr;
    int col0_ = 0, cols_ = 0;
    int block_cols_ = 1, chunk_lines_ = 1;
    int first_ = 0, lines_ = 0;  // the chunk held: its first line and its count
    std::vector<double> values_;
    std::vector<uint8_t> mask_values_;
};

#endif
