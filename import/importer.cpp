#include "importer.h"

#include "coregister.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "convert.h"
#include "description.h"
#include "envi.h"
#include "lines.h"
#include "options.h"
#include "outfile.h"
#include "paths.h"
#include "progress.h"
#include "source.h"
#include "staged.h"
#include "textfile.h"
#include "units.h"
#include "window.h"

namespace {

// Inputs of more cells than this show GDAL's progress on standard error.
constexpr long long kProgressCells = 1000000;
// GDAL's block cache holds at least this, and at most the second figure.
constexpr long long kMinCacheBytes = 1LL << 20;
constexpr long long kMaxCacheBytes = 512LL << 20;

// A refusal: the message, and the exit status 1.
struct Refusal {
    std::string message;
};

std::string quoted(const std::string &s) { return "\"" + printable(s) + "\""; }

// One of the two inputs on its way through the import.
struct Input {
    const char *role;  // "FIRST" or "SECOND"
    Source src;
    Plan plan;
    std::string name;  // base name in the folder
    Tally tally;
    OutFile raw;
    LineReader reader;
    std::vector<uint8_t> has_data, bytes;
    std::string who() const { return std::string(role) + " " + printable(src.arg); }
};

// GDAL's terminal progress ("0...10...20 ... 100 - done."), drawn on
// standard error: GDALTermProgress writes to standard output, which holds
// the import's report.
void progress_on_stderr(TextProgress &shown, double done) {
    const std::string t = progress_text(shown, done);
    if (t.empty()) return;
    std::fputs(t.c_str(), stderr);
    std::fflush(stderr);
}

std::string base_name_of(const std::string &arg) {
    std::string base = arg;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const size_t slash = base.rfind('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base = base.substr(0, dot);
    return base;
}

std::string shown_path(const std::string &folder, const std::string &file) {
    return shown_folder(folder) + file;
}

// Refuses a path karvel's dialogue would not form.
void check_length(const std::string &shown) {
    const std::string problem = path_problem(shown);
    if (!problem.empty()) throw Refusal{"the path " + printable(shown) + " " + problem};
}

void check_folder(const std::string &folder) {
    const std::string problem = folder_problem(folder);
    if (!problem.empty()) throw Refusal{"the folder " + quoted(folder) + " " + problem};
}

void check_name(const std::string &name, const std::string &what) {
    const std::string problem = name_problem(name);
    if (!problem.empty()) throw Refusal{"the name " + quoted(name) + " " + what + " " + problem};
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
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
    convert_line(in.plan, in.src, values, mask, cols, line, col0, in.has_data.data(), in.bytes.data(), in.tally);
    return true;
}

// One pass over the window w of both inputs: converts and writes both raw
// files (as long as every cell so far has data and can be stored) and, when
// search is given, looks for the largest window in which both have data.
long long run_pass(Input &a, Input &b, const Window &w, WindowSearch *search, const std::string &folder_real) {
    Input *both[2] = {&a, &b};
    for (Input *in : both) {
        in->tally = Tally{};
        in->reader.start(in->src.band, in->src.use_mask ? GDALGetMaskBand(in->src.band) : nullptr, w.col, w.cols,
                         in->src.aligned);
        in->has_data.assign(size_t(w.cols), 0);
        in->bytes.assign(size_t(w.cols) * size_t(kind_bytes(in->plan.kind)), 0);
        in->raw.discard();
        const std::string file = in->name + raster_suffix(in->plan.kind);
        if (!in->raw.begin(folder_real + "/" + file))
            throw Refusal{"the file " + printable(folder_real + "/" + file) +
                          " cannot be created: " + std::strerror(in->raw.err)};
    }
    std::vector<uint8_t> common(size_t(w.cols), 0);
    const bool progress = w.cells() > kProgressCells;
    if (progress) std::fprintf(stderr, "Reading %s and %s\n", printable(a.src.arg).c_str(), printable(b.src.arg).c_str());
    bool writing = true;
    long long in_both = 0;
    TextProgress shown;
    for (int i = 0; i < w.lines; i++) {
        const int line = w.line + i;
        for (Input *in : both)
            if (!read_line(*in, line, w.col, w.cols))
                throw Refusal{in->who() + " cannot be read at line " + std::to_string(line) + ": " +
                              CPLGetLastErrorMsg()};
        for (size_t j = 0; j < common.size(); j++) {
            common[j] = a.has_data[j] & b.has_data[j];
            in_both += common[j];
        }
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
    return in_both;
}

void plan_inputs(Input &a, Input &b, const ImportOptions &o) {
    const bool ia = is_image(a.src), ib = is_image(b.src);
    if (ia != ib) {
        const Input &img = ia ? a : b, &dem = ia ? b : a;
        throw Refusal{"both inputs must be DEMs or both 8-bit images: " + img.who() +
                      " is an 8-bit image (unsigned 8-bit samples without unit, scale or offset), " + dem.who() +
                      " is a DEM"};
    }
    for (Input *in : {&a, &b}) {
        if (ia) {
            in->plan = Plan{};
            continue;
        }
        const std::string problem = plan_dem(in->src, o.unit, false, in->plan);
        if (!problem.empty()) throw Refusal{in->who() + " cannot be imported: " + problem};
    }
}

void choose_names(Input &a, Input &b, const ImportOptions &o) {
    if (!o.name1.empty() || !o.name2.empty()) {
        a.name = o.name1;
        b.name = o.name2;
        check_name(a.name, "given for FIRST");
        check_name(b.name, "given for SECOND");
    } else {
        a.name = base_name_of(a.src.arg);
        b.name = base_name_of(b.src.arg);
        if (a.name == b.name) {
            a.name = "first";
            b.name = "second";
        }
        check_name(a.name, "taken from " + a.who() + " (give names with --names A B)");
        check_name(b.name, "taken from " + b.who() + " (give names with --names A B)");
    }
    if (a.name + raster_suffix(a.plan.kind) == b.name + raster_suffix(b.plan.kind))
        throw Refusal{"both rasters would be written as " + printable(a.name + raster_suffix(a.plan.kind)) +
                      "; give them two names with --names A B"};
}

// Creates the folder (and the images directory) when missing; returns the
// folders it created, deepest last, so that a refusal can take them away.
std::vector<std::string> make_folder(const std::string &real) {
    namespace fs = std::filesystem;
    std::vector<std::string> made;
    std::error_code ec;
    fs::path p = fs::path(real).lexically_normal();
    std::vector<fs::path> missing;
    for (fs::path q = p; !q.empty() && !fs::exists(q, ec); q = q.parent_path()) {
        missing.push_back(q);
        if (q == q.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (mkdir(it->c_str(), 0777) != 0 && errno != EEXIST)
            throw Refusal{"the folder " + printable(it->string()) + " cannot be created: " + std::strerror(errno)};
        made.push_back(it->string());
    }
    struct stat st;
    if (stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw Refusal{printable(real) + " is not a folder"};
    return made;
}

std::string shell_word(const std::string &s) {
    bool plain = !s.empty();
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+~:,@%", c) != nullptr)) plain = false;
    if (plain) return s;
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The answers of karvel's whole dialogue for the pair.
std::string answers_text(const Input &a, const Input &b, const ImportOptions &o) {
    std::string t = o.folder + "\n";
    if (a.plan.kind == Kind::image8) return t + "1\n" + a.name + "\n" + b.name + "\n" + o.result + "\n";
    t += "0\n";
    t += a.name + "\n" + std::to_string(width_answer(a.plan.kind)) + "\n";
    t += b.name + "\n" + std::to_string(width_answer(b.plan.kind)) + "\n";
    t += o.result + "\n";
    t += std::to_string(a.plan.answer) + "\n" + std::to_string(b.plan.answer) + "\n";
    return t;
}

// The report of what was written, one row per raster.
void print_table(const Input &a, const Input &b, const Window &w, const std::string &folder_real,
                 const std::string &folder) {
    std::printf("Wrote into %s (%s):\n", printable(folder_real).c_str(),
                printable(shown_folder(folder)).c_str());
    std::vector<std::vector<std::string>> rows = {
        {"", "name", "file", "kind", "unit", "lines x columns", "min .. max", "rounding error", "source"}};
    for (const Input *in : {&a, &b}) {
        const Plan &p = in->plan;
        std::string unit = p.kind == Kind::image8 ? "grey level" : unit_word(p.answer);
        std::string rounding;
        if (p.exact && in->tally.max_rounding == 0)
            rounding = "none (exact)";
        else
            rounding = fixed(in->tally.max_rounding, 6) + " " + unit;
        std::string source = p.kind == Kind::image8 ? "8-bit grey levels" : GDALGetDataTypeName(in->src.type);
        if (p.kind != Kind::image8) {
            source += std::string(" in ") + (in->src.unit_type.empty() ? "m (assumed)" : in->src.unit_type);
            if (in->src.scale != 1 || in->src.offset != 0)
                source += ", x " + fixed(in->src.scale, 6) + " + " + fixed(in->src.offset, 6);
        }
        rows.push_back({in->role, in->name, in->name + raster_suffix(p.kind), kind_words(p.kind), unit,
                        std::to_string(w.lines) + " x " + std::to_string(w.cols),
                        std::to_string(in->tally.min) + " .. " + std::to_string(in->tally.max), rounding, source});
    }
    std::vector<size_t> width(rows[0].size(), 0);
    for (const auto &r : rows)
        for (size_t k = 0; k < r.size(); k++) width[k] = std::max(width[k], r[k].size());
    for (const auto &r : rows) {
        std::string line = " ";
        for (size_t k = 0; k < r.size(); k++) {
            line += ' ';
            line += printable(r[k]);
            if (k + 1 < r.size()) line += std::string(width[k] - r[k].size() + 1, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

int refuse(const ImportSetting &setting, const std::string &message) {
    std::fprintf(stderr, "%s: %s\nNothing was written.\n", setting.program.c_str(), message.c_str());
    return 1;
}

// The answers that are not read from the inputs: the folder, and the result
// name with the longest path of karvel's result files.
void check_answers(const ImportOptions &o) {
    check_folder(o.folder);
    const std::string problem = answer_problem(o.result, kMaxName);
    if (!problem.empty())
        throw Refusal{"the result name " + quoted(o.result) + " is not an answer karvel's dialogue takes: " + problem};
    if (o.result.find_first_of("/\\") != std::string::npos)
        throw Refusal{"the result name " + quoted(o.result) + " is one file name, without a folder"};
    check_length(shown_path(o.folder, o.result + kHistogramSuffix));
}

// Finds the shift of SECOND against FIRST and resamples SECOND onto
// FIRST's grid moved back by it (and, with =xyz, lowered by the bias).
void coregister_pair(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes,
                     Coregistration &coreg) {
    if (is_image(a.src) || is_image(b.src))
        throw Refusal{"--coregister compares DEMs: " + (is_image(a.src) ? a : b).who() +
                      " is an 8-bit image, which has no slope"};
    ElevationUnit unit[2];
    for (int k = 0; k < 2; k++) {
        const Input &in = k == 0 ? a : b;
        if (!unit_of_type(in.src.unit_type, unit[k]))
            throw Refusal{in.who() + " cannot be imported: its band's unit type \"" + in.src.unit_type +
                          "\" is not a unit of length this program knows"};
    }
    auto said = [](const std::string &line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    const std::string problem = coregister(a.src, b.src, unit[0].mm, unit[1].mm, o.method, o.stable, said, coreg);
    if (!problem.empty()) throw Refusal{a.who() + " and " + b.who() + " cannot be co-registered: " + problem};
    const std::string aligned = align_source(b.src, a.src, o.method, coreg.shift_x, coreg.shift_y);
    if (!aligned.empty()) throw Refusal{b.who() + " cannot be aligned onto " + a.who() + ": " + aligned};
    std::string note = "SECOND was moved " + fixed(coreg.dx_m, 3) + " m east and " + fixed(coreg.dy_m, 3) +
                       " m north and resampled onto FIRST's grid (" + o.method + "); its bias is " +
                       fixed(coreg.dz_m, 3) + " m";
    if (o.remove_bias) {
        b.src.offset -= coreg.dz_m * 1000.0 / unit[1].mm;
        note += ", removed";
    } else {
        note += ", left in it";
    }
    notes.push_back(note + ". NMAD " + fixed(coreg.nmad_before, 3) + " m before, " + fixed(coreg.nmad_after, 3) +
                    " m after, on " + std::to_string(coreg.n_fit) + " cells.");
}

// Opens both inputs; when their grids differ, --align resamples SECOND onto
// FIRST's grid. Adds what it did to the notes.
void open_and_align(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes,
                    Coregistration &coreg) {
    for (Input *in : {&a, &b}) {
        const std::string arg = in == &a ? o.first : o.second;
        const std::string problem = open_source(arg, o.band, in->src);
        if (!problem.empty()) throw Refusal{std::string(in->role) + " " + printable(arg) + " cannot be used: " + problem};
    }
    // ENVI's header, which gives karvel's rasters their georeferencing, has
    // no form for a rotated or sheared grid: it would be lost.
    for (const Input *in : {&a, &b})
        if (in->src.has_grid && (in->src.gt[2] != 0 || in->src.gt[4] != 0) && (in == &a || !o.align))
            throw Refusal{in->who() + " has a rotated grid (its geotransform turns by " + fixed(in->src.gt[2], 6) +
                          " and " + fixed(in->src.gt[4], 6) +
                          "), which the header of karvel's rasters cannot record; warp it onto a north-up grid "
                          "first (gdalwarp)"};
    const std::string difference = grid_difference(a.src, b.src);
    if (o.coregister) {
        coregister_pair(a, b, o, notes, coreg);
    } else if (!difference.empty()) {
        if (!o.align)
            throw Refusal{a.who() + " and " + b.who() + " are not on the same grid: " + difference +
                          ". --align resamples SECOND onto FIRST's grid with GDAL's warper (bilinear; "
                          "--align=METHOD for another method)"};
        const std::string problem = align_source(b.src, a.src, o.method);
        if (!problem.empty()) throw Refusal{b.who() + " cannot be aligned onto " + a.who() + ": " + problem};
        notes.push_back("SECOND was resampled onto FIRST's grid (" + o.method + "): " + difference + ".");
    } else if (o.align) {
        notes.push_back("Both inputs already lie on the same grid: SECOND was not resampled.");
    }
}

// The bytes of the blocks that `lines` lines of a band cross, at most.
long long block_lines_bytes(GDALRasterBandH band, int lines) {
    int bx = 0, by = 0;
    GDALGetBlockSize(band, &bx, &by);
    if (by < 1) return 0;
    // Lines that start within a block cross one block row more.
    return block_row_bytes(band) * ((lines + by - 1) / by + 1);
}

// GDAL's block cache needs to hold, of a band read line by line, the blocks
// that one line crosses (a line of a striped file, a row of tiles of a
// tiled one), not the raster. A resampled band is read a block at a time
// (see lines.h): of it the cache holds two blocks, and of the band it is
// resampled from the blocks that one row of its blocks draws on, so that
// the blocks of a row share them. GDAL_CACHEMAX, when set, rules.
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

// How each input is stored and under which name, and the paths karvel will
// form from them.
void plan_outputs(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes) {
    plan_inputs(a, b, o);
    choose_names(a, b, o);
    for (Input *in : {&a, &b}) {
        // karvel refuses a result name whose files would replace a description.
        const std::string descr_name = in->name + description_suffix(in->plan.kind);
        for (const char *suffix : {kSummarySuffix, kLineTableSuffix, kHistogramSuffix})
            if (descr_name == o.result + suffix)
                throw Refusal{"the result name " + quoted(o.result) + " would have karvel replace the description " +
                              printable(descr_name) + "; choose another with --result R"};
        check_length(shown_path(o.folder, in->name + raster_suffix(in->plan.kind)));
        if (in->plan.kind != Kind::image8 && in->src.unit_type.empty())
            notes.push_back(in->who() + " names no unit for its values: metres were assumed.");
    }
}

long long cells_without_data(const Input &in) { return in.tally.cells - in.tally.with_data; }

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
Window crop_window(const Input &a, const Input &b, const WindowSearch &search,
                   std::vector<std::string> &notes) {
    const Window best = search.best();
    const std::string counts = "cells without data: " + std::to_string(cells_without_data(a)) + " in " + a.who() +
                               ", " + std::to_string(cells_without_data(b)) + " in " + b.who();
    if (best.cells() == 0) throw Refusal{counts + "; no window of at least 2 x 2 cells has data in both"};
    const std::string where = "the largest window in which both have data starts at line " +
                              std::to_string(best.line) + ", column " + std::to_string(best.col) + " and is " +
                              std::to_string(best.lines) + " lines by " + std::to_string(best.cols) + " columns";
    notes.push_back("Cropped to the largest window in which both have data: line " + std::to_string(best.line) +
                    ", column " + std::to_string(best.col) + ", " + std::to_string(best.lines) + " lines by " +
                    std::to_string(best.cols) + " columns; cells with data left outside it: " +
                    std::to_string(a.tally.with_data - best.cells()) + " of FIRST, " +
                    std::to_string(b.tally.with_data - best.cells()) + " of SECOND.");
    return best;
}

// The value that marks the cells without data of an input that has any:
// one outside its stored values. A 16-bit DEM that stores 65535 is written
// as a 32-bit one instead; an 8-bit image that uses every grey level is
// refused.
void choose_nodata(Input &in, const ImportOptions &o, std::vector<std::string> &notes) {
    const long long missing = cells_without_data(in);
    if (missing == 0) return;
    Plan &p = in.plan;
    if (p.kind == Kind::dem16 && in.tally.any && in.tally.max == 65535) {
        p.kind = Kind::dem32;
        check_length(shown_path(o.folder, in.name + raster_suffix(p.kind)));
        notes.push_back(in.who() + " stores 65535, so that no 16-bit value is left to mark its cells without data: "
                        "it was written as a 32-bit DEM.");
    }
    if (p.kind == Kind::dem32) {
        if (in.tally.any && in.tally.min == -2147483647 - 1)
            throw Refusal{in.who() + " stores -2147483648, so that no 32-bit value is left to mark its " +
                          std::to_string(missing) + " cells without data (--crop cuts both to the largest window in "
                          "which both have data)"};
        p.nodata = NoData{true, -2147483647LL - 1};
        return;
    }
    if (p.kind == Kind::dem16) {
        p.nodata = NoData{true, 65535};
        return;
    }
    for (int level = 255; level >= 0; level--)
        if (!(in.tally.levels[level >> 6] & (uint64_t(1) << (level & 63)))) {
            p.nodata = NoData{true, level};
            return;
        }
    throw Refusal{in.who() + " uses every grey level from 0 to 255, so that none is left to mark its " +
                  std::to_string(missing) + " cells without data; --crop cuts both to the largest window in which "
                  "both have data"};
}

// Gives each input with cells without data its no-data value, and says how
// many cells lack data.
void mark_cells_without_data(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes,
                             long long in_both) {
    choose_nodata(a, o, notes);
    choose_nodata(b, o, notes);
    auto said = [](const Input &in) {
        std::string t = std::to_string(cells_without_data(in)) + " of " + in.role;
        if (in.plan.nodata.declared) t += " (data ignore value " + std::to_string(in.plan.nodata.value) + ")";
        return t;
    };
    notes.push_back("Cells without data: " + said(a) + ", " + said(b) + ", " +
                    std::to_string(a.tally.cells - in_both) + " in either; karvel leaves them out.");
}

// Integers that an exact plan met beyond the signed 32-bit range: such an
// input is converted to --unit instead. True when one was re-planned.
bool replan_beyond_32_bits(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes) {
    bool replanned = false;
    for (Input *in : {&a, &b}) {
        if (in->tally.exact_overflow && in->plan.exact) {
            plan_dem(in->src, o.unit, true, in->plan);
            notes.push_back(in->who() + " holds integers beyond the signed 32-bit range: converted to " +
                            std::string(unit_word(o.unit)) + ".");
            replanned = true;
        }
    }
    return replanned;
}

// Reads both inputs and writes both raw files: the first pass reads them
// whole; when cells lack data, a second pass reads the window cut by --crop;
// when integers turn out to lie beyond what 32-bit samples hold as they
// are, one more pass converts them. Returns the window written.
Window read_and_write(Input &a, Input &b, const ImportOptions &o, const std::string &dir,
                      std::vector<std::string> &notes) {
    Window w{0, 0, a.src.lines, a.src.cols};
    // The first pass writes both rasters whole: refuse what the disk cannot hold.
    uint64_t need = 0;
    for (const Input *in : {&a, &b}) need += uint64_t(w.lines) * uint64_t(w.cols) * uint64_t(kind_bytes(in->plan.kind));
    const std::string space = space_problem(dir, need);
    if (!space.empty()) throw Refusal{"the two rasters do not fit on the disk: " + space};
    WindowSearch search(a.src.cols, 2, 2);
    const long long in_both = run_pass(a, b, w, &search, dir);
    const long long missing_a = cells_without_data(a), missing_b = cells_without_data(b);
    long long left_a = 0, left_b = 0;  // cells without data in what is written
    if ((missing_a > 0 || missing_b > 0) && o.crop) {
        w = crop_window(a, b, search, notes);
        run_pass(a, b, w, nullptr, dir);
        check_unchanged(a, b);
    } else if (missing_a > 0 || missing_b > 0) {
        if (in_both < 2)
            throw Refusal{a.who() + " and " + b.who() + " have " + std::to_string(in_both) +
                          " cells with data in both: a comparison needs at least 2"};
        // The first pass stopped writing at the first cell without data: the
        // second writes both whole, with the values that mark those cells.
        replan_beyond_32_bits(a, b, o, notes);
        mark_cells_without_data(a, b, o, notes, in_both);
        run_pass(a, b, w, nullptr, dir);
        check_unchanged(a, b, missing_a, missing_b);
        left_a = missing_a, left_b = missing_b;
    }
    if (replan_beyond_32_bits(a, b, o, notes)) {
        run_pass(a, b, w, nullptr, dir);
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
            throw Refusal{in->who() + ": the value " + fixed(in->tally.bad_value, 3) + " " +
                          unit_word(in->plan.answer) + " at line " + std::to_string(in->tally.bad_line) + ", column " +
                          std::to_string(in->tally.bad_col) +
                          " lies beyond the signed 32-bit range of karvel's samples (choose a larger --unit)"};
    }
    return w;
}

// The files written beside the raw rasters, each complete under a temporary
// name until they are committed together; whatever is not committed is
// removed.
struct SideFiles {
    OutFile headers[2], sidecars[2], answers, coreg;
    TextFile descriptions[2];
    SideFiles() = default;
    SideFiles(const SideFiles &) = delete;
    SideFiles &operator=(const SideFiles &) = delete;
    ~SideFiles() {
        text_discard(descriptions[0]);
        text_discard(descriptions[1]);
    }
};

// The header, the unit's side file (DEMs) and the description of each
// raster of the window w, and the answers file.
void write_side_files(const Input &a, const Input &b, const Window &w, const ImportOptions &o,
                      const Coregistration &coreg, const std::string &dir, SideFiles &f) {
    for (int k = 0; k < 2; k++) {
        const Input &in = k == 0 ? a : b;
        const std::string raw_name = in.name + raster_suffix(in.plan.kind);
        double gt[6];
        std::memcpy(gt, in.src.gt, sizeof gt);
        gt[0] = in.src.gt[0] + w.col * in.src.gt[1] + w.line * in.src.gt[2];
        gt[3] = in.src.gt[3] + w.col * in.src.gt[4] + w.line * in.src.gt[5];
        const std::string header = envi_header(in.name, w.lines, w.cols, in.plan.kind, in.src.has_grid ? gt : nullptr,
                                               in.src.wkt, in.plan.nodata);
        if (!write_staged(f.headers[k], dir + "/" + header_name(raw_name), header))
            throw Refusal{"the file " + printable(dir + "/" + header_name(raw_name)) +
                          " cannot be written: " + std::strerror(f.headers[k].err)};
        if (in.plan.kind != Kind::image8) {
            const std::string side = dir + "/" + unit_sidecar_name(raw_name);
            if (!write_staged(f.sidecars[k], side, unit_sidecar(unit_word(in.plan.answer))))
                throw Refusal{"the file " + printable(side) + " cannot be written: " + std::strerror(f.sidecars[k].err)};
        }
        const int values[6] = {w.lines, w.cols, kind_bytes(in.plan.kind), in.tally.min, in.tally.max,
                               ground_cell_size(in.src, gt, w.lines, w.cols)};
        const std::string descr_name = in.name + description_suffix(in.plan.kind);
        TextFile &d = f.descriptions[k];
        bool ok = text_create(d, dir + "/" + descr_name, shown_path(o.folder, descr_name));
        if (ok) {
            text_write(d, description_text(values));
            ok = text_finish(d);
        }
        if (!ok) {
            const int err = d.err;
            text_discard(d);
            throw Refusal{"the file " + printable(dir + "/" + descr_name) + " cannot be written: " + std::strerror(err)};
        }
    }
    const std::string answers_path = dir + "/" + o.result + ".answers";
    if (!write_staged(f.answers, answers_path, answers_text(a, b, o)))
        throw Refusal{"the file " + printable(answers_path) + " cannot be written: " + std::strerror(f.answers.err)};
    const std::string coreg_path = dir + "/" + o.result + kCoregSuffix;
    if (o.coregister && !write_staged(f.coreg, coreg_path, coregistration_json(coreg, o.remove_bias)))
        throw Refusal{"the file " + printable(coreg_path) + " cannot be written: " + std::strerror(f.coreg.err)};
}

// Gives every file its name at once. False, once it has said which file
// could not take its name and which were already replaced, when one failed.
bool commit_files(Input &a, Input &b, SideFiles &f, const ImportSetting &setting) {
    std::vector<StagedFile *> files;
    for (int k = 0; k < 2; k++) {
        files.push_back(k == 0 ? &a.raw.staged : &b.raw.staged);
        files.push_back(&f.headers[k].staged);
        if (!f.sidecars[k].staged.temp_path.empty()) files.push_back(&f.sidecars[k].staged);
        files.push_back(&f.descriptions[k].staged);
    }
    files.push_back(&f.answers.staged);
    if (!f.coreg.staged.temp_path.empty()) files.push_back(&f.coreg.staged);
    size_t failed = 0;
    if (staged_commit_together(files.data(), files.size(), &failed)) return true;
    const int err = errno;
    std::string done;
    for (size_t k = 0; k < failed; k++) {
        done += ' ';
        done += printable(files[k]->final_path);
    }
    std::fprintf(stderr, "%s: the file %s cannot take its name: %s\n", setting.program.c_str(),
                 printable(files[failed]->final_path).c_str(), std::strerror(err));
    if (!done.empty()) std::fprintf(stderr, "Already replaced:%s\n", done.c_str());
    return false;
}

int import_pair(const ImportOptions &o, const ImportSetting &setting) {
    std::string message;
    ImagesDir images;
    if (!resolve_images_dir(setting.images_root, images, message)) throw Refusal{message};
    check_answers(o);

    Input a, b;
    a.role = "FIRST";
    b.role = "SECOND";
    struct Closer {
        Input &a, &b;
        ~Closer() {
            close_source(a.src);
            close_source(b.src);
        }
    } closer{a, b};
    std::vector<std::string> notes;
    Coregistration coreg;
    open_and_align(a, b, o, notes, coreg);
    size_block_cache(a, b);
    plan_outputs(a, b, o, notes);

    const std::string folder_real = images.real_path(shown_path(o.folder, ""));
    const std::string dir = folder_real.substr(0, folder_real.size() - 1);
    std::vector<std::string> made = make_folder(dir);
    // A refusal takes away the folders it created, once the temporary files
    // of the raw rasters are gone from them.
    struct FolderUndo {
        std::vector<std::string> &made;
        Input &a, &b;
        bool keep = false;
        ~FolderUndo() {
            if (keep) return;
            a.raw.discard();
            b.raw.discard();
            for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
        }
    } undo{made, a, b};
    const std::vector<std::string> stale = staged_remove_stale(dir);
    if (!stale.empty()) {
        std::string names;
        for (const std::string &n : stale) {
            names += ' ';
            names += printable(n);
        }
        std::fprintf(stderr, "%s: removed what runs that were killed left in %s:%s\n", setting.program.c_str(),
                     printable(dir).c_str(), names.c_str());
    }

    const Window w = read_and_write(a, b, o, dir, notes);
    SideFiles side;
    write_side_files(a, b, w, o, coreg, dir, side);
    close_source(a.src);
    close_source(b.src);
    // Once a file has taken its name, the folder holds it: it stays.
    undo.keep = true;
    if (!commit_files(a, b, side, setting)) return 1;
    // A shift found by an earlier import would be read as this pair's.
    const std::string earlier = dir + "/" + o.result + kCoregSuffix;
    if (!o.coregister && unlink(earlier.c_str()) == 0)
        notes.push_back("The co-registration of an earlier import, " + printable(earlier) + ", was removed.");

    print_table(a, b, w, dir, o.folder);
    for (const std::string &n : notes) std::printf("%s\n", n.c_str());
    std::printf("Compare them with:\n  %s < %s\n", shell_word(setting.karvel_program).c_str(),
                shell_word(dir + "/" + o.result + ".answers").c_str());
    return 0;
}

}  // namespace

int run_import(int argc, const char *const *argv, const ImportSetting &setting) {
    ImportOptions o;
    const std::optional<int> done = parse_options(argc, argv, setting.program, setting.images_root, o);
    if (done) return *done;
    CPLPushErrorHandler(CPLQuietErrorHandler);
    int status;
    try {
        status = import_pair(o, setting);
    } catch (const Refusal &r) {
        status = refuse(setting, r.message);
    }
    CPLPopErrorHandler();
    std::fflush(stdout);
    return status;
}
