// The figures of a report drawn by gnuplot in the scratch folder
// (scratch.h), each from its script and data: those that need nothing of
// the rasters while they are read, the others and the PDF once every
// figure is known.
#ifndef KARVEL_REPORT_DRAWING_H
#define KARVEL_REPORT_DRAWING_H

#include <string>
#include <vector>

#include "charts.h"
#include "gnuplot.h"
#include "staged.h"

class Drawing {
public:
    Drawing() = default;
    ~Drawing();
    Drawing(const Drawing &) = delete;
    Drawing &operator=(const Drawing &) = delete;

    // Makes the scratch folder in `dir` (the result's folder) for result
    // `result`, and starts drawing the `early` figures into their PNGs, by
    // `gnuplot`. Empty on success, else the problem.
    std::string begin(const std::string &gnuplot, const std::string &dir, const std::string &result,
                      std::vector<Figure> early);
    const std::vector<Figure> &early() const { return early_; }
    // Draws every figure not drawn early into its PNG, and every one, in
    // order, into the PDF out_base + "_report.pdf" (staged: see pdf()), the
    // report of result `result`; waits until all are drawn. Empty on
    // success, else the problem.
    std::string draw(const std::vector<Figure> &figures, const std::string &out_base, const std::string &result);
    // The PDF, to be renamed into place with the report's other files.
    StagedFile &pdf() { return pdf_; }

    // Stops every gnuplot of the report still running (before a refusal
    // removes the scratch folder they draw in).
    static void stop_all();

private:
    std::string write(const std::string &name, const std::string &bytes);
    std::string write_figure(const Figure &f);
    bool png_job(const Figure &f, GnuplotJob &job);
    bool drawn_early(const Figure &f) const;

    std::string gnuplot_, report_dir_;
    std::vector<std::string> data_written_;  // the data files in the scratch folder
    std::vector<Figure> early_;              // drawn while the rasters are read
    GnuplotBatch early_batch_, late_batch_;
    StagedFile pdf_;
};

#endif
