#include "change_histogram.h"

#include <algorithm>
#include <cmath>

#include "chart_script.h"
#include "dispatch.h"

namespace {

constexpr int kBinBlock = 256;

// The largest bin number kept, in magnitude: bins, their padding and the
// span between two of them stay far within a long long.
constexpr double kFarthestBin = 0x1p61;

// Each cell's bin, ⌊d / width⌋, and its volume |d|·area: vector code, for
// the additions in column order after.
[[KARVEL_VECTOR_CLONES]] void bins_of(const double *__restrict d, int m, double width, double area,
                                      double *__restrict bin, double *__restrict volume) {
    for (int j = 0; j < m; j++) {
        bin[j] = std::floor(d[j] / width);
        volume[j] = std::fabs(d[j]) * area;
    }
}

}  // namespace

void ChangeHistogram::add(const double *d, const unsigned char *keep, int n, double area) {
    alignas(64) double bin[kBinBlock], volume[kBinBlock];
    for (int start = 0; start < n; start += kBinBlock) {
        const int m = std::min(kBinBlock, n - start);
        bins_of(d + start, m, width_, area, bin, volume);
        for (int j = 0; j < m; j++) {
            const double v = d[start + j];
            // A difference that is not finite has no bin.
            if ((keep && !keep[start + j]) || v == 0 || !std::isfinite(v)) continue;
            // Most cells fall in a bin there is already: added at once.
            const double b = bin[j];
            if (std::fabs(b) < kFarthestBin) {
                const long long k = (long long)b - first_;
                if (k >= 0 && k < (long long)area_.size()) {
                    area_[size_t(k)] += area;
                    volume_[size_t(k)] += volume[j];
                    continue;
                }
            }
            const double width = width_;
            place(v, area);
            // Bins widened: the rest of the block's bin numbers again.
            if (width_ != width && j + 1 < m)
                bins_of(d + start + j + 1, m - j - 1, width_, area, bin + j + 1, volume + j + 1);
        }
    }
}

// A cell beyond the bins there are: the bins widened while they would
// grow past kMostBins, then extended to it.
void ChangeHistogram::place(double v, double area) {
    // A bin whose number a long long would not hold (a wild value against
    // narrow bins) widens the bins first.
    while (std::fabs(std::floor(v / width_)) >= kFarthestBin) widen();
    long long b = (long long)std::floor(v / width_);
    while (!area_.empty() &&
           (std::max(b, first_ + (long long)area_.size() - 1) - std::min(b, first_) + 1) > (long long)kMostBins) {
        widen();
        b = (long long)std::floor(v / width_);
    }
    if (area_.empty()) first_ = b;
    if (b < first_) {
        // Room on that side for as many bins again, so that a walk down
        // the values does not move the bins every time.
        const size_t more =
            std::min(std::max(size_t(first_ - b), area_.size()), kMostBins - std::min(kMostBins, area_.size()));
        const size_t pad = std::max(more, size_t(first_ - b));
        area_.insert(area_.begin(), pad, 0.0);
        volume_.insert(volume_.begin(), pad, 0.0);
        first_ -= (long long)pad;
    }
    const size_t k = size_t(b - first_);
    if (k >= area_.size()) {
        area_.resize(k + 1, 0.0);
        volume_.resize(k + 1, 0.0);
    }
    area_[k] += area;
    volume_[k] += std::fabs(v) * area;
}

// Bins twice as wide: bin b into bin ⌊b / 2⌋.
void ChangeHistogram::widen() {
    const long long first = first_ >= 0 ? first_ / 2 : -((-first_ + 1) / 2);
    const long long last = first_ + (long long)area_.size() - 1;
    const long long end = (last >= 0 ? last / 2 : -((-last + 1) / 2)) + 1;
    std::vector<double> area(size_t(end - first), 0.0), volume(size_t(end - first), 0.0);
    for (size_t k = 0; k < area_.size(); k++) {
        const long long b = first_ + (long long)k, half = b >= 0 ? b / 2 : -((-b + 1) / 2);
        area[size_t(half - first)] += area_[k];
        volume[size_t(half - first)] += volume_[k];
    }
    area_.swap(area);
    volume_.swap(volume);
    first_ = first;
    width_ *= 2;
}

Figure change_histogram_figure(const ChangeHistogram &h, double limit) {
    Figure f;
    f.name = "change_distribution";
    f.height = 900;
    const std::vector<double> &area = h.areas(), &volume = h.volumes();
    double total = 0;
    for (double a : area) total += a;
    // Drawn from the 0.5th to the 99.5th percentile of the area, and the
    // band below the threshold with some room, in at most about 120 bars.
    size_t lo = 0, hi = area.size();
    double seen = 0;
    for (size_t k = 0; k < area.size(); k++) {
        if (seen <= 0.005 * total) lo = k;
        seen += area[k];
        if (seen >= 0.995 * total && hi == area.size()) hi = k + 1;
    }
    const double w = h.width();
    const long long first = std::min(h.first_bin() + (long long)lo, (long long)std::floor(-1.5 * limit / w));
    const long long end = std::max(h.first_bin() + (long long)hi, (long long)std::ceil(1.5 * limit / w));
    const long long group = std::max(1LL, (end - first + 119) / 120);
    auto floor_div = [](long long a, long long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    std::string data = "# d from (m)\td to (m)\tarea (m2)\tvolume (m3)\tdeposition (1) or erosion (0)\n";
    for (long long g = floor_div(first, group); g * group < end; g++) {
        double a = 0, v = 0;
        for (long long b = g * group; b < (g + 1) * group; b++) {
            const long long k = b - h.first_bin();
            if (k >= 0 && k < (long long)area.size()) a += area[size_t(k)], v += volume[size_t(k)];
        }
        data += num(double(g * group) * w) + "\t" + num(double((g + 1) * group) * w) + "\t" + num(a) + "\t" + num(v) +
                "\t" + (g >= 0 ? "1" : "0") + "\n";
    }
    const std::string file = f.name + ".dat";
    f.data.push_back({file, data});
    std::string sc = preamble(f, "The distribution of the elevation change by area and by volume");
    sc += "# " + file + ": bins of d (from, to), their area and volume (|d| x area); d = second - first\n";
    sc += "set multiplot layout 2,1 title 'Elevation change d = second - first: erosion (blue), deposition (red); "
          "grey: not detected'\n";
    sc += "set style fill solid 0.85 border -1\nset grid y\nset key off\nset xlabel 'd (m)'\nset yrange [0:*]\n";
    sc += "set object 1 rectangle from first " + num(-limit) + ", graph 0 to first " + num(limit) +
          ", graph 1 behind fillcolor rgb '#dddddd' fillstyle solid 1.0 noborder\n";
    const std::string bars = " using (($1+$2)/2):COL:(($2-$1)):($5 > 0 ? 0xc0392b : 0x2e6fb0) with boxes lc rgb variable\n";
    std::string by_area = bars, by_volume = bars;
    by_area.replace(by_area.find("COL"), 3, "3");
    by_volume.replace(by_volume.find("COL"), 3, "4");
    sc += "set ylabel 'area (m2)'\nplot \"" + file + "\"" + by_area;
    sc += "set ylabel 'volume (m3)'\nplot \"" + file + "\"" + by_volume;
    sc += "unset multiplot\n";
    f.script = sc;
    return f;
}
