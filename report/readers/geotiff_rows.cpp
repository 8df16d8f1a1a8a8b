#include "geotiff_rows.h"

#include <cerrno>
#include <cstring>

#include "paths.h"
#include "rows.h"

std::string GeoTiffRows::prepare(const Setup &setup) {
    const Summary &s = setup.run->s;
    lines_ = s.lines;
    // The GeoTIFFs are written during the one pass over the rasters: at
    // most their uncompressed size, float32 samples, must fit on the disk.
    const std::string space = space_problem(setup.dir, uint64_t(2) * uint64_t(s.lines) * uint64_t(s.cols) * 4);
    if (!space.empty()) return "the two GeoTIFFs may not fit on the disk (uncompressed, at most): " + space;
    if (!staged_begin(diff_file_, setup.out_base + "_diff.tif") ||
        !staged_begin(resid_file_, setup.out_base + "_resid.tif"))
        return "cannot create a file in " + printable(setup.folder_shown) + ": " + std::strerror(errno);
    const Georef &geo = setup.rasters->geo;
    const bool masked = setup.rasters->pairs.masked();
    std::string p = diff_tif_.create(diff_file_.temp_path, s.lines, s.cols, geo, setup.unit, masked);
    if (p.empty()) p = resid_tif_.create(resid_file_.temp_path, s.lines, s.cols, geo, setup.unit, masked);
    return p.empty() ? p : "cannot write a GeoTIFF in " + printable(setup.folder_shown) + ": " + p;
}

void GeoTiffRows::room(LineRoom &room) {
    diff_ = diff_tif_.next_line();
    resid_ = resid_tif_.next_line();
    room.diff = diff_;
    room.resid = resid_;
}

std::string GeoTiffRows::line(const Line &l) {
    if (l.keep) blank_left_out(l.keep, l.cols, l.diff, l.resid);
    written_ = diff_ && resid_ && diff_tif_.line_filled() && resid_tif_.line_filled() && written_;
    // GDAL finishes compressing the GeoTIFFs while the figures are made.
    if (l.index + 1 == lines_) close();
    return "";
}

void GeoTiffRows::close() {
    closing_ = true;
    closer_ = std::jthread([this] {
        problem_ = diff_tif_.close();
        if (problem_.empty()) problem_ = resid_tif_.close();
    });
}

std::string GeoTiffRows::files(std::vector<StagedFile *> &out) {
    if (!closing_) close();
    if (closer_.joinable()) closer_.join();
    if (!problem_.empty() || !written_) return "a GeoTIFF could not be written: " + problem_;
    out.push_back(&diff_file_);
    out.push_back(&resid_file_);
    return "";
}
