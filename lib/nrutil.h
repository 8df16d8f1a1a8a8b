// Typed matrix and vector allocation.
//
// A matrix is an array of row pointers: element [line][column], both from 0.
// Allocation takes the column count first and the line count second; every
// element is zero-filled. A vector is one zero-filled block. Every allocator
// returns null when the counts are zero or less or when storage cannot be
// obtained; a failed matrix allocation gives back whatever it had obtained.
//
// The rows of one matrix are carved out of a single block, so that a grid
// costs two allocations whatever its number of lines; each row still has its
// own row pointer, and release gives the whole block back.
#ifndef KARVEL_NRUTIL_H
#define KARVEL_NRUTIL_H

extern "C" {

unsigned char **ucmatrice(int NbCol, int NbLig);
void frucmatrice(unsigned char **Mat, int NbLig);
unsigned char *ucvecteur(int NbCol);
void frucvecteur(unsigned char *Mat);

unsigned short **usmatrice(int NbCol, int NbLig);
void frusmatrice(unsigned short **Mat, int NbLig);
unsigned short *usvecteur(int NbCol);
void frusvecteur(unsigned short *Mat);

short **smatrice(int NbCol, int NbLig);
void frsmatrice(short **Mat, int NbLig);
short *svecteur(int NbCol);
void frsvecteur(short *Mat);

int **imatrice(int NbCol, int NbLig);
void frimatrice(int **Mat, int NbLig);
int *ivecteur(int NbCol);
void frivecteur(int *Mat);

float **fmatrice(int NbCol, int NbLig);
void frfmatrice(float **Mat, int NbLig);
float *fvecteur(int NbCol);
void frfvecteur(float *Mat);

double **dmatrice(int NbCol, int NbLig);
void frdmatrice(double **Mat, int NbLig);
double *dvecteur(int NbCol);
void frdvecteur(double *Mat);

// The extended floating type has a matrix pair only.
long double **ldmatrice(int NbCol, int NbLig);
void frldmatrice(long double **Mat, int NbLig);

}  // extern "C"

#endif
