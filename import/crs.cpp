#include "crs.h"

#include <ogr_srs_api.h>

#include <cstdlib>
#include <cstring>

namespace {

// A coordinate system read from WKT, released when it goes; null when the
// text is empty or not one.
struct Srs {
    OGRSpatialReferenceH h = nullptr;
    explicit Srs(const std::string &wkt) {
        if (wkt.empty()) return;
        h = OSRNewSpatialReference(wkt.c_str());
        // x east (or longitude) first, as the grids' geotransforms have it.
        if (h != nullptr) OSRSetAxisMappingStrategy(h, OAMS_TRADITIONAL_GIS_ORDER);
    }
    ~Srs() {
        if (h != nullptr) OSRDestroySpatialReference(h);
    }
    Srs(const Srs &) = delete;
    Srs &operator=(const Srs &) = delete;
};

}  // namespace

std::string srs_name(const std::string &wkt) {
    Srs s(wkt);
    const char *name = s.h != nullptr ? OSRGetName(s.h) : nullptr;
    return name != nullptr ? name : "?";
}

std::optional<int> srs_epsg(const std::string &wkt) {
    Srs s(wkt);
    if (s.h == nullptr) return std::nullopt;
    const char *authority = OSRGetAuthorityName(s.h, nullptr);
    const char *code = OSRGetAuthorityCode(s.h, nullptr);
    if (authority == nullptr || code == nullptr || std::strcmp(authority, "EPSG") != 0) return std::nullopt;
    return std::atoi(code);
}

bool same_srs(const std::string &a, const std::string &b) {
    Srs sa(a), sb(b);
    return sa.h != nullptr && sb.h != nullptr && OSRIsSame(sa.h, sb.h);
}

bool is_local_srs(const std::string &wkt) {
    Srs s(wkt);
    return s.h != nullptr && OSRIsLocal(s.h);
}

bool transformable(const std::string &from, const std::string &to) {
    Srs sf(from), st(to);
    if (sf.h == nullptr || st.h == nullptr) return false;
    OGRCoordinateTransformationH t = OCTNewCoordinateTransformation(sf.h, st.h);
    if (t == nullptr) return false;
    OCTDestroyCoordinateTransformation(t);
    return true;
}

bool shift_into(const std::string &from, const std::string &to, double x, double y, double &sx, double &sy) {
    if (from.empty() || to.empty() || same_srs(from, to)) return true;
    Srs sf(from), st(to);
    if (sf.h == nullptr || st.h == nullptr) return false;
    OGRCoordinateTransformationH there = OCTNewCoordinateTransformation(st.h, sf.h);
    OGRCoordinateTransformationH back = OCTNewCoordinateTransformation(sf.h, st.h);
    // The point in from's coordinates, moved there, and taken back.
    double px = x, py = y;
    bool ok = there != nullptr && back != nullptr && OCTTransform(there, 1, &px, &py, nullptr);
    px += sx;
    py += sy;
    ok = ok && OCTTransform(back, 1, &px, &py, nullptr);
    if (there != nullptr) OCTDestroyCoordinateTransformation(there);
    if (back != nullptr) OCTDestroyCoordinateTransformation(back);
    if (!ok) return false;
    sx = px - x;
    sy = py - y;
    return true;
}
