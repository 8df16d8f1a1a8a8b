// The float32 GeoTIFFs of the report (the differences and the residuals),
// DEFLATE-compressed and written line by line.
//
// GDAL lays each file out (its structure, tags and georeferencing) with
// its strips still empty; the strips are then compressed by ISA-L's
// DEFLATE, about 1.5 times as fast as the libdeflate GDAL would use, on a
// thread of their own while the caller goes on reading, and written into
// the file through libtiff. Readers see an ordinary DEFLATE GeoTIFF. (What
// that saves against GDAL's own writer: geotiff.cpp.)
#ifndef KARVEL_REPORT_GEOTIFF_H
#define KARVEL_REPORT_GEOTIFF_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bounded_queue.h"

// Where a raster lies on the ground, as GDAL gives it.
struct Georef {
    bool known = false;
    double transform[6] = {0, 1, 0, 0, 0, 1};
    std::string wkt;  // coordinate system, may be empty
};

// GDAL's drivers registered once, its messages kept for the callers.
void gdal_ready();

// The strips of a file hold this many lines (fewer for very wide rasters,
// so that a strip stays within kStripBytes).
constexpr int kStripLines = 16;
constexpr size_t kStripBytes = size_t(16) << 20;
// A file's strip buffers in use at once, at most.
constexpr size_t kMostStrips = 8;

// One strip compressed as a zlib stream (DEFLATE, as TIFF's compression 8
// holds it) by ISA-L at its fastest level. Empty on success, else the
// problem; `out` is resized to what was written.
std::string deflate_strip(const unsigned char *in, size_t bytes, std::vector<unsigned char> &out,
                          std::vector<unsigned char> &work);

class GeoTiffOut {
public:
    GeoTiffOut() = default;
    ~GeoTiffOut();
    GeoTiffOut(const GeoTiffOut &) = delete;
    GeoTiffOut &operator=(const GeoTiffOut &) = delete;
    // Creates the file at path; empty on success, else the problem. The
    // band declares `unit` as its unit (none when empty) and, with
    // nan_nodata, not-a-number as its nodata value.
    std::string create(const std::string &path, int lines, int cols, const Georef &g, const std::string &unit = "",
                       bool nan_nodata = false);
    // The room for the next line (lines in order, from 0), to be filled in
    // place and handed over by line_filled(); null once a write failed or
    // every line is written.
    float *next_line();
    bool line_filled();
    // Writes what is left and completes the file; empty on success, else
    // the problem.
    std::string close();

private:
    struct Strip {
        uint32_t index = 0;
        size_t bytes = 0;
        std::vector<unsigned char> data;
    };
    void compress_strips();  // the thread's work
    void stop();

    void *tif_ = nullptr;
    // GDAL's own writer, in the benchmark's build only: its dataset, the
    // line being filled and the lines handed over.
    void *ds_ = nullptr;
    std::vector<float> line_;
    int row_ = 0;
    std::string path_;
    int lines_ = 0, cols_ = 0, strip_lines_ = 0;
    std::unique_ptr<Strip> filling_;
    // The strips filled, to the thread; those it wrote, back. The first
    // failure stops both (full_ keeps it).
    BoundedQueue<std::unique_ptr<Strip>> full_{kMostStrips}, free_{kMostStrips};
    std::jthread worker_;
};

#endif
