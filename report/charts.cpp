#include "charts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bins.h"
#include "chart_script.h"
#include "numfmt.h"
#include "select.h"

namespace {

// Bars of an error histogram of up to this many bins are at least some 6
// pixels wide in its PNG.
constexpr size_t kOutlinedBars = 150;

// The logarithmic colour scale of counts up to `most`: from 1 to at least
// 2, so that it is never empty. Below three decades gnuplot would mark
// only the powers of ten (a single "1" up to a count of 9): the scale is
// marked at every count below 10, else at 1, 2 and 5 times each power of
// ten.
std::string count_scale(double most) {
    const double top = std::max(2.0, most);
    std::string sc = "set cbrange [1:" + num(top) + "]\n";
    if (top >= 1000) return sc;
    std::string tics;
    if (top < 10)
        for (double c = 1; c <= top; c++) tics += (tics.empty() ? "" : ", ") + num(c);
    for (double p = 1; top >= 10 && p <= top; p *= 10)
        for (double m : {1.0, 2.0, 5.0})
            if (m * p <= top) tics += (tics.empty() ? "" : ", ") + num(m * p);
    return sc + "set cbtics (" + tics + ")\nset mcbtics default\n";
}

}  // namespace

std::string num(double v) { return std::isfinite(v) ? exact_number(v) : "NaN"; }

std::string preamble(const Figure &f, const std::string &title) {
    return "# " + title + "\n# Redraw: gnuplot " + f.name + ".gp  (writes " + f.name +
           ".png; gnuplot -e \"out='other.png'\" " + f.name + ".gp writes another file)\n" +
           "reset\n"
           "if (!exists(\"pdf\")) {\n"
           "  if (!exists(\"out\")) { out = \"" + f.name + ".png\" }\n"
           "  set terminal pngcairo size " + std::to_string(f.width) + "," + std::to_string(f.height) +
           " noenhanced font \"sans,11\"\n"
           "  set output out\n"
           "}\n";
}

std::string gp_quote(const std::string &text) {
    // Single quotes: gnuplot expands backquotes (runs a shell command) and
    // backslash escapes inside double quotes, never inside single ones. A
    // quote is doubled; a line end is joined on as a string of its own.
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "''";
        else if (c == '\n') q += "'.\"\\n\".'";
        else q += c;
    }
    return q + "'";
}

Figure table_figure(const std::string &title, const std::vector<std::string> &lines) {
    Figure f;
    f.name = "headline";
    f.width = 1000;
    f.height = 750;
    std::string sc = preamble(f, title);
    sc += "unset border\nunset tics\nunset key\nset xrange [0:1]\nset yrange [0:1]\n";
    // The table fills the page: its lines spread down the height, in a font
    // as large as lets the longest line span 88 % of the width and leaves
    // each line half its height again of space. A monospace character is
    // about 0.6 of the font's size wide; the PNG draws a point as 1.33
    // pixels, and pdfcairo draws fonts at about 0.63 of their size in points
    // on its 11 × 8.5 inch page.
    size_t longest = 1;
    for (const auto &l : lines) longest = std::max(longest, l.size());
    const double rows = double(lines.size());
    const double png_size = std::min({16.0, 0.88 * f.width / (0.6 * 1.33 * double(longest)),
                                      0.9 * f.height / (rows * 1.5 * 1.33)});
    const double pdf_size = std::min({28.0, 0.88 * 792 / (0.6 * 0.63 * double(longest)),
                                      0.9 * 612 / (rows * 1.5 * 0.63)});
    auto tenths = [](double v) { return num(std::floor(v * 10) / 10); };
    sc += "size = exists(\"pdf\") ? " + tenths(pdf_size) + " : " + tenths(png_size) + "\n";
    sc += "table_font = sprintf(\"monospace,%g\", size)\n";
    const double step = std::min(0.06, 0.9 / std::max(1.0, rows - 1));
    double y = 0.95;
    int k = 1;
    for (const auto &l : lines) {
        sc += "set label " + std::to_string(k++) + " " + gp_quote(l) + " at screen 0.06," + num(y) +
              " left font table_font\n";
        y -= step;
    }
    sc += "plot -1 notitle\n";
    f.script = sc;
    return f;
}

Figure headline_figure(const Headline &h, const std::string &result, const Summary &s,
                       const std::vector<std::string> &more) {
    std::vector<std::string> lines = {"Comparison " + result, "first:  " + s.first_shown,
                                      "second: " + s.second_shown,
                                      kfmt("%d lines, %d columns", s.lines, s.cols), ""};
    for (const auto &l : headline_lines(h)) lines.push_back(l);
    for (const auto &l : more) lines.push_back(l);
    return table_figure("The headline figures of the comparison " + result, lines);
}

Figure error_histogram_figure(const std::vector<long long> &counts, const std::string &unit, bool logarithmic,
                              size_t width) {
    Figure f;
    f.name = logarithmic ? "error_histogram_log" : "error_histogram";
    const std::string merged = width == 1 ? "" : " of " + std::to_string(width) + " bins";
    std::string data = "# bin" + merged + "\terror from (" + unit + ")\tcount\n";
    for (size_t k = 0; k < counts.size(); k++)
        data += std::to_string(k) + "\t" + num(double(k * width) / 10.0) + "\t" + std::to_string(counts[k]) + "\n";
    f.data.push_back({"error_histogram.dat", data});
    std::string sc = preamble(f, std::string("karvel's error histogram in tenths of the unit, ") +
                                     (logarithmic ? "logarithmic" : "linear") + " count axis");
    sc += "set title " +
          gp_quote(std::string("Errors against the fitted line, in ") +
                   (width == 1 ? "tenths" : "bins of " + std::to_string(width) + " tenths") + " (bin 0 included)" +
                   (logarithmic ? ", logarithmic counts" : "")) +
          "\n";
    sc += "set xlabel " + gp_quote("|second - (B0 + B1 x first)|  (" + unit + ")") + "\nset ylabel \"positions\"\n";
    // Filled bars. Outlined in a darker shade while they are wide enough to
    // be told apart; narrower ones are outlined in their own colour, which
    // closes the gaps between neighbours instead of drawing a comb of edges.
    const bool wide = counts.size() <= kOutlinedBars;
    const std::string box = num(double(width) / 10.0), half = num(double(width) / 20.0);
    sc += std::string("set style fill solid 1.0 border lc rgb \"") + (wide ? "#1c3a66" : "#3060a0") +
          "\"\nset boxwidth " + box + " absolute\nunset key\nset grid y\n";
    // Bin k spans [k/10, (k+1)/10): the axis begins at 0, where the errors do.
    sc += "set xrange [0:" + num(double(std::max<size_t>(counts.size(), 1) * width) / 10.0) + "]\n";
    if (logarithmic) sc += "set logscale y\nset yrange [0.8:*]\n";
    else sc += "set yrange [0:*]\n";
    // Bins without a count have no box on a logarithmic axis.
    sc += "plot \"error_histogram.dat\" using ($2+" + half + "):" + (logarithmic ? "($3 > 0 ? $3 : NaN)" : "3") +
          " with boxes lc rgb \"#3060a0\"\n";
    f.script = sc;
    return f;
}

Figure profiles_figure(const std::vector<LineRow> &rows, const std::string &unit) {
    Figure f;
    f.name = "profiles";
    f.height = 1000;
    // One block per figure; a row whose figure is not finite ends a segment
    // (a blank line), so that it shows as a gap.
    std::string data;
    const char *names[4] = {"St. Dev.", "slope", "r", "r2"};
    bool any[4] = {false, false, false, false};
    for (int k = 0; k < 4; k++) {
        data += std::string("# ") + names[k] + " by line\n";
        bool gap = false;
        for (const auto &r : rows) {
            const double v = k == 0 ? r.desv : k == 1 ? r.slope : k == 2 ? r.r : r.r2;
            if (!std::isfinite(v)) {
                if (!gap) data += "\n";
                gap = true;
                continue;
            }
            gap = false;
            any[k] = true;
            data += std::to_string(r.line) + "\t" + num(v) + "\n";
        }
        data += "\n\n";
    }
    f.data.push_back({"profiles.dat", data});
    std::string sc = preamble(f, "karvel's per-line figures against the line number");
    // The panels' frames at fixed places on the page (in fractions of it), so
    // that they line up whatever the width of their tic labels.
    sc += "set multiplot layout 4,1 title \"Per-line figures (gaps: not a finite number)\" "
          "margins 0.11,0.97,0.07,0.94 spacing 0,0.055\nunset key\nset grid\n";
    sc += "set xrange [" + num(-0.5) + ":" + num(double(rows.size()) - 0.5) + "]\n";
    const std::string labels[4] = {"St. Dev. of |second - first| (" + unit + ")", "Slope", "r", "r2"};
    const char *colours[4] = {"#3060a0", "#a03030", "#308030", "#806020"};
    for (int k = 0; k < 4; k++) {
        sc += "set ylabel " + gp_quote(labels[k]) + "\n";
        if (k == 3) sc += "set xlabel \"line\"\n";
        if (!any[k]) {
            // gnuplot refuses a plot without one defined point: say so instead.
            sc += "set yrange [-1:1]\nset label 1 'no line has a finite value' at graph 0.5,0.5 center\n"
                  "plot NaN\nunset label 1\nset autoscale y\n";
            continue;
        }
        sc += "plot \"profiles.dat\" index " + std::to_string(k) + " using 1:2 with lines lc rgb \"" + colours[k] +
              "\"\n";
    }
    sc += "unset multiplot\n";
    f.script = sc;
    return f;
}

Figure density_figure(const Density &d, const Headline &h) {
    Figure f;
    f.name = "scatter";
    f.width = 900;
    f.height = 800;
    std::vector<float> cells(d.counts.size());
    for (size_t k = 0; k < cells.size(); k++) cells[k] = d.counts[k] > 0 ? float(d.counts[k]) : NAN;
    f.data.push_back({"scatter.f32", bytes_of(cells)});
    const double step = (d.hi - d.lo) / d.bins;
    std::string sc = preamble(f, "Density of (first, second): a 2-D histogram, logarithmic colour");
    sc += "# scatter.f32: " + std::to_string(d.bins) + " x " + std::to_string(d.bins) +
          " float32 counts (NaN: none), first raster along x, second along y\n";
    sc += "set title \"Second survey against the first (positions per cell)\"\n";
    sc += "set xlabel " + gp_quote("first (" + h.unit + ")") + "\nset ylabel " + gp_quote("second (" + h.unit + ")") +
          "\n";
    sc += "set size ratio -1\nset logscale cb\nset palette rgbformulae 30,31,32\nset key top left opaque\n";
    double most = 0;
    for (double c : d.counts) most = std::max(most, c);
    sc += "set cblabel \"positions per cell\"\n" + count_scale(most);
    sc += "set xrange [" + num(d.lo) + ":" + num(d.hi) + "]\nset yrange [" + num(d.lo) + ":" + num(d.hi) + "]\n";
    sc += "B0 = " + num(h.b0) + "\nB1 = " + num(h.b1) + "\n";
    sc += "plot \"scatter.f32\" binary array=(" + std::to_string(d.bins) + "," + std::to_string(d.bins) +
          ") format=\"%float\" dx=" + num(step) + " dy=" + num(step) + " origin=(" + num(d.lo + step / 2) + "," +
          num(d.lo + step / 2) + ") with image notitle, \\\n";
    sc += "     B0 + B1*x with lines lw 2 lc rgb \"#c00000\" title sprintf(\"fitted: y = %.6f + %.6f x\", B0, B1), \\\n";
    sc += "     x with lines lw 1 dt 2 lc rgb \"black\" title \"1 : 1\"\n";
    f.script = sc;
    return f;
}

Figure class_figure(const std::vector<ClassRow> &rows, bool slope, const std::string &unit) {
    Figure f;
    f.name = slope ? "slope_classes" : "classes";
    const size_t k_rows = rows.size();
    f.width = std::clamp(int(200 + 60 * k_rows), 1000, 3000);
    auto label = [&](const ClassRow &r, size_t k) {
        return slope ? "[" + exact_number(r.from_deg) + ", " + exact_number(r.to_deg) + (k + 1 == k_rows ? "]" : ")")
                     : std::to_string(r.value);
    };
    std::string data = std::string("# ") + (slope ? "slope class (degrees)" : "class") + "\tn\tmean_diff (" + unit +
                       ")\tnmad (" + unit + ")\n";
    bool any = false;
    for (size_t k = 0; k < k_rows; k++) {
        const Headline &h = rows[k].h;
        const bool has = h.n > 0;
        any = any || (has && (std::isfinite(h.mean_diff) || std::isfinite(h.nmad)));
        data += std::to_string(k) + "\t\"" + label(rows[k], k) + "\"\t" + std::to_string(h.n) + "\t" +
                num(has ? h.mean_diff : NAN) + "\t" + num(has ? h.nmad : NAN) + "\n";
    }
    const std::string file = f.name + ".dat";
    f.data.push_back({file, data});
    const std::string what = slope ? "slope class of the first DEM" : "class";
    std::string sc = preamble(f, "NMAD and mean difference by " + what + ", with the counts");
    sc += "# " + file + ": index, class, n, mean difference, NMAD (NaN: an empty class)\n";
    sc += "set title " + gp_quote("NMAD and mean difference (second - first) by " + what + "; above each: positions") +
          "\n";
    sc += "set xlabel " + gp_quote(slope ? "slope of the first DEM (degrees)" : "class") + "\nset ylabel " +
          gp_quote(unit) + "\n";
    sc += "set style fill solid 0.85 border -1\nset boxwidth 0.38 absolute\nset grid y\nset xzeroaxis lt -1\n";
    sc += "set key below horizontal\nset xrange [-0.6:" + num(double(k_rows) - 0.4) + "]\n";
    std::string tics;
    for (size_t k = 0; k < k_rows; k++)
        tics += (k ? ", " : "") + gp_quote(label(rows[k], k)) + " " + std::to_string(k);
    sc += "set xtics (" + tics + ")" + (k_rows > 12 ? " rotate by -45" : "") + "\n";
    for (size_t k = 0; k < k_rows; k++)
        sc += "set label " + std::to_string(k + 1) + " " + gp_quote("n = " + std::to_string(rows[k].h.n)) + " at first " +
              std::to_string(k) + ", graph 0.95 center" + (k_rows > 12 ? " rotate by 90" : "") + "\n";
    // Room above the bars for the counts.
    sc += "set offsets 0, 0, graph 0.15, graph 0.02\n";
    if (!any) {
        // gnuplot refuses a plot without one defined point: say so instead.
        sc += "set yrange [-1:1]\nset label 1000 'no class holds a position' at graph 0.5,0.5 center\nplot NaN notitle\n";
    } else {
        sc += "plot \"" + file + "\" using ($1-0.2):5 with boxes lc rgb \"#3060a0\" title \"NMAD\", \\\n"
              "     \"" + file + "\" using ($1+0.2):4 with boxes lc rgb \"#d07030\" title \"mean difference\"\n";
    }
    f.script = sc;
    return f;
}

DiffBinner::DiffBinner(const Headline &h, int bins) {
    double reach = std::isfinite(h.clip) && h.clip > 0 ? 1.25 * h.clip : 0.0;
    double lo = std::max(h.min_diff, -reach), hi = std::min(h.max_diff, reach);
    if (!(lo < hi)) {
        lo = std::isfinite(h.min_diff) ? h.min_diff - 0.5 : -0.5;
        hi = std::isfinite(h.max_diff) ? h.max_diff + 0.5 : 0.5;
    }
    hist_.lo = lo;
    hist_.hi = hi;
    hist_.counts.assign(size_t(bins), 0);
    extra_.assign((size_t(bins) + 1) * kBinWays, 0);
    scale_ = bins / (hi - lo);
}

void DiffBinner::add(const double *d, size_t n) {
    // The bins of a block, a value outside [lo, hi] (or not a number) in
    // the extra bin past the last, counted in kBinWays copies.
    const int bins = int(hist_.counts.size());
    const size_t stride = size_t(bins) + 1;
    int32_t index[512];
    for (size_t at = 0; at < n; at += 512) {
        const size_t m = std::min<size_t>(512, n - at);
        diff_bins(d + at, m, hist_.lo, hist_.hi, scale_, bins, index);
        count_bins(index, m, extra_.data(), stride);
    }
    for (int w = 0; w < kBinWays; w++) {
        const long long *c = extra_.data() + size_t(w) * stride;
        for (int k = 0; k < bins; k++) hist_.counts[size_t(k)] += c[k];
        hist_.outside += c[bins];
    }
    std::fill(extra_.begin(), extra_.end(), 0);
}

DiffHistogram diff_histogram(const double *d, size_t n, const Headline &h, int bins) {
    DiffBinner b(h, bins);
    b.add(d, n);
    return b.histogram();
}

Figure diff_histogram_figure(const DiffHistogram &d, const Headline &h) {
    Figure f;
    f.name = "diff_histogram";
    const int bins = int(d.counts.size());
    const double step = (d.hi - d.lo) / bins;
    std::string data = "# bin centre (" + h.unit + ")\tcount\n";
    for (int k = 0; k < bins; k++)
        data += num(d.lo + (k + 0.5) * step) + "\t" + std::to_string(d.counts[size_t(k)]) + "\n";
    f.data.push_back({"diff_histogram.dat", data});
    std::string sc = preamble(f, "Histogram of the signed differences second - first");
    std::string title = "Differences second - first";
    if (d.outside > 0) title += kfmt(" (%lld beyond the axis not shown)", d.outside);
    sc += "set title " + gp_quote(title) + "\n";
    sc += "set xlabel " + gp_quote("second - first (" + h.unit + ")") + "\nset ylabel \"positions\"\n";
    sc += "set style fill solid 0.7 border -1\nset boxwidth " + num(step) + " absolute\nset grid y\n";
    sc += "set xrange [" + num(d.lo) + ":" + num(d.hi) + "]\nset yrange [0:*]\nset key top right opaque\n";
    sc += "mean = " + num(h.mean_diff) + "\nsd = " + num(h.sd_diff) + "\nmedian = " + num(h.median_diff) +
          "\nnmad = " + num(h.nmad) + "\n";
    // Marks only for the figures that are finite numbers (one position has no spread).
    const bool spread = std::isfinite(h.sd_diff), robust = std::isfinite(h.nmad) && std::isfinite(h.median_diff);
    if (std::isfinite(h.mean_diff))
        sc += "set arrow 1 from mean, graph 0 to mean, graph 1 nohead lw 2 lc rgb \"#c00000\"\n";
    if (spread) {
        sc += "set arrow 2 from mean-sd, graph 0 to mean-sd, graph 1 nohead lw 1.5 dt 2 lc rgb \"#c00000\"\n";
        sc += "set arrow 3 from mean+sd, graph 0 to mean+sd, graph 1 nohead lw 1.5 dt 2 lc rgb \"#c00000\"\n";
    }
    if (robust) {
        sc += "set arrow 4 from median-nmad, graph 0 to median-nmad, graph 1 nohead lw 1.5 dt 3 lc rgb \"#008000\"\n";
        sc += "set arrow 5 from median+nmad, graph 0 to median+nmad, graph 1 nohead lw 1.5 dt 3 lc rgb \"#008000\"\n";
    }
    sc += "plot \"diff_histogram.dat\" using 1:2 with boxes lc rgb \"#7090c0\" title \"positions\", \\\n"
          "     NaN with lines lw 2 lc rgb \"#c00000\" title sprintf(\"mean %.6f\", mean), \\\n"
          "     NaN with lines lw 1.5 dt 2 lc rgb \"#c00000\" title sprintf(\"mean +- sd (%.6f)\", sd), \\\n"
          "     NaN with lines lw 1.5 dt 3 lc rgb \"#008000\" title sprintf(\"median +- NMAD (%.6f)\", nmad)\n";
    f.script = sc;
    return f;
}

std::string pdf_script(const std::vector<Figure> &figures, const std::string &pdf_name) {
    std::string sc = "# Draws every figure of the report, one per page, into " + pdf_name +
                     "\n# Redraw: gnuplot report_pdf.gp\n";
    sc += "pdf = 1\nif (!exists(\"out\")) { out = " + gp_quote(pdf_name) + " }\n";
    sc += "set terminal pdfcairo size 11in,8.5in noenhanced font \"sans,10\"\nset output out\n";
    for (const auto &f : figures) sc += "load \"" + f.name + ".gp\"\n";
    // A figure's script run after this one in the same gnuplot draws its PNG.
    sc += "unset output\nundefine pdf\n";
    return sc;
}
