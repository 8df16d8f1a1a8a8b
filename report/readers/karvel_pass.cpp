#include "karvel_pass.h"

#include "numfmt.h"
#include "paths.h"

namespace {

std::string printed(double v) {
    std::string s;
    append_lf(s, v);
    return s;
}

}  // namespace

std::string KarvelPass::prepare(const Setup &setup) {
    run_ = setup.run;
    return "";
}

std::string KarvelPass::kept(const KeptLine &l) {
    // Each line's figures again, as karvel's line pass forms them: the
    // per-line table must be this run's.
    const LineFigures fig = line_walk(l.x, l.y, l.n, sums_);
    if (table_differs_ < 0) {
        const LineRow &row = run_->rows[size_t(l.index)];
        if (printed(fig.desv) != printed(row.desv) || printed(fig.slope) != printed(row.slope) ||
            printed(fig.r) != printed(row.r) || printed(fig.R2) != printed(row.r2))
            table_differs_ = l.index;
    }
    return "";
}

std::string KarvelPass::check() {
    const Summary &s = run_->s;
    rms_ = rms_error(sums_.dif_carre_tot, run_->n);
    struct Check {
        const char *label;
        const Printed &was;
        double now;
    };
    // B0 and B1 from the sums, as karvel's regression forms them: an edited
    // line in the summary shows too.
    fit_ = fit_line(double(run_->n), sums_);
    const Check checks[] = {{"RMS_Error", s.rms, rms_},         {"Sum_X", s.sum_x, sums_.Suma_X},
                            {"Sum_Y", s.sum_y, sums_.Suma_Y},   {"Sum_XY", s.sum_xy, sums_.Suma_XY},
                            {"Sum_X2", s.sum_x2, sums_.Suma_X2}, {"B1", s.b1, fit_.B1},
                            {"B0", s.b0, fit_.B0}};
    std::string differ;
    for (const auto &c : checks)
        if (printed(c.now) != c.was.text)
            differ += kfmt("%s%s %s in the summary, %s from the rasters now", differ.empty() ? "" : "; ", c.label,
                           c.was.text.c_str(), printed(c.now).c_str());
    if (!differ.empty())
        return "the rasters and the summary " + printable(run_->summary_shown) +
               " no longer agree (one or the other changed since the run): " + differ;
    if (table_differs_ >= 0)
        return "the per-line table " + printable(run_->lines_shown) + " is not the one of the summary " +
               printable(run_->summary_shown) + ": its row of line " + std::to_string(table_differs_) +
               " differs from that line's figures in the rasters";
    return "";
}
