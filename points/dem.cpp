#include "dem.h"

#include <cpl_conv.h>
#include <gdal.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "gdal_problem.h"
#include "horn.h"
#include "regular_file.h"
#include "units.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// GDAL's block cache needs no more than the blocks of a few lines.
constexpr long long kCacheBytes = 64LL << 20;

// The last three lines read, by index modulo 3, in metres (NaN: no data).
class Lines {
public:
    Lines(const Dem &d) : d_(d), raw_(size_t(d.src.cols)), mask_(d.src.use_mask ? size_t(d.src.cols) : 0) {
        for (auto &b : buf_) b.assign(size_t(d.src.cols), NAN);
    }
    // Line l, read unless held. Null when GDAL failed (problem says why).
    const double *line(int l) {
        std::vector<double> &b = buf_[l % 3];
        if (held_[l % 3] == l) return b.data();
        const Source &s = d_.src;
        if (read_grid_line(s, s.band, l, 0, s.cols, raw_.data(), GDT_Float64) != CE_None ||
            (s.use_mask &&
             read_grid_line(s, GDALGetMaskBand(s.band), l, 0, s.cols, mask_.data(), GDT_Byte) != CE_None)) {
            problem = "line " + std::to_string(l + 1) + " of the DEM cannot be read: " + gdal_problem();
            return nullptr;
        }
        for (int j = 0; j < s.cols; j++) {
            const double v = raw_[size_t(j)];
            b[size_t(j)] = is_nodata_value(s, v) || (s.use_mask && mask_[size_t(j)] == 0)
                               ? NAN
                               : (v * s.scale + s.offset) * d_.metres;
        }
        held_[l % 3] = l;
        return b.data();
    }
    std::string problem;

private:
    const Dem &d_;
    std::vector<double> buf_[3], raw_;
    std::vector<unsigned char> mask_;
    int held_[3] = {-1, -1, -1};
};

// The 3 × 3 window around cell (l, c) as GDAL's processing with its edges
// computed takes it: beyond the raster, twice the edge cell less the one
// inside; a neighbour without data takes the centre's value.
void window(const double *row[3], int c, int cols, float w[9]) {
    auto at = [&](int i, int j) -> double {
        const double *r = row[i];
        auto in_row = [&](const double *q, int col) {
            if (col < 0) return 2 * q[0] - q[std::min(1, cols - 1)];
            if (col >= cols) return 2 * q[cols - 1] - q[std::max(cols - 2, 0)];
            return q[col];
        };
        if (r) return in_row(r, c + j - 1);
        const double *edge = row[1], *inside = row[2 - i];
        return inside ? 2 * in_row(edge, c + j - 1) - in_row(inside, c + j - 1) : in_row(edge, c + j - 1);
    };
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) w[3 * i + j] = float(at(i, j));
    for (int k = 0; k < 9; k++)
        if (w[k] != w[k]) w[k] = w[4];
}

// The aspect of the window's gradient on the ground (ew × ns metres a
// cell): the direction the slope faces, degrees clockwise from north; NaN
// where the window is flat or has no centre.
float aspect_of(const float w[9], double ew, double ns) {
    const double dx = double((w[2] + w[5] + w[5] + w[8]) - (w[0] + w[3] + w[3] + w[6])) / ew;
    const double dy = double((w[6] + w[7] + w[7] + w[8]) - (w[0] + w[1] + w[1] + w[2])) / ns;
    if (!(dx != 0 || dy != 0)) return NAN;
    double a = std::atan2(-dx, dy) * 180.0 / kPi;
    if (a < 0) a += 360;
    return float(a);
}

// Horn's slope of cell c of the middle line (GDAL's, degrees).
float slope_of(const double *row[3], int c, int cols, double ew, double ns) {
    const int w = std::min(3, cols), from = std::clamp(c - 1, 0, cols - w);
    float f[3][3];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < w; j++) f[i][j] = row[i] ? float(row[i][from + j]) : NAN;
    double key[3];
    horn_keys(row[0] ? f[0] : nullptr, f[1], row[2] ? f[2] : nullptr, w, ew, ns, key);
    return horn_degrees(key[c - from]);
}

// The DEM's elevation at fractional cell position (fc, fl): bilinear
// between the four centres around it, or the cell itself; its reason
// when it has none.
Reason elevation(const double *row[3], int l, int c, double fl, double fc, int lines, int cols, bool near, double &z) {
    z = NAN;
    if (std::isnan(row[1][c])) return Reason::no_data;
    if (near) {
        z = row[1][c];
        return Reason::none;
    }
    const double u = fc - 0.5, v = fl - 0.5;
    const double c0 = std::floor(u), l0 = std::floor(v), fx = u - c0, fy = v - l0;
    const int ca = std::clamp(int(c0), 0, cols - 1), cb = std::clamp(int(c0) + 1, 0, cols - 1);
    const int la = std::clamp(int(l0), 0, lines - 1), lb = std::clamp(int(l0) + 1, 0, lines - 1);
    const double *ra = row[1 + la - l], *rb = row[1 + lb - l];
    const double v00 = ra[ca], v01 = ra[cb], v10 = rb[ca], v11 = rb[cb];
    if (std::isnan(v00) || std::isnan(v01) || std::isnan(v10) || std::isnan(v11)) return Reason::neighbour_no_data;
    z = (1 - fy) * ((1 - fx) * v00 + fx * v01) + fy * ((1 - fx) * v10 + fx * v11);
    return Reason::none;
}

// A raw raster karvel-import wrote (NAME_m2.raw or NAME_m4.raw) declares
// no unit in its header: the answers of karvel's dialogue beside it
// (FOLDER/R.answers: the folder, 0, NAME1, its width, NAME2, its width, R,
// the unit answer of each) give its unit. Millimetres in one unit, or 0
// when no answers name it.
double raw_unit_mm(const std::string &path) {
    namespace fs = std::filesystem;
    const fs::path p(path);
    const std::string file = p.filename().string();
    if (!(file.ends_with("_m2.raw") || file.ends_with("_m4.raw"))) return 0;
    const std::string name = file.substr(0, file.size() - 7);
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(p.parent_path().empty() ? "." : p.parent_path(), ec)) {
        if (e.path().extension() != ".answers") continue;
        std::string text;
        if (!read_bounded(e.path().string(), 4096, text, false).problem.empty()) continue;
        std::vector<std::string> a;
        std::string line;
        for (char c : text + "\n")
            if (c == '\n')
                a.push_back(line), line.clear();
            else if (c != '\r')
                line += c;
        if (a.size() < 9 || a[1] != "0") continue;
        const size_t k = a[2] == name ? 7 : a[4] == name ? 8 : 0;
        if (k == 0) continue;
        const std::string &u = a[k];
        return u.size() == 1 && u[0] >= '0' && u[0] <= '3' ? mm_per_unit(u[0] - '0') : 0;
    }
    return 0;
}

}  // namespace

std::string open_dem(const std::string &path, int band, Dem &d) {
    std::string problem = open_source(path, band, d.src);
    if (!problem.empty()) return problem;
    if (!d.src.has_grid) return "it has no geotransform: the points cannot be placed on it";
    if (d.src.wkt.empty()) return "it has no coordinate system: the points cannot be placed on it";
    if (d.src.gt[2] != 0 || d.src.gt[4] != 0) return "its grid is rotated, which the sampling cannot follow";
    ElevationUnit unit;
    if (!unit_of_type(d.src.unit_type, unit))
        return "its band's unit \"" + d.src.unit_type + "\" is not a unit of length karvel knows";
    d.metres = unit.mm / 1000;
    if (unit.assumed) {
        const double mm = raw_unit_mm(path);
        if (mm > 0) d.metres = mm / 1000;
    }
    d.ground = ground_of(d.src.gt, d.src.wkt);
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) GDALSetCacheMax64(kCacheBytes);
    return "";
}

std::string sample_dem(const Dem &d, const CheckPoints &p, const Sampling &how, AtPoints &at) {
    const Source &s = d.src;
    const size_t n = p.size();
    at.z.assign(n, NAN);
    at.slope.assign(n, NAN);
    at.aspect.assign(how.aspect ? n : 0, NAN);
    at.reason = p.reason;
    // The points on the DEM, by the line of their cell.
    std::vector<std::pair<int, uint32_t>> order;
    std::vector<double> fl(n), fc(n);
    for (size_t k = 0; k < n; k++) {
        if (p.reason[k] == Reason::no_position) continue;
        fc[k] = (p.x[k] - how.shift_x - s.gt[0]) / s.gt[1];
        fl[k] = (p.y[k] - how.shift_y - s.gt[3]) / s.gt[5];
        if (!(fc[k] >= 0 && fc[k] < s.cols && fl[k] >= 0 && fl[k] < s.lines)) {
            if (at.reason[k] == Reason::none) at.reason[k] = Reason::outside_dem;
            continue;
        }
        order.emplace_back(int(fl[k]), uint32_t(k));
    }
    std::sort(order.begin(), order.end());
    Lines lines(d);
    double ew = 1, ns = 1;
    int ground_line = -1;
    for (const auto &[l, k] : order) {
        const double *row[3] = {nullptr, nullptr, nullptr};
        for (int i = 0; i < 3; i++) {
            if (l + i - 1 < 0 || l + i - 1 >= s.lines) continue;
            row[i] = lines.line(l + i - 1);
            if (!row[i]) return lines.problem;
        }
        if (l != ground_line) cell_metres(d.ground, l, ew, ns), ground_line = l;
        const int c = int(fc[k]);
        const Reason r = elevation(row, l, c, fl[k], fc[k], s.lines, s.cols, how.near, at.z[k]);
        if (at.reason[k] == Reason::none) at.reason[k] = r;
        at.slope[k] = slope_of(row, c, s.cols, ew, ns);
        if (how.aspect) {
            float w[9];
            window(row, c, s.cols, w);
            at.aspect[k] = aspect_of(w, ew, ns);
        }
    }
    return "";
}
