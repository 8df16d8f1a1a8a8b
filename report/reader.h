// What the report takes from its one walk over both rasters is taken by
// readers, each a stage of the walk: prepared before it, fed each line as
// it streams, finished after it, and then adding what it found to the
// report (lines below the headline figures, figures, files). The walk
// (walk.h) feeds them in the order they were listed, which is also the
// order of what they add. Each reader is a class of report/readers/,
// listed in one line where the report lists its readers (report.cpp).
#ifndef KARVEL_REPORT_READER_H
#define KARVEL_REPORT_READER_H

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "charts.h"
#include "headline.h"
#include "inputs.h"
#include "json.h"
#include "run.h"
#include "staged.h"

// What every reader is given before the walk. It stays valid, and in
// place, while the readers are.
struct Setup {
    const Run *run = nullptr;    // the run's summary and tables
    Rasters *rasters = nullptr;  // both rasters, open; read again by the readers that walk them again
    std::string unit;            // "m", or "grey level" for images
    std::string folder_shown;    // the result's folder, as karvel shows it
    std::string result;          // the result's name
    std::string dir;             // its real path
    std::string out_base;        // the real path of the report's files, without their endings
    // The classes the command line asks for.
    std::vector<double> slope_edges;
    bool edges_given = false;
    std::string classes;  // the raster of classes, as given
};

// Where the next line's floats go (the GeoTIFFs' rows): a reader may give
// room of its own, to be filled in place; the walk's own is used where none does.
struct LineRoom {
    float *diff = nullptr, *resid = nullptr;
};

// A line as the walk forms it, every column.
struct Line {
    int index = 0, cols = 0;
    const double *x = nullptr, *y = nullptr;  // the first and the second raster
    const double *d = nullptr;                // y − x
    const double *e = nullptr;                // y − (B0 + B1·x), against the summary's fitted line
    const unsigned char *keep = nullptr;      // 1 where both have data; null: every position
    float *diff = nullptr, *resid = nullptr;  // d and e as floats, in the room given
};

// The same line once compacted: the n kept positions alone, in column
// order, at the fronts of each row (every column where nothing is left out).
struct KeptLine {
    int index = 0, n = 0;
    const double *x = nullptr, *y = nullptr, *d = nullptr, *e = nullptr;
};

// A line handed to the walk's helper thread, for the readers that take
// their lines there, behind the walk: its buffers may be taken over by the
// last of them, leaving others (of any content) in their place.
struct BehindLine {
    int index = 0;
    std::vector<float> elevations;  // the first raster as stored, as floats, not a number where it has no data
    std::vector<double> d;          // y − x, every column
    std::vector<unsigned char> keep;
    bool has_keep = false;  // false: every position kept (keep unset)
};

// A stage of the walk. A hook that returns a string returns an empty one
// on success, else the problem, which ends the walk or the step there and
// refuses the report. Every hook does nothing unless the reader needs it.
class Reader {
public:
    virtual ~Reader() = default;

    // Before the report writes anything: takes what it needs of the setup
    // (which it may keep), opens what it reads and begins what it writes.
    virtual std::string prepare(const Setup &) { return ""; }
    // Once every reader is prepared and just before the first line: what
    // is decided from samples read ahead of the walk.
    virtual std::string start() { return ""; }

    // Each line, in order, on the walk's thread: the room for its floats,
    // before they are formed; the line, every column; then its kept
    // positions.
    virtual void room(LineRoom &) {}
    virtual std::string line(const Line &) { return ""; }
    virtual std::string kept(const KeptLine &) { return ""; }
    // True for a reader that takes each line behind the walk, on its
    // helper thread, in order.
    virtual bool behind() const { return false; }
    virtual std::string take_behind(BehindLine &) { return ""; }

    // After the walk: what the run's files say, checked against what the
    // walk found; then the reader's own figures (ranks among them).
    virtual std::string check() { return ""; }
    virtual std::string finish() { return ""; }

    // What it adds to the report: lines below the headline figures (the
    // console and the headline page), members of the JSON object, figures (after the headline's, given
    // the headline figures), and files to rename into place with the
    // report's, complete.
    virtual void table_lines(std::vector<std::string> &) const {}
    // Its members of the report's JSON object, added after those of the
    // readers listed before it.
    virtual void json(Json &) const {}
    virtual std::string figures(const Headline &, std::vector<Figure> &) { return ""; }
    virtual std::string files(std::vector<StagedFile *> &) { return ""; }
};

// The readers of a walk, in the order they were added.
class Readers {
public:
    template <class R, class... Args>
    R &add(Args &&...args) {
        auto r = std::make_unique<R>(std::forward<Args>(args)...);
        R &added = *r;
        all_.push_back(&added);
        owned_.push_back(std::move(r));
        return added;
    }
    const std::vector<Reader *> &all() const { return all_; }
    // `hook` of each reader in turn, until one gives a problem: that problem.
    std::string each(const std::function<std::string(Reader &)> &hook) const {
        for (Reader *r : all_) {
            std::string p = hook(*r);
            if (!p.empty()) return p;
        }
        return "";
    }

private:
    std::vector<std::unique_ptr<Reader>> owned_;
    std::vector<Reader *> all_;
};

#endif
