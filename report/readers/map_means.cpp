#include "map_means.h"

std::string MapMeans::prepare(const Setup &setup) {
    setup_ = &setup;
    const Summary &s = setup.run->s;
    image_ = s.image;
    first_ = std::make_unique<BlockMeans>(s.lines, s.cols, kPictureSide);
    diff_ = std::make_unique<BlockMeans>(s.lines, s.cols, kPictureSide);
    resid_ = std::make_unique<BlockMeans>(s.lines, s.cols, kPictureSide);
    return "";
}

std::string MapMeans::line(const Line &l) {
    if (!image_) first_->add_line(l.index, l.x, l.keep);
    diff_->add_line(l.index, l.d, l.keep);
    resid_->add_line(l.index, l.e, l.keep);
    return "";
}

std::string MapMeans::figures(const Headline &h, std::vector<Figure> &out) {
    const Rasters &r = *setup_->rasters;
    const std::string shaded = map_figures(r.geo, double(r.in[0].values[5]), first(), *diff_, *resid_, h.unit,
                                           &outlines_, out);
    return shaded.empty() ? "" : "GDAL could not shade the relief of the first DEM: " + shaded;
}
