// The figures of karvel-points, drawn by gnuplot as karvel-report draws
// its own (PNG, script and data each, and a PDF of them all, the headline
// table first): the points over the DEM's shaded relief coloured by d, the
// histogram of d, and d against elevation and against slope.
#ifndef KARVEL_POINTS_POINT_CHARTS_H
#define KARVEL_POINTS_POINT_CHARTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "charts.h"
#include "check_points.h"
#include "dem.h"
#include "figures.h"

// The DEM reduced for the relief beneath the map: at most kReliefSide
// cells a side, every factor-th line and column.
constexpr int kReliefSide = 600;
struct Relief {
    int lines = 0, cols = 0, factor = 1;
    std::vector<uint8_t> shade;  // GDAL's hillshade, 0 where there is none
};

// Reads the reduced DEM and shades it. Empty on success, else the problem.
std::string dem_relief(const Dem &dem, Relief &r);

// Every figure, the headline page (`table`, its lines) first.
std::vector<Figure> point_charts(const std::vector<std::string> &table, const Dem &dem, const Relief &relief,
                                 const CheckPoints &p, const AtPoints &at, const std::vector<double> &d,
                                 const PointFigures &f);

#endif
