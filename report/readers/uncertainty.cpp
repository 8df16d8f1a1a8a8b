#include "uncertainty.h"

#include <algorithm>
#include <cmath>

#include "numfmt.h"
#include "paths.h"
#include "uncertainty_charts.h"

MeanError mean_error(const SlopeTally &t, const std::vector<double> &sigmas, const std::vector<Spherical> &model) {
    MeanError e;
    double sigma_sum = 0;
    for (size_t k = 0; k < t.n.size(); k++) {
        e.cells += double(t.n[k]);
        e.area_m2 += t.area_m2[k];
        sigma_sum += double(t.n[k]) * sigmas[std::min(k, sigmas.size() - 1)];
    }
    if (e.cells == 0) {
        e.sigma_m = e.n_eff = e.se_m = std::nan("");
        return e;
    }
    e.sigma_m = sigma_sum / e.cells;
    e.n_eff = effective_cells(model, e.area_m2, e.cells);
    e.se_m = e.sigma_m / std::sqrt(e.n_eff);
    return e;
}

namespace {

// A fixed hash of a cell's position (SplitMix64's finaliser): the sample
// is the same on every run.
uint64_t position_hash(int line, int col) {
    uint64_t z = (uint64_t(uint32_t(line)) << 32 | uint32_t(col)) + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return (z ^ (z >> 31)) >> 32;
}

}  // namespace

Uncertainty::Uncertainty(bool on, const ChangeOptions &change, ChangeStable &stable, const HeadlineStats &stats,
                         ClassFigures &classes, ZoneFigures &zones, ChangeReader &budget)
    : on_(on), change_(change), stable_(stable), stats_(stats), classes_(classes), zones_(zones) {
    if (!on_) return;
    stable_.follow([this](const ClassLines::Ready &r, const int32_t *s) { take(r, s); });
    zones_.watch([this](int line, const int32_t *ids) {
        zone_lines_.emplace_back(line, std::vector<int32_t>(ids, ids + zones_.layers() * size_t(setup_->run->s.cols)));
    });
    // With --sigma stable the detected cells are known in the budget's own walk.
    budget.watch_again([this](const ClassLines::Ready &r) { detect(r, stable_.rules(), stable_.fallback()); });
}

std::string Uncertainty::prepare(const Setup &setup) {
    if (!on_) return "";
    if (setup.run->s.image)
        return "--uncertainty: the rasters of " + printable(setup.run->summary_shown) +
               " are 8-bit images: the uncertainty of a mean is made for elevation models only";
    setup_ = &setup;
    ground_ = setup.rasters->ground();
    cell_metres(ground_, setup.run->s.lines / 2.0, dx_, dy_);
    slopes_ = setup.slope_edges.size() - 1;
    for (SlopeTally *t : {&all_, &erosion_, &deposition_}) t->resize(slopes_);
    by_zone_.resize(zones_.zone_count());
    for (SlopeTally &t : by_zone_) t.resize(slopes_);
    return "";
}

void Uncertainty::sample(const ClassLines::Ready &r, const int32_t *stable) {
    const int cols = setup_->run->s.cols;
    for (int j = 0; j < cols; j++) {
        if (stable[j] < 0 || (r.keep && !r.keep[j]) || position_hash(r.line, j) >= bar_) continue;
        sample_.push_back({r.line, j, r.slope ? r.slope[j] : -1, r.d[j]});
        if (sample_.size() <= kMaxSample) continue;
        bar_ /= 2;
        std::erase_if(sample_, [this](const Cell &c) { return position_hash(c.line, c.col) >= bar_; });
    }
}

// Each kept cell of the line into the sets it belongs to.
void Uncertainty::take(const ClassLines::Ready &r, const int32_t *stable) {
    sample(r, stable);
    const int cols = setup_->run->s.cols;
    const double area = cell_area(ground_, r.line);
    while (!zone_lines_.empty() && zone_lines_.front().first < r.line) zone_lines_.pop_front();
    const int32_t *ids =
        !zone_lines_.empty() && zone_lines_.front().first == r.line ? zone_lines_.front().second.data() : nullptr;
    const size_t layers = ids ? zones_.layers() : 0;
    for (int j = 0; j < cols; j++) {
        if (r.keep && !r.keep[j]) continue;
        const int32_t s = r.slope ? r.slope[j] : -1;
        all_.add(s, area);
        if (r.cls && r.cls[j] >= 0) {
            const size_t c = size_t(r.cls[j]);
            while (by_class_.size() <= c) by_class_.emplace_back().resize(slopes_);
            by_class_[c].add(s, area);
        }
        for (size_t l = 0; l < layers; l++)
            if (const int32_t z = ids[l * size_t(cols) + size_t(j)]; z >= 0) by_zone_[size_t(z)].add(s, area);
    }
    if (change_.on && change_.method != ChangeMethod::stable) {
        const Detection rule = fixed_detection(change_);
        detect(r, {rule}, rule);
    }
}

// The cells the change budget detects, as BudgetSums judges them: with one
// rule every cell's, else each slope class's.
void Uncertainty::detect(const ClassLines::Ready &r, const std::vector<Detection> &rules, const Detection &fallback) {
    const int cols = setup_->run->s.cols;
    const double area = cell_area(ground_, r.line);
    for (int j = 0; j < cols; j++) {
        if ((r.keep && !r.keep[j]) || r.d[j] == 0) continue;
        const int32_t s = r.slope ? r.slope[j] : -1;
        const int32_t k = rules.size() == 1 ? 0 : s;
        if (!detected(k >= 0 && size_t(k) < rules.size() ? rules[size_t(k)] : fallback, std::fabs(r.d[j]))) continue;
        (r.d[j] < 0 ? erosion_ : deposition_).add(s, area);
    }
}

std::string Uncertainty::finish() {
    if (!setup_) return "";
    if (!stable_.has_mask()) {
        std::vector<Headline> figures;
        for (const ClassRow &row : classes_.by_slope()) figures.push_back(row.h);
        figures.push_back(stats_.headline());
        stable_.from_figures(std::move(figures));
    }
    const long long n = stable_.counts().back();
    const std::string where = stable_.has_mask() ? "the mask " + printable(change_.stable) + " marks" : "there are";
    if (n < kLeastStable)
        return "--uncertainty: " + where + " only " + std::to_string(n) + " stable cells with data in both rasters; "
               "the variogram needs at least " + std::to_string(kLeastStable);
    sigmas_ = stable_.sigmas();
    for (size_t k = 0; k < sigmas_.size(); k++)
        if (!(sigmas_[k] > 0))
            return "--uncertainty: no model fits the variogram: sigma_dh (the NMAD of d on the stable cells" +
                   (k < slopes_ ? " of slopes " + exact_number(setup_->slope_edges[k]) + " to " +
                                      exact_number(setup_->slope_edges[k + 1]) + " degrees"
                                : std::string()) +
                   ") is 0, so the differences cannot be standardised";
    return fit();
}

// The sample standardised, its variogram from one cell to half the extent,
// and the model fitted to it.
std::string Uncertainty::fit() {
    std::vector<ZPoint> points;
    points.reserve(sample_.size());
    const double median = stable_.median();
    for (const Cell &c : sample_) {
        const double sigma = sigmas_[c.slope >= 0 && size_t(c.slope) < slopes_ ? size_t(c.slope) : slopes_];
        points.push_back({(c.col + 0.5) * dx_, (c.line + 0.5) * dy_, (c.d - median) / sigma});
    }
    const Summary &s = setup_->run->s;
    const double half = 0.5 * std::max(s.cols * dx_, s.lines * dy_);
    variogram_ = empirical_variogram(points, lag_edges(std::min(dx_, dy_), half));
    const std::string p = fit_variogram(variogram_, fit_);
    return p.empty() ? p : "--uncertainty: no spherical model fits the variogram of the stable cells: " + p;
}

void Uncertainty::table_lines(std::vector<std::string> &out) const {
    if (!setup_) return;
    out.push_back("");
    out.push_back("Uncertainty of the means (errors correlated in space; the variogram of " +
                  std::string(stable_.has_mask() ? "the stable cells of " + printable(change_.stable)
                                                 : "all cells, so real change counts as error") + ")");
    std::string model;
    for (const Spherical &c : fit_.model)
        model += (model.empty() ? "" : " + ") + std::string("spherical, sill ") + fixed_decimals(c.sill, 3) +
                 ", range " + fixed_decimals(c.range_m, 1) + " m";
    out.push_back("model of z = (d - median) / sigma_dh: " + model +
                  (fit_.second_kept ? " (two ranges: the second halves the weighted residual)" : " (one range)"));
    const MeanError e = error_of(all_);
    out.push_back("mean difference: standard error " + fixed_decimals(e.se_m, 4) + " m, N_eff " +
                  fixed_decimals(e.n_eff, 1) + " of " + std::to_string((long long)e.cells) + " cells (mean sigma_dh " +
                  fixed_decimals(e.sigma_m, 4) + " m)");
    if (!change_.on) return;
    const MeanError ero = error_of(erosion_), dep = error_of(deposition_);
    const MeanError net = error_of(detected_cells());
    auto volume = [](const MeanError &m) { return fixed_decimals(m.cells > 0 ? m.area_m2 * m.se_m : 0, 1); };
    out.push_back("detected change, correlated error of the volumes: erosion +/- " + volume(ero) +
                  " m3, deposition +/- " + volume(dep) + " m3, net +/- " + volume(net) + " m3");
}

SlopeTally Uncertainty::detected_cells() const {
    SlopeTally both = erosion_;
    for (size_t k = 0; k < both.n.size(); k++) {
        both.n[k] += deposition_.n[k];
        both.area_m2[k] += deposition_.area_m2[k];
    }
    return both;
}

namespace {

void put(Json &o, const MeanError &e) {
    o["mean_diff_se_m"] = e.se_m;
    o["n_eff"] = e.n_eff;
}

}  // namespace

void Uncertainty::json(Json &doc) const {
    if (!setup_) return;
    Json u = Json::object();
    u["stable"] = stable_.has_mask() ? "mask" : "all cells";
    u["n_stable"] = stable_.counts().back();
    Json rows = Json::array();
    for (size_t k = 0; k < slopes_; k++)
        rows.push_back({{"from_deg", setup_->slope_edges[k]}, {"to_deg", setup_->slope_edges[k + 1]},
                        {"n_stable", stable_.counts()[k]}, {"sigma_m", sigmas_[k]}});
    u["sigma_by_slope"] = rows;
    u["variogram"] = {{"lag_m", variogram_.lag_m}, {"semivariance", variogram_.semivariance}, {"pairs", variogram_.pairs}};
    Json model = Json::array();
    for (const Spherical &c : fit_.model) model.push_back({{"type", "spherical"}, {"sill", c.sill}, {"range_m", c.range_m}});
    u["model"] = model;
    put(u, error_of(all_));
    doc["uncertainty"] = u;

    for (size_t k = 0; doc.contains("by_slope") && k < doc["by_slope"].size(); k++) {
        SlopeTally one;
        one.resize(slopes_);
        one.n[k] = all_.n[k];
        one.area_m2[k] = all_.area_m2[k];
        put(doc["by_slope"][k], error_of(one));
    }
    for (size_t c = 0; doc.contains("by_class") && c < by_class_.size(); c++)
        for (Json &row : doc["by_class"])
            if (row["class"] == classes_.class_value(c)) put(row, error_of(by_class_[c]));
    for (size_t z = 0; doc.contains("by_zone") && z < by_zone_.size(); z++) put(doc["by_zone"][z], error_of(by_zone_[z]));
    if (!doc.contains("change")) return;
    Json &det = doc["change"]["detected"];
    const MeanError ero = error_of(erosion_), dep = error_of(deposition_);
    put(det["erosion"], ero);
    det["erosion"]["volume_se_m3"] = ero.cells > 0 ? ero.area_m2 * ero.se_m : 0;
    put(det["deposition"], dep);
    det["deposition"]["volume_se_m3"] = dep.cells > 0 ? dep.area_m2 * dep.se_m : 0;
    const MeanError net = error_of(detected_cells());
    put(det, net);
    det["net_volume_se_m3"] = net.cells > 0 ? net.area_m2 * net.se_m : 0;
}

std::string Uncertainty::figures(const Headline &, std::vector<Figure> &out) {
    if (!setup_) return "";
    out.push_back(variogram_figure(variogram_, fit_.model));
    out.push_back(sigma_slope_figure(setup_->slope_edges, stable_.counts(), sigmas_));
    return "";
}
