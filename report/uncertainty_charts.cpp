#include "uncertainty_charts.h"

#include <cmath>

#include "chart_script.h"
#include "numfmt.h"

Figure variogram_figure(const Variogram &v, const std::vector<Spherical> &model) {
    Figure f;
    f.name = "variogram";
    std::string data = "# lag (m)\tsemivariance of z\tpairs\n";
    for (size_t k = 0; k < v.lag_m.size(); k++)
        data += num(v.lag_m[k]) + "\t" + num(v.semivariance[k]) + "\t" + std::to_string(v.pairs[k]) + "\n";
    // The model drawn at 200 distances spread logarithmically over the lags.
    std::string curve = "# distance (m)\tmodel\n";
    const double lo = v.lag_m.front() / 2, hi = v.lag_m.back() * 2;
    for (int k = 0; k <= 200; k++) {
        const double h = lo * std::pow(hi / lo, k / 200.0);
        curve += num(h) + "\t" + num(model_at(h, model)) + "\n";
    }
    f.data = {{"variogram.dat", data}, {"variogram_model.dat", curve}};
    std::string sc = preamble(f, "The variogram of the standardised differences on the stable cells");
    sc += "# variogram.dat: lag, semivariance, pairs; variogram_model.dat: distance, the fitted model\n";
    sc += "set title 'Variogram of z = (d - median) / sigma_dh on the stable cells, the spherical model fitted "
          "(dashed: its ranges)'\n";
    sc += "set logscale x\nset xlabel 'distance (m)'\nset ylabel 'semivariance of z'\nset grid\n"
          "set y2label 'pairs'\nset logscale y2\nset y2tics\nset ytics nomirror\nset key below horizontal\n"
          "set xrange [" + num(lo) + ":" + num(hi) + "]\nset yrange [0:*]\n";
    for (size_t k = 0; k < model.size(); k++)
        sc += "set arrow " + std::to_string(k + 1) + " from first " + num(model[k].range_m) + ", graph 0 to first " +
              num(model[k].range_m) + ", graph 1 nohead dt 2 lc rgb '#606060'\n"
              "set label " + std::to_string(k + 1) + " " + gp_quote("range " + fixed_decimals(model[k].range_m, 0) + " m") +
              " at first " + num(model[k].range_m) + ", graph 0.96 left offset 0.5, 0\n";
    sc += "plot 'variogram.dat' using 1:3 axes x1y2 with impulses lw 4 lc rgb '#c8c8c8' title 'pairs', \\\n"
          "     'variogram.dat' using 1:2 with points pt 7 ps 1.2 lc rgb '#2e6fb0' title 'empirical (Matheron)', \\\n"
          "     'variogram_model.dat' using 1:2 with lines lw 2 lc rgb '#c0392b' title 'model'\n";
    f.script = sc;
    return f;
}

Figure sigma_slope_figure(const std::vector<double> &edges, const std::vector<long long> &counts,
                          const std::vector<double> &sigmas) {
    Figure f;
    f.name = "sigma_by_slope";
    const size_t classes = edges.size() - 1;
    std::string data = "# index\tslope class (degrees)\tstable cells\tsigma_dh (m)\n", tics;
    for (size_t k = 0; k < classes; k++) {
        std::string label = "[";
        label += exact_number(edges[k]) + ", " + exact_number(edges[k + 1]);
        label += k + 1 == classes ? "]" : ")";
        data += std::to_string(k) + "\t\"" + label + "\"\t" + std::to_string(counts[k]) + "\t" + num(sigmas[k]) + "\n";
        if (k) tics += ", ";
        tics += gp_quote(label) + " " + std::to_string(k);
    }
    f.data.push_back({"sigma_by_slope.dat", data});
    std::string sc = preamble(f, "sigma_dh by slope class of the first DEM, on the stable cells");
    sc += "# sigma_by_slope.dat: index, slope class, stable cells, sigma_dh (that of all stable cells where the class "
          "has fewer than 100)\n";
    sc += "set title 'sigma_dh (NMAD of d on the stable cells) by slope class; all stable cells: " +
          fixed_decimals(sigmas.back(), 4) + " m'\n";
    sc += "set xlabel 'slope of the first DEM (degrees)'\nset ylabel 'm'\nset style fill solid 0.85 border -1\n"
          "set boxwidth 0.6 absolute\nset grid y\nset key off\nset yrange [0:*]\nset offsets 0, 0, graph 0.15, 0\n"
          "set xrange [-0.6:" + num(double(classes) - 0.4) + "]\nset xtics (" + tics + ")\n";
    sc += "plot 'sigma_by_slope.dat' using 1:4 with boxes lc rgb '#2e6fb0', \\\n"
          "     'sigma_by_slope.dat' using 1:4:(sprintf('n = %d', $3)) with labels offset 0, 1\n";
    f.script = sc;
    return f;
}
