#include "warp.h"

#include <cpl_error.h>
#include <gdal_utils.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "gdal_problem.h"

GDALDatasetH one_band_view(GDALDatasetH ds, int band, const std::string &name) {
    const std::string number = std::to_string(band);
    const char *args[] = {"-of", "VRT", "-b", number.c_str(), nullptr};
    GDALTranslateOptions *opts = GDALTranslateOptionsNew(const_cast<char **>(args), nullptr);
    GDALDatasetH view = GDALTranslate(name.c_str(), ds, opts, nullptr);
    GDALTranslateOptionsFree(opts);
    // A named view is written now, so that another dataset can open it.
    if (view && !name.empty()) GDALFlushCache(view);
    return view;
}

GDALDatasetH warp_onto(GDALDatasetH src, const std::string &src_wkt, const std::string &dst_wkt, const WarpGrid &t,
                       const std::string &method, bool vrt, std::string &problem) {
    const double xmin = t.x0, xmax = t.x0 + t.dx * t.cols;
    const double ytop = t.y0, ybottom = t.y0 + t.dy * t.lines;
    auto g = [](double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return std::string(buf);
    };
    const std::string te[4] = {g(std::min(xmin, xmax)), g(std::min(ytop, ybottom)), g(std::max(xmin, xmax)),
                               g(std::max(ytop, ybottom))};
    const std::string ts[2] = {std::to_string(t.cols), std::to_string(t.lines)};
    std::vector<const char *> args = {"-of",         vrt ? "VRT" : "MEM", "-r",          method.c_str(), "-ot",
                                      "Float64",     "-dstnodata",        "nan",         "-te",          te[0].c_str(),
                                      te[1].c_str(), te[2].c_str(),       te[3].c_str(), "-ts",          ts[0].c_str(),
                                      ts[1].c_str()};
    if (t.points) {
        // Each target cell takes the value at its centre, as on the full grid:
        // a coarser target must not widen the kernel into an average.
        for (const char *o : {"-wo", "XSCALE=1", "-wo", "YSCALE=1"}) args.push_back(o);
    }
    if (!dst_wkt.empty() && !src_wkt.empty()) {
        args.push_back("-s_srs");
        args.push_back(src_wkt.c_str());
        args.push_back("-t_srs");
        args.push_back(dst_wkt.c_str());
    }
    args.push_back(nullptr);
    GDALWarpAppOptions *wopts = GDALWarpAppOptionsNew(const_cast<char **>(args.data()), nullptr);
    if (wopts == nullptr) {
        problem = "GDAL's warper refuses the options: " + gdal_problem();
        return nullptr;
    }
    CPLErrorReset();
    int usage_error = 0;
    GDALDatasetH out = GDALWarp("", nullptr, 1, &src, wopts, &usage_error);
    GDALWarpAppOptionsFree(wopts);
    if (out == nullptr) problem = "GDAL's warper cannot resample it: " + gdal_problem();
    return out;
}

GDALDatasetH with_block_lines(GDALDatasetH warped, int lines, std::string &problem) {
    char **xml = GDALGetMetadata(warped, "xml:VRT");
    std::string text = xml && xml[0] ? xml[0] : "";
    const std::string open_tag = "<BlockYSize>", close_tag = "</BlockYSize>";
    const size_t at = text.find(open_tag), end = at == std::string::npos ? at : text.find(close_tag, at);
    if (end == std::string::npos) {
        problem = "GDAL gives no description of the warped raster to read it in fewer lines";
        return nullptr;
    }
    text.replace(at + open_tag.size(), end - at - open_tag.size(), std::to_string(std::max(lines, 1)));
    CPLErrorReset();
    GDALDatasetH out = GDALOpen(text.c_str(), GA_ReadOnly);
    if (!out) problem = "GDAL cannot open the warped raster again in fewer lines: " + gdal_problem();
    return out;
}
