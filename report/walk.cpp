#include "walk.h"

#include <algorithm>
#include <cstdio>

#include "line_worker.h"
#include "nodata.h"
#include "paths.h"
#include "progress.h"
#include "rows.h"

namespace {

class Walker {
public:
    Walker(BothLines &pairs, const WalkPlan &plan, const std::vector<Reader *> &readers)
        : pairs_(pairs), plan_(plan), readers_(readers), cols_(pairs.cols()) {
        for (Reader *r : readers_)
            if (r->behind()) behind_.push_back(r);
        diff_row_.resize(size_t(cols_));
        resid_row_.resize(size_t(cols_));
        d_row_.resize(size_t(cols_));
        e_row_.resize(size_t(cols_));
    }
    std::string run(long long &kept);

private:
    std::string line(int i, long long &kept);
    std::string take_behind(BehindLine &l) const {
        for (Reader *r : behind_) {
            std::string p = r->take_behind(l);
            if (!p.empty()) return p;
        }
        return "";
    }
    void progress(int i) {
        const std::string t = progress_text(shown_, double(i + 1) / plan_.lines);
        if (t.empty()) return;
        std::fputs(t.c_str(), stderr);
        std::fflush(stderr);
    }

    BothLines &pairs_;
    const WalkPlan &plan_;
    const std::vector<Reader *> &readers_;
    const int cols_;
    std::vector<Reader *> behind_;
    std::vector<float> diff_row_, resid_row_;  // the floats where no reader gives room
    std::vector<double> d_row_, e_row_;
    LineWorker worker_;
    TextProgress shown_;
};

std::string Walker::run(long long &kept) {
    for (Reader *r : readers_) {
        std::string p = r->start();
        if (!p.empty()) return p;
    }
    if (!behind_.empty()) worker_.start(cols_, [this](BehindLine &l) { return take_behind(l); });
    if (plan_.progress)
        std::fprintf(stderr, "Reading %s and %s\n", printable(plan_.first_shown).c_str(),
                     printable(plan_.second_shown).c_str());
    pairs_.rewind();
    kept = 0;
    for (int i = 0; i < plan_.lines; i++) {
        std::string p = line(i, kept);
        if (!p.empty()) return p;
        if (plan_.progress) progress(i);
    }
    // The lines behind the walk, to the last.
    return behind_.empty() ? "" : worker_.finish();
}

std::string Walker::line(int i, long long &kept) {
    pairs_.next();
    const double *x = pairs_.x(), *y = pairs_.y();
    const unsigned char *keep = pairs_.keep();
    // The floats go straight into the room a reader gives (the GeoTIFFs' strips).
    LineRoom room;
    for (Reader *r : readers_) r->room(room);
    float *diff = room.diff ? room.diff : diff_row_.data(), *resid = room.resid ? room.resid : resid_row_.data();
    // With readers behind the walk, the differences are formed in the room
    // of the line handed to their thread at the end of this one.
    const bool behind = !behind_.empty();
    BehindLine for_behind;
    if (behind) for_behind = worker_.room();
    double *d = behind ? for_behind.d.data() : d_row_.data();
    line_rows(x, y, cols_, plan_.b0, plan_.b1, d, e_row_.data(), diff, resid);
    const Line whole{i, cols_, x, y, d, e_row_.data(), keep, diff, resid};
    for (Reader *r : readers_) {
        std::string p = r->line(whole);
        if (!p.empty()) return p;
    }
    if (behind) {
        for_behind.index = i;
        pairs_.first_floats(for_behind.elevations.data());
        for_behind.has_keep = keep != nullptr;
        if (keep) for_behind.keep.assign(keep, keep + cols_);
    }
    // Where a raster declares a no-data value, the kept positions alone, in
    // column order, as karvel takes them (the readers behind the walk take
    // every column's differences).
    int n = cols_;
    if (keep) {
        n = pairs_.compact();
        if (d != d_row_.data()) std::copy(d, d + cols_, d_row_.begin());
        d = d_row_.data();
        compact_kept(d, e_row_.data(), keep, size_t(cols_));
    }
    kept += n;
    const KeptLine part{i, n, x, y, d, e_row_.data()};
    for (Reader *r : readers_) {
        std::string p = r->kept(part);
        if (!p.empty()) return p;
    }
    if (behind && !worker_.give(std::move(for_behind))) return worker_.finish();
    return "";
}

}  // namespace

std::string walk_lines(BothLines &pairs, const WalkPlan &plan, const std::vector<Reader *> &readers, long long &kept) {
    Walker w(pairs, plan, readers);
    return w.run(kept);
}
