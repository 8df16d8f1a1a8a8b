#include "check_points.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "command_line.h"
#include "gdal_open.h"
#include "gdal_problem.h"
#include "paths.h"
#include "regular_file.h"
#include "source.h"

namespace {

// The names GDAL's CSV reader takes for the coordinates and the elevation
// (its X_POSSIBLE_NAMES, Y_POSSIBLE_NAMES and Z_POSSIBLE_NAMES as usually
// given), in the order they are looked for.
const std::vector<std::string> kUsualNames[3] = {{"x", "lon", "long", "longitude", "easting", "east"},
                                                 {"y", "lat", "latitude", "northing", "north"},
                                                 {"z", "elevation", "elev", "height", "alt", "altitude", "h"}};

std::string lowered(std::string s) {
    for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The fields of one line of a CSV file: separated by `sep`, a field in
// double quotes holding separators and doubled quotes. A line without
// quotes is cut where it lies, into views of it; a quoted field is copied
// into `held` (which holds as many strings as the line has fields).
void split_fields(std::string_view line, char sep, std::vector<std::string_view> &fields,
                  std::vector<std::string> &held) {
    fields.clear();
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('"') == std::string_view::npos) {
        for (size_t from = 0;;) {
            const size_t at = line.find(sep, from);
            fields.push_back(line.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
            if (at == std::string_view::npos) return;
            from = at + 1;
        }
    }
    held.assign(1, std::string());
    bool quoted = false;
    for (size_t k = 0; k < line.size(); k++) {
        const char c = line[k];
        if (quoted) {
            if (c == '"' && k + 1 < line.size() && line[k + 1] == '"')
                held.back() += '"', k++;
            else if (c == '"')
                quoted = false;
            else
                held.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == sep) {
            held.emplace_back();
        } else {
            held.back() += c;
        }
    }
    for (const std::string &f : held) fields.push_back(f);
}

// The index of the column `name` (case aside); -1 when there is none.
int column_of(const std::vector<std::string> &header, const std::string &name) {
    for (size_t k = 0; k < header.size(); k++)
        if (header[k] == name) return int(k);
    for (size_t k = 0; k < header.size(); k++)
        if (lowered(header[k]) == lowered(name)) return int(k);
    return -1;
}

std::string columns_list(const std::vector<std::string> &header) {
    std::string s;
    for (const std::string &h : header) s += (s.empty() ? "" : ", ") + printable(h);
    return s;
}

// The columns of x, y, z (and the class field, when asked for) in a CSV
// file's header. Empty, or why none fits.
std::string csv_columns(const PointsOptions &o, const std::vector<std::string> &header, int col[4]) {
    for (int k = 0; k < 3; k++) {
        col[k] = -1;
        if (!o.columns[k].empty()) {
            col[k] = column_of(header, o.columns[k]);
            if (col[k] < 0)
                return "it has no column \"" + printable(o.columns[k]) + "\" (its columns: " + columns_list(header) +
                       ")";
            continue;
        }
        for (const std::string &name : kUsualNames[k])
            if (col[k] < 0) col[k] = column_of(header, name);
        if (col[k] < 0)
            return std::string("none of its columns (") + columns_list(header) + ") is named as the " + "xyz"[k] +
                   " of a point usually is; --columns X,Y,Z names them";
    }
    col[3] = -1;
    if (o.class_field.empty()) return "";
    col[3] = column_of(header, o.class_field);
    if (col[3] < 0)
        return "it has no column \"" + printable(o.class_field) + "\" (its columns: " + columns_list(header) + ")";
    return "";
}

// A number as the options' numbers are written (command_line.h): blanks
// around it, an optional sign, decimal digits with a fraction and an
// exponent; NaN for anything else (an empty field included).
double number_or_nan(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    const char *end = t.data() + t.size();
    double v = NAN;
    const auto [at, ec] = std::from_chars(t.data(), end, v, std::chars_format::general);
    if (ec != std::errc() || at != end || !std::isfinite(v)) return NAN;
    const char c = t.empty() ? 0 : t[t.front() == '-' ? 1 : 0];
    return (c >= '0' && c <= '9') || c == '.' ? v : NAN;
}

// The lines of a CSV file after its header, one point each.
std::string read_csv(const PointsOptions &o, CheckPoints &p) {
    std::string text;
    const BoundedRead r = read_bounded(o.points, size_t(1) << 34, text, false);
    if (r.problem == kNotRegularFile) return "it is not a regular file";
    if (!r.problem.empty()) return r.problem;
    size_t at = 0;
    long long line_no = 0;
    auto next_line = [&](std::string_view &line) {
        if (at >= text.size()) return false;
        const size_t end = std::min(text.find('\n', at), text.size());
        line = std::string_view(text).substr(at, end - at);
        at = end + 1;
        line_no++;
        return true;
    };
    std::string_view line;
    if (!next_line(line)) return "it is empty: a CSV file of points begins with a header";
    const char sep = line.find(',') != std::string::npos ? ',' : line.find(';') != std::string::npos ? ';' : '\t';
    std::vector<std::string> header, held;
    std::vector<std::string_view> fields;
    split_fields(line, sep, fields, held);
    for (std::string_view f : fields) header.emplace_back(f);
    int col[4];
    const std::string problem = csv_columns(o, header, col);
    if (!problem.empty()) return problem;
    const double per_unit = metres_per_unit(o.unit);
    while (next_line(line)) {
        if (line.empty() || line == "\r") continue;
        split_fields(line, sep, fields, held);
        auto field = [&](int k) {
            return k >= 0 && size_t(k) < fields.size() ? fields[size_t(k)] : std::string_view();
        };
        p.id.push_back(line_no);
        p.x.push_back(number_or_nan(field(col[0])));
        p.y.push_back(number_or_nan(field(col[1])));
        p.z.push_back(number_or_nan(field(col[2])) * per_unit);
        if (col[3] >= 0) p.cls.emplace_back(field(col[3]));
        p.reason.push_back(Reason::none);
    }
    return "";
}

// The index of field `name` of the layer, or why it has none.
std::string field_of(OGRFeatureDefnH defn, const std::string &name, int &index) {
    index = OGR_FD_GetFieldIndex(defn, name.c_str());
    if (index >= 0) return "";
    std::string names;
    for (int k = 0; k < OGR_FD_GetFieldCount(defn); k++)
        names += (k ? ", " : "") + printable(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(defn, k)));
    return "it has no field \"" + printable(name) + "\" (its fields: " + (names.empty() ? "none" : names) + ")";
}

// One feature: its point, the elevation from Z or the field, its class.
void take_feature(OGRFeatureH f, int z_field, int class_field, double per_unit, CheckPoints &p) {
    double x = NAN, y = NAN, z = NAN;
    OGRGeometryH g = OGR_F_GetGeometryRef(f);
    if (g && wkbFlatten(OGR_G_GetGeometryType(g)) == wkbMultiPoint && OGR_G_GetGeometryCount(g) == 1)
        g = OGR_G_GetGeometryRef(g, 0);
    if (g && wkbFlatten(OGR_G_GetGeometryType(g)) == wkbPoint && !OGR_G_IsEmpty(g)) {
        x = OGR_G_GetX(g, 0);
        y = OGR_G_GetY(g, 0);
        if (z_field < 0 && OGR_G_Is3D(g)) z = OGR_G_GetZ(g, 0);
    }
    if (z_field >= 0 && OGR_F_IsFieldSetAndNotNull(f, z_field)) {
        const OGRFieldType t = OGR_Fld_GetType(OGR_F_GetFieldDefnRef(f, z_field));
        z = t == OFTReal || t == OFTInteger || t == OFTInteger64 ? OGR_F_GetFieldAsDouble(f, z_field)
                                                                 : number_or_nan(OGR_F_GetFieldAsString(f, z_field));
    }
    p.id.push_back(OGR_F_GetFID(f));
    p.x.push_back(x);
    p.y.push_back(y);
    p.z.push_back(z * per_unit);
    if (class_field >= 0)
        p.cls.push_back(OGR_F_IsFieldSetAndNotNull(f, class_field) ? OGR_F_GetFieldAsString(f, class_field) : "");
    p.reason.push_back(Reason::none);
}

// The first layer of a vector file: its points and its coordinate system.
std::string read_layer(const PointsOptions &o, GDALDatasetH ds, CheckPoints &p) {
    if (GDALDatasetGetLayerCount(ds) < 1) return "it holds no layer of features";
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
    int z_field = -1, class_field = -1;
    std::string problem = o.z_field.empty() ? "" : field_of(defn, o.z_field, z_field);
    if (problem.empty() && !o.class_field.empty()) problem = field_of(defn, o.class_field, class_field);
    if (!problem.empty()) return problem;
    if (OGRSpatialReferenceH srs = OGR_L_GetSpatialRef(layer)) {
        char *wkt = nullptr;
        if (OSRExportToWkt(srs, &wkt) == OGRERR_NONE && wkt) p.wkt = wkt;
        CPLFree(wkt);
    }
    const double per_unit = metres_per_unit(o.unit);
    OGR_L_ResetReading(layer);
    while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
        take_feature(f, z_field, class_field, per_unit, p);
        OGR_F_Destroy(f);
    }
    return "";
}

bool is_csv(const std::string &path) { return path.size() >= 4 && lowered(path.substr(path.size() - 4)) == ".csv"; }

}  // namespace

const char *reason_word(Reason r) {
    static const char *const kWords[kReasons] = {"",        "no_position",      "no_elevation", "outside_dem",
                                                 "no_data", "neighbour_no_data"};
    return kWords[int(r)];
}

double metres_per_unit(const std::string &unit) {
    if (unit == "ft") return 0.3048;
    if (unit == "us-ft") return 1200.0 / 3937.0;
    return 1;
}

std::string read_points(const PointsOptions &o, CheckPoints &p) {
    p = CheckPoints{};
    // A path that exists must be a file or a folder (a shapefile's folder):
    // a pipe or a device would block the reader or be consumed by it.
    struct stat st;
    const bool exists = stat(o.points.c_str(), &st) == 0;
    const int stat_err = errno;
    if (exists && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return "it is not a regular file";
    std::string problem;
    if (is_csv(o.points)) {
        if (!exists) return "it does not exist";
        problem = read_csv(o, p);
    } else {
        GDALDatasetH ds = open_vector(o.points, problem);
        if (ds == nullptr && !problem.empty()) return problem;
        if (ds == nullptr && !exists && stat_err == ENOENT) return "it does not exist";
        if (ds == nullptr) return "GDAL cannot open it: " + gdal_problem("not a vector file GDAL reads");
        problem = read_layer(o, ds, p);
        GDALClose(ds);
    }
    if (!problem.empty()) return problem;
    if (!o.srs.empty()) {
        p.wkt.clear();
        problem = srs_wkt(o.srs, p.wkt);
        if (!problem.empty())
            return "--srs \"" + printable(o.srs) + "\" is not a coordinate system GDAL takes: " + problem;
    }
    for (size_t k = 0; k < p.size(); k++) {
        if (!std::isfinite(p.x[k]) || !std::isfinite(p.y[k]))
            p.reason[k] = Reason::no_position;
        else if (!std::isfinite(p.z[k]))
            p.reason[k] = Reason::no_elevation;
    }
    return "";
}

std::string to_dem_system(CheckPoints &p, const std::string &dem_wkt) {
    OGRSpatialReferenceH from = OSRNewSpatialReference(nullptr), to = OSRNewSpatialReference(nullptr);
    std::string problem;
    if (OSRSetFromUserInput(from, p.wkt.c_str()) != OGRERR_NONE ||
        OSRSetFromUserInput(to, dem_wkt.c_str()) != OGRERR_NONE)
        problem = gdal_problem("GDAL takes no coordinate system from it");
    OSRSetAxisMappingStrategy(from, OAMS_TRADITIONAL_GIS_ORDER);
    OSRSetAxisMappingStrategy(to, OAMS_TRADITIONAL_GIS_ORDER);
    if (problem.empty() && !OSRIsSame(from, to)) {
        OGRCoordinateTransformationH ct = OCTNewCoordinateTransformation(from, to);
        if (ct == nullptr) {
            problem = "GDAL cannot transform the points into the DEM's coordinate system: " + gdal_problem();
        } else {
            std::vector<int> ok(p.size(), 0);
            OCTTransformEx(ct, int(p.size()), p.x.data(), p.y.data(), nullptr, ok.data());
            for (size_t k = 0; k < p.size(); k++)
                if (!ok[k] || !std::isfinite(p.x[k]) || !std::isfinite(p.y[k])) {
                    if (p.reason[k] == Reason::none || p.reason[k] == Reason::no_elevation)
                        p.reason[k] = Reason::no_position;
                    p.x[k] = p.y[k] = NAN;
                }
            OCTDestroyCoordinateTransformation(ct);
        }
    }
    OSRDestroySpatialReference(from);
    OSRDestroySpatialReference(to);
    return problem;
}
