#include "plan.h"

#include <cstdio>

#include "crs.h"
#include "table.h"
#include "units.h"

namespace {

std::string quoted(const std::string &s) { return "\"" + printable(s) + "\""; }

std::string base_name_of(const std::string &arg) {
    std::string base = arg;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const size_t slash = base.rfind('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base = base.substr(0, dot);
    return base;
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
        // Values that the reading pass corrects are no longer whole numbers: converted.
        const std::string problem = plan_dem(in->src, o.unit, bool(in->correction), in->plan);
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

// Resamples SECOND, moved by the shift (sx, sy) in FIRST's coordinates,
// onto FIRST's grid; with --grid second, FIRST moved back by it onto
// SECOND's grid.
void resample_shifted(Input &a, Input &b, const ImportOptions &o, double sx, double sy) {
    if (!o.second_grid) {
        const std::string aligned = align_source(b.src, a.src, o.method, sx, sy);
        if (!aligned.empty()) throw Refusal{b.who() + " cannot be aligned onto " + a.who() + ": " + aligned};
        return;
    }
    // The shift, found in FIRST's coordinates, as one of SECOND's at the
    // centre of its grid.
    const double x = b.src.gt[0] + b.src.gt[1] * b.src.cols / 2.0, y = b.src.gt[3] + b.src.gt[5] * b.src.lines / 2.0;
    if (!shift_into(a.src.wkt, b.src.wkt, x, y, sx, sy))
        throw Refusal{"the shift found cannot be carried into the coordinate system of " + b.who()};
    const std::string aligned = align_source(a.src, b.src, o.method, -sx, -sy);
    if (!aligned.empty()) throw Refusal{a.who() + " cannot be aligned onto " + b.who() + ": " + aligned};
}

// Finds the shift of SECOND against FIRST and resamples SECOND onto
// FIRST's grid moved back by it, or FIRST onto SECOND's (and, with =xyz,
// lowers SECOND by the bias; with --deramp, takes its tilt out). A shift
// that would not improve the agreement is not applied: the rasters are
// then resampled only when their grids differ.
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
    // SECOND's tilt is found in FIRST's map coordinates and taken out along
    // SECOND's own grid when FIRST is resampled onto it: both must then
    // share one coordinate system.
    if (o.deramp > 0 && o.second_grid && !same_srs(a.src.wkt, b.src.wkt))
        throw Refusal{"--deramp with --grid second needs both rasters in one coordinate system; " + a.who() +
                      " and " + b.who() + " have two (use --grid first, or bring them into one first)"};
    auto said = [](const std::string &line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    const std::string problem =
        coregister(a.src, b.src, unit[0].mm, unit[1].mm, o.method, o.stable, o.deramp, said, coreg);
    if (!problem.empty()) throw Refusal{a.who() + " and " + b.who() + " cannot be co-registered: " + problem};
    const bool resample = coreg.applied || !grid_difference(a.src, b.src).empty();
    if (resample) resample_shifted(a, b, o, coreg.applied ? coreg.shift_x : 0, coreg.applied ? coreg.shift_y : 0);
    if (o.remove_bias) b.src.offset -= coreg.dz_m * 1000.0 / unit[1].mm;
    b.correction = tilt_correction(coreg, b.src.gt, 1000.0 / unit[1].mm);
    notes.push_back(coregistration_note(coreg, o.method, resample, o.remove_bias, o.second_grid));
}

// Refuses coordinate systems that no transformation relates, naming the
// options that assign the right ones: a local one (LOCAL_CS, an
// engineering system), two local ones that differ, or two that GDAL finds
// no way between.
void check_coordinate_systems(const Input &a, const Input &b) {
    const std::string &wa = a.src.wkt, &wb = b.src.wkt;
    if (wa.empty() || wb.empty() || same_srs(wa, wb)) return;
    const bool la = is_local_srs(wa), lb = is_local_srs(wb);
    auto local = [](const std::string &wkt) { return "LOCAL_CS[\"" + printable(srs_name(wkt)) + "\"]"; };
    if (la && lb)
        throw Refusal{a.who() + " and " + b.who() + " have two local coordinate systems (" + local(wa) + " and " +
                      local(wb) +
                      "), which no transformation relates; if they are known ones, assign them with "
                      "--srs-first EPSG:NNNN and --srs-second EPSG:NNNN"};
    if (la || lb) {
        const Input &in = la ? a : b, &other = la ? b : a;
        throw Refusal{in.who() + " has a local coordinate system (" + local(in.src.wkt) +
                      "), which no transformation relates to that of " + other.who() + " (" +
                      printable(srs_name(other.src.wkt)) + "); if it is a known one, assign it with " +
                      in.option("srs") + " EPSG:NNNN"};
    }
    if (!transformable(wa, wb))
        throw Refusal{"no transformation relates the coordinate systems of " + a.who() + " (" +
                      printable(srs_name(wa)) + ") and " + b.who() + " (" + printable(srs_name(wb)) +
                      "); if one of them is wrong, assign the right one with --srs-first or --srs-second"};
}

// When one input has a coordinate system and the other none: the option
// that assigns it, as a sentence that the refusal goes on after.
std::string missing_srs_advice(const Input &a, const Input &b) {
    if (a.src.wkt.empty() == b.src.wkt.empty()) return "";
    const Input &in = a.src.wkt.empty() ? a : b;
    return "If " + std::string(in.role) + "'s coordinate system is known, assign it with " + in.option("srs") +
           " EPSG:NNNN; ";
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
        notes.push_back(in.who() +
                        " stores 65535, so that no 16-bit value is left to mark its cells without data: "
                        "it was written as a 32-bit DEM.");
    }
    if (p.kind == Kind::dem32) {
        if (in.tally.any && in.tally.min == -2147483647 - 1)
            throw Refusal{in.who() + " stores -2147483648, so that no 32-bit value is left to mark its " +
                          std::to_string(missing) +
                          " cells without data (--crop cuts both to the largest window in "
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
                  std::to_string(missing) +
                  " cells without data; --crop cuts both to the largest window in which "
                  "both have data"};
}

}  // namespace

void check_answers(const ImportOptions &o) {
    check_folder(o.folder);
    const std::string problem = answer_problem(o.result, kMaxName);
    if (!problem.empty())
        throw Refusal{"the result name " + quoted(o.result) + " is not an answer karvel's dialogue takes: " + problem};
    if (o.result.find_first_of("/\\") != std::string::npos)
        throw Refusal{"the result name " + quoted(o.result) + " is one file name, without a folder"};
    check_length(shown_path(o.folder, o.result + kHistogramSuffix));
}

void open_and_align(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes,
                    Coregistration &coreg) {
    for (Input *in : {&a, &b}) {
        const int k = in == &a ? 0 : 1;
        const std::string arg = k == 0 ? o.first : o.second;
        const std::string problem = open_source(arg, o.band, in->src, Assigned{o.srs[k], o.z_unit[k]});
        if (!problem.empty())
            throw Refusal{std::string(in->role) + " " + printable(arg) + " cannot be used: " + problem};
        const Source &s = in->src;
        in->opened = Opened{s.wkt, s.srs_assigned};
        in->opened.has_cell = ground_cell_metres(s, s.gt, s.lines, s.cols, in->opened.cell_width, in->opened.cell_height);
    }
    // The input resampled when the grids differ, and the one whose grid both take.
    Input &moved = o.second_grid ? a : b, &onto = o.second_grid ? b : a;
    // ENVI's header, which gives karvel's rasters their georeferencing, has
    // no form for a rotated or sheared grid: it would be lost.
    for (const Input *in : {&a, &b})
        if (in->src.has_grid && (in->src.gt[2] != 0 || in->src.gt[4] != 0) && (in == &onto || !o.align))
            throw Refusal{in->who() + " has a rotated grid (its geotransform turns by " + fixed_decimals(in->src.gt[2], 6) +
                          " and " + fixed_decimals(in->src.gt[4], 6) +
                          "), which the header of karvel's rasters cannot record; warp it onto a north-up grid "
                          "first (gdalwarp)"};
    check_coordinate_systems(a, b);
    const std::string difference = grid_difference(a.src, b.src);
    if (o.coregister) {
        coregister_pair(a, b, o, notes, coreg);
    } else if (!difference.empty()) {
        if (!o.align)
            throw Refusal{a.who() + " and " + b.who() + " are not on the same grid: " + difference + ". " +
                          missing_srs_advice(a, b) +
                          "--align resamples SECOND onto FIRST's grid with GDAL's warper (bilinear; "
                          "--align=METHOD for another method)"};
        const std::string problem = align_source(moved.src, onto.src, o.method);
        if (!problem.empty()) throw Refusal{moved.who() + " cannot be aligned onto " + onto.who() + ": " + problem};
        notes.push_back(std::string(moved.role) + " was resampled onto " + onto.role + "'s grid (" + o.method +
                        "): " + difference + ".");
    } else if (o.align) {
        notes.push_back(std::string("Both inputs already lie on the same grid: ") + moved.role + " was not resampled.");
    }
    // An input read as it lies whose file runs south-up or east-left is
    // written north-up, west to east, as the other.
    for (const Input *in : {&a, &b}) {
        const Source &s = in->src;
        if (!s.flip_lines && !s.flip_cols) continue;
        const std::string runs = s.flip_lines && s.flip_cols ? "south to north and east to west"
                                 : s.flip_lines                ? "south to north"
                                                               : "east to west";
        const std::string what = s.flip_lines && s.flip_cols ? "lines and its columns" : s.flip_lines ? "lines" : "columns";
        notes.push_back(in->who() + " runs " + runs + " in its file: its " + what +
                        " were read in reverse, so that it is written north-up, west to east.");
    }
}

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

void mark_cells_without_data(Input &a, Input &b, const ImportOptions &o, std::vector<std::string> &notes,
                             long long in_both) {
    choose_nodata(a, o, notes);
    choose_nodata(b, o, notes);
    auto said = [](const Input &in) {
        std::string t = std::to_string(cells_without_data(in)) + " of " + in.role;
        if (in.plan.nodata.declared) t += " (data ignore value " + std::to_string(in.plan.nodata.value) + ")";
        return t;
    };
    notes.push_back("Cells without data: " + said(a) + ", " + said(b) + ", " + std::to_string(a.tally.cells - in_both) +
                    " in either; karvel leaves them out.");
}

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
