// The headline's accuracy figures by class: by the slope of the first DEM
// (Horn's slope as GDAL's DEM processing gives it, through companion/horn.h) and by the classes of a
// raster the user gives (brought onto the compared grid by companion/onto.h).
//
// Each class's figures are those of the whole raster (DiffStats: the same
// sums, the same exact ranks). Its ranks are found in one of three ways:
// a class's differences are held (every class of a comparison small
// enough to hold its differences, and the small classes of a large one),
// or sought during the walk guided by the class's own sample (the large
// classes of a large comparison), or, where neither works out (a held
// class that outgrows its room), found by walking the class again.
#ifndef KARVEL_REPORT_CLASSES_H
#define KARVEL_REPORT_CLASSES_H

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ground.h"
#include "headline.h"
#include "onto.h"
#include "select.h"
#include "horn.h"
#include "key_classes.h"

// The default slope classes, in degrees: [0, 5), [5, 10), [10, 25), [25, 40), [40, 90].
std::vector<double> default_slope_edges();

// The edges of --slope-edges ("0,2,5,90"): at least two, increasing, from 0
// to 90 degrees. Empty on success, else what is wrong.
std::string parse_slope_edges(const std::string &text, std::vector<double> &edges);

// The edges of slope classes and their keys, the squared gradients of
// companion/horn.h of elevations in a unit of which `scale` make a metre
// (see kernels/key_classes.h).
struct SlopeKeys : ClassKeys {
    explicit SlopeKeys(const std::vector<double> &edges, double scale = 1);
    std::vector<double> edges;
    double scale = 1;
};
// The slope classes (as slope_classes gives them) of n cells by their keys,
// taken `lanes` at a time (see kernels/dispatch.h): the classes are the
// same every way.
void key_classes(const double *key, size_t n, const SlopeKeys &keys, int32_t *out, size_t lanes = 0);

// The class of slope s among the classes [e0, e1), ..., [ek-1, ek]: its
// index, or -1 (outside every class, or not a number).
int slope_class(double s, const std::vector<double> &edges);
// The same for n slopes at once.
template <class T>
void slope_classes(const T *s, size_t n, const std::vector<double> &edges, int32_t *out);

// The class values of a raster of classes, each given an index in the
// order they are first met.
class ClassValues {
public:
    // At most this many distinct classes.
    static constexpr size_t kMaxClasses = 1000;
    // The index of class c; -1 when it would be one class too many.
    int index(long long c);
    size_t size() const { return values_.size(); }
    long long value(size_t k) const { return values_[k]; }

private:
    std::map<long long, int> index_;
    std::vector<long long> values_;
    long long last_ = 0;
    int last_index_ = -1;
};

// What a line's classes come from.
struct ClassSources {
    const Ground *ground = nullptr;            // the compared grid
    int lines = 0, cols = 0;
    const std::vector<double> *slope_edges = nullptr;  // null: no slope classes
    double slope_scale = 1;                            // the first DEM's stored unit in a metre (1000: mm)
    std::string classes_path, classes_shown;           // empty: no raster of classes
    ClassValues *values = nullptr;                     // the classes' indices (with a raster of classes)
};

// The lines of a band [from, to) of the compared grid with each position's
// classes: the caller gives the lines first_pushed() .. last_pushed() in
// order (the slopes of the band's edge lines need the line beyond), and
// takes each line of the band once its slope is known.
class ClassLines {
public:
    // Empty on success, else the problem (a raster of classes refused).
    std::string begin(const ClassSources &src, int from, int to);
    int first_pushed() const { return push_from_; }
    int last_pushed() const { return push_to_ - 1; }
    // Gives the next line: the first DEM's elevations as stored (NaN where
    // it has no data; ignored without slope classes), the differences of
    // every column and the positions kept (null: all). Empty on success,
    // else the problem (a class that is not a whole number, GDAL failing).
    std::string push(const float *elevations, const double *d, const unsigned char *keep);
    // The same, the line's elevations, differences and kept positions
    // (null: all) taken over without a copy; they are left holding buffers
    // of earlier lines, of any content.
    std::string push(std::vector<float> &elevations, std::vector<double> &d, std::vector<unsigned char> *keep);
    // The next line of the band that is ready: its index, the differences
    // and kept positions given for it, and each position's slope class and
    // raster class (index, -1 for none; null where that classification is
    // not made). Valid until the next push or next.
    struct Ready {
        int line = 0;
        const double *d = nullptr;
        const unsigned char *keep = nullptr;
        const int32_t *slope = nullptr, *cls = nullptr;
    };
    bool next(Ready &r);
    const std::string &problem() const { return problem_; }

private:
    // The classes of the next line of the raster of classes into cls. Empty
    // on success, else the problem.
    std::string line_classes(int line, int32_t *cls);
    // Either form: the elevations copied, or taken over from `owned`.
    std::string push(const float *elevations, std::vector<float> *owned, std::vector<double> &d,
                     std::vector<unsigned char> *keep);
    struct Held {
        int line = 0;
        std::vector<double> d;
        std::vector<unsigned char> keep;
        bool all_kept = true;
        std::vector<int32_t> cls;
    };
    ClassSources src_;
    int from_ = 0, to_ = 0, push_from_ = 0, push_to_ = 0, pushed_ = 0;
    std::unique_ptr<HornLines> horn_;
    std::unique_ptr<SlopeKeys> slope_keys_;
    std::unique_ptr<Onto> onto_;
    std::deque<Held> held_;  // the band's lines given whose slopes are not yet known
    Held out_;               // the line handed out last
    std::vector<int32_t> slope_;
    std::string problem_;
};

// One class's figures: its bounds in degrees (slope) or its value (class),
// and the figures in h (n, mean_diff, sd_diff, median_diff, nmad, rms,
// le90, le95; all not a number for an empty class).
struct ClassRow {
    double from_deg = 0, to_deg = 0;
    long long value = 0;
    Headline h;
};

// The differences of a classification, line by line, into each class's figures.
class ClassTable {
public:
    // Values held in all of the classes whose differences are held, at most.
    static constexpr size_t kHeldRoom = 16 * kRankSample;
    // Values held by the searches of the classes sought, all together.
    static constexpr size_t kSoughtHeld = 8 * kRankSample;
    explicit ClassTable(size_t held_room = kHeldRoom, size_t sought_held = kSoughtHeld)
        : held_room_(held_room), sought_held_(sought_held) {}
    // Makes sure there are `count` classes.
    void classes(size_t count);
    size_t size() const { return stats_.size(); }
    // Before the walk: class k's ranks sought during it, for about n
    // positions, guided by its sample. The classes sought share what their
    // searches hold, once the first line comes.
    void seek(size_t k, size_t n, std::vector<double> sample);
    // The differences of one line (or band), each with its class (-1: none).
    void add(const double *d, const unsigned char *keep, const int32_t *cls, int cols);
    // After the walk: plans one walk again of the classes sought whose
    // ranks the walk only placed between two values of their samples; true
    // when there is any, the lines then given to add_again() as to add().
    bool plan_again();
    void add_again(const double *d, const unsigned char *keep, const int32_t *cls, int cols);
    // The figures of every class; `again(k)` walks class k's differences
    // again, in the order they were added.
    std::vector<Headline> finish(const std::function<ValueStream(size_t)> &again, const std::string &unit);

private:
    // A line's differences into row_, by class.
    void split(const double *d, const unsigned char *keep, const int32_t *cls, int cols);
    void start_seeking();
    std::vector<std::unique_ptr<DiffStats>> stats_;
    std::vector<std::vector<double>> held_;  // a class's differences, while they are held
    std::vector<bool> holds_;
    std::vector<std::vector<double>> row_;   // a line's differences of each class
    size_t held_room_, held_total_ = 0, sought_held_;
    // The classes to seek with their estimates and samples, until the first line.
    struct Sought {
        size_t k, n;
        std::vector<double> sample;
    };
    std::vector<Sought> to_seek_;
    std::vector<bool> again_;  // the classes planned for the walk again
};

// The rows as a JSON array of objects ("from_deg", "to_deg" or "class",
// then the figures).
Json class_rows_json(const std::vector<ClassRow> &rows, bool slope);

// The rows as lines of a table for the console and the headline page.
std::vector<std::string> class_rows_lines(const std::vector<ClassRow> &rows, bool slope, const std::string &unit);

// The ranks and sums of a class's differences in rows (the figures as
// ClassTable::finish gives them).
void fill_rows(std::vector<ClassRow> &rows, const std::vector<Headline> &figures);

#endif
