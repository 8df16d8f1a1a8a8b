// Band 1 of any raster GDAL reads, brought onto another grid by GDAL's
// warper (nearest neighbour) and read line by line in order: each cell its
// value and whether it has one (the source's nodata value, NaN, its mask
// and whatever lies outside the source have none).
#ifndef KARVEL_GEO_ONTO_H
#define KARVEL_GEO_ONTO_H

#include <cstdint>
#include <string>
#include <vector>

#include "ground.h"

class Onto {
public:
    Onto() = default;
    ~Onto();
    Onto(const Onto &) = delete;
    Onto &operator=(const Onto &) = delete;

    // Opens the raster at `path` (named `shown` in messages) and prepares
    // its band 1 on `target`, a north-up grid of lines × cols. Empty on
    // success, else the reason, naming the file: not a raster GDAL reads,
    // a raster or a target without georeferencing (a geotransform and a
    // coordinate system), coordinate systems that cannot be transformed
    // into each other, or a raster that covers no cell of the target.
    // held_bytes: what a row of the warper's blocks read at once may hold
    // (kHeldBytes but in tests).
    std::string open(const std::string &path, const std::string &shown, const Ground &target, int lines, int cols,
                     size_t held_bytes = kHeldBytes);
    // The next line (from line 0, in order): cols values and cols flags
    // (1: the cell has a value), valid until the next call. False once
    // every line was read, or when GDAL failed (problem() says why).
    bool next(const double *&values, const unsigned char *&valid);
    const std::string &problem() const { return problem_; }
    // Whether the band stores integers (its values are then whole numbers).
    bool integer_samples() const { return integer_; }
    // A band of integers: the values of the line handed out last, exact
    // (next's doubles hold only those within ±2^53), valid as long as it;
    // null for other bands. A band of unsigned 64-bit integers gives them
    // as such (unsigned_integers), every other as signed ones (integers).
    const int64_t *integers() const { return integer_ && !unsigned_ && taken_ > 0 ? ints_.data() : nullptr; }
    const uint64_t *unsigned_integers() const { return unsigned_ && taken_ > 0 ? uints_.data() : nullptr; }

    // What a row of the warper's blocks, read at once, may hold: blocks
    // of fewer lines are read where a row of the warper's usual ones would
    // hold more.
    static constexpr size_t kHeldBytes = size_t(4) << 20;

private:
    std::string prepare(const std::string &path, const std::string &shown, const Ground &target, int lines, int cols,
                        size_t held_bytes);
    void close();
    void *source_ = nullptr, *band_view_ = nullptr, *warped_ = nullptr;  // GDAL datasets
    std::string shown_;
    int lines_ = 0, cols_ = 0;
    int chunk_ = 0;                          // lines warped and read at once: a row of the warper's blocks
    int first_ = 0, count_ = 0, taken_ = 0;  // the lines held, and how many were handed out
    bool read_lines(int first, int count);
    void take_integers(size_t at);
    std::vector<double> values_;
    std::vector<unsigned char> valid_;
    // 64-bit bands: the high and low 32 bits of each value held, as doubles.
    std::vector<double> high_, low_;
    std::vector<int64_t> ints_;    // the line handed out last, of integer bands but unsigned 64-bit ones
    std::vector<uint64_t> uints_;  // the same, of unsigned 64-bit bands
    bool unsigned_ = false;        // the band holds unsigned 64-bit integers
    // 64-bit bands: the high and low 32 bits of each value, on the band's
    // grid and on the target's.
    void *halves_[2] = {nullptr, nullptr}, *warped_halves_[2] = {nullptr, nullptr};
    // The views written in memory for the warper to open by name.
    std::vector<std::string> named_;
    bool integer_ = false;
    std::string problem_;
};

#endif
