#include "state.h"

FILE *f1 = nullptr, *f3 = nullptr;
TextFile f1d, f3d;
TextFile f2d, f4d, f5d;

int nb_lig = 0, nb_col = 0;
int image_type = 0;
int itype = 0;
int itype1 = 0, itype3 = 0;
int hypso_scale = 0;
int taille_pix = 0;

std::string nomim1, nomim3;

int **itab1 = nullptr, **itab2 = nullptr;
unsigned short **jtab = nullptr;
unsigned char **tab1 = nullptr, **tab2 = nullptr;
double **dtab1 = nullptr, **dtab2 = nullptr;
int range_min[2] = {0, 0}, range_max[2] = {0, 0};

std::string images_root_setting;
