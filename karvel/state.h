// The process-wide state that the four phases share, and the phases.
//
// Everything starts at zero or null. `opening` opens the rasters and sets
// the size and the choices; `lecture` sets up the line readers and takes the
// value ranges; `parameters` fixes how each raster's samples become doubles;
// `treatment` reads both rasters again on each of its passes and writes the
// results. No grid of the whole raster is kept.
#ifndef KARVEL_STATE_H
#define KARVEL_STATE_H

#include <cstdio>
#include <string>

#include "kind.h"
#include "nodata.h"
#include "paths.h"
#include "raster.h"
#include "textfile.h"

// Raw rasters, opened by `opening` and kept open until the run ends, so that
// a raster that changes during the run is noticed.
extern RasterFile f1, f3;
// Description files, written only when `opening` creates them.
extern TextFile f1d, f3d;
// Summary file, per-line table, histogram table.
extern TextFile f2d, f4d, f5d;

extern int nb_lig, nb_col;  // size of both rasters
extern int image_type;      // 0 = DEM, 1 = 8-bit image
extern int itype;           // DEM sample width answer: 0 = 16 bits, other = 32 bits (last answer)
extern int itype1, itype3;  // the width answer given for the first and for the second DEM
extern int hypso_scale;     // last unit answer: 0 m, 1 dm, 2 cm, 3 mm
extern int taille_pix;      // pixel size of the last description obtained

// The kind of a raster of the chosen data type with the given width answer.
Kind raster_kind(int width_answer);

// Paths of the two rasters as the user sees them.
extern std::string nomim1, nomim3;

// What hands out the lines of the first and the second raster, in one unit,
// on every pass: set up by `lecture`, its conversion fixed by `parameters`.
extern RasterLines dtab1, dtab2;

// The no-data value each raster's header declares (the first [0], the
// second [1]), set by `opening`; and the positions where neither raster
// holds it, counted by `lecture`.
extern NoData nodata[2];
extern long long nb_kept;

// The smallest and the largest sample of the first [0] and the second [1]
// raster, taken by `lecture` in its pass over both rasters.
extern int range_min[2], range_max[2];

// The configured images directory ("~" for the user's home directory), and
// the folder it stands for once `opening` has resolved it.
extern std::string images_root_setting;
extern ImagesDir images;

void opening();
void lecture();
void parameters();
void treatment();

#endif
