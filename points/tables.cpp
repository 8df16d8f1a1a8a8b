#include "tables.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
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

// The GeoPackage binary form of a point (x, y) in the system srs_id: the
// header "GP", version 0, flags 1 (little-endian, no envelope), the
// system's number, then the point as little-endian WKB: 29 bytes.
void point_blob(double x, double y, int32_t srs_id, unsigned char b[29]) {
    static_assert(std::endian::native == std::endian::little, "the blob is written as the host's bytes");
    const uint32_t wkb_point = 1;
    b[0] = 'G', b[1] = 'P', b[2] = 0, b[3] = 1;
    std::memcpy(b + 4, &srs_id, 4);
    b[8] = 1;
    std::memcpy(b + 9, &wkb_point, 4);
    std::memcpy(b + 13, &x, 8);
    std::memcpy(b + 21, &y, 8);
}

// One SQLite connection, closed however the writing ends.
struct Db {
    sqlite3 *db = nullptr;
    sqlite3_stmt *insert = nullptr;
    ~Db() {
        sqlite3_finalize(insert);
        sqlite3_close(db);
    }
    bool run(const std::string &sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
    std::string problem() const { return db ? sqlite3_errmsg(db) : "SQLite cannot open it"; }
};

// The points inserted into the empty layer GDAL made at path, through one
// prepared statement in one transaction: a million features through
// OGR's feature objects cost about twice the time. The layer's feature
// count (GDAL's gpkg_ogr_contents, kept by a trigger per insert) is set
// once at the end, the trigger put back as it was, and the layer's extent
// set in gpkg_contents as GDAL sets it.
std::string insert_points(const std::string &path, const CheckPoints &p, const AtPoints &at,
                          const std::vector<double> &d) {
    Db w;
    if (sqlite3_open_v2(path.c_str(), &w.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return w.problem();
    // The file is complete only once renamed: no journal, no waiting for
    // the disk, so a crash leaves nothing half-written under its name.
    if (!w.run("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF")) return w.problem();
    int32_t srs_id = 0;
    std::string trigger;
    {
        sqlite3_stmt *q = nullptr;
        sqlite3_prepare_v2(w.db, "SELECT srs_id FROM gpkg_geometry_columns WHERE table_name = 'points'", -1, &q,
                           nullptr);
        if (q && sqlite3_step(q) == SQLITE_ROW) srs_id = sqlite3_column_int(q, 0);
        sqlite3_finalize(q);
        q = nullptr;
        sqlite3_prepare_v2(w.db,
                           "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND "
                           "name = 'trigger_insert_feature_count_points'",
                           -1, &q, nullptr);
        if (q && sqlite3_step(q) == SQLITE_ROW) trigger = reinterpret_cast<const char *>(sqlite3_column_text(q, 0));
        sqlite3_finalize(q);
    }
    if (!w.run("BEGIN")) return w.problem();
    if (!trigger.empty() && !w.run("DROP TRIGGER \"trigger_insert_feature_count_points\"")) return w.problem();
    const bool with_class = !p.cls.empty();
    const std::string sql =
        std::string(
            "INSERT INTO \"points\" (\"geom\", \"id\", \"z_point\", \"z_dem\", \"d\", "
            "\"slope_deg\", \"left_out\"") +
        (with_class ? ", \"class\") VALUES (?, ?, ?, ?, ?, ?, ?, ?)" : ") VALUES (?, ?, ?, ?, ?, ?, ?)");
    if (sqlite3_prepare_v2(w.db, sql.c_str(), -1, &w.insert, nullptr) != SQLITE_OK) return w.problem();
    double min_x = INFINITY, min_y = INFINITY, max_x = -INFINITY, max_y = -INFINITY;
    unsigned char blob[29];
    for (size_t k = 0; k < p.size(); k++) {
        sqlite3_stmt *q = w.insert;
        if (std::isfinite(p.x[k]) && std::isfinite(p.y[k])) {
            point_blob(p.x[k], p.y[k], srs_id, blob);
            sqlite3_bind_blob(q, 1, blob, sizeof blob, SQLITE_STATIC);
            min_x = std::min(min_x, p.x[k]), max_x = std::max(max_x, p.x[k]);
            min_y = std::min(min_y, p.y[k]), max_y = std::max(max_y, p.y[k]);
        } else {
            sqlite3_bind_null(q, 1);
        }
        sqlite3_bind_int64(q, 2, p.id[k]);
        const double v[4] = {p.z[k], at.z[k], d[k], double(at.slope[k])};
        for (int j = 0; j < 4; j++)
            if (std::isfinite(v[j]))
                sqlite3_bind_double(q, 3 + j, v[j]);
            else
                sqlite3_bind_null(q, 3 + j);
        sqlite3_bind_text(q, 7, reason_word(at.reason[k]), -1, SQLITE_STATIC);
        if (with_class) sqlite3_bind_text(q, 8, p.cls[k].data(), int(p.cls[k].size()), SQLITE_STATIC);
        if (sqlite3_step(q) != SQLITE_DONE) return w.problem();
        sqlite3_reset(q);
    }
    if (min_x <= max_x) {
        // Bound, not written as text: SQLite's reading of a decimal may
        // miss the last bit.
        sqlite3_stmt *q = nullptr;
        const double e[4] = {min_x, min_y, max_x, max_y};
        bool ok = sqlite3_prepare_v2(w.db,
                                     "UPDATE gpkg_contents SET min_x = ?, min_y = ?, max_x = ?, max_y = ? "
                                     "WHERE lower(table_name) = 'points'",
                                     -1, &q, nullptr) == SQLITE_OK;
        for (int j = 0; ok && j < 4; j++) ok = sqlite3_bind_double(q, j + 1, e[j]) == SQLITE_OK;
        ok = ok && sqlite3_step(q) == SQLITE_DONE;
        sqlite3_finalize(q);
        if (!ok) return w.problem();
    }
    std::string end = "UPDATE gpkg_ogr_contents SET feature_count = " + std::to_string(p.size()) +
                      " WHERE lower(table_name) = 'points';";
    if (!trigger.empty()) end += trigger + ";";
    if (!w.run(end + "COMMIT")) return w.problem();
    return "";
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
    // GDAL makes the GeoPackage and its empty layer, without a spatial
    // index (an R-tree of a million points takes GDAL ten times as long as
    // the points themselves); the points go in afterwards.
    GDALDriverH driver = GDALGetDriverByName("GPKG");
    GDALDatasetH ds = driver ? GDALCreate(driver, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr;
    if (!ds) return gdal_problem();
    const bool made = make_layer(ds, wkt, !p.cls.empty()) != nullptr;
    std::string problem = made ? "" : gdal_problem();
    GDALClose(ds);
    if (!made) return problem;
    return insert_points(path, p, at, d);
}
