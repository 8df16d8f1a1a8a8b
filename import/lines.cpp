#include "lines.h"

#include <cpl_error.h>

#include <algorithm>

void LineReader::start(GDALRasterBandH band, GDALRasterBandH mask, int col0, int cols, bool by_blocks,
                       const Source *flipped) {
    band_ = band;
    flipped_ = flipped != nullptr && (flipped->flip_lines || flipped->flip_cols) && !by_blocks ? flipped : nullptr;
    mask_ = mask;
    col0_ = col0;
    cols_ = cols;
    block_cols_ = cols;
    chunk_lines_ = 1;
    if (by_blocks) {
        int bx = 0, by = 0;
        GDALGetBlockSize(band, &bx, &by);
        if (bx > 0 && by > 0) {
            block_cols_ = bx;
            chunk_lines_ = by;
        }
    }
    first_ = lines_ = 0;
    values_.assign(size_t(chunk_lines_) * size_t(cols), 0.0);
    mask_values_.assign(mask != nullptr ? size_t(chunk_lines_) * size_t(cols) : 0, 0);
}

bool LineReader::read_chunk(int first, int lines) {
    first_ = first;
    lines_ = 0;
    if (flipped_ != nullptr) {  // one line, in the grid's order
        CPLErrorReset();
        if (read_grid_line(*flipped_, band_, first, col0_, cols_, values_.data(), GDT_Float64) != CE_None ||
            (mask_ != nullptr &&
             read_grid_line(*flipped_, mask_, first, col0_, cols_, mask_values_.data(), GDT_Byte) != CE_None))
            return false;
        lines_ = 1;
        return true;
    }
    // The window's columns block by block: each read stays within one block.
    const GSpacing line_space = GSpacing(cols_) * GSpacing(sizeof(double));
    for (int c = col0_; c < col0_ + cols_;) {
        const int end = std::min(col0_ + cols_, (c / block_cols_ + 1) * block_cols_);
        const size_t at = size_t(c - col0_);
        CPLErrorReset();
        if (GDALRasterIOEx(band_, GF_Read, c, first, end - c, lines, values_.data() + at, end - c, lines, GDT_Float64,
                           sizeof(double), line_space, nullptr) != CE_None)
            return false;
        if (mask_ != nullptr && GDALRasterIOEx(mask_, GF_Read, c, first, end - c, lines, mask_values_.data() + at,
                                               end - c, lines, GDT_Byte, 1, GSpacing(cols_), nullptr) != CE_None)
            return false;
        c = end;
    }
    lines_ = lines;
    return true;
}

bool LineReader::line(int line, const double *&values, const uint8_t *&mask) {
    if (line < first_ || line >= first_ + lines_) {
        // To the end of the row of blocks the line lies in.
        const int end = std::min(GDALGetRasterBandYSize(band_), (line / chunk_lines_ + 1) * chunk_lines_);
        if (!read_chunk(line, end - line)) return false;
    }
    const size_t at = size_t(line - first_) * size_t(cols_);
    values = values_.data() + at;
    mask = mask_ != nullptr ? mask_values_.data() + at : nullptr;
    return true;
}
