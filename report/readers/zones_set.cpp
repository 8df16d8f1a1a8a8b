#include "zones_set.h"

#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "gdal_open.h"
#include "gdal_problem.h"
#include "numfmt.h"
#include "paths.h"

namespace {

// An OSR coordinate system read from WKT (or any form OSR takes), axes in
// the traditional order (east, north); null when it cannot be read.
OGRSpatialReferenceH srs_of(const char *text) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    if (OSRSetFromUserInput(srs, text) != OGRERR_NONE) {
        OSRDestroySpatialReference(srs);
        return nullptr;
    }
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

bool is_polygon(OGRGeometryH g) {
    const OGRwkbGeometryType t = wkbFlatten(OGR_G_GetGeometryType(g));
    return t == wkbPolygon || t == wkbMultiPolygon || t == wkbCurvePolygon || t == wkbMultiSurface;
}

// The rings of polygon g (and of the polygons of a collection) appended to out.
void rings_of(OGRGeometryH g, std::vector<std::vector<std::pair<double, double>>> &out) {
    if (wkbFlatten(OGR_G_GetGeometryType(g)) != wkbPolygon) {
        for (int k = 0; k < OGR_G_GetGeometryCount(g); k++) rings_of(OGR_G_GetGeometryRef(g, k), out);
        return;
    }
    for (int r = 0; r < OGR_G_GetGeometryCount(g); r++) {
        OGRGeometryH ring = OGR_G_GetGeometryRef(g, r);
        std::vector<std::pair<double, double>> points;
        for (int k = 0; k < OGR_G_GetPointCount(ring); k++) points.push_back({OGR_G_GetX(ring, k), OGR_G_GetY(ring, k)});
        if (points.size() > 1 && points.front() != points.back()) points.push_back(points.front());
        if (points.size() > 1) out.push_back(std::move(points));
    }
}

}  // namespace

ZoneSet::~ZoneSet() { clear(); }

void ZoneSet::clear() {
    for (void *g : geometry_) OGR_G_DestroyGeometry(OGRGeometryH(g));
    geometry_.clear();
    names_.clear();
    layer_.clear();
    layers_ = 0;
}

std::string ZoneSet::open(const std::string &given, const Ground &grid, int lines, int cols) {
    static std::once_flag registered;
    std::call_once(registered, GDALAllRegister);
    clear();
    grid_ = grid;
    lines_ = lines, cols_ = cols;
    // FILE:FIELD, unless the whole names a file.
    std::string path = given, field;
    VSIStatBufL st;
    const size_t colon = given.rfind(':');
    if (VSIStatL(given.c_str(), &st) != 0 && colon != std::string::npos && colon > 0) {
        path = given.substr(0, colon);
        field = given.substr(colon + 1);
    }
    const std::string shown = "the zones " + printable(path);
    if (VSIStatL(path.c_str(), &st) != 0) return shown + " do not exist";
    if (grid.wkt.empty()) return shown + " cannot be laid on the compared rasters, which have no coordinate system";
    CPLPushErrorHandler(CPLQuietErrorHandler);
    const std::string p = read(path, field, shown);
    CPLPopErrorHandler();
    if (!p.empty()) clear();
    return p;
}

// The transformation of the layer's coordinates into the grid's (null where
// they are the same system). Empty on success, else the reason.
std::string ZoneSet::transform_of(void *layer, const std::string &shown, void *&transform) const {
    OGRSpatialReferenceH layer_srs = OGR_L_GetSpatialRef(OGRLayerH(layer));
    if (!layer_srs) return shown + " have no coordinate system";
    OGRSpatialReferenceH from = OSRClone(layer_srs), to = srs_of(grid_.wkt.c_str());
    std::string p;
    OSRSetAxisMappingStrategy(from, OAMS_TRADITIONAL_GIS_ORDER);
    if (!to) p = shown + " cannot be laid on the compared rasters: their coordinate system cannot be read";
    else if (!OSRIsSame(from, to) && !(transform = OCTNewCoordinateTransformation(from, to)))
        p = shown + " cannot be laid on the compared rasters: their coordinate system cannot be transformed into "
                    "the rasters' (" + gdal_problem() + ")";
    OSRDestroySpatialReference(from);
    if (to) OSRDestroySpatialReference(to);
    return p;
}

std::string ZoneSet::read(const std::string &path, const std::string &field, const std::string &shown) {
    std::string refused;
    GDALDatasetH ds = open_vector(path, refused);
    if (!ds)
        return refused.empty() ? shown + " are not a vector file GDAL reads: " + gdal_problem()
                               : shown + " cannot be read: " + refused;
    OGRLayerH layer = GDALDatasetGetLayerCount(ds) > 0 ? GDALDatasetGetLayer(ds, 0) : nullptr;
    void *transform = nullptr;
    std::string p = layer ? transform_of(layer, shown, transform) : shown + " hold no layer";
    int field_index = -1;
    if (p.empty() && !field.empty()) {
        field_index = OGR_FD_GetFieldIndex(OGR_L_GetLayerDefn(layer), field.c_str());
        if (field_index < 0) p = shown + " have no field " + printable(field);
    }
    std::map<std::string, size_t> index;
    OGRFeatureH f = nullptr;
    if (p.empty()) OGR_L_ResetReading(layer);
    while (p.empty() && (f = OGR_L_GetNextFeature(layer)) != nullptr) {
        OGRGeometryH g = OGR_F_GetGeometryRef(f);
        if (g && is_polygon(g)) {
            const std::string name = field_index >= 0 ? OGR_F_GetFieldAsString(f, field_index)
                                                      : std::to_string(OGR_F_GetFID(f));
            auto it = index.find(name);
            if (it == index.end()) {
                if (names_.size() >= kMaxZones) {
                    p = shown + kfmt(" hold more than %zu zones", kMaxZones);
                } else {
                    it = index.emplace(name, names_.size()).first;
                    names_.push_back(name);
                    geometry_.push_back(OGR_G_CreateGeometry(wkbGeometryCollection));
                }
            }
            OGRGeometryH part = OGR_G_Clone(g);
            if (p.empty() && transform && OGR_G_Transform(part, OGRCoordinateTransformationH(transform)) != OGRERR_NONE)
                p = shown + " cannot be laid on the compared rasters: a polygon cannot be transformed (" +
                    gdal_problem() + ")";
            if (p.empty()) OGR_G_AddGeometryDirectly(OGRGeometryH(geometry_[it->second]), part);
            else OGR_G_DestroyGeometry(part);
        }
        OGR_F_Destroy(f);
    }
    if (transform) OCTDestroyCoordinateTransformation(OGRCoordinateTransformationH(transform));
    GDALClose(ds);
    if (!p.empty()) return p;
    if (names_.empty()) return shown + " hold no polygon";
    return place(shown);
}

// The zones on the grid: one at least meets it; each in the first layer
// where it meets no other zone.
std::string ZoneSet::place(const std::string &shown) {
    const double *gt = grid_.gt;
    OGRGeometryH ring = OGR_G_CreateGeometry(wkbLinearRing);
    const double corner[5][2] = {{0, 0}, {double(cols_), 0}, {double(cols_), double(lines_)}, {0, double(lines_)}, {0, 0}};
    for (const auto &c : corner)
        OGR_G_AddPoint_2D(ring, gt[0] + c[0] * gt[1] + c[1] * gt[2], gt[3] + c[0] * gt[4] + c[1] * gt[5]);
    OGRGeometryH rect = OGR_G_CreateGeometry(wkbPolygon);
    OGR_G_AddGeometryDirectly(rect, ring);
    bool meets = false;
    for (void *g : geometry_) meets = meets || OGR_G_Intersects(OGRGeometryH(g), rect);
    OGR_G_DestroyGeometry(rect);
    if (!meets) return shown + " do not overlap the compared rasters";
    std::vector<std::vector<size_t>> in_layer;
    for (size_t z = 0; z < geometry_.size(); z++) {
        size_t l = 0;
        for (; l < in_layer.size(); l++) {
            bool apart = true;
            for (size_t other : in_layer[l])
                apart = apart && !OGR_G_Intersects(OGRGeometryH(geometry_[z]), OGRGeometryH(geometry_[other]));
            if (apart) break;
        }
        if (l == in_layer.size()) in_layer.emplace_back();
        in_layer[l].push_back(z);
        layer_.push_back(l);
    }
    layers_ = in_layer.size();
    return "";
}

MapOutlines ZoneSet::outlines() const {
    MapOutlines o;
    if (!GDALInvGeoTransform(const_cast<double *>(grid_.gt), o.to_cell))
        for (int k = 0; k < 6; k++) o.to_cell[k] = k == 1 || k == 5 ? 1 : 0;
    for (size_t z = 0; z < geometry_.size(); z++) {
        MapOutlines::Zone zone;
        zone.name = names_[z];
        OGRGeometryH lines = OGR_G_GetLinearGeometry(OGRGeometryH(geometry_[z]), 0, nullptr);
        if (lines) {
            rings_of(lines, zone.rings);
            OGRGeometryH inside = OGR_G_PointOnSurface(lines);
            if (inside && !OGR_G_IsEmpty(inside)) {
                zone.labelled = true;
                zone.label_x = OGR_G_GetX(inside, 0);
                zone.label_y = OGR_G_GetY(inside, 0);
            }
            if (inside) OGR_G_DestroyGeometry(inside);
            OGR_G_DestroyGeometry(lines);
        }
        o.zones.push_back(std::move(zone));
    }
    return o;
}

std::string ZoneSet::rasterize(size_t layer, int from, int count, int32_t *out, size_t stride) const {
    // GDAL burns the zones straight into the caller's lines: an in-memory
    // band over them, so that nothing is allocated or copied per band.
    for (int i = 0; i < count; i++) std::fill(out + size_t(i) * stride, out + size_t(i) * stride + size_t(cols_), -1);
    GDALDriverH mem = GDALGetDriverByName("MEM");
    GDALDatasetH ds = mem ? GDALCreate(mem, "", cols_, count, 0, GDT_Int32, nullptr) : nullptr;
    if (!ds) return "the zones cannot be rasterized: " + gdal_problem();
    char pointer[64];
    std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<void *>(out));
    const std::string line_offset = "LINEOFFSET=" + std::to_string(stride * sizeof(int32_t));
    const char *band_options[] = {pointer, "PIXELOFFSET=4", line_offset.c_str(), nullptr};
    CPLErr err = GDALAddBand(ds, GDT_Int32, const_cast<char **>(band_options));
    double gt[6];
    for (int k = 0; k < 6; k++) gt[k] = grid_.gt[k];
    gt[0] += from * grid_.gt[2];
    gt[3] += from * grid_.gt[5];
    GDALSetGeoTransform(ds, gt);
    GDALSetProjection(ds, grid_.wkt.c_str());
    std::vector<OGRGeometryH> geometries;
    std::vector<double> burn;
    for (size_t z = 0; z < geometry_.size(); z++)
        if (layer_[z] == layer) {
            geometries.push_back(OGRGeometryH(geometry_[z]));
            burn.push_back(double(z));
        }
    int bands[1] = {1};
    if (err == CE_None)
        err = GDALRasterizeGeometries(ds, 1, bands, int(geometries.size()), geometries.data(), nullptr, nullptr,
                                      burn.data(), nullptr, nullptr, nullptr);
    const std::string p = err == CE_None ? "" : "the zones cannot be rasterized: " + gdal_problem();
    GDALClose(ds);
    return p;
}

std::string ZoneLines::line(int i, const int32_t *&ids) {
    const size_t cols = size_t(cols_), layers = zones_.layers();
    if (i >= first_ + count_) {
        // The band line after line, each line's layers side by side.
        first_ = i;
        count_ = std::min(kBandLines, lines_ - i);
        band_.resize(layers * size_t(count_) * cols);
        for (size_t l = 0; l < layers; l++) {
            const std::string p = zones_.rasterize(l, first_, count_, band_.data() + l * cols, layers * cols);
            if (!p.empty()) return p;
        }
    }
    ids = band_.data() + size_t(i - first_) * layers * cols;
    return "";
}
