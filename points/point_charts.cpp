#include "point_charts.h"

#include <gdal.h>

#include <algorithm>
#include <cmath>

#include "chart_script.h"
#include "gdal_problem.h"
#include "maps.h"
#include "numfmt.h"

namespace {

// The scatters and the map draw at most this many points, every k-th.
constexpr size_t kMostDrawn = 5000;
constexpr int kHistogramBins = 60;

// The blue-white-red scale of d, symmetric about 0 up to `clip`.
std::string diff_palette(double clip) {
    return "clip = " + num(clip) +
           "\nset cbrange [-clip:clip]\nset cblabel \"d = DEM - point (m)\"\n"
           "set palette defined (-1 \"#2166ac\", 0 \"#f7f7f7\", 1 \"#b2182b\")\n";
}

// The colour scale's end: LE95, or 1 m when d has no spread.
double clip_of(const PointFigures &f) { return std::isfinite(f.le95) && f.le95 > 0 ? f.le95 : 1.0; }

// The points kept, every k-th so that at most kMostDrawn are drawn:
// columns x, y, z_point, d, slope_deg.
std::string drawn_points(const CheckPoints &p, const AtPoints &at, const std::vector<double> &d, size_t n) {
    const size_t every = std::max<size_t>(1, (n + kMostDrawn - 1) / kMostDrawn);
    std::string t = "# x\ty\tz_point (m)\td (m)\tslope (degrees)\n";
    size_t seen = 0;
    for (size_t k = 0; k < p.size(); k++) {
        if (at.reason[k] != Reason::none || seen++ % every != 0) continue;
        t += num(p.x[k]) + "\t" + num(p.y[k]) + "\t" + num(p.z[k]) + "\t" + num(d[k]) + "\t" + num(at.slope[k]) + "\n";
    }
    return t;
}

std::string drawn_note(long long n) {
    return n > (long long)kMostDrawn ? " (" + std::to_string(kMostDrawn) + " of " + std::to_string(n) + " drawn)" : "";
}

Figure map_figure(const Dem &dem, const Relief &r, const PointFigures &f, const std::string &points) {
    Figure fig;
    fig.name = "points_map";
    fig.map = true;
    const Source &s = dem.src;
    fig.height = std::clamp(int(std::lround(120 + 800 * double(s.lines) / double(s.cols))), 400, 1600);
    std::string sc = preamble(fig, "The check points over the DEM's shaded relief, coloured by d");
    sc += "set title " + gp_quote("d = DEM - point at the check points" + drawn_note(f.n)) + "\n";
    sc += "unset key\nset tics out\nset size ratio -1\n";
    sc += "set xrange [" + num(s.gt[0]) + ":" + num(s.gt[0] + s.cols * s.gt[1]) + "]\n";
    sc += "set yrange [" + num(s.gt[3] + s.lines * s.gt[5]) + ":" + num(s.gt[3]) + "]\n";
    sc += diff_palette(clip_of(f));
    std::string plot = "plot ";
    if (!r.shade.empty()) {
        std::vector<uint8_t> rgb;
        for (uint8_t v : r.shade) rgb.insert(rgb.end(), 3, v == 0 ? uint8_t(255) : v);
        fig.data.push_back({"relief.rgb", bytes_of(rgb)});
        const double dx = s.gt[1] * r.factor, dy = std::fabs(s.gt[5]) * r.factor;
        // relief.rgb: the shaded relief (GDAL's hillshade), line 0 the northernmost.
        plot += "\"relief.rgb\" binary array=(" + std::to_string(r.cols) + "," + std::to_string(r.lines) +
                ") format=\"%uchar\" dx=" + num(dx) + " dy=" + num(dy) + " origin=(" + num(s.gt[0] + dx / 2) + "," +
                num(s.gt[3] - r.lines * dy + dy / 2) + ") flipy with rgbimage, \\\n     ";
    }
    fig.data.push_back({"points.dat", points});
    fig.script = sc + plot +
                 "\"points.dat\" using 1:2:(($4 > clip) ? clip : ($4 < -clip) ? -clip : $4) with points "
                 "pt 7 ps 0.6 lc palette\n";
    return fig;
}

Figure histogram_figure(const std::vector<double> &kept, const PointFigures &f) {
    Figure fig;
    fig.name = "d_histogram";
    Headline h;
    h.min_diff = f.min_diff, h.max_diff = f.max_diff;
    held_ranks(kept.data(), kept.size(), h);
    const DiffHistogram hist = diff_histogram(kept.data(), kept.size(), h, kHistogramBins);
    const double step = (hist.hi - hist.lo) / kHistogramBins;
    std::string data = "# bin centre (m)\tcount\n";
    for (int k = 0; k < kHistogramBins; k++)
        data += num(hist.lo + (k + 0.5) * step) + "\t" + std::to_string(hist.counts[size_t(k)]) + "\n";
    fig.data.push_back({"d_histogram.dat", data});
    std::string sc = preamble(fig, "Histogram of d = DEM - point");
    sc += "set title " +
          gp_quote("d = DEM - point" +
                   (hist.outside > 0 ? kfmt(" (%lld beyond the axis not shown)", hist.outside) : std::string())) +
          "\n";
    sc += "set xlabel \"d (m)\"\nset ylabel \"check points\"\nset style fill solid 0.7 border -1\n";
    sc += "set boxwidth " + num(step) + " absolute\nset grid y\nset yrange [0:*]\nunset key\n";
    if (std::isfinite(f.mean_diff))
        sc += "set arrow 1 from " + num(f.mean_diff) + ", graph 0 to " + num(f.mean_diff) +
              ", graph 1 nohead lw 2 lc rgb \"#c00000\"\n";
    fig.script = sc + "plot \"d_histogram.dat\" using 1:2 with boxes lc rgb \"#7090c0\"\n";
    return fig;
}

// d against column `col` of points.dat (3: elevation, 5: slope).
Figure scatter_figure(const std::string &name, int col, const std::string &what, const PointFigures &f,
                      const std::string &points) {
    Figure fig;
    fig.name = name;
    fig.data.push_back({"points.dat", points});
    std::string sc = preamble(fig, "d = DEM - point against " + what);
    sc += "set title " +
          gp_quote("d against " + what + " (a trend says the DEM has a bias to correct)" + drawn_note(f.n)) + "\n";
    sc += "set xlabel " + gp_quote(what) + "\nset ylabel \"d = DEM - point (m)\"\nset grid\nunset key\n";
    sc += "plot \"points.dat\" using " + std::to_string(col) + ":4 with points pt 7 ps 0.4 lc rgb \"#3060a0\", " +
          num(f.mean_diff) + " with lines lw 2 lc rgb \"#c00000\"\n";
    fig.script = sc;
    return fig;
}

}  // namespace

std::string dem_relief(const Dem &dem, Relief &r) {
    const Source &s = dem.src;
    r.factor = std::max(1, (std::max(s.lines, s.cols) + kReliefSide - 1) / kReliefSide);
    r.lines = (s.lines + r.factor - 1) / r.factor, r.cols = (s.cols + r.factor - 1) / r.factor;
    std::vector<double> v(size_t(r.lines) * size_t(r.cols));
    CPLErrorReset();
    if (GDALRasterIO(s.band, GF_Read, 0, 0, s.cols, s.lines, v.data(), r.cols, r.lines, GDT_Float64, 0, 0) != CE_None)
        return "the DEM cannot be read for its relief: " + gdal_problem();
    std::vector<float> z(v.size());
    for (int i = 0; i < r.lines; i++)
        for (int j = 0; j < r.cols; j++) {
            // The grid runs north-up and west to east, whatever the file's order.
            const double x = v[size_t(s.flip_lines ? r.lines - 1 - i : i) * size_t(r.cols) +
                               size_t(s.flip_cols ? r.cols - 1 - j : j)];
            z[size_t(i) * size_t(r.cols) + size_t(j)] =
                is_nodata_value(s, x) ? NAN : float((x * s.scale + s.offset) * dem.metres);
        }
    double w = 1, h = 1;
    cell_metres(dem.ground, s.lines / 2.0, w, h);
    return hillshade(z, r.lines, r.cols, w * s.cols / r.cols, h * s.lines / r.lines, r.shade);
}

std::vector<Figure> point_charts(const std::vector<std::string> &table, const Dem &dem, const Relief &relief,
                                 const CheckPoints &p, const AtPoints &at, const std::vector<double> &d,
                                 const PointFigures &f) {
    std::vector<double> kept;
    for (size_t k = 0; k < d.size(); k++)
        if (at.reason[k] == Reason::none) kept.push_back(d[k]);
    const std::string points = drawn_points(p, at, d, kept.size());
    return {table_figure("The headline figures of the check points", table), map_figure(dem, relief, f, points),
            histogram_figure(kept, f), scatter_figure("d_elevation", 3, "the check point's elevation (m)", f, points),
            scatter_figure("d_slope", 5, "the DEM's slope (degrees)", f, points)};
}
