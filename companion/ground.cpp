#include "ground.h"

#include <ogr_srs_api.h>

#include <cmath>

Ground ground_of(const double gt[6], const std::string &wkt) {
    Ground g;
    for (int k = 0; k < 6; k++) g.gt[k] = gt[k];
    g.wkt = wkt;
    if (wkt.empty()) return g;
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    if (OSRSetFromUserInput(srs, wkt.c_str()) == OGRERR_NONE) {
        if (OSRIsGeographic(srs)) {
            g.geographic = true;
            OGRErr err = OGRERR_NONE;
            g.semi_major = OSRGetSemiMajor(srs, &err);
            g.inv_flattening = OSRGetInvFlattening(srs, &err);
            const double radians = OSRGetAngularUnits(srs, nullptr);
            if (radians > 0) g.angular_unit = radians;
        } else if (OSRIsProjected(srs)) {
            const double metres = OSRGetLinearUnits(srs, nullptr);
            if (metres > 0) g.linear_unit = metres;
        }
    }
    OSRDestroySpatialReference(srs);
    return g;
}

void metres_per_radian(double semi_major, double inv_flattening, double lat, double &east, double &north) {
    const double f = inv_flattening > 0 ? 1.0 / inv_flattening : 0.0;
    const double e2 = f * (2.0 - f);
    const double w = std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
    east = semi_major * std::cos(lat) / w;
    north = semi_major * (1.0 - e2) / (w * w * w);
}

void cell_metres(const Ground &g, double line, double &width, double &height) {
    width = std::hypot(g.gt[1], g.gt[4]);
    height = std::hypot(g.gt[2], g.gt[5]);
    if (g.geographic && g.semi_major > 0) {
        const double lat = (g.gt[3] + g.gt[5] * (line + 0.5)) * g.angular_unit;
        double east = 0, north = 0;
        metres_per_radian(g.semi_major, g.inv_flattening, lat, east, north);
        width *= east * g.angular_unit;
        height *= north * g.angular_unit;
    } else if (!g.geographic) {
        width *= g.linear_unit;
        height *= g.linear_unit;
    }
}

double cell_area(const Ground &g, double line) {
    double width = 0, height = 0;
    cell_metres(g, line, width, height);
    return std::fabs(width * height);
}
