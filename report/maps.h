// Rasters of the report: the georeferencing of the inputs, the block-mean
// reduction behind the pictures, and the shaded relief of the first DEM.
#ifndef KARVEL_REPORT_MAPS_H
#define KARVEL_REPORT_MAPS_H

#include <cstdint>
#include <string>
#include <vector>

#include "charts.h"
#include "geotiff.h"

// The georeferencing of a raw raster from the ENVI header karvel-import
// writes beside it (NAME.hdr for NAME.raw), when there is one and it
// describes a raster of this size. `note` says why there is none.
Georef georef_of(const std::string &raw_real_path, const std::string &raw_shown, int lines, int cols,
                 std::string &note);

// Block means of line-by-line values, to at most `max_side` cells a side.
class BlockMeans {
public:
    BlockMeans(int lines, int cols, int max_side);
    // Adds line i. With `keep` (for every line, or for none), only the
    // values where keep[j] is 1 enter their cells.
    void add_line(int i, const double *values, const unsigned char *keep = nullptr);
    // The means, line by line (blocks at the edges average what they hold;
    // a cell that holds no kept value is not a number).
    std::vector<float> means();
    int factor() const { return f_; }
    int lines() const { return h_; }
    int cols() const { return w_; }
    int raster_lines() const { return lines_; }  // of the raster, not of cells

private:
    int lines_, cols_, f_, w_, h_;
    void flush();
    std::vector<double> sum_;
    std::vector<int> lines_in_;   // the lines added to each line of cells
    std::vector<double> column_;  // each column's sum over the lines of cells not yet flushed
    // With a mask: each cell's kept values, and each column's not yet flushed.
    std::vector<int> kept_, column_kept_;
    int pending_ = -1;            // the line of cells those lines belong to
};

// Where a map of the raster lies (see MapGrid), from its georeferencing:
// in the grid's coordinates when it has any and is not rotated, the metres
// a unit of each axis stands for on the ground taken, for a geographic
// grid, on its ellipsoid at the grid's centre latitude.
MapGrid map_grid(const Georef &g, int lines);

// The shaded relief (0 to 255, 0 where there is none) of an elevation grid
// of `lines` × `cols` cells, each `width` × `height` metres on the ground,
// drawn by GDAL's DEM processing. Empty on success, else the problem.
std::string hillshade(const std::vector<float> &dem, int lines, int cols, double width, double height,
                      std::vector<uint8_t> &shade);

// A map's cells: the block means of `values` where they lie, over the
// shaded relief of `first` (null: none). `pixel_size` as below. Empty on
// success, else why the relief could not be drawn.
std::string map_cells(const Georef &geo, double pixel_size, BlockMeans *first, BlockMeans &values, MapCells &m);

// The maps of the differences and of the residuals from the block means of
// the walk, in the grid's coordinates, over the shaded relief of the first
// DEM (`first` is null for images, which have none), the zones of
// `outlines` (null: none) outlined. `pixel_size` is the description's cell
// size in metres, the relief's for a raster that is not georeferenced.
// Empty on success, else why the relief could not be drawn.
std::string map_figures(const Georef &geo, double pixel_size, BlockMeans *first, BlockMeans &diff,
                        BlockMeans &resid, const std::string &unit, const MapOutlines *outlines,
                        std::vector<Figure> &figures);

#endif
