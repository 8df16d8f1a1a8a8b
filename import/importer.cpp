#include "importer.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "convert.h"
#include "description.h"
#include "envi.h"
#include "options.h"
#include "outfile.h"
#include "paths.h"
#include "source.h"
#include "staged.h"
#include "textfile.h"
#include "units.h"
#include "window.h"

namespace {

// Inputs of more cells than this show GDAL-style progress on standard error.
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
    std::vector<double> values;
    std::vector<uint8_t> mask, has_data, bytes;
    std::string who() const { return std::string(role) + " " + printable(src.arg); }
};

// GDAL's text progress ("0...10...20 ... 100 - done."), on standard error so
// that standard output keeps only the report. data: an int, -1 before the
// first call, then the number of 2.5 % steps shown.
int progress_on_stderr(double done, const char *, void *data) {
    int &shown = *static_cast<int *>(data);
    if (shown < 0) {
        std::fputc('0', stderr);
        shown = 0;
    }
    const int upto = std::min(40, int(done * 40.0 + 1e-9));
    while (shown < upto) {
        shown++;
        if (shown % 4 == 0)
            std::fprintf(stderr, "%d", shown / 4 * 10);
        else
            std::fputc('.', stderr);
        if (shown == 40) std::fputs(" - done.\n", stderr);
    }
    std::fflush(stderr);
    return 1;
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
    if (shown.size() > kMaxPath)
        throw Refusal{"the path " + printable(shown) + " has " + std::to_string(shown.size()) +
                      " characters; karvel takes paths of at most " + std::to_string(kMaxPath)};
}

void check_folder(const std::string &folder) {
    const std::string problem = answer_problem(folder, kMaxFolder);
    if (!problem.empty())
        throw Refusal{"the folder " + quoted(folder) + " is not an answer karvel's dialogue takes: " + problem};
    std::string seg;
    for (size_t i = 0; i <= folder.size(); i++) {
        const char c = i < folder.size() ? folder[i] : '\\';
        if (c == '\\' || c == '/') {
            if (seg == "..")
                throw Refusal{"the folder " + quoted(folder) + " leads out of the images directory"};
            seg.clear();
        } else {
            seg += c;
        }
    }
}

void check_name(const std::string &name, const std::string &what) {
    std::string problem = answer_problem(name, kMaxName);
    if (problem.empty() && name.find_first_of("/\\") != std::string::npos)
        problem = "a name is one file name, without a folder";
    if (!problem.empty())
        throw Refusal{"the name " + quoted(name) + " " + what + " is not an answer karvel's dialogue takes: " + problem};
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
    CPLErrorReset();
    if (GDALRasterIO(in.src.band, GF_Read, col0, line, cols, 1, in.values.data(), cols, 1, GDT_Float64, 0, 0) !=
        CE_None)
        return false;
    const uint8_t *mask = nullptr;
    if (in.src.use_mask) {
        if (GDALRasterIO(GDALGetMaskBand(in.src.band), GF_Read, col0, line, cols, 1, in.mask.data(), cols, 1,
                         GDT_Byte, 0, 0) != CE_None)
            return false;
        mask = in.mask.data();
    }
    convert_line(in.plan, in.src, in.values.data(), mask, cols, line, col0, in.has_data.data(), in.bytes.data(),
                 in.tally);
    return true;
}

// One pass over the window w of both inputs: converts and writes both raw
// files (as long as every cell so far has data and can be stored) and, when
// search is given, looks for the largest window in which both have data.
void run_pass(Input &a, Input &b, const Window &w, WindowSearch *search, const std::string &folder_real) {
    Input *both[2] = {&a, &b};
    for (Input *in : both) {
        in->tally = Tally{};
        in->values.assign(size_t(w.cols), 0.0);
        in->mask.assign(in->src.use_mask ? size_t(w.cols) : 0, 0);
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
    int shown = -1;
    if (progress) std::fprintf(stderr, "Reading %s and %s\n", printable(a.src.arg).c_str(), printable(b.src.arg).c_str());
    bool writing = true;
    for (int i = 0; i < w.lines; i++) {
        const int line = w.line + i;
        for (Input *in : both)
            if (!read_line(*in, line, w.col, w.cols))
                throw Refusal{in->who() + " cannot be read at line " + std::to_string(line) + ": " +
                              CPLGetLastErrorMsg()};
        for (size_t j = 0; j < common.size(); j++) common[j] = a.has_data[j] & b.has_data[j];
        if (search != nullptr) search->add_line(common.data());
        for (Input *in : both) {
            const Tally &t = in->tally;
            if (t.with_data != t.cells || t.beyond_range || t.exact_overflow) writing = false;
        }
        if (writing)
            for (Input *in : both) in->raw.write(in->bytes.data(), in->bytes.size());
        if (progress) progress_on_stderr(double(i + 1) / w.lines, nullptr, &shown);
    }
    for (Input *in : both) {
        if (!in->raw.finish())
            throw Refusal{"the file " + printable(in->raw.staged.final_path) +
                          " cannot be written: " + std::strerror(in->raw.err)};
    }
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

int import_pair(const ImportOptions &o, const ImportSetting &setting) {
    std::string message;
    ImagesDir images;
    if (!resolve_images_dir(setting.images_root, images, message)) throw Refusal{message};
    check_folder(o.folder);
    {
        const std::string problem = answer_problem(o.result, kMaxName);
        if (!problem.empty())
            throw Refusal{"the result name " + quoted(o.result) + " is not an answer karvel's dialogue takes: " +
                          problem};
        if (o.result.find_first_of("/\\") != std::string::npos)
            throw Refusal{"the result name " + quoted(o.result) + " is one file name, without a folder"};
        check_length(shown_path(o.folder, o.result + kHistogramSuffix));
    }

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
    for (Input *in : {&a, &b}) {
        const std::string arg = in == &a ? o.first : o.second;
        const std::string problem = open_source(arg, o.band, in->src);
        if (!problem.empty()) throw Refusal{std::string(in->role) + " " + printable(arg) + " cannot be used: " + problem};
    }

    std::vector<std::string> notes;
    const std::string difference = grid_difference(a.src, b.src);
    if (!difference.empty()) {
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

    // Lines are read one at a time: GDAL's block cache needs to hold the
    // blocks that one line crosses in each band read (a line of a striped
    // file, a row of tiles of a tiled one), not the rasters.
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) {
        long long need = 0;
        for (Input *in : {&a, &b}) {
            need += block_row_bytes(in->src.band);
            if (in->src.use_mask) need += block_row_bytes(GDALGetMaskBand(in->src.band));
            if (in->src.aligned) need += block_row_bytes(GDALGetRasterBand(in->src.band_ds, 1));
        }
        GDALSetCacheMax64(std::min(kMaxCacheBytes, std::max(kMinCacheBytes, need + need / 4)));
    }

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

    const std::string folder_real = images.real_path(shown_path(o.folder, ""));
    std::vector<std::string> made = make_folder(folder_real.substr(0, folder_real.size() - 1));
    struct FolderUndo {
        std::vector<std::string> &made;
        bool keep = false;
        ~FolderUndo() {
            if (keep) return;
            for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
        }
    } undo{made};
    const std::string dir = folder_real.substr(0, folder_real.size() - 1);

    // The first pass reads everything; a second one follows when the inputs
    // must be cut to a window, or when integers turn out to lie beyond what
    // 32-bit samples hold as they are.
    const Window full{0, 0, a.src.lines, a.src.cols};
    Window w = full;
    WindowSearch search(a.src.cols, 2, 2);
    bool cropped = false;
    for (;;) {
        run_pass(a, b, w, cropped ? nullptr : &search, dir);
        const long long missing_a = a.tally.cells - a.tally.with_data, missing_b = b.tally.cells - b.tally.with_data;
        if (!cropped && (missing_a > 0 || missing_b > 0)) {
            const Window best = search.best();
            std::string counts = "cells without data: " + std::to_string(missing_a) + " in " + a.who() + ", " +
                                 std::to_string(missing_b) + " in " + b.who();
            if (best.cells() == 0)
                throw Refusal{counts + "; no window of at least 2 x 2 cells has data in both"};
            const std::string where = "the largest window in which both have data starts at line " +
                                      std::to_string(best.line) + ", column " + std::to_string(best.col) + " and is " +
                                      std::to_string(best.lines) + " lines by " + std::to_string(best.cols) +
                                      " columns";
            if (!o.crop) throw Refusal{counts + "; " + where + " (--crop cuts both to it)"};
            notes.push_back("Cropped to the largest window in which both have data: line " + std::to_string(best.line) +
                            ", column " + std::to_string(best.col) + ", " + std::to_string(best.lines) + " lines by " +
                            std::to_string(best.cols) + " columns; cells with data left outside it: " +
                            std::to_string(a.tally.with_data - best.cells()) + " of FIRST, " +
                            std::to_string(b.tally.with_data - best.cells()) + " of SECOND.");
            w = best;
            cropped = true;
            continue;
        }
        if (missing_a > 0 || missing_b > 0)
            throw Refusal{"cells of the window lack data on a second reading: " + a.who() + " or " + b.who() +
                          " changed while being read"};
        bool again = false;
        for (Input *in : {&a, &b}) {
            if (in->tally.exact_overflow && in->plan.exact) {
                plan_dem(in->src, o.unit, true, in->plan);
                notes.push_back(in->who() + " holds integers beyond the signed 32-bit range: converted to " +
                                std::string(unit_word(o.unit)) + ".");
                again = true;
            }
        }
        if (again) continue;
        for (Input *in : {&a, &b}) {
            if (in->tally.beyond_range)
                throw Refusal{in->who() + ": the value " + fixed(in->tally.bad_value, 3) + " " +
                              unit_word(in->plan.answer) + " at line " + std::to_string(in->tally.bad_line) +
                              ", column " + std::to_string(in->tally.bad_col) +
                              " lies beyond the signed 32-bit range of karvel's samples (choose a larger --unit)"};
        }
        break;
    }

    // Headers, descriptions and the answers, each complete under a
    // temporary name before anything takes its final name.
    OutFile headers[2], sidecars[2], answers;
    TextFile descriptions[2];
    struct DescriptionUndo {
        TextFile *d;
        ~DescriptionUndo() {
            text_discard(d[0]);
            text_discard(d[1]);
        }
    } description_undo{descriptions};
    for (int k = 0; k < 2; k++) {
        Input &in = k == 0 ? a : b;
        const std::string raw_name = in.name + raster_suffix(in.plan.kind);
        double gt[6];
        std::memcpy(gt, in.src.gt, sizeof gt);
        gt[0] = in.src.gt[0] + w.col * in.src.gt[1] + w.line * in.src.gt[2];
        gt[3] = in.src.gt[3] + w.col * in.src.gt[4] + w.line * in.src.gt[5];
        const std::string header = envi_header(in.name, w.lines, w.cols, in.plan.kind, in.src.has_grid ? gt : nullptr,
                                               in.src.wkt);
        if (!write_staged(headers[k], dir + "/" + header_name(raw_name), header))
            throw Refusal{"the file " + printable(dir + "/" + header_name(raw_name)) +
                          " cannot be written: " + std::strerror(headers[k].err)};
        if (in.plan.kind != Kind::image8) {
            const std::string side = dir + "/" + unit_sidecar_name(raw_name);
            if (!write_staged(sidecars[k], side, unit_sidecar(unit_word(in.plan.answer))))
                throw Refusal{"the file " + printable(side) + " cannot be written: " + std::strerror(sidecars[k].err)};
        }
        const int values[6] = {w.lines, w.cols, kind_bytes(in.plan.kind), in.tally.min, in.tally.max,
                               ground_cell_size(in.src, gt, w.lines, w.cols)};
        const std::string descr_name = in.name + description_suffix(in.plan.kind);
        TextFile &d = descriptions[k];
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
    if (!write_staged(answers, answers_path, answers_text(a, b, o)))
        throw Refusal{"the file " + printable(answers_path) + " cannot be written: " + std::strerror(answers.err)};

    close_source(a.src);
    close_source(b.src);
    std::vector<StagedFile *> files;
    for (int k = 0; k < 2; k++) {
        files.push_back(k == 0 ? &a.raw.staged : &b.raw.staged);
        files.push_back(&headers[k].staged);
        if (!sidecars[k].staged.temp_path.empty()) files.push_back(&sidecars[k].staged);
        files.push_back(&descriptions[k].staged);
    }
    files.push_back(&answers.staged);
    size_t failed = 0;
    if (!staged_commit_together(files.data(), files.size(), &failed)) {
        const int err = errno;
        undo.keep = true;
        std::string done;
        for (size_t k = 0; k < failed; k++) {
            done += ' ';
            done += printable(files[k]->final_path);
        }
        std::fprintf(stderr, "%s: the file %s cannot take its name: %s\n", setting.program.c_str(),
                     printable(files[failed]->final_path).c_str(), std::strerror(err));
        if (!done.empty()) std::fprintf(stderr, "Already replaced:%s\n", done.c_str());
        return 1;
    }
    undo.keep = true;

    print_table(a, b, w, dir, o.folder);
    for (const std::string &n : notes) std::printf("%s\n", n.c_str());
    std::printf("Compare them with:\n  %s < %s\n", shell_word(setting.karvel_program).c_str(),
                shell_word(answers_path).c_str());
    return 0;
}

}  // namespace

int run_import(int argc, const char *const *argv, const ImportSetting &setting) {
    ImportOptions o;
    const std::string problem = parse_options(argc, argv, o);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", setting.program.c_str(), printable(problem).c_str(),
                     setting.program.c_str());
        return 2;
    }
    if (o.help) {
        std::fputs(usage_text(setting.program).c_str(), stdout);
        std::string message;
        ImagesDir images;
        if (resolve_images_dir(setting.images_root, images, message))
            std::printf("\nThe images directory is %s.\n", printable(images.dir).c_str());
        return 0;
    }
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
