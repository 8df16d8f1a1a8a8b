// The maps' figures (map_figure in charts.h): the cells' colours over the
// shaded relief, in the grid's coordinates.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "chart_script.h"
#include "charts.h"
#include "numfmt.h"
#include "paths.h"
#include "select.h"

namespace {

// Where a map's colours end: the 98th percentile of its cells' absolute
// values (cells without a value left out), or 1 when that is 0 or there is
// no cell, so that the colour range is never empty.
double map_clip(const std::vector<float> &cells) {
    std::vector<double> v;
    v.reserve(cells.size());
    for (float c : cells)
        if (std::isfinite(c)) v.push_back(double(c));
    if (v.empty()) return 1.0;
    const double c = select_ranks(v.data(), v.size(), Seen::magnitude, 0.0, {nearest_rank(98, v.size())})[0];
    return c > 0 && std::isfinite(c) ? c : 1.0;
}

// The maps' colours, from -clip (0) to +clip (1): gnuplot's palette, and
// the report's own blending for the PDF, both from these stops.
const double kMapStops[5][4] = {{0, 0x05, 0x30, 0x61},
                                {0.25, 0x43, 0x93, 0xc3},
                                {0.5, 0xf7, 0xf7, 0xf7},
                                {0.75, 0xd6, 0x60, 0x4d},
                                {1, 0x67, 0x00, 0x1f}};

std::string map_palette() {
    std::string p;
    for (const auto &s : kMapStops) {
        char rgb[8];
        std::snprintf(rgb, sizeof rgb, "#%02x%02x%02x", int(s[1]), int(s[2]), int(s[3]));
        p += (p.empty() ? "" : ", ") + num(s[0]) + " \"" + rgb + "\"";
    }
    return "set palette defined (" + p + ")\n";
}

// Each cell's colour as gnuplot's palette gives it (linear between the
// stops over [-clip, clip], the ends beyond), darkened by the relief's
// black of that opacity (of 255), as 8-bit RGB; with `alpha`, RGBA and the
// cells without a value transparent.
std::string shaded_cells(const std::vector<float> &values, double clip, const std::vector<uint8_t> &opacity,
                         bool alpha) {
    const size_t px = alpha ? 4 : 3;
    std::string out(values.size() * px, '\0');
    for (size_t k = 0; k < values.size(); k++) {
        const double v = values[k];
        if (std::isnan(v)) continue;  // transparent black
        const double g = std::clamp((v + clip) / (2 * clip), 0.0, 1.0);
        int s = 0;
        while (s < 3 && g > kMapStops[s + 1][0]) s++;
        const double *a = kMapStops[s], *b = kMapStops[s + 1];
        const double t = (g - a[0]) / (b[0] - a[0]);
        const double keep = opacity.empty() ? 1.0 : 1.0 - opacity[k] / 255.0;
        for (int c = 0; c < 3; c++)  // rounded: the value is at least 0
            out[k * px + size_t(c)] = char(int((a[c + 1] + (b[c + 1] - a[c + 1]) * t) * keep + 0.5));
        if (alpha) out[k * px + 3] = char(255);
    }
    return out;
}

// Where the map's cells lie (the binary array's grid, returned) and the
// axes that frame them (added to the script).
std::string cells_and_axes(const MapCells &m, double ratio, std::string &sc) {
    const MapGrid &g = m.grid;
    const long long lines = (long long)m.lines * m.factor, cols = (long long)m.cols * m.factor;
    std::string grid = "binary array=(" + std::to_string(m.cols) + "," + std::to_string(m.lines) + ")";
    if (g.known) {
        // Cells of f × f positions, centred where such a block lies; the
        // last ones along each side hold fewer positions and are cut by the
        // axes' ranges. The data's line 0 is drawn on the side y0 lies.
        const double step_x = g.dx * m.factor, step_y = g.dy * m.factor;
        const double first_x = g.x0 + step_x / 2, last_x = g.x0 + (m.cols - 0.5) * step_x;
        const double first_y = g.y0 + step_y / 2, last_y = g.y0 + (m.lines - 0.5) * step_y;
        grid += " dx=" + num(std::fabs(step_x)) + " dy=" + num(std::fabs(step_y)) + " origin=(" +
                num(std::min(first_x, last_x)) + "," + num(std::min(first_y, last_y)) + ")" +
                (g.dx < 0 ? " flipx" : "") + (g.dy < 0 ? " flipy" : "");
        const double x1 = g.x0 + double(cols) * g.dx, y1 = g.y0 + double(lines) * g.dy;
        const std::string u = g.unit.empty() ? "" : " (" + g.unit + ")";
        sc += "set xlabel " + gp_quote((g.geographic ? "longitude" : "easting") + u) + "\nset ylabel " +
              gp_quote((g.geographic ? "latitude" : "northing") + u) + "\n";
        sc += "set format x \"%.10g\"\nset format y \"%.10g\"\n";
        sc += "# A unit of y is " + num(ratio) + " times as long on the ground as a unit of x.\n";
        sc += "set size ratio -" + num(ratio) + "\n";
        sc += "set xrange [" + num(std::min(g.x0, x1)) + ":" + num(std::max(g.x0, x1)) + "]\nset yrange [" +
              num(std::min(g.y0, y1)) + ":" + num(std::max(g.y0, y1)) + "]\n";
    } else {
        grid += " dx=" + std::to_string(m.factor) + " dy=" + std::to_string(m.factor) + " origin=(" +
                num(m.factor / 2.0 - 0.5) + "," + num(m.factor / 2.0 - 0.5) + ")";
        sc += "set xlabel \"column\"\nset ylabel \"line\"\nset size ratio -1\n";
        sc += "set xrange [-0.5:" + num(double(cols) - 0.5) + "]\nset yrange [" + num(double(lines) - 0.5) +
              ":-0.5]\n";
    }
    return grid;
}

// The relief darkens the colours where its slopes face away from the
// light: black over them, as opaque as the shade is dark. The shades are
// stretched over their range, so that gentle relief shows too.
std::vector<uint8_t> relief_opacity(const std::vector<uint8_t> &shade) {
    std::vector<uint8_t> opacity;
    if (shade.empty()) return opacity;
    int lo = 255, hi = 1;
    for (uint8_t v : shade)
        if (v != 0) lo = std::min<int>(lo, v), hi = std::max<int>(hi, v);
    const double span = hi > lo ? hi - lo : 1;
    opacity.resize(shade.size());
    for (size_t k = 0; k < shade.size(); k++)
        opacity[k] = uint8_t(std::lround(150.0 * (shade[k] == 0 ? 0.0 : (hi - shade[k]) / span)));
    return opacity;
}

// The plots of the map: the PDF's, of the colours blended here over the
// relief; the PNG's, of the cells with the relief over them.
void map_plots(const MapCells &m, const std::string &name, const std::string &grid, double clip, bool holes,
               const std::string &over, Figure &f, std::string &sc) {
    const std::vector<uint8_t> opacity = relief_opacity(m.shade);
    // The PDF takes the same picture blended here, one image a map: cairo
    // would put both layers into the file, and take twice as long (about
    // 0.2 s a map at 715 x 715 cells).
    const std::string blended = name + (holes ? "_shaded.rgba" : "_shaded.rgb");
    f.data.push_back({blended, shaded_cells(m.values, clip, opacity, holes)});
    sc += "if (exists(\"pdf\")) {\n";
    sc += "  # " + blended + ": the colours of the cells over the relief, as below, " +
          (holes ? "RGBA (cells without data transparent)" : "RGB") + "\n";
    sc += "  plot \"" + blended + "\" " + grid + " format=\"%uchar\" with " + (holes ? "rgbalpha" : "rgbimage") +
          ", NaN with lines lc palette notitle" + over + "\n";
    sc += "} else {\n";
    sc += "  plot \"" + name + ".f32\" " + grid + " format=\"%float\" with image";
    std::string note;
    if (!opacity.empty()) {
        std::vector<uint8_t> rgba(opacity.size() * 4, 0);
        for (size_t k = 0; k < opacity.size(); k++) rgba[4 * k + 3] = opacity[k];
        f.data.push_back({"relief.rgba", bytes_of(rgba)});
        sc += ", \\\n       \"relief.rgba\" " + grid + " format=\"%uchar\" with rgbalpha";
        note = "\n  # relief.rgba: the shaded relief of the first DEM (GDAL's hillshade), black with the shade's "
               "darkness as opacity";
    }
    sc += over + note + "\n}\n";
}

// Text fit for a label: valid UTF-8 without control characters as it is
// (the script then reads UTF-8), anything else as printable ASCII.
bool plain_utf8(const std::string &t) {
    for (size_t k = 0; k < t.size();) {
        const unsigned char c = (unsigned char)t[k];
        const int more = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 && c >= 0xc2 ? 1 : (c & 0xf0) == 0xe0 ? 2
                       : (c & 0xf8) == 0xf0 && c <= 0xf4 ? 3 : -1;
        if (more < 0 || k + size_t(more) >= t.size() || (more == 0 && (c < 0x20 || c == 0x7f))) return false;
        for (int i = 1; i <= more; i++)
            if (((unsigned char)t[k + size_t(i)] & 0xc0) != 0x80) return false;
        k += size_t(more) + 1;
    }
    return true;
}

using MapPoint = std::function<std::pair<double, double>(double, double)>;

// A zone's rings into `data` in the map's coordinates (`at`), a block of
// points a ring, a point within (near_x, near_y) of the last one kept left
// out; returns their extent (x from, to, y from, to).
std::array<double, 4> write_rings(const MapOutlines::Zone &z, const MapPoint &at, double near_x, double near_y,
                                  std::string &data) {
    data += "# zone " + printable(z.name) + "\n";
    std::array<double, 4> e = {INFINITY, -INFINITY, INFINITY, -INFINITY};
    for (const auto &ring : z.rings) {
        std::pair<double, double> last;
        for (size_t k = 0; k < ring.size(); k++) {
            const auto p = at(ring[k].first, ring[k].second);
            e = {std::min(e[0], p.first), std::max(e[1], p.first), std::min(e[2], p.second), std::max(e[3], p.second)};
            const bool near = k > 0 && std::fabs(p.first - last.first) < near_x && std::fabs(p.second - last.second) < near_y;
            if (near && k + 1 < ring.size()) continue;
            data += num(p.first) + " " + num(p.second) + "\n";
            last = p;
        }
        data += "\n";
    }
    return e;
}

// The zones outlined over the map: their rings (points nearer than a
// quarter of a map cell to the last one kept left out) into the data file
// zones_outline.dat, each zone's name at a point inside it where the zone
// is large enough on the map to hold it and no earlier name is in its way.
// Returns what the plots add (nothing without zones).
std::string outline_plots(const MapCells &m, double ratio, Figure &f, std::string &sc) {
    if (!m.outlines || m.outlines->zones.empty()) return "";
    const MapGrid &g = m.grid;
    const double *t = m.outlines->to_cell;
    // The map's coordinates of a point of the grid's: those of the grid, or
    // its (column, line) position, cells centred on whole numbers.
    const MapPoint at = [&](double x, double y) -> std::pair<double, double> {
        if (g.known) return {x, y};
        return {t[0] + t[1] * x + t[2] * y - 0.5, t[3] + t[4] * x + t[5] * y - 0.5};
    };
    const double cell_x = (g.known ? std::fabs(g.dx) : 1.0) * m.factor, cell_y = (g.known ? std::fabs(g.dy) : 1.0) * m.factor;
    const double span_x = cell_x * m.cols, span_y = cell_y * m.lines;
    const double lo_x = g.known ? std::min(g.x0, g.x0 + g.dx * m.cols * m.factor) : -0.5;
    const double lo_y = g.known ? std::min(g.y0, g.y0 + g.dy * m.lines * m.factor) : -0.5;
    // About the pixels of a unit of x and of y in the PNG's plot.
    const double px = std::min(700.0 / span_x, (f.height - 160.0) / (ratio * span_y)), py = px * ratio;
    std::string data = "# The zones' outlines in the map's coordinates (x y), a block of points a ring\n";
    std::string labels;
    std::vector<std::array<double, 4>> taken;  // the labels' boxes placed, in pixels
    bool utf8 = false;
    for (const MapOutlines::Zone &z : m.outlines->zones) {
        const auto [x0, x1, y0, y1] = write_rings(z, at, cell_x / 4, cell_y / 4, data);
        if (!z.labelled) continue;
        const std::string text = plain_utf8(z.name) ? z.name : printable(z.name);
        const auto [lx, ly] = at(z.label_x, z.label_y);
        size_t chars = 0;
        for (char c : text) chars += ((unsigned char)c & 0xc0) != 0x80;
        const double w = 7.5 * double(chars) + 8, h = 18;
        const std::array<double, 4> box = {(lx - lo_x) * px - w / 2, (lx - lo_x) * px + w / 2, (ly - lo_y) * py - h / 2,
                                           (ly - lo_y) * py + h / 2};
        const bool inside = lx > lo_x && lx < lo_x + span_x && ly > lo_y && ly < lo_y + span_y;
        const bool room = (x1 - x0) * px >= w && (y1 - y0) * py >= h;
        const bool clear = std::none_of(taken.begin(), taken.end(), [&](const std::array<double, 4> &b) {
            return box[0] < b[1] && b[0] < box[1] && box[2] < b[3] && b[2] < box[3];
        });
        if (!inside || !room || !clear) continue;
        taken.push_back(box);
        utf8 = utf8 || text != printable(text);
        labels += "set label " + std::to_string(taken.size()) + " " + gp_quote(text) + " at " + num(lx) + "," +
                  num(ly) + " center front boxed textcolor rgb \"black\"\n";
    }
    f.data.push_back({"zones_outline.dat", data});
    sc += "# zones_outline.dat: the zones' outlines, drawn black on white, with their names where they fit\n";
    sc += "set clip two\n";
    if (!labels.empty()) {
        if (utf8) sc += "set encoding utf8\n";
        sc += "set style textbox opaque fillcolor rgb \"white\" noborder\n" + labels;
    }
    return ", \\\n       \"zones_outline.dat\" using 1:2 with lines lc rgb \"white\" lw 4, \"\" using 1:2 with lines lc "
           "rgb \"black\" lw 2";
}

}  // namespace

Figure map_figure(const std::string &name, const std::string &title, const MapCells &m, const std::string &unit) {
    Figure f;
    f.name = name;
    f.map = true;
    const MapGrid &g = m.grid;
    const long long lines = (long long)m.lines * m.factor, cols = (long long)m.cols * m.factor;
    // The map's height against its width on the ground (on the page, once
    // the axes are scaled to it).
    const double ratio = g.known ? g.north_m / g.east_m : 1.0;
    const double aspect = g.known ? double(lines) * std::fabs(g.dy) * ratio / (double(cols) * std::fabs(g.dx))
                                  : double(m.lines) / double(m.cols);
    f.width = 1000;
    f.height = std::clamp(int(std::lround(120 + 800 * aspect)), 400, 1600);
    f.data.push_back({name + ".f32", bytes_of(m.values)});
    const double c = map_clip(m.values);
    std::string sc = preamble(f, title);
    sc += "# " + name + ".f32: " + std::to_string(m.cols) + " x " + std::to_string(m.lines) +
          " float32 cells, line 0 first; each cell the mean of " + std::to_string(m.factor) + " x " +
          std::to_string(m.factor) + " positions\n";
    // Cells without data (not a number: no position with data in both) are
    // left undrawn over hatched grey, which neither a difference nor the
    // relief's shading of one takes.
    const bool holes = std::any_of(m.values.begin(), m.values.end(), [](float v) { return std::isnan(v); });
    sc += "set title " + gp_quote(title + kfmt(" (colours clipped at +-%lf %s, the 98th percentile of the cells", c,
                                               unit.c_str()) +
                                  (holes ? "; hatched grey: no data)" : ")")) +
          "\n";
    if (holes)
        sc += "set object 1 rectangle from graph 0,0 to graph 1,1 behind fillcolor rgb \"#bdbdbd\" fillstyle solid 1.0 "
              "noborder\nset object 2 rectangle from graph 0,0 to graph 1,1 behind fillcolor rgb \"#6e6e6e\" "
              "fillstyle transparent pattern 4 noborder\n";
    sc += "set cblabel " + gp_quote(unit) + "\nunset key\nset tics out\n";
    const std::string grid = cells_and_axes(m, ratio, sc);
    sc += "clip = " + num(c) + "\nset cbrange [-clip:clip]\n";
    sc += map_palette();
    const std::string over = outline_plots(m, ratio, f, sc);
    map_plots(m, name, grid, c, holes, over, f, sc);
    f.script = sc;
    return f;
}
