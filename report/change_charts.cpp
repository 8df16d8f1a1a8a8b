#include "change_charts.h"

#include "chart_script.h"

Figure budget_figure(const ChangeBudget &b) {
    Figure f;
    f.name = "change_budget";
    struct Bar {
        const char *label;
        double all, detected, error;
        const char *colour;
    };
    const Bar bars[] = {
        {"erosion", b.raw_erosion.volume_m3, b.erosion.volume_m3, b.erosion.volume_error_m3, "#2e6fb0"},
        {"deposition", b.raw_deposition.volume_m3, b.deposition.volume_m3, b.deposition.volume_error_m3, "#c0392b"},
        {"net", b.net_raw_m3(), b.net_m3(), b.net_error_m3(), "#606060"},
    };
    std::string data = "# index\tlabel\tall change (m3)\tdetected (m3)\terror of the detected (m3)\tcolour\n";
    for (int k = 0; k < 3; k++)
        data += std::to_string(k) + "\t\"" + bars[k].label + "\"\t" + num(bars[k].all) + "\t" + num(bars[k].detected) +
                "\t" + num(bars[k].error) + "\t" + bars[k].colour + "\n";
    const std::string file = f.name + ".dat";
    f.data.push_back({file, data});
    std::string sc = preamble(f, "The change budget");
    sc += "# " + file + ": index, label, volume of all change, detected volume, its error (volumes positive, the "
          "net deposition - erosion)\n";
    sc += "set title 'Change budget: volumes of all change and of the change detected, with its error'\n";
    sc += "set ylabel 'm3'\nset style fill solid 0.85 border -1\nset boxwidth 0.36 absolute\nset grid y\n"
          "set xzeroaxis lt -1\nset key below horizontal\nset xrange [-0.6:2.6]\n"
          "set xtics ('erosion' 0, 'deposition' 1, 'net (deposition - erosion)' 2)\n";
    sc += "plot \"" + file + "\" using ($1-0.19):3 with boxes lc rgb \"#b8b8b8\" title \"all change\", \\\n"
          "     \"" + file + "\" using ($1+0.19):4:($1 == 0 ? 0x2e6fb0 : ($1 == 1 ? 0xc0392b : 0x606060)) with boxes "
          "lc rgb variable title \"detected\", \\\n"
          "     \"" + file + "\" using ($1+0.19):4:5 with yerrorbars lc rgb \"black\" pt -1 title \"error of the "
          "detected\"\n";
    f.script = sc;
    return f;
}
