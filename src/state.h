// The process-wide state that the four phases share, and the phases.
//
// Everything starts at zero or null. `opening` sets the file handles, the
// size and the choices; `lecture` fills the raster grids; `parameters` fills
// the double grids; `treatment` reads them and writes the results.
#ifndef KARVEL_STATE_H
#define KARVEL_STATE_H

#include <cstdio>
#include <string>

#include "textfile.h"

// Raw rasters, opened by `opening` for reading bytes, closed by `lecture`.
extern FILE *f1, *f3;
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

// Paths of the two rasters as the user sees them.
extern std::string nomim1, nomim3;

extern int **itab1, **itab2;            // DEM grids
extern unsigned short **jtab;           // staging line of a 16-bit DEM being loaded
extern unsigned char **tab1, **tab2;    // 8-bit image grids
extern double **dtab1, **dtab2;         // both rasters in one unit

// The smallest and the largest sample of the first [0] and the second [1]
// raster, taken by `lecture` while each line is in cache.
extern int range_min[2], range_max[2];

// The configured images directory ("~" for the user's home directory).
extern std::string images_root_setting;

void opening();
void lecture();
void parameters();
void treatment();

#endif
