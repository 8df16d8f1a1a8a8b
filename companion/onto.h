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
    std::string open(const std::string &path, const std::string &shown, const Ground &target, int lines, int cols);
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
    const int64_t *integers() const { return taken_line(ints_); }
    const uint64_t *unsigned_integers() const { return taken_line(uints_); }

private:
    std::string prepare(const std::string &path, const std::string &shown, const Ground &target, int lines, int cols);
    void close();
    void *source_ = nullptr, *band_view_ = nullptr, *warped_ = nullptr;  // GDAL datasets
    std::string shown_;
    int lines_ = 0, cols_ = 0;
    int chunk_ = 0;                          // lines warped and read at once: a row of the warper's blocks
    int first_ = 0, count_ = 0, taken_ = 0;  // the lines held, and how many were handed out
    template <class T>
    const T *taken_line(const std::vector<T> &v) const {
        return v.empty() || taken_ == 0 ? nullptr : v.data() + size_t(taken_ - 1) * size_t(cols_);
    }
    bool read_lines(int first, int count);
    std::vector<double> values_;
    std::vector<unsigned char> valid_;
    std::vector<int64_t> ints_;    // integer bands, but unsigned 64-bit ones
    std::vector<uint64_t> uints_;  // unsigned 64-bit bands
    bool unsigned_ = false;        // the band holds unsigned 64-bit integers
    // 64-bit bands: the high and low 32 bits of each value, on the band's
    // grid and on the target's.
    void *halves_[2] = {nullptr, nullptr}, *warped_halves_[2] = {nullptr, nullptr};
    bool integer_ = false;
    std::string problem_;
};

#endif
