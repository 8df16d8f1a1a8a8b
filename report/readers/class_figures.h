// The headline's accuracy figures by class (classes.h): by the slope of
// the first DEM and by the classes of a raster the user gives. Each line's
// slopes and classes are taken behind the walk, on its helper thread; a
// large comparison's classes are sampled before the walk, so that the
// ranks of the classes large enough are sought during it, and a class
// whose ranks the walk left unsettled is walked again.
#ifndef KARVEL_REPORT_READERS_CLASS_FIGURES_H
#define KARVEL_REPORT_READERS_CLASS_FIGURES_H

#include <functional>
#include <vector>

#include "classes.h"
#include "ground.h"
#include "headline_stats.h"
#include "reader.h"

// The compared grid on the ground: the rasters' georeferencing, or square
// cells of the description's size in metres where they have none.

// Both rasters walked again from the first line: `take` is given each
// line's index, the first raster's elevations as floats (not a number
// without data), the differences of every column and the positions kept
// (null: all), until it gives a problem. Empty on success, else the problem.
using AgainLine = std::function<std::string(int line, const float *elevations, const double *d,
                                            const unsigned char *keep)>;
std::string walk_again(BothLines &pairs, int lines, int cols, const AgainLine &take);

class ClassFigures : public Reader {
public:
    // The classes are sampled where `stats` does not hold its differences.
    explicit ClassFigures(const HeadlineStats &stats) : stats_(stats) {}
    std::string prepare(const Setup &setup) override;
    std::string start() override;
    bool behind() const override { return sources_.slope_edges || !sources_.classes_path.empty(); }
    std::string take_behind(BehindLine &l) override;
    std::string finish() override;
    void table_lines(std::vector<std::string> &out) const override;
    // The tables by slope class and by class ("by_slope", "by_class").
    void json(Json &doc) const override;
    std::string figures(const Headline &h, std::vector<Figure> &out) override;

    // After finish(): the figures by slope class (when slopes() is true)
    // and by class of the raster of classes (when classes() is).
    bool slopes() const { return sources_.slope_edges != nullptr; }
    bool classes() const { return !sources_.classes_path.empty(); }
    const std::vector<ClassRow> &by_slope() const { return by_slope_; }
    const std::vector<ClassRow> &by_class() const { return by_class_; }
    // Whose value is the index of a by_class() row's class in the lines' cls.
    size_t class_count() const { return values_.size(); }
    long long class_value(size_t index) const { return values_.value(index); }

    // Each line of the walk, once its classes are known, is also given to
    // `w`, in line order, behind the walk (empty, or the problem that ends it).
    using Watch = std::function<std::string(const ClassLines::Ready &r)>;
    void watch(Watch w) { watches_.push_back(std::move(w)); }

private:
    struct Sample;
    std::string sample();
    std::string sample_band(int from, int to, size_t stride, Sample &out);
    std::string take_lines(ClassLines &lines);
    ValueStream again(bool slope, size_t k);
    std::string walk_tables_again(bool slope, bool cls);

    const HeadlineStats &stats_;
    const Setup *setup_ = nullptr;
    Ground ground_;  // the compared grid, for the slopes and the raster of classes
    ClassSources sources_;
    ClassValues values_;
    ClassLines walk_;  // the classes of the one walk
    ClassTable slope_table_, class_table_;
    std::vector<ClassRow> by_slope_, by_class_;
    std::vector<Watch> watches_;
    std::string problem_;  // what went wrong in a walk of a class again
};

#endif
