#include "passes.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gdal_problem.h"
#include "plan.h"
#include "progress.h"
#include "staged.h"
#include "table.h"

namespace {

// Inputs of more cells than this show GDAL's progress on standard error.
constexpr long long kProgressCells = 1000000;
// GDAL's block cache holds at least this, and at most the second figure.
constexpr long long kMinCacheBytes = 1LL << 20;
constexpr long long kMaxCacheBytes = 512LL << 20;

// GDAL's terminal progress ("0...10...20 ... 100 - done."), drawn on
// standard error: GDALTermProgress writes to standard output, which holds
// the import's report.
void progress_on_stderr(TextProgress &shown, double done) {
    const std::string t = progress_text(shown, done);
    if (t.empty()) return;
    std::fputs(t.c_str(), stderr);
    std::fflush(stderr);
}

// The bytes of the blocks that one line of a band crosses.
long long block_row_bytes(GDALRasterBandH band) {
    int bx = 0, by = 0;
    GDALGetBlockSize(band, &bx, &by);
    if (bx < 1 || by < 1) return 0;
    const long long across = (GDALGetRasterBandXSize(band) + bx - 1) / bx;
    return across * bx * by * GDALGetDataTypeSizeBytes(GDALGetRasterDataType(band));
}

// Reads and converts one line of an input's window.
bool read_line(Input &in, int line, int col0, int cols) {
    const double *values = nullptr;
    const uint8_t *mask = nullptr;
    if (!in.reader.line(line, values, mask)) return false;
    const double *less = nullptr;
    if (in.correction) {
        in.corrections.resize(size_t(cols));
        in.correction(line, col0, cols, in.corrections.data());
        less = in.corrections.data();
    }
    convert_line(in.plan, in.src, values, mask, cols, line, col0, in.has_data.data(), in.metres.data(),
                 in.bytes.data(), in.tally, less);
    return true;
}

// One pass over the window w of both inputs: converts and writes both raw
// files (as long as every cell so far has data and can be stored), sums the
// differences of the cells with data in both and, when search is given,
// looks for the largest window in which both have data.
PairTally run_pass(Input &a, Input &b, const Window &w, WindowSearch *search, const std::string &folder_real) {
    Input *both[2] = {&a, &b};
    for (Input *in : both) {
        in->tally = Tally{};
        in->reader.start(in->src.band, in->src.use_mask ? GDALGetMaskBand(in->src.band) : nullptr, w.col, w.cols,
                         in->src.aligned, &in->src);
        in->has_data.assign(size_t(w.cols), 0);
        in->metres.assign(size_t(w.cols), 0);
        in->bytes.assign(size_t(w.cols) * size_t(kind_bytes(in->plan.kind)), 0);
        in->raw.discard();
        const std::string file = in->name + raster_suffix(in->plan.kind);
        if (!in->raw.begin(folder_real + "/" + file))
            throw Refusal{"the file " + printable(folder_real + "/" + file) +
                          " cannot be created: " + std::strerror(in->raw.err)};
    }
    std::vector<uint8_t> common(size_t(w.cols), 0);
    const bool progress = w.cells() > kProgressCells;
    if (progress)
        std::fprintf(stderr, "Reading %s and %s\n", printable(a.src.arg).c_str(), printable(b.src.arg).c_str());
    bool writing = true;
    PairTally pair;
    TextProgress shown;
    for (int i = 0; i < w.lines; i++) {
        const int line = w.line + i;
        for (Input *in : both)
            if (!read_line(*in, line, w.col, w.cols))
                throw Refusal{in->who() + " cannot be read at line " + std::to_string(line) + ": " +
                              gdal_problem()};
        // Cells without data hold 0 m: they add nothing, without a branch.
        double difference = 0;
        for (size_t j = 0; j < common.size(); j++) {
            common[j] = a.has_data[j] & b.has_data[j];
            pair.in_both += common[j];
            difference += double(common[j]) * (b.metres[j] - a.metres[j]);
        }
        pair.sum_difference += difference;
        if (search != nullptr) search->add_line(common.data());
        for (Input *in : both) {
            const Tally &t = in->tally;
            if ((t.with_data != t.cells && !in->plan.nodata.declared) || t.beyond_range || t.exact_overflow)
                writing = false;
        }
        if (writing)
            for (Input *in : both) in->raw.write(in->bytes.data(), in->bytes.size());
        if (progress) progress_on_stderr(shown, double(i + 1) / w.lines);
    }
    for (Input *in : both) {
        if (!in->raw.finish())
            throw Refusal{"the file " + printable(in->raw.staged.final_path) +
                          " cannot be written: " + std::strerror(in->raw.err)};
    }
    return pair;
}

// The bytes of the blocks that `lines` lines of a band cross, at most.
long long block_lines_bytes(GDALRasterBandH band, int lines) {
    int bx = 0, by = 0;
    GDALGetBlockSize(band, &bx, &by);
    if (by < 1) return 0;
    // Lines that start within a block cross one block row more.
    return block_row_bytes(band) * ((lines + by - 1) / by + 1);
}

// After a second pass over a window: the cells without data are those the
// first pass found (none in the crop's window); any other count means that
// an input changed meanwhile.
void check_unchanged(const Input &a, const Input &b, long long missing_a = 0, long long missing_b = 0) {
    if (cells_without_data(a) != missing_a || cells_without_data(b) != missing_b)
        throw Refusal{"cells of the window lack data on a second reading: " + a.who() + " or " + b.who() +
                      " changed while being read"};
}

// The window that --crop cuts both inputs to, after a first pass that found
// cells without data; refused when there is none.
Window crop_window(const Input &a, const Input &b, const WindowSearch &search, std::vector<std::string> &notes) {
    const Window best = search.best();
    const std::string counts = "cells without data: " + std::to_string(cells_without_data(a)) + " in " + a.who() +
                               ", " + std::to_string(cells_without_data(b)) + " in " + b.who();
    if (best.cells() == 0) throw Refusal{counts + "; no window of at least 2 x 2 cells has data in both"};
    notes.push_back("Cropped to the largest window in which both have data: line " + std::to_string(best.line) +
                    ", column " + std::to_string(best.col) + ", " + std::to_string(best.lines) + " lines by " +
                    std::to_string(best.cols) +
                    " columns; cells with data left outside it: " + std::to_string(a.tally.with_data - best.cells()) +
                    " of FIRST, " + std::to_string(b.tally.with_data - best.cells()) + " of SECOND.");
    return best;
}

}  // namespace

void size_block_cache(const Input &a, const Input &b) {
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) != nullptr) return;
    long long need = 0;
    for (const Input *in : {&a, &b}) {
        if (in->src.aligned) {
            int bx = 0, by = 0;
            GDALGetBlockSize(in->src.band, &bx, &by);
            need += 2LL * bx * by * GDALGetDataTypeSizeBytes(GDALGetRasterDataType(in->src.band));
            GDALRasterBandH source = GDALGetRasterBand(in->src.band_ds, 1);
            need += block_lines_bytes(source, in->src.warp_source_lines);
            const int flags = GDALGetMaskFlags(source);
            if (!(flags & GMF_ALL_VALID) && !(flags & GMF_NODATA))
                need += block_lines_bytes(GDALGetMaskBand(source), in->src.warp_source_lines);
        } else {
            need += block_row_bytes(in->src.band);
            if (in->src.use_mask) need += block_row_bytes(GDALGetMaskBand(in->src.band));
        }
    }
    GDALSetCacheMax64(std::min(kMaxCacheBytes, std::max(kMinCacheBytes, need + need / 4)));
}

Window read_and_write(Input &a, Input &b, const ImportOptions &o, const std::string &dir,
                      std::vector<std::string> &notes, PairTally &pair) {
    Window w{0, 0, a.src.lines, a.src.cols};
    // The first pass writes both rasters whole: refuse what the disk cannot hold.
    uint64_t need = 0;
    for (const Input *in : {&a, &b}) need += uint64_t(w.lines) * uint64_t(w.cols) * uint64_t(kind_bytes(in->plan.kind));
    const std::string space = space_problem(dir, need);
    if (!space.empty()) throw Refusal{"the two rasters do not fit on the disk: " + space};
    WindowSearch search(a.src.cols, 2, 2);
    pair = run_pass(a, b, w, &search, dir);
    const long long in_both = pair.in_both;
    const long long missing_a = cells_without_data(a), missing_b = cells_without_data(b);
    long long left_a = 0, left_b = 0;  // cells without data in what is written
    if ((missing_a > 0 || missing_b > 0) && o.crop) {
        w = crop_window(a, b, search, notes);
        pair = run_pass(a, b, w, nullptr, dir);
        check_unchanged(a, b);
    } else if (missing_a > 0 || missing_b > 0) {
        if (in_both < 2)
            throw Refusal{a.who() + " and " + b.who() + " have " + std::to_string(in_both) +
                          " cells with data in both: a comparison needs at least 2"};
        // The first pass stopped writing at the first cell without data: the
        // second writes both whole, with the values that mark those cells.
        replan_beyond_32_bits(a, b, o, notes);
        mark_cells_without_data(a, b, o, notes, in_both);
        pair = run_pass(a, b, w, nullptr, dir);
        check_unchanged(a, b, missing_a, missing_b);
        left_a = missing_a, left_b = missing_b;
    }
    if (replan_beyond_32_bits(a, b, o, notes)) {
        pair = run_pass(a, b, w, nullptr, dir);
        check_unchanged(a, b, left_a, left_b);
    }
    for (const Input *in : {&a, &b}) {
        if (in->tally.beyond_range && std::isinf(in->tally.bad_value)) {
            std::string m = in->who();
            m += ": the cell at line " + std::to_string(in->tally.bad_line);
            m += ", column " + std::to_string(in->tally.bad_col);
            m += in->tally.bad_value > 0 ? " is +infinite" : " is -infinite";
            m += ", which no sample holds (mark it as without data: its band's nodata value)";
            throw Refusal{m};
        }
        if (in->tally.beyond_range)
            throw Refusal{in->who() + ": the value " + fixed_decimals(in->tally.bad_value, 3) + " " +
                          unit_word(in->plan.answer) + " at line " + std::to_string(in->tally.bad_line) + ", column " +
                          std::to_string(in->tally.bad_col) +
                          " lies beyond the signed 32-bit range of karvel's samples (choose a larger --unit)"};
    }
    return w;
}
