// Rasters of the report: the float32 GeoTIFFs of the differences and the
// residuals, the block-mean reduction behind the pictures, and the shaded
// relief of the first DEM.
#ifndef KARVEL_REPORT_MAPS_H
#define KARVEL_REPORT_MAPS_H

#include <cstdint>
#include <string>
#include <vector>

// Where a raster lies on the ground, as GDAL gives it.
struct Georef {
    bool known = false;
    double transform[6] = {0, 1, 0, 0, 0, 1};
    std::string wkt;  // coordinate system, may be empty
};

// The georeferencing of a raw raster from the ENVI header karvel-import
// writes beside it (NAME.hdr for NAME.raw), when there is one and it
// describes a raster of this size. `note` says why there is none.
Georef georef_of(const std::string &raw_real_path, const std::string &raw_shown, int lines, int cols,
                 std::string &note);

// A float32 GeoTIFF, DEFLATE-compressed, written line by line.
class GeoTiffOut {
public:
    GeoTiffOut() = default;
    ~GeoTiffOut();
    GeoTiffOut(const GeoTiffOut &) = delete;
    GeoTiffOut &operator=(const GeoTiffOut &) = delete;
    // Creates the file at path; empty on success, else the problem.
    std::string create(const std::string &path, int lines, int cols, const Georef &g);
    // Writes line i (in order); false once a write failed.
    bool write_line(int i, const float *values);
    // Completes the file; empty on success, else the problem.
    std::string close();

private:
    void *ds_ = nullptr;
    void *band_ = nullptr;
    int cols_ = 0;
    bool failed_ = false;
    std::string problem_;
};

// Block means of line-by-line values, to at most `max_side` cells a side.
class BlockMeans {
public:
    BlockMeans(int lines, int cols, int max_side);
    void add_line(int i, const double *values);
    // The means, line by line (blocks at the edges average what they hold).
    std::vector<float> means() const;
    int factor() const { return f_; }
    int lines() const { return h_; }
    int cols() const { return w_; }

private:
    int lines_, cols_, f_, w_, h_;
    std::vector<double> sum_;
    std::vector<int> count_;
    std::vector<int> cell_of_;  // the cell column of each column
};

// The shaded relief (0 to 255, 0 where there is none) of an elevation grid
// of `lines` × `cols` cells of `cell_size` ground units, drawn by GDAL's DEM
// processing. `geographic` says the cells are in degrees.
std::string hillshade(const std::vector<float> &dem, int lines, int cols, double cell_size, bool geographic,
                      std::vector<uint8_t> &shade);

#endif
