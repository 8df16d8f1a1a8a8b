#include "tables.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "gdal_problem.h"
#include "numfmt.h"
#include "paths.h"

namespace {

// A number in its shortest exact form; nothing for one that is not known.
void append_field(std::string &t, double v) {
    t.push_back(',');
    if (!std::isfinite(v)) return;
    char b[32];
    const auto r = std::to_chars(b, b + sizeof b, v);
    t.append(b, r.ptr);
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string csv_text(const std::string &s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q(1, '"');
    for (char c : s) {
        q.push_back(c);
        if (c == '"') q.push_back(c);
    }
    q.push_back('"');
    return q;
}

// The layer's fields, in the CSV table's order after x and y.
const char *const kReal[] = {"z_point", "z_dem", "d", "slope_deg"};

OGRLayerH make_layer(GDALDatasetH ds, const std::string &wkt, bool with_class) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(wkt.c_str());
    // x east and y north, whatever the system's axes.
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    const char *options[] = {"SPATIAL_INDEX=NO", nullptr};
    OGRLayerH layer = GDALDatasetCreateLayer(ds, "points", srs, wkbPoint, const_cast<char **>(options));
    OSRDestroySpatialReference(srs);
    if (!layer) return nullptr;
    OGRFieldDefnH fd = OGR_Fld_Create("id", OFTInteger64);
    bool ok = OGR_L_CreateField(layer, fd, 1) == OGRERR_NONE;
    OGR_Fld_Destroy(fd);
    for (const char *name : kReal) {
        fd = OGR_Fld_Create(name, OFTReal);
        ok = ok && OGR_L_CreateField(layer, fd, 1) == OGRERR_NONE;
        OGR_Fld_Destroy(fd);
    }
    for (const char *name : {"left_out", "class"}) {
        if (std::strcmp(name, "class") == 0 && !with_class) continue;
        fd = OGR_Fld_Create(name, OFTString);
        ok = ok && OGR_L_CreateField(layer, fd, 1) == OGRERR_NONE;
        OGR_Fld_Destroy(fd);
    }
    return ok ? layer : nullptr;
}

bool add_feature(OGRLayerH layer, const CheckPoints &p, const AtPoints &at, const std::vector<double> &d, size_t k) {
    OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(layer));
    OGR_F_SetFieldInteger64(f, 0, p.id[k]);
    const double v[4] = {p.z[k], at.z[k], d[k], double(at.slope[k])};
    for (int j = 0; j < 4; j++)
        if (std::isfinite(v[j])) OGR_F_SetFieldDouble(f, j + 1, v[j]);
    OGR_F_SetFieldString(f, 5, reason_word(at.reason[k]));
    if (!p.cls.empty()) OGR_F_SetFieldString(f, 6, p.cls[k].c_str());
    if (std::isfinite(p.x[k]) && std::isfinite(p.y[k])) {
        OGRGeometryH g = OGR_G_CreateGeometry(wkbPoint);
        OGR_G_SetPoint_2D(g, 0, p.x[k], p.y[k]);
        OGR_F_SetGeometryDirectly(f, g);
    }
    const bool ok = OGR_L_CreateFeature(layer, f) == OGRERR_NONE;
    OGR_F_Destroy(f);
    return ok;
}

}  // namespace

std::string points_csv(const CheckPoints &p, const AtPoints &at, const std::vector<double> &d) {
    const bool with_class = !p.cls.empty();
    std::string t = "id,x,y,z_point,z_dem,d,slope_deg,left_out";
    t.append(with_class ? ",class\n" : "\n");
    // Room for a line of every point at once: a table of a million points
    // is not copied again and again as it grows.
    t.reserve(t.size() + p.size() * 128);
    char b[24];
    for (size_t k = 0; k < p.size(); k++) {
        t.append(b, std::to_chars(b, b + sizeof b, p.id[k]).ptr);
        for (double v : {p.x[k], p.y[k], p.z[k], at.z[k], d[k], double(at.slope[k])}) append_field(t, v);
        t.append(1, ',').append(reason_word(at.reason[k]));
        if (with_class) t.append(1, ',').append(csv_text(p.cls[k]));
        t.append(1, '\n');
    }
    return t;
}

std::string write_points_gpkg(const std::string &path, const CheckPoints &p, const AtPoints &at,
                              const std::vector<double> &d, const std::string &wkt) {
    // GDAL makes the file itself, where an empty one may reserve its name.
    unlink(path.c_str());
    // Without a spatial index, and without waiting for the disk at each
    // commit: the file is complete only once renamed, so a crash leaves
    // nothing half-written under its name. (An R-tree of a million points
    // takes GDAL ten times as long as the points themselves.)
    CPLSetThreadLocalConfigOption("OGR_SQLITE_SYNCHRONOUS", "OFF");
    GDALDriverH driver = GDALGetDriverByName("GPKG");
    GDALDatasetH ds = driver ? GDALCreate(driver, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr;
    std::string problem;
    if (!ds) {
        problem = gdal_problem();
    } else {
        OGRLayerH layer = make_layer(ds, wkt, !p.cls.empty());
        bool ok = layer && GDALDatasetStartTransaction(ds, 0) == OGRERR_NONE;
        for (size_t k = 0; ok && k < p.size(); k++) ok = add_feature(layer, p, at, d, k);
        ok = ok && GDALDatasetCommitTransaction(ds) == OGRERR_NONE;
        if (!ok) problem = gdal_problem();
        GDALClose(ds);
    }
    CPLSetThreadLocalConfigOption("OGR_SQLITE_SYNCHRONOUS", nullptr);
    return problem;
}
