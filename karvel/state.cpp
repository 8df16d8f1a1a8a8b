#include "state.h"

RasterFile f1, f3;
TextFile f1d, f3d;
TextFile f2d, f4d, f5d;

int nb_lig = 0, nb_col = 0;
int image_type = 0;
int itype = 0;
int itype1 = 0, itype3 = 0;
int hypso_scale = 0;
int taille_pix = 0;

std::string nomim1, nomim3;

RasterLines dtab1, dtab2;
NoData nodata[2];
long long nb_kept = 0;
int range_min[2] = {0, 0}, range_max[2] = {0, 0};

std::string images_root_setting;
ImagesDir images;

Kind raster_kind(int width_answer) { return kind_of_answers(image_type, width_answer); }
