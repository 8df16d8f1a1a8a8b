// Raw rasters read line by line and converted to doubles.
//
// A raster is headerless: lines in order, line 0 first, and within a line
// the samples of columns 0 on, each of 1 (unsigned), 2 (unsigned,
// least significant byte first) or 4 (signed, least significant byte
// first) bytes. The reading below holds no global state, so that every
// program of the project reads and converts rasters through the same code.
//
// A pass reads the file from its first byte, in large sequential requests
// of whole lines into a small buffer, and hands out one line at a time.
// Bytes the file does not hold read as zero (a sample cut short keeps the
// bytes it got as its least significant ones); bytes after the expected
// length are never read. A read that fails is recorded for the caller.
#ifndef KARVEL_RASTER_H
#define KARVEL_RASTER_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "regular_file.h"

// The factor that unit answer 0 (meters), 1 (decimeters), 2 (centimeters)
// or 3 (millimeters) applies to a DEM sample: 1.0 (exact), or the double
// constants 0.1, 0.01 and 0.001. Any other answer has no factor: 0.0.
double unit_factor(int unit_answer);

// An open raster file and what it was when it was opened.
struct RasterFile {
    int fd = -1;
    std::string real_path, shown;  // the path opened and the path as the user sees it
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
};

// Opens a raster for reading without blocking: anything but a regular file
// is refused. Returns an empty string on success, else the problem:
// kNotRegularFile, or the system's message with errno left as the failed
// call set it.
std::string raster_open(RasterFile &f, const std::string &real_path, const std::string &shown);

// Closes the file (a file that is not open is left alone).
void raster_close(RasterFile &f);

// Empty while the file at the raster's path is the one opened, with the
// size and modification time it had then; else what changed.
std::string raster_changed(const RasterFile &f);

// Hands out the lines of one raster, pass after pass.
class RasterLines {
public:
    RasterLines() = default;
    ~RasterLines();
    RasterLines(const RasterLines &) = delete;
    RasterLines &operator=(const RasterLines &) = delete;

    // Reads the raster of `file` (which must stay open while this reads it)
    // as `lines` lines of `cols` samples of `sample_bytes` (1, 2 or 4), each
    // converted to a double times `factor` (1.0 for images). Returns false
    // when the buffers cannot be obtained.
    bool init(const RasterFile &file, int lines, int cols, int sample_bytes, double factor);
    // Gives the buffers back.
    void release();
    void set_factor(double f) { factor_ = f; }
    double factor() const { return factor_; }

    // Starts a pass at the first byte of the file.
    void rewind();
    // The next line's samples as stored, at the start of a buffer aligned
    // for the sample type; after the last line, zeros.
    const unsigned char *next_samples();
    // The next line converted to doubles.
    const double *next_line();
    // Line `line` converted to doubles into `out`, read where it lies
    // without moving the pass. Returns 0, or the errno of a read that
    // failed; what the file does not hold reads as zero.
    int read_line_at(int line, double *out) const;
    // The same line's samples as stored, into `samples` (a line's bytes of
    // room), likewise.
    int read_samples_at(int line, unsigned char *samples) const;

    int cols() const { return cols_; }
    int sample_bytes() const { return sample_bytes_; }
    // Bytes the raster should hold: lines × columns × bytes per sample.
    uint64_t expected_bytes() const { return expected_; }
    // The errno of the first read that failed, 0 while none has. What a
    // failed read did not deliver reads as zero, like the end of the file.
    int read_error() const { return error_; }
    // Bytes of buffer this reader holds, or wanted when init failed.
    size_t buffer_bytes() const { return wanted_; }

private:
    void fill();

    int fd_ = -1;
    int cols_ = 0, sample_bytes_ = 0;
    double factor_ = 1.0;
    size_t line_bytes_ = 0, chunk_lines_ = 0, chunk_bytes_ = 0, wanted_ = 0;
    uint64_t expected_ = 0, unread_ = 0;  // bytes of the expected length not yet requested
    unsigned char *chunk_ = nullptr;      // whole lines as read
    double *line_ = nullptr;              // one line converted
    size_t held_ = 0, taken_ = 0;         // lines in the chunk, lines handed out of it
    bool ended_ = false;                  // the file gave no more bytes (its end, or a read error)
    int error_ = 0;
};

// Empty when the file holds exactly the bytes that `lines` lines of the
// reader's columns and samples need, else what it says of the file ("the
// file PATH holds 12321 bytes, but 200 lines of 200 columns of 1-byte
// samples need 40000 bytes"): it is read all the same, what it lacks as
// zeros.
std::string length_mismatch(const RasterFile &f, const RasterLines &lines, int nb_lines);

// Converts `cols` samples of `sample_bytes` bytes as stored into doubles:
// 8-bit and 16-bit samples zero-extended, 32-bit samples signed, each then
// multiplied by `factor`.
void convert_samples(const unsigned char *samples, int sample_bytes, size_t cols, double factor, double *out);

// The requests a pass makes are about this many bytes (at least one line).
constexpr size_t kReadBytes = size_t(256) << 10;

#endif
