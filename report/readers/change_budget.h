// The change budget of two surveys: the elevation change d = second − first
// of every cell, its area on the ground, and which cells changed by more
// than the surveys' own error (a level of detection, a propagated error,
// or an error estimated on stable ground), summed into eroded (d < 0) and
// deposited (d > 0) areas and volumes with their errors.
#ifndef KARVEL_REPORT_READERS_CHANGE_BUDGET_H
#define KARVEL_REPORT_READERS_CHANGE_BUDGET_H

#include <cstdint>
#include <string>
#include <vector>

#include "json.h"

// How detected change is told from noise.
enum class ChangeMethod {
    none,    // no budget asked for
    lod,     // |d| > a level of detection
    sigma,   // |d| >= z·σ_DoD, σ_DoD = √(σ1² + σ2²) from the surveys' errors
    stable,  // |d| >= z·σ_DoD, σ_DoD the NMAD of d on stable cells of the cell's slope class
};

// What the command line asks of the budget.
struct ChangeOptions {
    bool on = false;  // --change
    ChangeMethod method = ChangeMethod::none;
    int thresholds = 0;  // --lod and --sigma given, to refuse two at once
    double lod = 0;
    double sigma1 = 0, sigma2 = 0;
    double confidence = 0.95;
    bool confidence_given = false;
    std::string stable;  // the raster of stable cells (non-zero: stable)
};

// The values of --lod, --sigma and --confidence taken into o; empty, or
// what is wrong with the value.
std::string take_lod(const std::string &text, ChangeOptions &o);
std::string take_sigma(const std::string &text, ChangeOptions &o);
std::string take_confidence(const std::string &text, ChangeOptions &o);
// What is wrong with the options taken together (empty: nothing).
std::string change_options_problem(const ChangeOptions &o);

// z = Φ⁻¹((1 + P) / 2): the two-sided normal quantile of confidence P.
double confidence_z(double confidence);

// The rule of one class of cells: detected where |d| > limit (strict) or
// |d| >= limit; `error` is a detected cell's error of elevation (the level
// of detection, or its σ_DoD), times its area the error of its volume.
struct Detection {
    double limit = 0;
    bool strict = false;
    double error = 0;
};

// Whether a cell of change |d| = m passes the rule.
inline bool detected(const Detection &r, double m) { return r.strict ? m > r.limit : m >= r.limit; }

// The rule of every cell for --lod or --sigma (one class).
Detection fixed_detection(const ChangeOptions &o);

// Eroded or deposited cells: volumes and depths as positive numbers.
struct ChangeSide {
    long long cells = 0;
    double area_m2 = 0, volume_m3 = 0;
    double volume_error_m3 = 0;  // detected cells only
    double mean_depth_m() const;
};

struct ChangeBudget {
    double area_m2 = 0;  // every cell compared
    ChangeSide raw_erosion, raw_deposition, erosion, deposition;
    double net_raw_m3() const { return raw_deposition.volume_m3 - raw_erosion.volume_m3; }
    double net_m3() const { return deposition.volume_m3 - erosion.volume_m3; }
    double net_error_m3() const;
    double area_detected_percent() const;
    double percent_imbalance() const;  // 100 · net / (2 · (eroded + deposited)), of the detected change
};

// The budget summed line by line: each line's sums in column order, then
// times the line's cell area, added in line order.
class BudgetSums {
public:
    // One line of `cols` cells each `area` m²: d of every column, the
    // cells kept (null: all), and each cell's class among `rules` (null:
    // the first rule for all; -1 or beyond the rules: `fallback`). With
    // `dod`, each column's detected change, not a number elsewhere.
    void add_line(const double *d, const unsigned char *keep, int cols, double area, const int32_t *cls,
                  const std::vector<Detection> &rules, const Detection &fallback, float *dod = nullptr);
    const ChangeBudget &budget() const { return b_; }

private:
    ChangeBudget b_;
};

// The budget as the JSON object `change`: the method and its threshold
// (`method_members`, set by the caller before), the areas, raw and detected.
void budget_json(const ChangeBudget &b, Json &change);

// The budget as lines of a table for the console and the headline page.
std::vector<std::string> budget_lines(const ChangeBudget &b, const std::string &threshold);

#endif
