// The report's GeoTIFF writer: GDAL lays each file out, ISA-L compresses
// its strips on a thread per file while the rasters are read, and libtiff
// writes them into the file as they are.
//
// What it saves against GDAL's own GTiff writer (COMPRESS=DEFLATE,
// ZLEVEL=1, NUM_THREADS=ALL_CPUS, the same strips of 16 lines, each line
// handed over by RasterIO: the second way below, built only for
// bench/report.sh with KARVEL_REPORT_GDAL_GEOTIFF=ON). The whole report of
// bench/report.sh at 10000² (two 400 MB float32 rasters before
// compression), the two ways taking turns, best of 7, 9 and 7 runs on the
// development machine (2 cores shared with other work), 2026-12-08:
//
//   this writer   3.563 s   3.577 s   3.906 s
//   GDAL's        4.304 s   4.487 s   5.144 s   (+21 %, +25 %, +32 %)
//
// GDAL's writer costs a fifth to a third more of the report's time, well
// past the 15 % up to which GDAL's writer would have replaced this one
// (and ISA-L and libtiff with it). Most of the difference is the
// compressor: ISA-L's fastest level compresses the two files in about
// 2.2 s of one core, libdeflate's level 1 (GDAL's) in about 3.3 s, for
// files about 5 % smaller (119 and 112 MB against 124 and 117 MB); GDAL's
// writer also takes about 20 MB more memory (its block cache).
#include "geotiff.h"

#include "behind.h"
#include "gdal_problem.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <isa-l/igzip_lib.h>
#include <tiffio.h>
#include <fcntl.h>
#include <sys/stat.h>

void gdal_ready() {
    static bool done = false;
    if (done) return;
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);  // every failure is reported by the caller
    // The rasters GDAL writes or draws here are small or written by other
    // means, and a raster of classes is read a row of the warper's blocks
    // at a time (Onto::kHeldBytes): a small block cache is enough, where
    // GDAL's default (a share of the machine's memory) could hold hundreds
    // of megabytes.
    if (!CPLGetConfigOption("GDAL_CACHEMAX", nullptr)) GDALSetCacheMax64(GIntBig(8) << 20);
    done = true;
}

std::string deflate_strip(const unsigned char *in, size_t bytes, std::vector<unsigned char> &out,
                          std::vector<unsigned char> &work) {
    if (bytes > UINT32_MAX / 2) return "a strip of " + std::to_string(bytes) + " bytes is too large to compress";
    // Room for the worst case: data that does not compress is stored in
    // blocks of at most 64 KiB, each with a 5-byte header.
    const size_t room = bytes + bytes / 1024 * 5 + 4096;
    for (int level = 1; level >= 0; level--) {
        work.resize(level == 1 ? ISAL_DEF_LVL1_DEFAULT : ISAL_DEF_LVL0_DEFAULT);
        out.resize(room);
        isal_zstream z;
        isal_deflate_stateless_init(&z);
        z.level = uint32_t(level);
        z.level_buf = work.data();
        z.level_buf_size = uint32_t(work.size());
        z.gzip_flag = IGZIP_ZLIB;
        z.end_of_stream = 1;
        z.flush = NO_FLUSH;
        z.next_in = const_cast<unsigned char *>(in);
        z.avail_in = uint32_t(bytes);
        z.next_out = out.data();
        z.avail_out = uint32_t(room);
        const int r = isal_deflate_stateless(&z);
        if (r == COMP_OK && z.avail_in == 0) {
            out.resize(z.total_out);
            return "";
        }
        if (r != STATELESS_OVERFLOW) return "ISA-L could not compress a strip (error " + std::to_string(r) + ")";
    }
    return "a strip did not fit its room once compressed";
}

namespace {

#ifndef KARVEL_GDAL_GEOTIFF
// libtiff's messages about one file, kept for its writer.
int keep_tiff_message(TIFF *, void *user_data, const char *module, const char *fmt, va_list ap) {
    auto *kept = static_cast<std::string *>(user_data);
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    if (kept->empty()) *kept = std::string(module ? module : "libtiff") + ": " + buf;
    return 1;
}

// GDAL's own tags are unknown to libtiff, which warns of each: harmless.
int ignore_tiff_warning(TIFF *, void *, const char *, const char *, va_list) { return 1; }
#endif

// The georeferencing of a new file, and its band's unit and nodata value.
void describe(GDALDatasetH ds, const Georef &g, const std::string &unit, bool nan_nodata) {
    if (g.known) {
        GDALSetGeoTransform(ds, const_cast<double *>(g.transform));
        if (!g.wkt.empty()) GDALSetProjection(ds, g.wkt.c_str());
    }
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    if (!unit.empty()) GDALSetRasterUnitType(band, unit.c_str());
    if (nan_nodata) GDALSetRasterNoDataValue(band, NAN);
}

// The lines of a strip: kStripLines, fewer for very wide rasters.
int strip_lines(int lines, int cols) {
    const size_t line_bytes = size_t(cols) * sizeof(float);
    return int(std::clamp<size_t>(kStripBytes / line_bytes, 1, size_t(std::min(kStripLines, lines))));
}

// The libtiff handle and what it said, owned together.
struct TiffFile {
    TIFF *tif = nullptr;
    std::string message;
};

}  // namespace

GeoTiffOut::~GeoTiffOut() {
    stop();
    if (ds_) GDALClose(static_cast<GDALDatasetH>(ds_));
    if (tif_) {
        auto *f = static_cast<TiffFile *>(tif_);
        if (f->tif) TIFFClose(f->tif);
        delete f;
    }
}

void GeoTiffOut::stop() {
    full_.close();
    if (worker_.joinable()) worker_.join();
}

#ifndef KARVEL_GDAL_GEOTIFF

std::string GeoTiffOut::create(const std::string &path, int lines, int cols, const Georef &g, const std::string &unit,
                               bool nan_nodata) {
    if (lines < 1 || cols < 1) return "a GeoTIFF needs at least one line and one column";
    const size_t line_bytes = size_t(cols) * sizeof(float);
    strip_lines_ = strip_lines(lines, cols);
    gdal_ready();
    CPLErrorReset();
    GDALDriverH drv = GDALGetDriverByName("GTiff");
    if (!drv) return "GDAL has no GeoTIFF driver";
    // GDAL writes the structure, the georeferencing and empty strips
    // (SPARSE_OK); BigTIFF where the file could pass 4 GB.
    const std::string rows = "BLOCKYSIZE=" + std::to_string(strip_lines_);
    const char *options[] = {"COMPRESS=DEFLATE", "PREDICTOR=1", rows.c_str(), "BIGTIFF=IF_SAFER", "SPARSE_OK=TRUE",
                             nullptr};
    GDALDatasetH ds = GDALCreate(drv, path.c_str(), cols, lines, 1, GDT_Float32, const_cast<char **>(options));
    if (!ds) return gdal_problem();
    describe(ds, g, unit, nan_nodata);
    GDALClose(ds);
    if (CPLGetLastErrorType() >= CE_Failure) return gdal_problem();

    auto *f = new TiffFile;
    tif_ = f;
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, keep_tiff_message, &f->message);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, ignore_tiff_warning, nullptr);
    f->tif = TIFFOpenExt(path.c_str(), "r+", opts);
    TIFFOpenOptionsFree(opts);
    if (!f->tif) return f->message.empty() ? "libtiff could not open it again" : f->message;
    uint32_t rows_per_strip = 0;
    uint16_t compression = 0;
    TIFFGetField(f->tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    TIFFGetField(f->tif, TIFFTAG_COMPRESSION, &compression);
    const uint32_t strips = uint32_t((lines + strip_lines_ - 1) / strip_lines_);
    if (TIFFIsTiled(f->tif) || rows_per_strip != uint32_t(strip_lines_) || compression != COMPRESSION_ADOBE_DEFLATE ||
        TIFFNumberOfStrips(f->tif) != strips)
        return "GDAL laid the file out otherwise than asked";
    path_ = path;
    lines_ = lines;
    cols_ = cols;
    // Strip buffers: one filling, one compressing, the others waiting (up
    // to 24 MB of them, at least three), so that the walk runs ahead of the
    // compressor behind it.
    try {
        const size_t buffers = queue_room(line_bytes * size_t(strip_lines_), size_t(24) << 20, 3, kMostStrips);
        for (size_t k = 0; k < buffers; k++) {
            auto s = std::make_unique<Strip>();
            s->data.resize(line_bytes * size_t(strip_lines_));
            if (k == 0) filling_ = std::move(s);
            else free_.push(std::move(s));
        }
    } catch (const std::bad_alloc &) {
        return "there is not memory enough for its strips";
    }
    worker_ = std::jthread([this] { compress_strips(); });
    return "";
}

float *GeoTiffOut::next_line() {
    if (!filling_ || filling_->index * uint32_t(strip_lines_) >= uint32_t(lines_)) return nullptr;
    return reinterpret_cast<float *>(filling_->data.data() + filling_->bytes);
}

bool GeoTiffOut::line_filled() {
    if (!next_line()) return false;
    const size_t line_bytes = size_t(cols_) * sizeof(float);
    filling_->bytes += line_bytes;
    const int done = int(filling_->index) * strip_lines_ + int(filling_->bytes / line_bytes);
    if (filling_->bytes < filling_->data.size() && done < lines_) return true;
    // The strip is whole: the thread compresses it while the next one fills.
    const uint32_t next = filling_->index + 1;
    std::optional<std::unique_ptr<Strip>> room;
    if (full_.push(std::move(filling_))) room = free_.pop();
    filling_.reset();
    if (!room) return false;
    filling_ = std::move(*room);
    filling_->index = next;
    filling_->bytes = 0;
    return true;
}

void GeoTiffOut::compress_strips() {
    run_behind();
    auto *f = static_cast<TiffFile *>(tif_);
    std::vector<unsigned char> out, work;
    off_t flushed = 0;  // the bytes whose writing out was started
    while (std::optional<std::unique_ptr<Strip>> s = full_.pop()) {
        const Strip &strip = **s;
        std::string p = deflate_strip(strip.data.data(), strip.bytes, out, work);
        const tmsize_t bytes = tmsize_t(out.size());
        if (p.empty() && TIFFWriteRawStrip(f->tif, strip.index, out.data(), bytes) != bytes)
            p = f->message.empty() ? "a strip could not be written" : f->message;
        if (!p.empty()) {
            full_.stop(p);
            free_.stop(p);
            return;
        }
        // Every 8 MB written, the system starts writing them to the disk.
        // Else hundreds of MB wait in memory until the file is renamed
        // over an earlier report's, and the file system writes them all
        // out then, with the caller waiting (about 0.1 s a file at 10000²).
        struct stat st;
        if (fstat(TIFFFileno(f->tif), &st) == 0 && st.st_size - flushed >= (off_t(8) << 20)) {
            sync_file_range(TIFFFileno(f->tif), flushed, st.st_size - flushed, SYNC_FILE_RANGE_WRITE);
            flushed = st.st_size;
        }
        free_.push(std::move(*s));
    }
}

std::string GeoTiffOut::close() {
    if (!tif_) return "the file was never created";
    stop();  // the thread writes every strip handed to it before it ends
    auto *f = static_cast<TiffFile *>(tif_);
    std::string p = full_.problem();
    if (p.empty() && (filling_ == nullptr || filling_->bytes != 0 || filling_->index * uint32_t(strip_lines_) < uint32_t(lines_)))
        p = "not every line was written";
    // The strips' places and sizes go into the directory GDAL wrote.
    if (f->tif && !TIFFFlush(f->tif) && p.empty()) p = f->message.empty() ? "the directory could not be written" : f->message;
    if (f->tif) TIFFClose(f->tif);
    f->tif = nullptr;
    if (p.empty() && !f->message.empty()) p = f->message;
    delete f;
    tif_ = nullptr;
    filling_.reset();
    return p;
}
#else  // KARVEL_GDAL_GEOTIFF

// For bench/report.sh only: the same files written by GDAL's own GTiff
// writer, each line handed to it by RasterIO.
std::string GeoTiffOut::create(const std::string &path, int lines, int cols, const Georef &g, const std::string &unit,
                               bool nan_nodata) {
    if (lines < 1 || cols < 1) return "a GeoTIFF needs at least one line and one column";
    strip_lines_ = strip_lines(lines, cols);
    gdal_ready();
    CPLErrorReset();
    GDALDriverH drv = GDALGetDriverByName("GTiff");
    if (!drv) return "GDAL has no GeoTIFF driver";
    // The same layout as the strips above; GDAL compresses them with
    // libdeflate at its fastest level, on every core.
    const std::string rows = "BLOCKYSIZE=" + std::to_string(strip_lines_);
    const char *options[] = {"COMPRESS=DEFLATE", "ZLEVEL=1", "NUM_THREADS=ALL_CPUS", "PREDICTOR=1", rows.c_str(),
                             "BIGTIFF=IF_SAFER", nullptr};
    GDALDatasetH ds = GDALCreate(drv, path.c_str(), cols, lines, 1, GDT_Float32, const_cast<char **>(options));
    if (!ds) return gdal_problem();
    ds_ = ds;
    describe(ds, g, unit, nan_nodata);
    if (CPLGetLastErrorType() >= CE_Failure) return gdal_problem();
    lines_ = lines;
    cols_ = cols;
    line_.resize(size_t(cols));
    return "";
}

float *GeoTiffOut::next_line() {
    if (!ds_ || row_ >= lines_ || !full_.problem().empty()) return nullptr;
    return line_.data();
}

bool GeoTiffOut::line_filled() {
    if (!next_line()) return false;
    GDALRasterBandH band = GDALGetRasterBand(static_cast<GDALDatasetH>(ds_), 1);
    if (GDALRasterIO(band, GF_Write, 0, row_, cols_, 1, line_.data(), cols_, 1, GDT_Float32, 0, 0) != CE_None) {
        full_.stop(gdal_problem());  // only holds the failure: no thread takes its strips
        return false;
    }
    row_++;
    return true;
}

std::string GeoTiffOut::close() {
    if (!ds_) return "the file was never created";
    std::string p = full_.problem();
    if (p.empty() && row_ < lines_) p = "not every line was written";
    CPLErrorReset();
    GDALClose(static_cast<GDALDatasetH>(ds_));
    ds_ = nullptr;
    if (p.empty() && CPLGetLastErrorType() >= CE_Failure) p = gdal_problem();
    return p;
}

void GeoTiffOut::compress_strips() {}  // no thread of its own
#endif
