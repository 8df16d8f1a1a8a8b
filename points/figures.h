// The accuracy figures of the differences d = DEM − point, as surveyors
// report them, over all points and for each class.
#ifndef KARVEL_POINTS_FIGURES_H
#define KARVEL_POINTS_FIGURES_H

#include <array>
#include <string>
#include <vector>

#include "check_points.h"
#include "json.h"

// Fewer check points than this, and the ASPRS standards (2023) do not take
// the figures as an accuracy.
constexpr long long kFewestPoints = 30;

struct PointFigures {
    long long n = 0;                             // points with a difference
    std::array<long long, kReasons> left_out{};  // by reason (index 0 unused)
    // Over n − 1 (sd), over n (rmse, as surveyors define it); the ranks
    // (median, NMAD, LE90, LE95) exact, as the report finds them.
    double mean_diff = 0, sd_diff = 0, rmse = 0, median_diff = 0, nmad = 0, le90 = 0, le95 = 0, min_diff = 0,
           max_diff = 0, nssda_95 = 0;
    bool with_checkpoints = false;  // --checkpoint-rmse given
    double rmse_with_checkpoints = 0;
    std::vector<std::string> warnings;
};

// The figures of the points of `reason` none, their differences d (taken
// in the points' order); E is the check points' own RMSE, when given
// (negative: not).
PointFigures point_figures(const std::vector<double> &d, const std::vector<Reason> &reason, double e);

// The figures of each class (classes in the order of their text).
struct ClassFigures {
    std::string cls;
    PointFigures f;
};
std::vector<ClassFigures> class_figures(const std::vector<double> &d, const std::vector<Reason> &reason,
                                        const std::vector<std::string> &cls, double e);

// The figures as JSON members, keys in their fixed order (into j).
void figures_json(const PointFigures &f, Json &j);

// The headline table as the console shows it (unit metres).
std::vector<std::string> figures_lines(const PointFigures &f);

#endif
